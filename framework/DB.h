// Dataset framework umbrella: include this one header to use the framework.
//
//   DBCommon.h        shared enumerations, buffers, bookmarks, EDatabaseError
//   FieldDefs.h       TFieldDefs/TFieldDef, TIndexDefs/TIndexDef
//   Fields.h          TField and its classes, TFields
//   DataSet.h         TDataSet: states, record window, navigation, editing
//   DataSource.h      TDataSource, TDataLink
//   MasterDataLink.h  TMasterDataLink
//
// Threads: the framework is single-threaded; see each header's contract.
#pragma once

#include "framework/DBCommon.h"
#include "framework/FieldDefs.h"
#include "framework/Fields.h"
#include "framework/DataSet.h"
#include "framework/DataSource.h"
#include "framework/MasterDataLink.h"
