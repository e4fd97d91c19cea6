// Dataset framework: the link of a detail dataset to its master.
#include "framework/MasterDataLink.h"

#include <algorithm>

TMasterDataLink::TMasterDataLink(TDataSet* ADataSet) : FDataSet(ADataSet) {}

namespace {
bool DetailAvailable(TDataSet* Detail) {
    return Detail != nullptr && Detail->Active() && !(Detail->ComponentState() & csDestroying);
}
}  // namespace

// Resolves FieldNames while active (nothing while inactive), then tells the
// open detail: master change with resolved fields, master disable otherwise.
void TMasterDataLink::ActiveChanged() {
    FFields.clear();
    if (Active()) {
        try {
            DataSet()->GetFieldList(FFields, FFieldNames);
        } catch (...) {
            FFields.clear();
            throw;
        }
    }
    if (!DetailAvailable(FDataSet)) return;
    if (Active() && !FFields.empty()) {
        if (OnMasterChange) OnMasterChange(this);
    } else {
        if (OnMasterDisable) OnMasterDisable(this);
    }
}

void TMasterDataLink::CheckBrowseMode() {
    if (DetailAvailable(FDataSet)) FDataSet->CheckBrowseMode();
}

void TMasterDataLink::LayoutChanged() { ActiveChanged(); }

// A master scroll, a rebuilt master window (RecordChanged(nullptr)) or a
// change of a resolved master field.
void TMasterDataLink::RecordChanged(TField* Field) {
    if (DataSource() == nullptr || DataSource()->State() == dsSetKey) return;
    if (!DetailAvailable(FDataSet) || FFields.empty()) return;
    if (Field != nullptr && std::find(FFields.begin(), FFields.end(), Field) == FFields.end()) return;
    if (OnMasterChange) OnMasterChange(this);
}

void TMasterDataLink::SetFieldNames(const std::string& Value) {
    if (Value == FFieldNames) return;
    FFieldNames = Value;
    ActiveChanged();
}
