// Data-aware controls umbrella: include this one header to use the controls.
//
//   Interaction.h    the error box and confirmation the controls use
//   FieldDataLink.h  TFieldDataLink: a data link bound to one field
//   DBGrid.h         TDBGrid: the record window as an editable grid
//   DBNavigator.h    TDBNavigator: first/prior/next/last/insert/delete/
//                    edit/post/cancel/refresh buttons
//   DBMemo.h         TDBMemo: one field's text in a multi-line pane
//
// Every control is a Qt widget driven only by a TDataLink on a TDataSource.
// Threads: the GUI thread only.
#pragma once

#include "controls/Interaction.h"
#include "controls/FieldDataLink.h"
#include "controls/DBGrid.h"
#include "controls/DBNavigator.h"
#include "controls/DBMemo.h"
