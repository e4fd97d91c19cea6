// Dataset framework: named definition collections.
#include "framework/FieldDefs.h"

#include "framework/DataSet.h"

#include <algorithm>

// ---------------------------------------------------------------------------
// TNamedItem / TDefCollection
// ---------------------------------------------------------------------------

TNamedItem::TNamedItem(TDefCollection* Collection) : FCollection(Collection) {}

TNamedItem::~TNamedItem() = default;

void TNamedItem::SetName(const std::string& Value) {
    if (Value == FName) return;
    if (FCollection != nullptr && !Value.empty()) {
        for (const auto& Item : FCollection->FItems) {
            if (Item.get() != this && fw::SameName(Item->FName, Value)) DatabaseErrorFmt(fw::SDuplicateName, {Value});
        }
    }
    FName = Value;
}

int TNamedItem::Index() const {
    if (FCollection == nullptr) return -1;
    const auto& Items = FCollection->FItems;
    for (std::size_t I = 0; I < Items.size(); ++I)
        if (Items[I].get() == this) return static_cast<int>(I);
    return -1;
}

TDefCollection::TDefCollection(TDataSet* DataSet) : FDataSet(DataSet) {}

TDefCollection::~TDefCollection() = default;

TNamedItem* TDefCollection::Find(std::string_view Name) const {
    const int I = IndexOf(Name);
    return I >= 0 ? FItems[static_cast<std::size_t>(I)].get() : nullptr;
}

int TDefCollection::IndexOf(std::string_view Name) const {
    for (std::size_t I = 0; I < FItems.size(); ++I)
        if (fw::SameName(FItems[I]->Name(), Name)) return static_cast<int>(I);
    return -1;
}

void TDefCollection::GetItemNames(TStrings* List) const {
    for (const auto& Item : FItems) List->Add(Item->Name());
}

void TDefCollection::Clear() {
    FItems.clear();
    FUpdated = false;
}

void TDefCollection::Delete(int Index) {
    if (Index < 0 || Index >= Count()) throw EListError(Format("List index out of bounds (%d)", {Index}));
    FItems.erase(FItems.begin() + Index);
}

TNamedItem* TDefCollection::AddItem(std::unique_ptr<TNamedItem> Item) {
    FItems.push_back(std::move(Item));
    return FItems.back().get();
}

TNamedItem* TDefCollection::ItemAt(int Index) const {
    if (Index < 0 || Index >= Count()) throw EListError(Format("List index out of bounds (%d)", {Index}));
    return FItems[static_cast<std::size_t>(Index)].get();
}

// ---------------------------------------------------------------------------
// TFieldDef / TFieldDefs
// ---------------------------------------------------------------------------

TFieldDef::TFieldDef(TFieldDefs* Owner) : TNamedItem(Owner) {}

TFieldDef::TFieldDef(TFieldDefs* Owner, const std::string& Name, TFieldType DataType, int Size, bool Required,
                     int /*FieldNo*/)
    : TNamedItem(Owner), FDataType(DataType), FSize(Size) {
    SetName(Name);
    SetRequired(Required);
}

void TFieldDef::SetRequired(bool Value) noexcept {
    if (Value) FAttributes.Include(faRequired);
    else FAttributes.Exclude(faRequired);
}

TField* TFieldDef::CreateField(TComponent* Owner) {
    TDataSet* DataSet = Collection() ? Collection()->DataSet() : nullptr;
    fw::TFieldClass FieldClass = DataSet ? DataSet->GetFieldClass(FDataType) : fw::DefaultFieldClass(FDataType);
    if (FieldClass == nullptr) DatabaseErrorFmt(fw::SUnknownFieldType, {Name()});
    TField* Field = FieldClass(Owner);
    try {
        if (Field->DataType() == ftString || Field->IsBlob()) Field->SetSize(FSize);
        Field->SetFieldName(Name());
        Field->SetRequired(Required());
        Field->SetReadOnly(FAttributes.Contains(faReadonly));
        Field->SetVisible(!FAttributes.Contains(faHiddenCol));
        Field->SetDataSet(DataSet);
    } catch (...) {
        delete Field;
        throw;
    }
    return Field;
}

TFieldDefs::TFieldDefs(TDataSet* DataSet) : TDefCollection(DataSet) {}

TFieldDef* TFieldDefs::Add(const std::string& Name, TFieldType DataType, int Size, bool Required) {
    auto Def = std::make_unique<TFieldDef>(this);
    Def->SetName(Name);  // checks the name before the item joins the collection
    Def->SetDataType(DataType);
    Def->SetSize(Size);
    Def->SetRequired(Required);
    return static_cast<TFieldDef*>(AddItem(std::move(Def)));
}

TFieldDef* TFieldDefs::AddFieldDef() { return static_cast<TFieldDef*>(AddItem(std::make_unique<TFieldDef>(this))); }

TFieldDef* TFieldDefs::Find(std::string_view Name) const {
    return static_cast<TFieldDef*>(TDefCollection::Find(Name));
}

TFieldDef* TFieldDefs::Items(int Index) const { return static_cast<TFieldDef*>(ItemAt(Index)); }

void TFieldDefs::Update() {
    if (!Updated() && DataSet() != nullptr) {
        DataSet()->InitFieldDefs();
        SetUpdated(true);
    }
}

// ---------------------------------------------------------------------------
// TIndexDef / TIndexDefs
// ---------------------------------------------------------------------------

TIndexDef::TIndexDef(TIndexDefs* Owner) : TNamedItem(Owner) {}

TIndexDef::TIndexDef(TIndexDefs* Owner, const std::string& Name, const std::string& Fields, TIndexOptions Options)
    : TNamedItem(Owner), FFields(Fields), FOptions(Options) {
    SetName(Name);
}

TIndexDefs::TIndexDefs(TDataSet* DataSet) : TDefCollection(DataSet) {}

TIndexDef* TIndexDefs::Add(const std::string& Name, const std::string& Fields, TIndexOptions Options) {
    auto Def = std::make_unique<TIndexDef>(this);
    Def->SetName(Name);
    Def->SetFields(Fields);
    Def->SetOptions(Options);
    return static_cast<TIndexDef*>(AddItem(std::move(Def)));
}

TIndexDef* TIndexDefs::AddIndexDef() { return static_cast<TIndexDef*>(AddItem(std::make_unique<TIndexDef>(this))); }

TIndexDef* TIndexDefs::Find(std::string_view Name) const {
    return static_cast<TIndexDef*>(TDefCollection::Find(Name));
}

TIndexDef* TIndexDefs::Items(int Index) const { return static_cast<TIndexDef*>(ItemAt(Index)); }

void TIndexDefs::Update() {
    if (!Updated() && DataSet() != nullptr) {
        DataSet()->UpdateIndexDefs();
        SetUpdated(true);
    }
}
