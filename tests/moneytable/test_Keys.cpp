// Tests of TMoneyTable's indexes, index fields, key buffers and key search
// against the recording fake engine, and of the unit's key and case
// functions.
#include "tests/moneytable/MoneyTableTestKit.h"

#include <cstring>

using namespace mttest;

namespace {

const std::string kPayPath = "/data/PAY.dat";
const std::string kGuidA = "{aaaaaaaa-0000-0000-0000-000000000001}";

// A table whose framework hooks and key internals the tests may reach.
class TKeyTable : public TTestTable {
public:
    using TTestTable::TTestTable;
    using TMoneyTable::GetIsIndexField;
    std::vector<std::uint8_t> KeyBytes(TMKeyIndex K) {
        const std::uint8_t* B = KeyBuffers(K);
        return std::vector<std::uint8_t>(B, B + GetRecordSize());
    }
    // The trailer's members, copied out of the packed record.
    int KeyCount(TMKeyIndex K) { return GetMKeyBuffer(KeyBuffers(K))->FieldCount; }
    int KeyModified(TMKeyIndex K) { return GetMKeyBuffer(KeyBuffers(K))->Modified; }
};

// Columns 0 Payee C20, 1 Date D, 2 Amount R, 3 Num L, 4 Id G.
// Indexes: 0 Payee, 1 Payee+Date, 2 Num, 3 Id, 4 Payee+Amount.
// In Payee order the records are 2 Alice, 3 Bob, 4 Bob, 1 Carol, 5 Dave.
fake::FakeTableData& MakePay() {
    auto& T = fake::FakeEngine::Instance().CreateTable(
        kPayPath, {{"Payee", "C", 20}, {"Date", "D", 4}, {"Amount", "R", 8}, {"Num", "L", 4}, {"Id", "G", 38}});
    T.Indexes = {{0}, {0, 1}, {3}, {4}, {0, 2}};
    T.Add({"Carol", OleVariant::FromDate(45003), 30.0, std::int32_t(3), "{cccccccc-0000-0000-0000-000000000003}"});
    T.Add({"Alice", OleVariant::FromDate(45001), 10.0, std::int32_t(1), kGuidA});
    T.Add({"Bob", OleVariant::FromDate(45002), 20.0, std::int32_t(2), "{bbbbbbbb-0000-0000-0000-000000000002}"});
    T.Add({"Bob", OleVariant::FromDate(45005), 25.0, std::int32_t(5), "{bbbbbbbb-0000-0000-0000-000000000004}"});
    T.Add({"Dave", OleVariant::FromDate(45004), 40.0, std::int32_t(4), "{dddddddd-0000-0000-0000-000000000005}"});
    return T;
}

class Keys : public FakeEngineTest {
protected:
    void SetUp() override {
        FakeEngineTest::SetUp();
        MakePay();
        T.SetFileName("/data/PAY");
    }
    void TearDown() override {
        T.Close();
        FakeEngineTest::TearDown();
    }
    void OpenWith(const std::string& Index) {
        T.SetIndexFieldNames(Index);
        T.Open();
        Calls().clear();
    }
    std::string Payee() { return T.FieldByName("Payee")->AsString(); }
    std::vector<std::string> PayeesInOrder() {
        std::vector<std::string> R;
        for (T.First(); !T.Eof(); T.Next()) R.push_back(Payee() + std::to_string(T.RecNo()));
        return R;
    }
    TKeyTable T{nullptr};
};

}  // namespace

// ============================================================ field lists

TEST(FieldLists, ExtractFieldNameNoTrimWalksTheListUntrimmed) {
    const std::string List = " A;;B ";
    int Pos = 1;
    EXPECT_EQ(ExtractFieldNameNoTrim(List, Pos), " A");
    EXPECT_EQ(Pos, 4);
    EXPECT_EQ(ExtractFieldNameNoTrim(List, Pos), "");
    EXPECT_EQ(Pos, 5);
    EXPECT_EQ(ExtractFieldNameNoTrim(List, Pos), "B ");
    EXPECT_EQ(Pos, 7);
    // Past the end: empty names, the position stays.
    EXPECT_EQ(ExtractFieldNameNoTrim(List, Pos), "");
    EXPECT_EQ(Pos, 7);
    // A position before the start reads from the first character.
    Pos = 0;
    EXPECT_EQ(ExtractFieldNameNoTrim("X;Y", Pos), "X");
    EXPECT_EQ(Pos, 3);
    Pos = -5;
    EXPECT_EQ(ExtractFieldNameNoTrim("", Pos), "");
    EXPECT_EQ(Pos, 1);
}

TEST(FieldLists, IndexNameReplacesEverySemicolon) {
    EXPECT_EQ(IndexFieldNamesToIndexName("Name;Date"), "Name+Date");
    EXPECT_EQ(IndexFieldNamesToIndexName("A;;B;"), "A++B+");
    EXPECT_EQ(IndexFieldNamesToIndexName(""), "");
}

// ============================================================ closed table

TEST_F(Keys, ClosedTableStoresTheIndexAndHasNoIndexDefinitions) {
    T.SetIndexFieldNames("No;Such;;Field");
    EXPECT_EQ(T.IndexFieldNames(), "No;Such;;Field");
    EXPECT_EQ(T.GetIndexFieldCount(), 2);
    TStringList Names;
    Names.Add("stale");
    T.GetIndexNames(&Names);
    EXPECT_EQ(Names.Count(), 0);
    // Neither the property nor the definitions touched the engine.
    EXPECT_TRUE(Calls().empty());
    EXPECT_EQ(Engine().LiveObjects(), 0);
    ExpectError<EDatabaseError>([&] { T.GetIndexField(0); }, "Cannot access index field 'No'");
    // Key operations need the open table.
    ExpectError<EDatabaseError>([&] { T.SetKey(); }, "Cannot perform this operation on a closed dataset");
    ExpectError<EDatabaseError>([&] { T.FindKey({"x"}); }, "Cannot perform this operation on a closed dataset");
    ExpectError<EDatabaseError>([&] { T.SetKeyFields(mkiLookup, {}); },
                                "Cannot perform this operation on a closed dataset");
}

TEST_F(Keys, IndexFieldNamesAreReadUpToTheFirstEmptyName) {
    // A;;B has one index field; the engine is asked for A++B, which it does
    // not know: the old value stays.
    OpenWith("Payee");
    EXPECT_EQ(T.GetIndexFieldCount(), 1);
    ExpectError<EBFError>([&] { T.SetIndexFieldNames("Payee;;Date"); }, "Invalid index");
    EXPECT_EQ(Engine().Count("SetIndex('Payee++Date')"), 1);
    EXPECT_EQ(T.IndexFieldNames(), "Payee");
    T.Close();
    T.SetIndexFieldNames("Payee;;Date");
    EXPECT_EQ(T.GetIndexFieldCount(), 1);
    ExpectError<EBFError>([&] { T.Open(); }, "Invalid index");
    EXPECT_FALSE(T.Active());
}

TEST_F(Keys, IndexFieldNamesAreNotTrimmed) {
    // A column whose name starts with a blank beside one without it.
    Engine().CreateTable(kPayPath, {{"Payee", "C", 10}, {" Payee", "C", 10}});
    Engine().Table(kPayPath).Indexes = {{1}, {0}};
    OpenWith(" Payee");
    EXPECT_EQ(T.GetIndexField(0), T.FieldByName(" Payee"));
    EXPECT_NE(T.GetIndexField(0), T.FieldByName("Payee"));
    T.Close();
    // Without such a field, the message shows the name with its blank.
    MakePay();
    Engine().Table(kPayPath).Indexes.push_back({0});
    OpenWith("Payee");
    T.Close();
    T.SetIndexFieldNames(" Date");
    ExpectError<EDatabaseError>([&] { T.GetIndexField(0); }, "Cannot access index field ' Date'");
}

// ============================================================ index fields

TEST_F(Keys, IndexFieldsByPositionAndTheirFailures) {
    OpenWith("Payee;Date");
    EXPECT_EQ(T.IndexFieldCount(), 2);
    EXPECT_EQ(T.IndexFields(0), T.FieldByName("Payee"));
    EXPECT_EQ(T.IndexFields(1), T.FieldByName("Date"));
    for (int Bad : {-1, 2})
        ExpectError<EDatabaseError>([&] { T.GetIndexField(Bad); }, "Field index out of range");
    // The index field list is compared case-sensitively for GetIsIndexField.
    EXPECT_TRUE(T.GetIsIndexField(T.FieldByName("Payee")));
    EXPECT_TRUE(T.GetIsIndexField(T.FieldByName("Date")));
    EXPECT_FALSE(T.GetIsIndexField(T.FieldByName("Amount")));
    T.SetIndexFieldNames("payee");  // the engine ignores letter case
    EXPECT_FALSE(T.GetIsIndexField(T.FieldByName("Payee")));
    // A field without a field number is never an index field.
    TStringField Loose(nullptr);
    Loose.SetFieldName("payee");
    EXPECT_FALSE(T.GetIsIndexField(&Loose));
}

TEST_F(Keys, SetIndexFieldAssignsInTheKeyBuffer) {
    OpenWith("Payee;Amount");
    TKeyTable Other(nullptr);
    Other.SetFileName("/data/PAY");
    Other.Open();  // on record 1, Carol
    T.SetKey();
    T.SetIndexField(0, Other.FieldByName("Date"));    // converted to text
    T.SetIndexField(1, Other.FieldByName("Amount"));  // as a number
    EXPECT_EQ(T.FieldByName("Payee")->AsString(), DateToStr(45003));
    EXPECT_EQ(T.FieldByName("Amount")->AsFloat(), 30.0);
    T.SetIndexField(1, nullptr);  // nothing: null
    EXPECT_TRUE(T.FieldByName("Amount")->IsNull());
    T.Cancel();
    EXPECT_EQ(Payee(), "Alice");
}

// ============================================================ index definitions

TEST_F(Keys, IndexDefinitionsNameTheKeyFields) {
    OpenWith("");
    TStringList Names;
    T.GetIndexNames(&Names);
    ASSERT_EQ(Names.Count(), 5);
    EXPECT_EQ(Names[0], "Payee");
    EXPECT_EQ(Names[1], "Payee;Date");
    EXPECT_EQ(Names[2], "Num");
    EXPECT_EQ(Names[3], "Id");
    EXPECT_EQ(Names[4], "Payee;Amount");
    TIndexDef* Def = T.IndexDefs()->Items(4);
    EXPECT_EQ(Def->Fields(), "Payee;Amount");
    EXPECT_TRUE(Def->Options().Empty());
    // Asked once; a second request uses the definitions read.
    EXPECT_EQ(Engine().Count("GetIndexCount"), 1);
    T.GetIndexNames(&Names);
    EXPECT_EQ(Engine().Count("GetIndexCount"), 1);
    // Every name can be given to IndexFieldNames unchanged.
    for (int I = 0; I < Names.Count(); ++I) EXPECT_NO_THROW(T.SetIndexFieldNames(Names[I])) << Names[I];
    // A closed table has none; they are re-read after the next open.
    T.Close();
    T.GetIndexNames(&Names);
    EXPECT_EQ(Names.Count(), 0);
    T.SetIndexFieldNames("");
    Engine().Table(kPayPath).Indexes.pop_back();
    T.Open();
    T.GetIndexNames(&Names);
    EXPECT_EQ(Names.Count(), 4);
}

TEST_F(Keys, IndexDefinitionsOfOddEngineIndexes) {
    std::vector<fake::FakeColumn> Cols;
    for (int I = 0; I < 14; ++I) Cols.push_back({"C" + std::to_string(I), "L", 4});
    auto& Data = Engine().CreateTable(kPayPath, Cols);
    // Columns 0 and 2 are the definitions at positions 1 and 3; an index of
    // 13 key columns is listed with its first 12.
    Data.Indexes = {{0, 2}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}};
    OpenWith("");
    TStringList Names;
    T.GetIndexNames(&Names);
    ASSERT_EQ(Names.Count(), 2);
    EXPECT_EQ(Names[0], "C0;C2");
    EXPECT_EQ(Names[1], "C0;C1;C2;C3;C4;C5;C6;C7;C8;C9;C10;C11");
    // Two indexes over the same columns produce the same name.
    T.Close();
    Data.Indexes = {{1}, {3}, {1}};
    T.Open();
    ExpectError<EDatabaseError>([&] { T.GetIndexNames(&Names); }, "A component named C1 already exists");
    // A column number beyond the table's columns is refused.
    T.Close();
    Data.Indexes = {{40}};
    T.Open();
    ExpectError<EDatabaseError>([&] { T.GetIndexNames(&Names); }, "Field index out of range");
}

// ============================================================ changing the index

TEST_F(Keys, ChangingTheIndexKeepsTheCurrentRecord) {
    OpenWith("");
    T.Next();  // record 2, Alice
    ASSERT_EQ(T.RecNo(), 2);
    T.SetIndexFieldNames("Payee");
    // Filter check, repositioning, the index, the second filter check.
    const auto Steps = Engine().CallsStartingWith({"GetFilter", "MoveToRecord", "SetIndex"});
    ASSERT_GE(Steps.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(Steps.begin(), Steps.begin() + 4),
              (std::vector<std::string>{"GetFilter", "MoveToRecord(2)", "SetIndex('Payee')", "GetFilter"}));
    EXPECT_EQ(T.RecNo(), 2);
    EXPECT_EQ(Payee(), "Alice");
    EXPECT_EQ(T.IndexFieldNames(), "Payee");
    EXPECT_EQ(PayeesInOrder(), (std::vector<std::string>{"Alice2", "Bob3", "Bob4", "Carol1", "Dave5"}));
    // No filter installed: no range count is looked at, no filter call.
    EXPECT_EQ(Engine().Count("SetFilter"), 0);
    EXPECT_EQ(Engine().Count("Filter."), 0);
}

TEST_F(Keys, ChangingTheIndexUnderARangeKeepsTheSharedFields) {
    OpenWith("Payee;Amount");
    T.SetRange({"Bob", 20.0}, {"Bob", 25.0});
    EXPECT_EQ(PayeesInOrder(), (std::vector<std::string>{"Bob3", "Bob4"}));
    T.Last();
    Calls().clear();
    // The same leading fields: nothing is lowered, the record stays.
    T.SetIndexFieldNames("Payee;Amount");
    EXPECT_EQ(T.KeyCount(mkiRangeStart), 2);
    EXPECT_EQ(T.KeyCount(mkiRangeEnd), 2);
    EXPECT_EQ(T.RecNo(), 4);
    EXPECT_EQ(Engine().Count("MoveFirst"), 0);
    // One shared field: both counts become 1, the table goes to its first
    // record.
    Calls().clear();
    T.SetIndexFieldNames("Payee;Date");
    EXPECT_EQ(T.KeyCount(mkiRangeStart), 1);
    EXPECT_EQ(T.KeyCount(mkiRangeEnd), 1);
    EXPECT_EQ(Engine().Count("Filter.SetRangeBound(0, [BSTR:'Bob'])"), 1);
    EXPECT_EQ(Engine().Count("Filter.SetRangeBound(-1, [BSTR:'Bob'])"), 1);
    EXPECT_EQ(Engine().Count("MoveFirst"), 1);
    EXPECT_EQ(T.RecNo(), 3);
    EXPECT_EQ(T.IndexFieldNames(), "Payee;Date");
    // Nothing shared: the range is lifted and the filter removed.
    Calls().clear();
    T.SetIndexFieldNames("Num");
    EXPECT_EQ(T.KeyCount(mkiRangeStart), 0);
    EXPECT_EQ(T.KeyCount(mkiRangeEnd), 0);
    EXPECT_EQ(Engine().Count("SetFilter(nil)"), 1);
    EXPECT_EQ(PayeesInOrder(), (std::vector<std::string>{"Alice2", "Bob3", "Carol1", "Dave5", "Bob4"}));
}

// ============================================================ key buffers

TEST_F(Keys, KeyBuffersAreZeroAndSizedLikeRecords) {
    OpenWith("Payee");
    for (TMKeyIndex K : {mkiLookup, mkiRangeStart, mkiRangeEnd, mkiSave}) {
        const auto Bytes = T.KeyBytes(K);
        EXPECT_EQ(static_cast<int>(Bytes.size()), T.GetRecordSize());
        EXPECT_EQ(std::count(Bytes.begin(), Bytes.end(), 0), static_cast<long>(Bytes.size()));
    }
    EXPECT_EQ(reinterpret_cast<std::uint8_t*>(T.GetMKeyBuffer(T.KeyBuffers(mkiLookup))),
              T.KeyBuffers(mkiLookup) + T.BookmarkOffset());
    T.Close();
    EXPECT_EQ(T.KeyBuffers(mkiLookup), nullptr);
    EXPECT_EQ(T.KeyBuffer(), nullptr);
}

TEST_F(Keys, SetKeyEditsTheLookupBufferNotTheRecord) {
    OpenWith("Payee;Amount");
    TDataSource DS(nullptr);
    DS.SetDataSet(&T);
    TRecordingLink Link;
    Link.SetDataSource(&DS);
    T.SetKey();
    EXPECT_EQ(T.State(), dsSetKey);
    EXPECT_EQ(T.KeyBuffer(), T.KeyBuffers(mkiLookup));
    EXPECT_EQ(Link.Count(deDataSetChange), 1);
    // A fresh key reads as null and takes the value in the key buffer.
    EXPECT_TRUE(T.FieldByName("Payee")->IsNull());
    T.FieldByName("Payee")->SetAsString("Zed");
    EXPECT_TRUE(T.Modified());
    const char* Slot = reinterpret_cast<const char*>(T.GetDataPtr(T.KeyBuffers(mkiLookup), T.FieldByName("Payee")));
    EXPECT_STREQ(Slot, "Zed");
    T.SetKeyFieldCount(1);
    EXPECT_EQ(T.KeyFieldCount(), 1);
    Link.Events.clear();
    T.Post();
    EXPECT_EQ(T.State(), dsBrowse);
    EXPECT_EQ(T.KeyModified(mkiLookup), 1);
    EXPECT_EQ(T.KeyCount(mkiLookup), 1);
    std::vector<TDataEvent> Events;
    for (auto& E : Link.Events) Events.push_back(E.first);
    EXPECT_EQ(Events, (std::vector<TDataEvent>{deUpdateRecord, deCheckBrowseMode, deUpdateState, deDataSetChange}));
    // The record itself was not touched and nothing reached the engine.
    EXPECT_EQ(Payee(), "Alice");
    EXPECT_EQ(Engine().CallsStartingWith({"Seek", "Set", "Edit", "Post"}).size(), 0u);
    // Editing the key again starts from the committed one, Modified included.
    T.EditKey();
    EXPECT_EQ(T.FieldByName("Payee")->AsString(), "Zed");
    EXPECT_TRUE(T.Modified());
    T.Cancel();
    DS.SetDataSet(nullptr);
}

TEST_F(Keys, EditKeyAndCancelRestoreTheKeyExactly) {
    OpenWith("Payee;Amount");
    T.SetKey();
    T.FieldByName("Payee")->SetAsString("Bob");
    T.FieldByName("Amount")->SetAsFloat(20);
    T.SetKeyFieldCount(2);
    T.Post();
    const auto Before = T.KeyBytes(mkiLookup);
    T.EditKey();
    T.FieldByName("Payee")->SetAsString("Other");
    T.FieldByName("Amount")->Clear();
    T.SetKeyFieldCount(7);
    T.Cancel();
    EXPECT_EQ(T.State(), dsBrowse);
    EXPECT_EQ(T.KeyBytes(mkiLookup), Before);
    EXPECT_EQ(T.KeyCount(mkiLookup), 2);
    EXPECT_EQ(T.KeyModified(mkiLookup), 1);
    // SetKey clears the key, trailer included, and Cancel brings it back too.
    T.SetKey();
    EXPECT_TRUE(T.FieldByName("Payee")->IsNull());
    EXPECT_EQ(T.KeyFieldCount(), 0);
    EXPECT_FALSE(T.Modified());
    T.Cancel();
    EXPECT_EQ(T.KeyBytes(mkiLookup), Before);
}

TEST_F(Keys, KeyFieldCountOutsideKeyEditing) {
    OpenWith("Payee");
    ExpectError<EDatabaseError>([&] { T.KeyFieldCount(); }, "Dataset not in edit or insert mode");
    ExpectError<EDatabaseError>([&] { T.SetKeyFieldCount(1); }, "Dataset not in edit or insert mode");
    T.Edit();
    ExpectError<EDatabaseError>([&] { T.KeyFieldCount(); }, "Dataset not in edit or insert mode");
    T.Cancel();
}

TEST_F(Keys, APendingKeyIsCommittedByTheNextOperation) {
    OpenWith("Payee");
    T.SetKey();
    T.FieldByName("Payee")->SetAsString("Dave");
    T.SetKeyFieldCount(1);
    // GotoKey ends the key edit through CheckBrowseMode, which posts it.
    EXPECT_TRUE(T.GotoKey());
    EXPECT_EQ(T.State(), dsBrowse);
    EXPECT_EQ(Payee(), "Dave");
}

TEST_F(Keys, AKeyWithoutFieldCountIsNeverSought) {
    OpenWith("Payee");
    T.SetKey();
    T.FieldByName("Payee")->SetAsString("Bob");
    T.Post();
    EXPECT_EQ(T.KeyCount(mkiLookup), 0);
    EXPECT_EQ(T.KeyModified(mkiLookup), 1);
    Calls().clear();
    EXPECT_FALSE(T.GotoKey());
    EXPECT_EQ(Engine().Count("Seek"), 0);
    EXPECT_EQ(Payee(), "Alice");
    // A negative count is no key either.
    T.EditKey();
    T.SetKeyFieldCount(-3);
    T.Post();
    EXPECT_FALSE(T.GotoKey());
    EXPECT_EQ(Engine().Count("Seek"), 0);
    EXPECT_EQ(T.BFSeek(T.KeyBuffers(mkiLookup)), 0);
}

// ============================================================ key search

TEST_F(Keys, OneKeyValueIsASingleVariantSeveralAreAnArray) {
    OpenWith("Payee;Amount");
    // One value on a two-field index: SeekKey with one variant, count 1.
    EXPECT_TRUE(T.FindKey({"Bob"}));
    EXPECT_EQ(T.KeyCount(mkiLookup), 1);
    EXPECT_EQ(Engine().CallsStartingWith({"Seek"}), (std::vector<std::string>{"SeekKey(BSTR:'Bob')"}));
    EXPECT_EQ(T.RecNo(), 3);
    Calls().clear();
    EXPECT_TRUE(T.FindKey({"Bob", 25.0}));
    EXPECT_EQ(Engine().CallsStartingWith({"Seek"}), (std::vector<std::string>{"SeekKeys([BSTR:'Bob', R8:25])"}));
    EXPECT_EQ(T.RecNo(), 4);
    EXPECT_EQ(T.KeyCount(mkiLookup), 2);
    // A null value travels as an empty variant.
    Calls().clear();
    T.FindKey({"Bob", static_cast<const void*>(nullptr)});
    EXPECT_EQ(Engine().CallsStartingWith({"Seek"}), (std::vector<std::string>{"SeekKeys([BSTR:'Bob', EMPTY])"}));
    // More values than index fields.
    Calls().clear();
    ExpectError<EDatabaseError>([&] { T.FindKey({"Bob", 25.0, 1}); }, "No index currently active");
    ExpectError<EDatabaseError>([&] { T.FindNearest({"Bob", 25.0, 1}); }, "No index currently active");
    EXPECT_EQ(Engine().Count("Seek"), 0);
    EXPECT_EQ(T.State(), dsBrowse);
}

TEST_F(Keys, GuidKeysGoThroughTheEnginesKeyForm) {
    OpenWith("Id");
    EXPECT_TRUE(T.FindKey({kGuidA}));
    EXPECT_EQ(Engine().Count("GuidToKey('" + kGuidA + "')"), 1);
    EXPECT_EQ(Engine().Count("SeekKey(BSTR:'{AAAAAAAA-0000-0000-0000-000000000001}')"), 1);
    EXPECT_EQ(T.RecNo(), 2);
}

TEST_F(Keys, GotoKeyWithoutAHitLeavesTheWindowAlone) {
    OpenWith("Payee");
    T.Next();
    ASSERT_EQ(Payee(), "Bob");
    int Before = 0, After = 0;
    T.BeforeScroll = [&](TDataSet*) { ++Before; };
    T.AfterScroll = [&](TDataSet*) { ++After; };
    Calls().clear();
    EXPECT_FALSE(T.FindKey({"Bz"}));  // status 1: no equal key
    // The seek is the last engine call: no resynchronisation followed.
    ASSERT_FALSE(Calls().empty());
    EXPECT_EQ(Calls().back(), "SeekKey(BSTR:'Bz')");
    EXPECT_EQ(Before, 1);
    EXPECT_EQ(After, 0);
    EXPECT_EQ(Payee(), "Bob");
    EXPECT_TRUE(T.FindKey({"carol"}));
    EXPECT_EQ(Before, 2);
    EXPECT_EQ(After, 1);
    EXPECT_EQ(Payee(), "Carol");
}

TEST_F(Keys, GotoNearestFollowsTheSeekStatus) {
    OpenWith("Payee");
    // Status 1: on the first greater key.
    EXPECT_EQ(T.FindNearest({"Bz"}), 1);
    EXPECT_EQ(Payee(), "Carol");
    // Status 7: on the first equal key.
    EXPECT_EQ(T.FindNearest({"Bob"}), 7);
    EXPECT_EQ(T.RecNo(), 3);
    // Status 0: the engine cursor goes to the last record.
    T.First();
    Calls().clear();
    EXPECT_EQ(T.FindNearest({"Zoe"}), 0);
    EXPECT_EQ(Engine().CallsStartingWith({"Seek", "MoveLast"}),
              (std::vector<std::string>{"SeekKey(BSTR:'Zoe')", "MoveLast"}));
    EXPECT_EQ(Payee(), "Dave");
    // A key of no fields: status 0 without a seek, so also the last record.
    T.First();
    T.SetKey();
    T.Post();
    Calls().clear();
    EXPECT_EQ(T.GotoNearest(), 0);
    EXPECT_EQ(Engine().Count("Seek"), 0);
    EXPECT_EQ(Engine().Count("MoveLast"), 1);
    EXPECT_EQ(Payee(), "Dave");
}

TEST_F(Keys, SeekStatusesGoThroughCheckError) {
    OpenWith("Payee");
    Engine().ForcedStatus["SeekKey"] = -1;
    ExpectError<EBFError>([&] { T.FindKey({"Bob"}); }, "Error while executing");
    Engine().ForcedStatus["SeekKey"] = -13;
    ExpectError<EBFError>([&] { T.FindNearest({"Bob"}); }, "Invalid index");
    Engine().ForcedStatus.clear();
    // A failing call raises the OLE error before any status is examined.
    Engine().FailWith["SeekKeys"] = E_FAIL;
    T.SetIndexFieldNames("Payee;Amount");
    ExpectError<EOleException>([&] { T.FindKey({"Bob", 1.0}); }, "SeekKeys failed in the fake");
    // Without an index the engine reports -13.
    Engine().FailWith.clear();
    T.SetIndexFieldNames("");
    T.Close();
    T.SetIndexFieldNames("Payee");
    T.Open();
    T.SetKey();
    T.FieldByName("Payee")->SetAsString("Bob");
    T.SetKeyFieldCount(1);
    T.Post();
    T.Close();
    T.SetIndexFieldNames("");
    T.Open();
    // The buffers were re-allocated at open: the key is gone.
    EXPECT_EQ(T.KeyCount(mkiLookup), 0);
}

TEST_F(Keys, BFSeekBeyondTheIndexFieldsBuildsNothing) {
    OpenWith("Payee");
    T.SetKey();
    T.FieldByName("Payee")->SetAsString("Bob");
    T.SetKeyFieldCount(1000000000);
    T.Post();
    Calls().clear();
    ExpectError<EDatabaseError>([&] { T.GotoKey(); }, "Field index out of range");
    EXPECT_EQ(Engine().Count("Seek"), 0);
}

// ============================================================ key box

TEST_F(Keys, FillKeyFieldsSplitsAtBars) {
    OpenWith("Payee;Amount");
    struct Case {
        const char* Text;
        int Count;
        const char* Payee;
        const char* Amount;
    };
    for (Case C : {Case{"Bob|20", 2, "Bob", "20"}, Case{"A|3|C", 2, "A", "3"}, Case{"", 1, "", ""},
                   Case{"Smith|", 1, "Smith", ""}, Case{"|5", 2, "", "5"}}) {
        T.SetKey();
        moneytable::FillKeyFields(&T, C.Text);
        EXPECT_EQ(T.KeyFieldCount(), C.Count) << C.Text;
        EXPECT_EQ(T.FieldByName("Payee")->AsString(), C.Payee) << C.Text;
        EXPECT_FALSE(T.FieldByName("Payee")->IsNull()) << C.Text;
        EXPECT_EQ(T.FieldByName("Amount")->AsString(), C.Amount) << C.Text;
        T.Post();
    }
    // A value its field cannot take fails in AsString; the caller posts.
    T.SetKey();
    ExpectError<EDatabaseError>([&] { moneytable::FillKeyFields(&T, "Bob|x"); },
                                "'x' is not a valid floating point value for field 'Amount'");
    EXPECT_EQ(T.KeyFieldCount(), 1);
    T.Post();
    EXPECT_EQ(T.GotoNearest(), 7);
    EXPECT_EQ(T.RecNo(), 3);
}

// ============================================================ engine strings

TEST_F(Keys, StringFunctionsUseOneEngineStringObjectPerCall) {
    // No table is open: the functions initialise COM for themselves.
    EXPECT_EQ(moStrToKey("abc", 5), "ABC  ");
    EXPECT_EQ(moStrToKey("abcdef", 0), "ABCDEF");
    EXPECT_EQ(moCZUpperCase("MiXeD"), "MIXED");
    EXPECT_EQ(moCZLowerCase("MiXeD"), "mixed");
    EXPECT_EQ(Calls(), (std::vector<std::string>{"String.MakeKey('abc', 5)", "String.MakeKey('abcdef', 0)",
                                                 "String.ToUpper('MiXeD')", "String.ToLower('MiXeD')"}));
    EXPECT_EQ(Engine().LiveObjects(), 0);
    // Without an engine the class is not registered.
    fake::FakeEngine::Unregister();
    ExpectError<EOleSysError>([] { moCZUpperCase("x"); }, "Class not registered");
    fake::FakeEngine::Register();
}
