// The engine's COM objects as a client sees them: registration, open errors,
// statuses, value conversions and refusals, posting, filters and strings.
#include "engine/Engine.h"

#include "EngineTestUtil.h"
#include "moneytable/Orbalk_TLB.h"
#include "moneytable/Vennick_TLB.h"

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <fstream>

using namespace engine;
using enginetest::Col;
using enginetest::Ix;
using enginetest::TempDir;

namespace {

// The message of the EOleException that OleCheck raises for hr.
std::string OleMessage(HRESULT hr) {
    try {
        OleCheck(hr);
    } catch (const EOleException& e) {
        return e.Message();
    } catch (const EOleSysError& e) {
        return "EOleSysError: " + e.Message();
    }
    return "(succeeded)";
}

class ComTest : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        RegisterEngineServer();
        T = CoBFTable::Create();
    }
    void TearDown() override {
        T.reset();
        CoUninitialize();
    }

    // A table with every column type.
    std::string MakeAllTypes() {
        TableSchema s;
        s.Columns = {Col("Flag", 'B'),     Col("Name", 'C', 10), Col("Day", 'D'),  Col("Amount", 'E'),
                     Col("Id", 'G'),       Col("Small", 'I'),    Col("Long", 'L'), Col("Memo", 'M'),
                     Col("Rate", 'R'),     Col("Clock", 'T'),    Col("Wide", 'U', 8), Col("Word", 'V'),
                     Col("Word2", 'W'),    Col("PostTime", 'Y'), Col("PostDate", 'Z'),
                     Col("Counter", 'L', 0, true)};
        s.Indexes = {Ix({1}), Ix({6, 2}, true)};
        const std::string path = Dir.File("all.dat");
        CreateTable(path, s);
        return path;
    }

    std::int32_t Open(const std::string& path) {
        std::int32_t st = 99;
        OleCheck(T->OpenTable(OleVariant(path), &st));
        return st;
    }

    TempDir Dir;
    rtl::ComPtr<IBFTable7> T;
};

}  // namespace

TEST_F(ComTest, ClassesAreRegisteredAndAnswerEveryInterfaceVersion) {
    ASSERT_TRUE(T);
    EXPECT_TRUE(T.As<IBFTable>());
    EXPECT_TRUE(T.As<IBFTable4>());
    EXPECT_TRUE(T.As<IDispatch>());
    EXPECT_FALSE(T.As<IBFString>());
    EXPECT_TRUE(CoBFString::Create());
    EXPECT_TRUE(CoBFFilter::Create().As<IBFFilter>());
    EXPECT_TRUE(CoBFRelation::Create());
    EXPECT_EQ(T->Reserved01(), E_NOTIMPL);
    EXPECT_EQ(T->Reserved16(), E_NOTIMPL);
    EXPECT_EQ(T->Reserved23(), E_NOTIMPL);
}

TEST_F(ComTest, OpenErrorsNameTheFile) {
    const std::string missing = Dir.File("missing.dat");
    std::int32_t st = 0;
    EXPECT_EQ(OleMessage(T->OpenTable(OleVariant(missing), &st)), "Table file '" + missing + "' does not exist");

    const std::string text = Dir.File("text.dat");
    std::ofstream(text) << "hello, this is not a table";
    EXPECT_EQ(OleMessage(T->OpenTable(OleVariant(text), &st)), "'" + text + "' is not a table file");

    // A table cut inside its catalog.
    const std::string path = MakeAllTypes();
    const std::string cut = Dir.File("cut.dat");
    {
        std::ifstream in(path, std::ios::binary);
        std::vector<char> bytes(100);
        in.read(bytes.data(), 100);
        std::ofstream(cut, std::ios::binary).write(bytes.data(), 100);
    }
    EXPECT_EQ(OleMessage(T->OpenTable(OleVariant(cut), &st)),
              "Table file '" + cut + "' is truncated: its catalog is incomplete");
    // A table cut after the catalog but before the page store.
    ASSERT_EQ(::truncate(path.c_str(), 30000), 0);
    EXPECT_EQ(OleMessage(T->OpenTable(OleVariant(path), &st)),
              "Table file '" + path + "' is truncated: its catalog area is incomplete");
    // After the failures the object still opens a good table.
    CreateTable(Dir.File("good.dat"), TableSchema{{Col("A", 'L')}, {}, ""});
    EXPECT_EQ(Open(Dir.File("good.dat")), 0);
}

TEST_F(ComTest, OpenFallsBackToTheNameIgnoringCase) {
    CreateTable(Dir.File("BANK.DAT"), TableSchema{{Col("A", 'L')}, {}, ""});
    OleCheck(T->SetTablePath(Utf8ToWide(Dir.File("Bank.dat"))));
    WideString p;
    OleCheck(T->GetTablePath(&p));
    std::int32_t st = 99;
    OleCheck(T->OpenTable(OleVariant(p), &st));
    EXPECT_EQ(st, 0);
}

TEST_F(ComTest, MisuseStatuses) {
    std::int32_t st = 0;
    // Closed table: moves are misuse, close and prepare-close are accepted.
    OleCheck(T->MoveFirst(&st));
    EXPECT_EQ(st, -10);
    EXPECT_EQ(T->PrepareClose(0), S_OK);
    EXPECT_EQ(T->CloseTable(), S_OK);
    EXPECT_EQ(T->SetFilter(nullptr), S_OK);

    const std::string path = MakeAllTypes();
    EXPECT_EQ(Open(path), 0);
    EXPECT_EQ(Open(path), -11);
    OleCheck(T->GetLastStatus(&st));
    EXPECT_EQ(st, -11);

    OleVariant v;
    OleCheck(T->GetColumnValue(OleVariant("Name"), &v));  // no current record
    OleCheck(T->GetLastStatus(&st));
    EXPECT_EQ(st, -10);
    OleCheck(T->PostRecord(&st));  // nothing being added or edited
    EXPECT_EQ(st, -10);
    OleCheck(T->AddRecord());
    OleCheck(T->SetColumnValue(OleVariant("NoSuchColumn"), OleVariant(1)));
    OleCheck(T->GetLastStatus(&st));
    EXPECT_EQ(st, -10);
    WideString w;
    OleCheck(T->GetGuidValue(OleVariant("Name"), &w));  // not a GUID column
    OleCheck(T->GetLastStatus(&st));
    EXPECT_EQ(st, -12);
    OleCheck(T->NextAutoIncValue(OleVariant("Long"), &st));
    EXPECT_EQ(st, -12);
    OleCheck(T->SetIndex(u"Nope", &st));
    EXPECT_EQ(st, -13);
    OleCheck(T->SetIndex(u"", &st));
    OleCheck(T->SeekKey(OleVariant("x"), &st));
    EXPECT_EQ(st, -13);
}

TEST_F(ComTest, EveryTypeRoundTripsIncludingNullAndLimits) {
    const std::string path = MakeAllTypes();
    ASSERT_EQ(Open(path), 0);
    std::int32_t st = 0;
    OleCheck(T->AddRecord());
    OleCheck(T->SetColumnValue(OleVariant("Flag"), OleVariant(true)));
    // 7 characters in 10 bytes: exactly the column's size.
    EXPECT_EQ(OleMessage(T->SetColumnValue(OleVariant("Name"), OleVariant("Žluťouč"))), "(succeeded)");
    OleCheck(T->SetColumnValue(OleVariant("Day"), OleVariant::FromDate(45000.75)));
    OleCheck(T->SetColumnValue(OleVariant("Amount"), OleVariant(-1234.5)));
    OleCheck(T->SetGuidValue(OleVariant("Id"), u"{0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9}"));
    OleCheck(T->SetColumnValue(OleVariant("Small"), OleVariant(std::int32_t(-32768))));
    OleCheck(T->SetColumnValue(OleVariant("Long"), OleVariant(std::int32_t(2147483647))));
    OleCheck(T->SetColumnValue(OleVariant("Memo"), OleVariant(std::string(5000, 'm'))));
    OleCheck(T->SetColumnValue(OleVariant("Rate"), OleVariant(std::int32_t(3))));  // an integer into a double
    OleCheck(T->SetColumnValue(OleVariant("Clock"), OleVariant::FromDate(0.5)));
    EXPECT_EQ(OleMessage(T->SetWideValue(OleVariant("Wide"), u"čšžřá")),
              "Text of 10 bytes is too long for column 'Wide' (at most 8 bytes)");
    OleCheck(T->GetLastStatus(&st));
    EXPECT_EQ(st, -1);
    OleCheck(T->SetWideValue(OleVariant("Wide"), u"čšžř"));  // 8 bytes
    OleCheck(T->SetColumnValue(OleVariant(std::int32_t(11)), OleVariant(std::int32_t(65535))));
    // Word2 stays null.
    OleCheck(T->PostRecord(&st));
    ASSERT_EQ(st, 0);

    std::int32_t recno = 0;
    OleCheck(T->GetRecordNumber(&recno));
    EXPECT_EQ(recno, 1);
    OleCheck(T->CloseTable());
    ASSERT_EQ(Open(path), 0);

    OleVariant v;
    OleCheck(T->GetColumnValue(OleVariant("flag"), &v));
    EXPECT_EQ(v.VType(), VT_BOOL);
    EXPECT_TRUE(v.ToBool());
    OleCheck(T->GetColumnValue(OleVariant("Name"), &v));
    EXPECT_EQ(v.VType(), VT_BSTR);
    EXPECT_EQ(v.ToString(), "Žluťouč");
    OleCheck(T->GetColumnValue(OleVariant("Day"), &v));
    EXPECT_EQ(v.VType(), VT_DATE);
    EXPECT_EQ(v.ToDate(), 45000.0);  // whole days
    OleCheck(T->GetColumnValue(OleVariant("Amount"), &v));
    EXPECT_EQ(v.VType(), VT_R8);
    EXPECT_EQ(v.ToDouble(), -1234.5);
    WideString g;
    OleCheck(T->GetGuidValue(OleVariant("Id"), &g));
    EXPECT_EQ(g, u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}");
    OleCheck(T->GetColumnValue(OleVariant("Small"), &v));
    EXPECT_EQ(v.VType(), VT_I4);
    EXPECT_EQ(v.ToInt(), -32768);
    OleCheck(T->GetColumnValue(OleVariant("Long"), &v));
    EXPECT_EQ(v.ToInt(), 2147483647);
    OleCheck(T->GetColumnValue(OleVariant("Memo"), &v));
    EXPECT_EQ(v.ToString(), std::string(5000, 'm'));
    OleCheck(T->GetColumnValue(OleVariant("Rate"), &v));
    EXPECT_EQ(v.VType(), VT_R8);
    EXPECT_EQ(v.ToDouble(), 3.0);
    OleCheck(T->GetColumnValue(OleVariant("Clock"), &v));
    EXPECT_EQ(v.VType(), VT_DATE);
    EXPECT_EQ(v.ToDate(), 0.5);  // day 0 plus the time
    WideString w;
    OleCheck(T->GetWideValue(OleVariant("Wide"), &w));
    EXPECT_EQ(w, u"čšžř");
    OleCheck(T->GetColumnValue(OleVariant("Word"), &v));
    EXPECT_EQ(v.ToInt(), 65535);
    OleCheck(T->GetColumnValue(OleVariant("Word2"), &v));
    EXPECT_EQ(v.VType(), VT_EMPTY);  // null is empty, never VT_NULL
    // The engine wrote the post date and time.
    OleCheck(T->GetColumnValue(OleVariant("PostDate"), &v));
    EXPECT_EQ(v.VType(), VT_DATE);
    EXPECT_GT(v.ToDate(), 45000.0);
    OleCheck(T->GetColumnValue(OleVariant("PostTime"), &v));
    EXPECT_GE(v.ToDate(), 0.0);
    EXPECT_LT(v.ToDate(), 1.0);
}

TEST_F(ComTest, NullsReadAfterTextsAreEmptyWhileWalkingBothWays) {
    // Rows and the caller's variants and strings are reused from record to
    // record: a null must never show the text read before it.
    TableSchema s;
    s.Columns = {Col("Name", 'C', 20), Col("Id", 'G'), Col("Wide", 'U', 20), Col("Count", 'L')};
    const std::string path = Dir.File("alternate.dat");
    CreateTable(path, s);
    {
        BulkInserter in(path);
        for (int i = 1; i <= 300; ++i) {
            const bool odd = i % 2 == 1;
            in.Add({odd ? Value::Text("name " + std::to_string(i)) : Value::Null(),
                    odd ? Value::Text("{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}") : Value::Null(),
                    odd ? Value::Text("wide " + std::to_string(i)) : Value::Null(),
                    odd ? Value::Null() : Value::Int(i)});
        }
        in.Commit();
    }
    ASSERT_EQ(Open(path), 0);
    std::int32_t st = 0;
    OleVariant name, count;
    WideString id, wide;
    auto check = [&](int recno) {
        const bool odd = recno % 2 == 1;
        OleCheck(T->GetColumnValue(OleVariant("Name"), &name));
        OleCheck(T->GetGuidValue(OleVariant("Id"), &id));
        OleCheck(T->GetWideValue(OleVariant("Wide"), &wide));
        OleCheck(T->GetColumnValue(OleVariant("Count"), &count));
        if (odd) {
            EXPECT_EQ(name.ToString(), "name " + std::to_string(recno));
            EXPECT_EQ(id, u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}");
            EXPECT_EQ(wide, Utf8ToWide("wide " + std::to_string(recno)));
            EXPECT_TRUE(count.IsEmpty());
        } else {
            EXPECT_TRUE(name.IsEmpty()) << recno;
            EXPECT_EQ(id, u"") << recno;
            EXPECT_EQ(wide, u"") << recno;
            EXPECT_EQ(count.ToInt(), recno);
        }
    };
    OleCheck(T->MoveFirst(&st));
    for (int recno = 1; recno <= 300; ++recno) {
        check(recno);
        if (recno < 300) OleCheck(T->MoveNext(&st));
    }
    for (int recno = 299; recno >= 1; --recno) {
        OleCheck(T->MovePrior(&st));
        check(recno);
    }
    OleCheck(T->MoveToRecord(150, &st));
    check(150);
    OleCheck(T->MoveToRecord(151, &st));
    check(151);
}

TEST_F(ComTest, RefusedValuesNameTheColumn) {
    ASSERT_EQ(Open(MakeAllTypes()), 0);
    OleCheck(T->AddRecord());
    EXPECT_EQ(OleMessage(T->SetColumnValue(OleVariant("Small"), OleVariant(std::int32_t(32768)))),
              "Value 32768 is out of range for column 'Small' (-32768 to 32767)");
    EXPECT_EQ(OleMessage(T->SetColumnValue(OleVariant("Word"), OleVariant(std::int32_t(-1)))),
              "Value -1 is out of range for column 'Word' (0 to 65535)");
    EXPECT_EQ(OleMessage(T->SetColumnValue(OleVariant("Name"), OleVariant("ABCDEFGHIJK"))),
              "Text of 11 bytes is too long for column 'Name' (at most 10 bytes)");
    EXPECT_EQ(OleMessage(T->SetColumnValue(OleVariant("Name"), OleVariant("Žluťoučký"))),
              "Text of 13 bytes is too long for column 'Name' (at most 10 bytes)");
    EXPECT_EQ(OleMessage(T->SetColumnValue(OleVariant("Long"), OleVariant("12x"))),
              "Value '12x' does not fit column 'Long' (type L)");
    EXPECT_EQ(OleMessage(T->SetColumnValue(OleVariant("Day"), OleVariant(true))),
              "Value of type Boolean does not fit column 'Day' (type D)");
    EXPECT_EQ(OleMessage(T->SetGuidValue(OleVariant("Id"), u"not-a-guid")),
              "Value 'not-a-guid' (not a GUID) does not fit column 'Id' (type G)");
    EXPECT_EQ(OleMessage(T->SetColumnValue(OleVariant("PostDate"), OleVariant::FromDate(1))),
              "Column 'PostDate' holds the time of the last post and cannot be written");
    EXPECT_EQ(OleMessage(T->SetColumnValue(OleVariant("Amount"), VarArrayOf({OleVariant(1)}))),
              "Value of type " + OleVariant::TypeName(VARTYPE(VT_ARRAY | VT_VARIANT)) +
                  " does not fit column 'Amount'");
    // A text with a NUL character, which readers of record buffers and the
    // key collation would cut or skip at the NUL, is refused on every path.
    const WideString nul(u"ab\0cd", 5);
    EXPECT_EQ(OleMessage(T->SetColumnValue(OleVariant("Name"), OleVariant(nul))),
              "Value (text with a NUL character) does not fit column 'Name' (type C)");
    EXPECT_EQ(OleMessage(T->SetWideValue(OleVariant("Wide"), nul)),
              "Value (text with a NUL character) does not fit column 'Wide' (type U)");
    EXPECT_EQ(OleMessage(T->SetColumnValue(OleVariant("Memo"), OleVariant(nul))),
              "Value (text with a NUL character) does not fit column 'Memo' (type M)");
    EXPECT_EQ(OleMessage(T->SetColumnValue(OleVariant("Day"), OleVariant(WideString(u"2024-01-01\0x", 12)))),
              "Value (text with a NUL character) does not fit column 'Day' (type D)");
    std::int32_t st = 0;
    OleCheck(T->SetIndex(u"Name", &st));
    EXPECT_EQ(OleMessage(T->SeekKey(OleVariant(nul), &st)),
              "Value (text with a NUL character) does not fit column 'Name' (type C)");
}

TEST_F(ComTest, UniqueIndexViolationLeavesTableUnchanged) {
    ASSERT_EQ(Open(MakeAllTypes()), 0);
    std::int32_t st = 0;
    auto add = [&](std::int32_t l, double day) {
        OleCheck(T->AddRecord());
        OleCheck(T->SetColumnValue(OleVariant("Long"), OleVariant(l)));
        OleCheck(T->SetColumnValue(OleVariant("Day"), OleVariant::FromDate(day)));
        return T->PostRecord(&st);
    };
    OleCheck(add(1, 100));
    OleCheck(add(1, 101));
    EXPECT_EQ(OleMessage(add(1, 100)), "Key violation: the unique index 'Long+Day' of table '" + Dir.File("all.dat") +
                                           "' already holds this key");
    std::int32_t n = 0;
    OleCheck(T->CountRecords(&n));
    EXPECT_EQ(n, 2);
    // The pending record can be corrected and posted again.
    OleCheck(T->SetColumnValue(OleVariant("Day"), OleVariant::FromDate(102)));
    OleCheck(T->PostRecord(&st));
    OleCheck(T->CountRecords(&n));
    EXPECT_EQ(n, 3);
}

TEST_F(ComTest, CatalogueQueries) {
    ASSERT_EQ(Open(MakeAllTypes()), 0);
    std::int32_t n = 0;
    OleCheck(T->GetColumnCount(&n));
    EXPECT_EQ(n, 16);
    WideString s;
    OleCheck(T->GetColumnName(13, &s));
    EXPECT_EQ(s, u"PostTime");
    OleCheck(T->GetColumnType(10, &s));
    EXPECT_EQ(s, u"U");
    OleCheck(T->GetColumnSize(10, &n));
    EXPECT_EQ(n, 8);
    OleCheck(T->GetColumnSize(4, &n));
    EXPECT_EQ(n, 38);
    OleCheck(T->GetIndexCount(&n));
    EXPECT_EQ(n, 2);
    OleCheck(T->GetIndexColumns(1, &s));
    EXPECT_EQ(s, (WideString{char16_t(6), char16_t(2)}));
    OleCheck(T->SetIndex(u"LONG+day", &n));
    EXPECT_EQ(n, 0);
    OleCheck(T->NextAutoIncValue(OleVariant("Counter"), &n));
    EXPECT_EQ(n, 1);
    OleCheck(T->NextAutoIncValue(OleVariant(std::int32_t(15)), &n));
    EXPECT_EQ(n, 2);
}

TEST_F(ComTest, StringObjectMapsCaseAndMakesKeys) {
    auto str = CoBFString::Create();
    WideString r;
    OleCheck(str->ToUpper(u"příliš žluťoučký straße", &r));
    EXPECT_EQ(r, u"PŘÍLIŠ ŽLUŤOUČKÝ STRASSE");
    OleCheck(str->ToLower(u"ČÁP", &r));
    EXPECT_EQ(r, u"čáp");
    OleCheck(str->MakeKey(u"abc", 5, &r));
    EXPECT_EQ(r, u"ABC  ");
    OleCheck(str->MakeKey(u"abcdef", 3, &r));
    EXPECT_EQ(r, u"ABC");
    OleCheck(str->MakeKey(u"abc", 0, &r));
    EXPECT_EQ(r, u"ABC");
    OleCheck(T->GuidToKey(u"{0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9}", &r));
    EXPECT_EQ(r, u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}");
}

TEST_F(ComTest, FilterObjectInstallsAndReportsParseErrors) {
    ASSERT_EQ(Open(MakeAllTypes()), 0);
    std::int32_t st = 0;
    for (int i = 1; i <= 5; ++i) {
        OleCheck(T->AddRecord());
        OleCheck(T->SetColumnValue(OleVariant("Long"), OleVariant(std::int32_t(i))));
        OleCheck(T->SetColumnValue(OleVariant("Name"), OleVariant(i % 2 ? "odd" : "even")));
        OleCheck(T->PostRecord(&st));
    }
    auto f = CoBFFilter::Create();
    OleCheck(f->SetExpression(u"Name = 'odd' AND Long > 1"));
    f->AddRef();  // the reference that SetFilter takes over
    OleCheck(T->SetFilter(f.get()));
    std::int32_t n = 0;
    OleCheck(T->CountRecords(&n));
    EXPECT_EQ(n, 2);
    rtl::ComPtr<IBFFilter> got;
    OleCheck(T->GetFilter(got.put()));
    EXPECT_EQ(static_cast<IUnknown*>(got.get()), static_cast<IUnknown*>(static_cast<IBFFilter*>(f.get())));

    // A range on the index Name: from "e" to "evzz" keeps the even records.
    OleCheck(T->SetIndex(u"Name", &st));
    OleCheck(f->SetExpression(u""));
    PSafeArray lo = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    lo->Items[0] = OleVariant("e");
    PSafeArray hi = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    hi->Items[0] = OleVariant("evzz");
    OleCheck(f->SetRangeBound(RangeBoundLower, lo));
    OleCheck(f->SetRangeBound(RangeBoundUpper, hi));
    f->AddRef();
    OleCheck(T->SetFilter(f.get()));
    OleCheck(T->CountRecords(&n));
    EXPECT_EQ(n, 2);

    // A bad expression fails with its position and leaves the previous
    // filter installed.
    OleCheck(f->SetExpression(u"Long >"));
    f->AddRef();
    const std::string msg = OleMessage(T->SetFilter(f.get()));
    f->Release();  // a failed installation leaves the reference with the caller
    EXPECT_EQ(msg.rfind("Filter expression error at position", 0), 0u) << msg;
    OleCheck(T->CountRecords(&n));
    EXPECT_EQ(n, 2);

    OleCheck(T->SetFilter(nullptr));
    OleCheck(T->CountRecords(&n));
    EXPECT_EQ(n, 5);
    OleCheck(T->GetFilter(got.put()));
    EXPECT_FALSE(got);
}
