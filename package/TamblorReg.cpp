// Registration of the unit Tamblor and the published-property list of
// TMoneyTable.
#include "package/TamblorReg.h"

#include <string>

#include "framework/DB.h"
#include "moneytable/Tamblor.h"

namespace Tamblor {

namespace {

TMoneyTable* Table(TComponent* C) { return static_cast<TMoneyTable*>(C); }

std::string BoolText(bool Value) { return Value ? "True" : "False"; }

bool TextBool(const std::string& Text) {
    if (SameText(Text, "True")) return true;
    if (SameText(Text, "False")) return false;
    throw EConvertError("'" + Text + "' is not a valid boolean value");
}

// The data source that a text names: one of the components of the table's
// owner, as an inspector offers them; empty text for none.
TDataSource* DataSourceNamed(TMoneyTable* T, const std::string& Text) {
    if (Text.empty()) return nullptr;
    TComponent* Found = T->Owner() ? T->Owner()->FindComponent(Text) : nullptr;
    auto* Source = dynamic_cast<TDataSource*>(Found);
    if (!Source) throw EConvertError("'" + Text + "' is not a data source of the table's owner");
    return Source;
}

template <class TEvent>
TPropInfo Event(const char* Name, const char* TypeName, TEvent TDataSet::*Member) {
    return {Name, TypeName,
            [Member](TComponent* C) { return std::string((Table(C)->*Member) ? "(assigned)" : ""); }, nullptr};
}

}  // namespace

std::vector<TPropInfo> MoneyTableProperties() {
    constexpr const char* Notify = "TDataSetNotifyEvent";
    constexpr const char* Error = "TDataSetErrorEvent";
    return {
        // The component's own.
        {"Name", "TComponentName", [](TComponent* C) { return C->Name(); },
         [](TComponent* C, const std::string& V) { C->SetName(V); }},
        {"Tag", "NativeInt", [](TComponent* C) { return IntToStr(static_cast<std::int64_t>(C->Tag())); },
         [](TComponent* C, const std::string& V) { C->SetTag(static_cast<std::intptr_t>(StrToInt64(V))); }},
        // The table's.
        {"Exclusive", "Boolean", [](TComponent* C) { return BoolText(Table(C)->Exclusive()); },
         [](TComponent* C, const std::string& V) { Table(C)->SetExclusive(TextBool(V)); }},
        {"FileName", "TFileName", [](TComponent* C) { return Table(C)->FileName(); },
         [](TComponent* C, const std::string& V) { Table(C)->SetFileName(V); }},
        {"IndexFieldNames", "string", [](TComponent* C) { return Table(C)->IndexFieldNames(); },
         [](TComponent* C, const std::string& V) { Table(C)->SetIndexFieldNames(V); }},
        {"MasterFields", "string", [](TComponent* C) { return Table(C)->MasterFields(); },
         [](TComponent* C, const std::string& V) { Table(C)->SetMasterFields(V); }},
        {"MasterSource", "TDataSource",
         [](TComponent* C) {
             TDataSource* S = Table(C)->MasterSource();
             return S ? S->Name() : std::string();
         },
         [](TComponent* C, const std::string& V) { Table(C)->SetMasterSource(DataSourceNamed(Table(C), V)); }},
        {"ReadOnly", "Boolean", [](TComponent* C) { return BoolText(Table(C)->ReadOnly()); },
         [](TComponent* C, const std::string& V) { Table(C)->SetReadOnly(TextBool(V)); }},
        // The dataset's events.
        Event("BeforeOpen", Notify, &TDataSet::BeforeOpen),
        Event("AfterOpen", Notify, &TDataSet::AfterOpen),
        Event("BeforeClose", Notify, &TDataSet::BeforeClose),
        Event("AfterClose", Notify, &TDataSet::AfterClose),
        Event("BeforeInsert", Notify, &TDataSet::BeforeInsert),
        Event("AfterInsert", Notify, &TDataSet::AfterInsert),
        Event("BeforeEdit", Notify, &TDataSet::BeforeEdit),
        Event("AfterEdit", Notify, &TDataSet::AfterEdit),
        Event("BeforePost", Notify, &TDataSet::BeforePost),
        Event("AfterPost", Notify, &TDataSet::AfterPost),
        Event("BeforeCancel", Notify, &TDataSet::BeforeCancel),
        Event("AfterCancel", Notify, &TDataSet::AfterCancel),
        Event("BeforeDelete", Notify, &TDataSet::BeforeDelete),
        Event("AfterDelete", Notify, &TDataSet::AfterDelete),
        Event("BeforeScroll", Notify, &TDataSet::BeforeScroll),
        Event("AfterScroll", Notify, &TDataSet::AfterScroll),
        Event("BeforeRefresh", Notify, &TDataSet::BeforeRefresh),
        Event("AfterRefresh", Notify, &TDataSet::AfterRefresh),
        Event("OnCalcFields", Notify, &TDataSet::OnCalcFields),
        Event("OnDeleteError", Error, &TDataSet::OnDeleteError),
        Event("OnEditError", Error, &TDataSet::OnEditError),
        Event("OnNewRecord", Notify, &TDataSet::OnNewRecord),
        Event("OnPostError", Error, &TDataSet::OnPostError),
    };
}

void Register() { RegisterComponents("Data Access", {ComponentClassOf<TMoneyTable>("TMoneyTable", MoneyTableProperties())}); }

}  // namespace Tamblor
