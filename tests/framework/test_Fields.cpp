// Field objects: native forms and sizes, date-time conversion, text forms
// and their conversion messages, binding, calculated fields, field change
// handling, blob fields, the field list.
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

// One row of every field type the table produces, plus a date-time column.
class TypedFields : public ::testing::Test {
protected:
    void SetUp() override {
        FormatSettings = TFormatSettings::Invariant();
        DS.AddColumn("NAME", ftString, 10);
        DS.AddColumn("SMALL", ftSmallint);
        DS.AddColumn("AMOUNT", ftInteger);
        DS.AddColumn("COUNT", ftWord);
        DS.AddColumn("FLAG", ftBoolean);
        DS.AddColumn("PRICE", ftFloat);
        DS.AddColumn("DAY", ftDate);
        DS.AddColumn("AT", ftTime);
        DS.AddColumn("STAMP", ftDateTime);
        DS.AddColumn("NOTE", ftMemo);
        DS.AddColumn("ID", ftGuid, 38);
        // 30 Dec 1899, 12:00, day 693595 plus 6 hours as milliseconds.
        DS.AddRow({"Smith", -5, 123456, 65535, 1, 2.5, 693594, 43200000, (693595.0 * 86400000.0) + 21600000.0,
                   "memo text", "{00000000-0000-0000-0000-000000000001}"});
        DS.AddRow({Null(), Null(), Null(), Null(), Null(), Null(), Null(), Null(), Null(), Null(), Null()});
        DS.Open();
    }
    void TearDown() override { FormatSettings = TFormatSettings::Invariant(); }
    TField* F(const char* Name) { return DS.FieldByName(Name); }

    TMemDataSet DS;
};

}  // namespace

TEST_F(TypedFields, DefaultFieldClassesAndDataSizes) {
    EXPECT_NE(dynamic_cast<TStringField*>(F("NAME")), nullptr);
    EXPECT_NE(dynamic_cast<TSmallintField*>(F("SMALL")), nullptr);
    EXPECT_NE(dynamic_cast<TIntegerField*>(F("AMOUNT")), nullptr);
    EXPECT_NE(dynamic_cast<TWordField*>(F("COUNT")), nullptr);
    EXPECT_NE(dynamic_cast<TBooleanField*>(F("FLAG")), nullptr);
    EXPECT_NE(dynamic_cast<TFloatField*>(F("PRICE")), nullptr);
    EXPECT_NE(dynamic_cast<TDateField*>(F("DAY")), nullptr);
    EXPECT_NE(dynamic_cast<TTimeField*>(F("AT")), nullptr);
    EXPECT_NE(dynamic_cast<TDateTimeField*>(F("STAMP")), nullptr);
    EXPECT_NE(dynamic_cast<TMemoField*>(F("NOTE")), nullptr);
    EXPECT_NE(dynamic_cast<TGuidField*>(F("ID")), nullptr);
    EXPECT_EQ(F("NAME")->DataSize(), 11);
    EXPECT_EQ(F("SMALL")->DataSize(), 2);
    EXPECT_EQ(F("AMOUNT")->DataSize(), 4);
    EXPECT_EQ(F("COUNT")->DataSize(), 2);
    EXPECT_EQ(F("FLAG")->DataSize(), 2);
    EXPECT_EQ(F("PRICE")->DataSize(), 8);
    EXPECT_EQ(F("DAY")->DataSize(), 4);
    EXPECT_EQ(F("AT")->DataSize(), 4);
    EXPECT_EQ(F("STAMP")->DataSize(), 8);
    EXPECT_EQ(F("NOTE")->DataSize(), 0);
    EXPECT_EQ(F("ID")->DataSize(), 39);
    EXPECT_EQ(F("ID")->Size(), 38);
    EXPECT_TRUE(F("NOTE")->IsBlob());
    EXPECT_EQ(F("NOTE")->Offset(), 0);  // first blob
    EXPECT_EQ(F("AMOUNT")->FieldNo(), 3);
}

TEST_F(TypedFields, NativeDateAndTimeConvertToTheFrameworkForm) {
    EXPECT_DOUBLE_EQ(F("DAY")->AsDateTime(), 0.0);  // day 693594 = 30 Dec 1899
    EXPECT_EQ(F("DAY")->AsString(), "1899-12-30");
    EXPECT_DOUBLE_EQ(F("AT")->AsDateTime(), 0.5);  // 43,200,000 ms = 12:00
    EXPECT_EQ(F("AT")->AsString(), "12:00:00");
    EXPECT_DOUBLE_EQ(F("STAMP")->AsDateTime(), 1.25);
    EXPECT_EQ(F("STAMP")->AsString(), "1899-12-31 06:00:00");
    std::int32_t Native = 0;
    ASSERT_TRUE(F("DAY")->GetData(&Native));
    EXPECT_EQ(Native, 693594);
    TDateTime Value = 0;
    ASSERT_TRUE(F("AT")->GetData(&Value, false));
    EXPECT_DOUBLE_EQ(Value, 0.5);
}

TEST_F(TypedFields, WritingDatesStoresTheNativeForm) {
    DS.Edit();
    F("DAY")->SetAsDateTime(EncodeDate(2024, 2, 29) + 0.75);  // the time part is dropped
    F("AT")->SetAsString("13:45:30");
    F("STAMP")->SetAsDateTime(EncodeDateTime(1899, 12, 29, 6, 0, 0, 0));  // -1.25
    DS.Post();
    EXPECT_EQ(DS.RowInt(0, 6), DateTimeToTimeStamp(EncodeDate(2024, 2, 29)).Date);
    EXPECT_EQ(DS.RowInt(0, 7), (13 * 3600 + 45 * 60 + 30) * 1000);
    EXPECT_EQ(F("DAY")->AsString(), "2024-02-29");
    EXPECT_EQ(F("AT")->AsString(), "13:45:30");
    EXPECT_DOUBLE_EQ(F("STAMP")->AsDateTime(), -1.25);
    EXPECT_EQ(fw::DateTimeToNativeDate(0.0), 693594);
    EXPECT_EQ(fw::DateTimeToNativeTime(0.5), 43200000);
    EXPECT_DOUBLE_EQ(fw::NativeDateToDateTime(1), -693593.0);  // 1 Jan 0001
}

TEST_F(TypedFields, TextForms) {
    EXPECT_EQ(F("NAME")->AsString(), "Smith");
    EXPECT_EQ(F("SMALL")->AsString(), "-5");
    EXPECT_EQ(F("AMOUNT")->AsString(), "123456");
    EXPECT_EQ(F("COUNT")->AsString(), "65535");
    EXPECT_EQ(F("FLAG")->AsString(), "True");
    EXPECT_EQ(F("PRICE")->AsString(), "2.5");
    EXPECT_EQ(F("NOTE")->AsString(), "memo text");
    EXPECT_EQ(F("ID")->AsString(), "{00000000-0000-0000-0000-000000000001}");
    FormatSettings.DecimalSeparator = ',';
    EXPECT_EQ(F("PRICE")->AsString(), "2,5");
    DS.Next();
    for (int I = 0; I < DS.FieldCount(); ++I) {
        EXPECT_TRUE(DS.Fields(I)->IsNull()) << DS.Fields(I)->FieldName();
        EXPECT_EQ(DS.Fields(I)->AsString(), "") << DS.Fields(I)->FieldName();
    }
}

TEST_F(TypedFields, WritingTextAndEmptyText) {
    DS.Edit();
    F("SMALL")->SetAsString("-32768");
    F("AMOUNT")->SetAsString("-7");
    F("COUNT")->SetAsString("0");
    F("PRICE")->SetAsString("1e3");
    F("FLAG")->SetAsString("f");
    EXPECT_EQ(F("SMALL")->AsInteger(), -32768);
    EXPECT_EQ(F("AMOUNT")->AsInteger(), -7);
    EXPECT_EQ(F("COUNT")->AsString(), "0");
    EXPECT_DOUBLE_EQ(F("PRICE")->AsFloat(), 1000.0);
    EXPECT_FALSE(F("FLAG")->AsBoolean());
    F("FLAG")->SetAsString("TR");
    EXPECT_TRUE(F("FLAG")->AsBoolean());
    F("FLAG")->SetAsString("fALSe");
    EXPECT_EQ(F("FLAG")->AsString(), "False");
    for (const char* Name : {"SMALL", "AMOUNT", "COUNT", "PRICE", "FLAG", "DAY", "AT", "STAMP"}) {
        F(Name)->SetAsString("");
        EXPECT_TRUE(F(Name)->IsNull()) << Name;
    }
    F("NAME")->SetAsString("");
    EXPECT_FALSE(F("NAME")->IsNull());  // an empty text is a value
    EXPECT_EQ(F("NAME")->AsString(), "");
    F("NAME")->Clear();
    EXPECT_TRUE(F("NAME")->IsNull());
}

TEST_F(TypedFields, ConversionMessages) {
    DS.Edit();
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { F("AMOUNT")->SetAsString("12x"); }),
              "'12x' is not a valid integer value for field 'AMOUNT'");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { F("SMALL")->SetAsString("1.5"); }),
              "'1.5' is not a valid integer value for field 'SMALL'");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { F("AMOUNT")->SetAsString("99999999999"); }),
              "'99999999999' is not a valid integer value for field 'AMOUNT'");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { F("PRICE")->SetAsString("2,5"); }),
              "'2,5' is not a valid floating point value for field 'PRICE'");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { F("FLAG")->SetAsString("yes"); }),
              "'yes' is not a valid boolean value for field 'FLAG'");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { F("FLAG")->SetAsString("Falsey"); }),
              "'Falsey' is not a valid boolean value for field 'FLAG'");
    EXPECT_EQ(MessageOf<EConvertError>([&] { F("DAY")->SetAsString("soon"); }), "'soon' is not a valid date");
    EXPECT_EQ(MessageOf<EConvertError>([&] { F("AT")->SetAsString("25:00"); }), "'25:00' is not a valid time");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { F("SMALL")->SetAsString("70000"); }),
              "70000 is not a valid value for field 'SMALL'. The allowed range is -32768 to 32767");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { F("COUNT")->SetAsInteger(-1); }),
              "-1 is not a valid value for field 'COUNT'. The allowed range is 0 to 65535");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { F("FLAG")->AsDateTime(); }),
              "Cannot access field 'FLAG' as type DateTime");
    // A text field would keep the text only up to a NUL character.
    const std::string name = F("NAME")->AsString();
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { F("NAME")->SetAsString(std::string("ab\0cd", 5)); }),
              "A text with a NUL character is not a valid value for field 'NAME'");
    EXPECT_EQ(F("NAME")->AsString(), name);
    // Nothing was stored by the failed conversions.
    EXPECT_EQ(F("AMOUNT")->AsInteger(), 123456);
    EXPECT_EQ(F("SMALL")->AsInteger(), -5);
    F("PRICE")->SetDisplayLabel("Price");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { F("PRICE")->SetAsString("abc"); }),
              "'abc' is not a valid floating point value for field 'Price'");
    FormatSettings.DecimalSeparator = ',';
    F("PRICE")->SetAsString("2,25");
    EXPECT_DOUBLE_EQ(F("PRICE")->AsFloat(), 2.25);
}

TEST_F(TypedFields, StringIsCutToSizeWithoutSplittingUtf8) {
    DS.Edit();
    F("NAME")->SetAsString("ABCDEFGHIJKLMNO");
    EXPECT_EQ(F("NAME")->AsString(), "ABCDEFGHIJ");
    F("NAME")->SetAsString("abcdefghi\xC3\xA9");  // 9 + 2 bytes: the e-acute does not fit
    EXPECT_EQ(F("NAME")->AsString(), "abcdefghi");
    F("NAME")->SetAsString("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9");  // exactly 10 bytes
    EXPECT_EQ(F("NAME")->AsString(), "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9");
    DS.Post();
    EXPECT_EQ(DS.RowText(0, 0), "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9");
}

TEST_F(TypedFields, FieldByNameIgnoresCase) {
    EXPECT_EQ(DS.FieldByName("amount"), F("AMOUNT"));
    EXPECT_EQ(DS.FindField("Amount"), F("AMOUNT"));
    EXPECT_EQ(DS.FindField("AMOUNTS"), nullptr);
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { DS.FieldByName("nope"); }), "Field 'nope' not found");
    EXPECT_EQ(DS.FieldByNumber(3), F("AMOUNT"));
    EXPECT_EQ(DS.FieldByNumber(99), nullptr);
    std::int32_t V = 0;
    EXPECT_TRUE(DS.GetFieldData(3, &V));
    EXPECT_EQ(V, 123456);
    EXPECT_TRUE(fw::SameName("\xC3\x84pfel", "\xC3\xA4PFEL"));  // A-umlaut folds
    EXPECT_FALSE(fw::SameName("Payee", "Payee[1]"));
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { DS.Fields(99); }), "Field index out of range");
}

TEST_F(TypedFields, AssignAndAssignValue) {
    DS.Edit();
    F("NAME")->Assign(F("AMOUNT"));
    EXPECT_EQ(F("NAME")->AsString(), "123456");
    F("PRICE")->Assign(F("SMALL"));
    EXPECT_DOUBLE_EQ(F("PRICE")->AsFloat(), -5.0);
    F("STAMP")->Assign(F("DAY"));
    EXPECT_DOUBLE_EQ(F("STAMP")->AsDateTime(), 0.0);
    F("AMOUNT")->AssignValue(TVarRec(77));
    EXPECT_EQ(F("AMOUNT")->AsInteger(), 77);
    F("NAME")->AssignValue(TVarRec("key"));
    EXPECT_EQ(F("NAME")->AsString(), "key");
    F("DAY")->AssignValue(TVarRec("2000-01-02"));
    EXPECT_EQ(F("DAY")->AsString(), "2000-01-02");
    F("FLAG")->AssignValue(TVarRec(0));
    EXPECT_FALSE(F("FLAG")->AsBoolean());
    F("PRICE")->AssignValue(TVarRec(0.125));
    EXPECT_DOUBLE_EQ(F("PRICE")->AsFloat(), 0.125);
    F("AMOUNT")->AssignValue(Null());
    EXPECT_TRUE(F("AMOUNT")->IsNull());
    F("SMALL")->Assign(F("AMOUNT"));  // a null source clears
    EXPECT_TRUE(F("SMALL")->IsNull());
}

TEST_F(TypedFields, FieldWithoutDataSetRaises) {
    TIntegerField Loose(nullptr);
    Loose.SetFieldName("LOOSE");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { Loose.AsInteger(); }), "Field 'LOOSE' has no dataset");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { Loose.SetAsInteger(1); }), "Field 'LOOSE' has no dataset");
}

TEST_F(TypedFields, MemoThroughBlobStreams) {
    auto* Note = dynamic_cast<TBlobField*>(F("NOTE"));
    ASSERT_NE(Note, nullptr);
    EXPECT_EQ(Note->BlobSize(), 9);
    DS.Edit();
    Note->SetAsString("a longer memo");
    EXPECT_TRUE(Note->Modified());
    EXPECT_TRUE(DS.Modified());
    EXPECT_EQ(Note->AsString(), "a longer memo");
    DS.Post();
    EXPECT_FALSE(Note->Modified());  // cleared after the post
    EXPECT_EQ(DS.RowText(0, 9), "a longer memo");
    DS.Edit();
    Note->Clear();
    EXPECT_TRUE(Note->IsNull());
    DS.Cancel();
    EXPECT_EQ(Note->AsString(), "a longer memo");
    TMemoryStream Out;
    Note->SaveToStream(&Out);
    EXPECT_EQ(Out.Size(), 13);
}

TEST(FieldBinding, CalculatedAreaOffsetsAndErrors) {
    TMemDataSet DS;
    DS.AddColumn("ID", ftInteger);
    auto* Name = new TStringField(&DS);
    Name->SetFieldName("NAME");
    Name->SetSize(3);
    Name->SetFieldKind(fkCalculated);
    Name->SetDataSet(&DS);
    auto* Twice = new TIntegerField(&DS);
    Twice->SetFieldName("TWICE");
    Twice->SetCalculated(true);
    Twice->SetDataSet(&DS);
    auto* Id = new TIntegerField(&DS);
    Id->SetFieldName("id");
    Id->SetDataSet(&DS);
    DS.AddRow({21});
    std::vector<TDataSetState> States;
    DS.OnCalcFields = [&](TDataSet* D) {
        States.push_back(D->State());
        if (!Id->IsNull()) Twice->SetAsInteger(Id->AsInteger() * 2);
        Name->SetAsString("abcdef");
    };
    DS.Open();
    EXPECT_FALSE(DS.DefaultFields());
    EXPECT_EQ(Name->FieldNo(), -1);
    EXPECT_EQ(Name->Offset(), 0);
    EXPECT_EQ(Twice->Offset(), 5);
    EXPECT_EQ(DS.CalcFieldsSize(), 10);
    EXPECT_EQ(Id->FieldNo(), 1);
    EXPECT_EQ(Twice->AsInteger(), 42);
    EXPECT_EQ(Name->AsString(), "abc");
    ASSERT_FALSE(States.empty());
    EXPECT_EQ(States.back(), dsCalcFields);  // fetched records are calculated in dsCalcFields
    // Changing a data field recalculates (AutoCalcFields).
    DS.Edit();
    Id->SetAsInteger(5);
    EXPECT_EQ(Twice->AsInteger(), 10);
    EXPECT_EQ(States.back(), dsEdit);  // recalculated in place for the edited record
    DS.Cancel();
    EXPECT_EQ(Twice->AsInteger(), 42);
    DS.Close();
    EXPECT_EQ(DS.FieldCount(), 3);  // persistent fields survive the close
    EXPECT_EQ(Id->FieldNo(), 0);

    auto* Memo = new TMemoField(&DS);
    Memo->SetFieldName("CALCMEMO");
    Memo->SetCalculated(true);
    Memo->SetDataSet(&DS);
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { DS.Open(); }), "Field 'CALCMEMO' cannot be a calculated or lookup field");
    EXPECT_FALSE(DS.Active());
    delete Memo;
    auto* Ghost = new TIntegerField(&DS);
    Ghost->SetFieldName("GHOST");
    Ghost->SetDataSet(&DS);
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { DS.Open(); }), "Field 'GHOST' not found");
    delete Ghost;
    auto* Wrong = new TStringField(&DS);
    Wrong->SetFieldName("ID");
    Wrong->SetDataSet(&DS);
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { DS.Open(); }),
              "Type mismatch for field 'ID', expecting: String actual: Integer");
    delete Wrong;
    DS.Open();
    EXPECT_EQ(Twice->AsInteger(), 42);
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { Twice->SetFieldKind(fkData); }),
              "Cannot perform this operation on an open dataset");
}

TEST(FieldChange, ModifiedChangeEventAndKeyState) {
    TMemDataSet DS;
    AddNumberRows(DS, 1);
    DS.Open();
    int Changes = 0;
    TField* Name = DS.FieldByName("NAME");
    Name->OnChange = [&](TField* Sender) {
        EXPECT_EQ(Sender, Name);
        ++Changes;
    };
    DS.Edit();
    EXPECT_FALSE(DS.Modified());
    Name->SetAsString("x");
    EXPECT_TRUE(DS.Modified());
    EXPECT_EQ(Changes, 1);
    DS.Cancel();
    const TDataSetState Old = DS.SetTempState(dsSetKey);
    Name->SetAsString("key");
    EXPECT_TRUE(DS.Modified());  // still marked
    EXPECT_EQ(Changes, 1);       // but no change event in dsSetKey
    DS.RestoreState(Old);
}

TEST(FieldChange, ValidateSeesTheNewValue) {
    TMemDataSet DS;
    AddNumberRows(DS, 1);
    DS.Open();
    TField* Id = DS.FieldByName("ID");
    Id->OnValidate = [](TField* Sender) {
        if (Sender->AsInteger() < 0) throw EDatabaseError("negative");
    };
    DS.Edit();
    Id->SetAsInteger(5);
    EXPECT_EQ(Id->AsInteger(), 5);
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { Id->SetAsInteger(-3); }), "negative");
    EXPECT_EQ(Id->AsInteger(), 5);
}

TEST(FieldList, VisibilityLayoutAndRemoval) {
    TMemDataSet DS;
    AddNumberRows(DS, 1);
    TDataSource Source(nullptr);
    TRecordingLink Link;
    Source.SetDataSet(&DS);
    Link.SetDataSource(&Source);
    DS.Open();
    Link.Clear();
    DS.FieldByName("NAME")->SetVisible(false);
    EXPECT_EQ(Link.JoinedEvents(), "deLayoutChange");
    EXPECT_EQ(Link.JoinedReactions(), "LayoutChanged");
    EXPECT_EQ(DS.FieldByName("NAME")->DisplayWidth(), 10);
    EXPECT_EQ(DS.FieldByName("ID")->DisplayWidth(), 11);
    EXPECT_EQ(DS.FieldByName("NAME")->Index(), 1);
    DS.Close();
    EXPECT_EQ(DS.FieldCount(), 0);  // default fields are destroyed by the close
}
