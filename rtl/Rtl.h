// Run-time library umbrella: exceptions, Format and conversions, UTF-8/UTF-16
// text (SysUtils.h), dates and times (DateUtils.h), components, streams and
// string lists (Classes.h). See each header for its contract.
#pragma once

#include "rtl/SysUtils.h"
#include "rtl/DateUtils.h"
#include "rtl/Classes.h"
