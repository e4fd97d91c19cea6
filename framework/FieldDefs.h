// Dataset framework: field definitions and index definitions.
//
// TDefCollection is a collection of named items (TNamedItem): items keep the
// order of addition, a look-up by name (Find, IndexOf) ignores letter case
// and takes the first match, and giving an item a name that another item of
// the same collection has raises EDatabaseError "A component named %s already
// exists". TFieldDefs holds TFieldDef items (name, type, size, attributes);
// a definition's FieldNo is its 1-based position (there are no nested
// definitions, so the flat list of definitions is the collection itself).
// TIndexDefs holds TIndexDef items (name, field list, options).
//
// Ownership: a collection owns its items; pointers returned by Add, Find and
// Items stay valid until the item is deleted or the collection is cleared or
// destroyed. The collection does not own its dataset.
//
// "Out of date": Clear marks a collection out of date (Updated() false);
// Update() refreshes it from the dataset when it is out of date (field
// definitions through TDataSet::InitFieldDefs, index definitions through the
// dataset's UpdateIndexDefs hook) and marks it up to date.
//
// Threads: the dataset's thread only.
#pragma once

#include "framework/DBCommon.h"

#include <memory>
#include <string>
#include <vector>

class TDefCollection;
class TField;
class TComponent;
class TStrings;

class TNamedItem {
public:
    explicit TNamedItem(TDefCollection* Collection);
    virtual ~TNamedItem();
    TNamedItem(const TNamedItem&) = delete;
    TNamedItem& operator=(const TNamedItem&) = delete;

    const std::string& Name() const noexcept { return FName; }
    // Raises "A component named %s already exists" when another item of the
    // collection has that name (letter case ignored); the name is unchanged.
    virtual void SetName(const std::string& Value);
    std::string DisplayName() const { return FName; }

    TDefCollection* Collection() const noexcept { return FCollection; }
    // Position in the collection (0-based).
    int Index() const;

private:
    friend class TDefCollection;
    TDefCollection* FCollection;
    std::string FName;
};

class TDefCollection {
public:
    explicit TDefCollection(TDataSet* DataSet);
    virtual ~TDefCollection();
    TDefCollection(const TDefCollection&) = delete;
    TDefCollection& operator=(const TDefCollection&) = delete;

    TDataSet* DataSet() const noexcept { return FDataSet; }
    int Count() const noexcept { return static_cast<int>(FItems.size()); }

    // First item of that name, letter case ignored; nullptr when none.
    TNamedItem* Find(std::string_view Name) const;
    // Position of the first item of that name, or -1.
    int IndexOf(std::string_view Name) const;
    // Adds the names of the items to List (List is not cleared first).
    void GetItemNames(TStrings* List) const;

    // Deletes every item and marks the collection out of date.
    void Clear();
    // Deletes the item at Index (0 <= Index < Count, else EListError
    // "List index out of bounds (%d)").
    void Delete(int Index);

    bool Updated() const noexcept { return FUpdated; }
    void SetUpdated(bool Value) noexcept { FUpdated = Value; }

protected:
    // Takes ownership of Item and appends it.
    TNamedItem* AddItem(std::unique_ptr<TNamedItem> Item);
    TNamedItem* ItemAt(int Index) const;

private:
    friend class TNamedItem;
    TDataSet* FDataSet;
    std::vector<std::unique_ptr<TNamedItem>> FItems;
    bool FUpdated = false;
};

// ---------------------------------------------------------------------------
// Field definitions
// ---------------------------------------------------------------------------

class TFieldDefs;

class TFieldDef : public TNamedItem {
public:
    explicit TFieldDef(TFieldDefs* Owner);
    TFieldDef(TFieldDefs* Owner, const std::string& Name, TFieldType DataType, int Size, bool Required,
              int FieldNo = 0);

    TFieldType DataType() const noexcept { return FDataType; }
    void SetDataType(TFieldType Value) noexcept { FDataType = Value; }
    int Size() const noexcept { return FSize; }
    void SetSize(int Value) noexcept { FSize = Value; }
    int Precision() const noexcept { return FPrecision; }
    void SetPrecision(int Value) noexcept { FPrecision = Value; }
    TFieldAttributes Attributes() const noexcept { return FAttributes; }
    void SetAttributes(TFieldAttributes Value) noexcept { FAttributes = Value; }
    // Required is the faRequired attribute.
    bool Required() const noexcept { return FAttributes.Contains(faRequired); }
    void SetRequired(bool Value) noexcept;
    // 1-based position of the definition in the (flat) list.
    int FieldNo() const { return Index() + 1; }

    // Creates the field object of the dataset's class for DataType, named
    // after the definition, with its Size, Required, ReadOnly (faReadonly)
    // and Visible (not faHiddenCol), attached to the collection's dataset.
    // Owner owns the result (nullptr: the caller does). Raises
    // "Field '%s' is of an unknown type" when no class serves the type.
    TField* CreateField(TComponent* Owner);

private:
    TFieldType FDataType = ftUnknown;
    int FSize = 0;
    int FPrecision = 0;
    TFieldAttributes FAttributes;
};

class TFieldDefs : public TDefCollection {
public:
    explicit TFieldDefs(TDataSet* DataSet);

    // Appends a definition; raises "A component named %s already exists"
    // when the name is taken.
    TFieldDef* Add(const std::string& Name, TFieldType DataType, int Size = 0, bool Required = false);
    // Appends an unnamed definition to be filled in by the caller.
    TFieldDef* AddFieldDef();

    TFieldDef* Find(std::string_view Name) const;
    TFieldDef* Items(int Index) const;
    TFieldDef* operator[](int Index) const { return Items(Index); }

    // Brings the definitions up to date from the dataset when they are out of
    // date (TDataSet::InitFieldDefs, which opens a closed cursor for the
    // query only).
    void Update();
};

// ---------------------------------------------------------------------------
// Index definitions
// ---------------------------------------------------------------------------

class TIndexDefs;

class TIndexDef : public TNamedItem {
public:
    explicit TIndexDef(TIndexDefs* Owner);
    TIndexDef(TIndexDefs* Owner, const std::string& Name, const std::string& Fields, TIndexOptions Options);

    // The fields of the index as one text of field names (the table separates
    // them with ';').
    const std::string& Fields() const noexcept { return FFields; }
    void SetFields(const std::string& Value) { FFields = Value; }
    TIndexOptions Options() const noexcept { return FOptions; }
    void SetOptions(TIndexOptions Value) noexcept { FOptions = Value; }
    const std::string& Expression() const noexcept { return FExpression; }
    void SetExpression(const std::string& Value) { FExpression = Value; }
    const std::string& Source() const noexcept { return FSource; }
    void SetSource(const std::string& Value) { FSource = Value; }

private:
    std::string FFields;
    std::string FExpression;
    std::string FSource;
    TIndexOptions FOptions;
};

class TIndexDefs : public TDefCollection {
public:
    explicit TIndexDefs(TDataSet* DataSet);

    // Appends a definition; raises "A component named %s already exists"
    // when the name is taken.
    TIndexDef* Add(const std::string& Name, const std::string& Fields, TIndexOptions Options = {});
    // Appends an unnamed definition to be filled in by the caller.
    TIndexDef* AddIndexDef();

    TIndexDef* Find(std::string_view Name) const;
    TIndexDef* Items(int Index) const;
    TIndexDef* operator[](int Index) const { return Items(Index); }

    // Calls the dataset's UpdateIndexDefs hook when the definitions are out
    // of date, then marks them up to date.
    void Update();
};
