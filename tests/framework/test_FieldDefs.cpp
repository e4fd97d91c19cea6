// Field and index definitions: named collections, positions, updates, and
// the creation of default fields from them.
#include "tests/framework/MemDataSet.h"

#include <gtest/gtest.h>

using namespace fw::test;

namespace {

template <class E, class F>
std::string MessageOf(F&& Body) {
    try {
        Body();
    } catch (const E& Error) {
        return Error.what();
    }
    return "<no exception>";
}

class TIndexedDataSet : public TMemDataSet {
public:
    TIndexedDataSet() : Indexes(this) {}
    TIndexDefs Indexes;
    int Updates = 0;

protected:
    void UpdateIndexDefs() override {
        ++Updates;
        Indexes.Clear();
        Indexes.Add("Payee;Date", "Payee;Date");
    }
};

}  // namespace

TEST(FieldDefs, NamesPositionsAndCaseInsensitiveFind) {
    TMemDataSet DS;
    TFieldDefs& Defs = *DS.FieldDefs();
    Defs.Add("_RECNO_", ftInteger);
    Defs.Add("Payee", ftString, 20, true);
    Defs.Add("Amount", ftFloat);
    EXPECT_EQ(Defs.Count(), 3);
    EXPECT_EQ(Defs.Find("payee"), Defs[1]);
    EXPECT_EQ(Defs.Find("PAYEE")->FieldNo(), 2);
    EXPECT_TRUE(Defs[1]->Required());
    EXPECT_EQ(Defs[1]->Size(), 20);
    EXPECT_EQ(Defs.IndexOf("amount"), 2);
    EXPECT_EQ(Defs.Find("Payee[1]"), nullptr);
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { Defs.Add("PAYEE", ftString, 5); }),
              "A component named PAYEE already exists");
    EXPECT_EQ(Defs.Count(), 3);
    TFieldDef* Renamed = Defs.AddFieldDef();
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { Renamed->SetName("amount"); }),
              "A component named amount already exists");
    Renamed->SetName("Payee[1]");
    EXPECT_EQ(Renamed->FieldNo(), 4);
    Defs.Delete(0);
    EXPECT_EQ(Defs.Find("Payee")->FieldNo(), 1);
    TStringList Names;
    Defs.GetItemNames(&Names);
    EXPECT_EQ(Names.CommaText(), "Payee,Amount,Payee[1]");
    Defs.Clear();
    EXPECT_EQ(Defs.Count(), 0);
    EXPECT_FALSE(Defs.Updated());
}

TEST(FieldDefs, UpdateOfAClosedDataSetOpensTheCursorForTheQueryOnly) {
    TMemDataSet DS;
    AddNumberRows(DS, 2);
    DS.FieldDefs()->Update();
    EXPECT_EQ(DS.FieldDefs()->Count(), 2);
    EXPECT_TRUE(DS.FieldDefs()->Updated());
    EXPECT_FALSE(DS.Active());
    EXPECT_EQ(DS.Joined(), "InternalClose");  // the information query closes the cursor again
    DS.ClearLog();
    DS.FieldDefs()->Update();
    EXPECT_EQ(DS.Joined(), "");  // up to date: nothing
}

TEST(FieldDefs, CreateFieldsSkipsUnknownAndHiddenDefinitions) {
    TMemDataSet DS;
    DS.AddColumn("A", ftInteger);
    DS.AddColumn("B", ftUnknown);
    DS.AddColumn("C", ftString, 5);
    DS.Open();
    ASSERT_EQ(DS.FieldCount(), 2);
    EXPECT_EQ(DS.Fields(0)->FieldName(), "A");
    EXPECT_EQ(DS.Fields(1)->FieldName(), "C");
    EXPECT_EQ(DS.Fields(1)->FieldNo(), 3);  // the position of its definition
    DS.Close();
    TFieldDef* Hidden = DS.FieldDefs()->Add("H", ftInteger);
    Hidden->SetAttributes({faHiddenCol, faReadonly});
    TFieldDef* Odd = DS.FieldDefs()->Add("BYTES", ftBytes, 4);
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { Odd->CreateField(&DS); }), "Field 'BYTES' is of an unknown type");
    TField* Field = Hidden->CreateField(&DS);
    EXPECT_FALSE(Field->Visible());
    EXPECT_TRUE(Field->ReadOnly());
    EXPECT_EQ(Field->DataSet(), &DS);
    delete Field;
    EXPECT_EQ(DS.FieldCount(), 0);
}

TEST(IndexDefs, UpdateCallsTheHookOnlyWhileOutOfDate) {
    TIndexedDataSet DS;
    EXPECT_EQ(DS.Indexes.DataSet(), &DS);
    DS.Indexes.Update();
    DS.Indexes.Update();
    EXPECT_EQ(DS.Updates, 1);
    ASSERT_EQ(DS.Indexes.Count(), 1);
    EXPECT_EQ(DS.Indexes[0]->Fields(), "Payee;Date");
    EXPECT_EQ(DS.Indexes.Find("payee;date"), DS.Indexes[0]);
    EXPECT_TRUE(DS.Indexes[0]->Options().Empty());
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { DS.Indexes.Add("PAYEE;DATE", "Payee;Date"); }),
              "A component named PAYEE;DATE already exists");
    DS.Indexes.Clear();
    DS.Indexes.Update();
    EXPECT_EQ(DS.Updates, 2);
    TIndexDef* Def = DS.Indexes.Add("Amount", "Amount", {ixUnique});
    EXPECT_TRUE(Def->Options().Contains(ixUnique));
    EXPECT_FALSE(Def->Options().Contains(ixPrimary));
}
