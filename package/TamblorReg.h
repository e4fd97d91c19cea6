// Registration of the unit Tamblor: TMoneyTable on the palette page
// "Data Access", with its published properties and events in the order an
// object inspector shows them.
//
// Ownership: the returned descriptors are values; their accessors expect a
// TMoneyTable (a component of another class is undefined behaviour) and must
// not outlive the package that made them.
//
// Threads: the thread that uses the component.
#pragma once

#include <vector>

#include "rtl/Classes.h"

namespace Tamblor {

// Puts TMoneyTable on the "Data Access" page (RegisterComponents).
void Register();

// TMoneyTable's published properties and events, in their published order:
// the component's Name and Tag, then Exclusive, FileName, IndexFieldNames,
// MasterFields, MasterSource, ReadOnly, then the dataset's events from
// BeforeOpen to OnPostError. Every property has a text getter and setter:
//   Boolean      "True" / "False" (setting ignores letter case; any other
//                text raises EConvertError "'<text>' is not a valid boolean value")
//   Tag          decimal (EConvertError "'<text>' is not a valid integer value")
//   MasterSource the name of the data source; setting looks the name up among
//                the components of the table's owner (empty: none);
//                EConvertError "'<text>' is not a data source of the table's owner"
// Setters raise what the component raises (for example "Cannot perform this
// operation on an open dataset" while open). Events have a getter only:
// "(assigned)" when a handler is set, empty otherwise.
std::vector<TPropInfo> MoneyTableProperties();

}  // namespace Tamblor
