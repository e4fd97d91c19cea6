// TMoneyTable: filtering through the engine's filter object.
//
// FIRST VERSION, to be completed by the owner of this file: ApplyFiltering
// does what an open or close needs (nothing while the table is not active);
// the rest is placeholder.
#include "moneytable/Tamblor.h"

void TMoneyTable::SetFiltered(bool Value) { TDataSet::SetFiltered(Value); }  // placeholder
void TMoneyTable::SetFilterText(const std::string& Value) { SetFilterData(Value, FilterOptions()); }
void TMoneyTable::SetFilterOptions(TFilterOptions Value) { SetFilterData(Filter(), Value); }
void TMoneyTable::SetFilterData(const std::string& Text, TFilterOptions Options) {  // placeholder
    TDataSet::SetFilterText(Text);
    TDataSet::SetFilterOptions(Options);
}
void TMoneyTable::ApplyFiltering(bool) {
    if (!Active()) return;
    DatabaseError("ApplyFiltering is not available yet");  // placeholder
}
// Hook for what an open must apply once the table is active (filter, master
// range); placeholder.
void TMoneyTable::DoAfterOpen() { TDataSet::DoAfterOpen(); }
