// TMoneyTable: the header dump. Placeholder, to be written by its owner.
#include "moneytable/Tamblor.h"

void TMoneyTable::DumpHeader(const std::string&) { DatabaseError("DumpHeader is not available yet"); }
