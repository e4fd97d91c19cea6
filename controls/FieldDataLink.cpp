#include "controls/FieldDataLink.h"

namespace controls {

void TFieldDataLink::SetFieldName(const std::string& Value) {
    if (Value == FFieldName) return;
    FFieldName = Value;
    UpdateField();
}

bool TFieldDataLink::CanModify() const {
    return !ReadOnly() && FField != nullptr && FField->CanModify();
}

bool TFieldDataLink::EditField() {
    if (!CanModify()) return false;
    return Edit();
}

void TFieldDataLink::Reset() {
    FModified = false;
    Notify(OnDataChange);
}

void TFieldDataLink::UpdateField() {
    TField* NewField = nullptr;
    if (Active() && !FFieldName.empty() && DataSet() != nullptr) NewField = DataSet()->FindField(FFieldName);
    FField = NewField;
    FModified = false;
    Notify(OnDataChange);
}

void TFieldDataLink::ActiveChanged() {
    UpdateField();
    Notify(OnActiveChange);
}

void TFieldDataLink::EditingChanged() {
    if (!Editing()) FModified = false;
    Notify(OnEditingChange);
}

void TFieldDataLink::LayoutChanged() {
    UpdateField();
}

void TFieldDataLink::RecordChanged(TField* Field) {
    if (FWriting) return;
    if (Field == nullptr || Field == FField) {
        FModified = false;
        Notify(OnDataChange);
    }
}

void TFieldDataLink::UpdateData() {
    if (!FModified || FField == nullptr) return;
    FWriting = true;
    try {
        Notify(OnUpdateData);
    } catch (...) {
        FWriting = false;
        throw;
    }
    FWriting = false;
    FModified = false;
}

void TFieldDataLink::FocusControl(TField** Field) {
    if (Field != nullptr && *Field != nullptr && *Field == FField && OnFocus) {
        OnFocus();
        *Field = nullptr;
    }
}

void TFieldDataLink::DataEvent(TDataEvent Event, std::intptr_t Info) {
    TDataLink::DataEvent(Event, Info);
    // The list of field objects was rebuilt: the bound field may be gone.
    if (Event == deFieldListChange) UpdateField();
}

}  // namespace controls
