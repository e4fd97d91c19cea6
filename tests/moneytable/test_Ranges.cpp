// Tests of TMoneyTable's ranges and master-detail links: against the
// recording fake engine (what reaches the filter object) and, when the
// engine library is built, on real table files.
#include "tests/moneytable/MoneyTableTestKit.h"

#include <unistd.h>

#include <filesystem>

#ifdef TAMBLOR_HAVE_ENGINE
#include "engine/Engine.h"
#endif

using namespace mttest;

namespace {

class TRangeTable : public TTestTable {
public:
    using TTestTable::TTestTable;
    // The trailer's members, copied out of the packed record.
    int KeyCount(TMKeyIndex K) { return GetMKeyBuffer(KeyBuffers(K))->FieldCount; }
    int KeyModified(TMKeyIndex K) { return GetMKeyBuffer(KeyBuffers(K))->Modified; }
};

// Master /data/ACC.dat: 0 Id L, 1 Name C10; index Id.
// Detail /data/TRN.dat: 0 Account L, 1 Payee C20, 2 Amount R,
// 3 CategoryNameOne C10 (field CategoryNa); indexes Account,
// Account+Payee, CategoryNameOne, Payee+Amount, Payee.
void MakeTables() {
    auto& Acc = fake::FakeEngine::Instance().CreateTable("/data/ACC.dat", {{"Id", "L", 4}, {"Name", "C", 10}});
    Acc.Indexes = {{0}};
    Acc.Add({std::int32_t(1), "Cash"});
    Acc.Add({std::int32_t(2), "Bank"});
    Acc.Add({std::int32_t(3), "Empty"});
    auto& Trn = fake::FakeEngine::Instance().CreateTable(
        "/data/TRN.dat", {{"Account", "L", 4}, {"Payee", "C", 20}, {"Amount", "R", 8}, {"CategoryNameOne", "C", 10}});
    Trn.Indexes = {{0}, {0, 1}, {3}, {1, 2}, {1}};
    Trn.Add({std::int32_t(2), "Dora", 4.0, "x"});    // 1
    Trn.Add({std::int32_t(1), "Abel", 1.0, "x"});    // 2
    Trn.Add({std::int32_t(2), "Cleo", 3.0, "x"});    // 3
    Trn.Add({std::int32_t(1), "Bert", 2.0, "x"});    // 4
    Trn.Add({std::int32_t(2), "Egon", 5.0, "x"});    // 5
    Trn.Add({std::int32_t(2), "Cleo", 30.0, "x"});   // 6
}

class Ranges : public FakeEngineTest {
protected:
    void SetUp() override {
        FakeEngineTest::SetUp();
        MakeTables();
        D.SetFileName("/data/TRN");
        M.SetFileName("/data/ACC");
        M.SetIndexFieldNames("Id");
        MS.SetDataSet(&M);
    }
    void TearDown() override {
        D.Close();
        M.Close();
        FakeEngineTest::TearDown();
    }
    // Payee and record number of every record, in order.
    std::vector<std::string> Rows() {
        std::vector<std::string> R;
        for (D.First(); !D.Eof(); D.Next()) R.push_back(D.FieldByName("Payee")->AsString() + std::to_string(D.RecNo()));
        return R;
    }
    std::vector<std::string> Bounds() { return Engine().CallsStartingWith({"Filter.SetRangeBound", "SetFilter"}); }
    void MakeDetail(const std::string& Index, const std::string& MasterFields) {
        D.SetIndexFieldNames(Index);
        D.SetMasterSource(&MS);
        D.SetMasterFields(MasterFields);
    }
    TRangeTable D{nullptr};
    TRangeTable M{nullptr};
    TDataSource MS{nullptr};
};

}  // namespace

// ============================================================ ranges

TEST_F(Ranges, BoundsOfDifferentLengths) {
    D.SetIndexFieldNames("Payee;Amount");
    D.Open();
    Calls().clear();
    D.SetRange({"Cleo"}, {"Cleo", 10.0});
    EXPECT_EQ(Bounds(), (std::vector<std::string>{"Filter.SetRangeBound(0, nil)", "Filter.SetRangeBound(-1, nil)",
                                                  "Filter.SetRangeBound(0, [BSTR:'Cleo'])",
                                                  "Filter.SetRangeBound(-1, [BSTR:'Cleo', R8:10])", "SetFilter(filter)"}));
    EXPECT_EQ(D.KeyCount(mkiRangeStart), 1);
    EXPECT_EQ(D.KeyCount(mkiRangeEnd), 2);
    EXPECT_EQ(D.KeyModified(mkiRangeStart), 1);  // the dataset's flag: values were assigned
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Cleo3"}));
    // Two-value start, one-value end.
    Calls().clear();
    D.SetRange({"Bert", 0.0}, {"Dora"});
    EXPECT_EQ(Engine().Count("Filter.SetRangeBound(0, [BSTR:'Bert', R8:0])"), 1);
    EXPECT_EQ(Engine().Count("Filter.SetRangeBound(-1, [BSTR:'Dora'])"), 1);
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Bert4", "Cleo3", "Cleo6", "Dora1"}));
}

TEST_F(Ranges, AnEmptyBoundSwitchesTheRangeOff) {
    D.SetIndexFieldNames("Payee");
    D.Open();
    D.SetRange({"Bert"}, {"Cleo"});
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Bert4", "Cleo3", "Cleo6"}));
    Calls().clear();
    D.SetRange({}, {"Cleo"});
    EXPECT_EQ(D.KeyCount(mkiRangeStart), 0);
    EXPECT_EQ(D.KeyModified(mkiRangeStart), 0);  // nothing assigned
    EXPECT_EQ(D.KeyCount(mkiRangeEnd), 1);
    EXPECT_EQ(Bounds(), (std::vector<std::string>{"Filter.SetRangeBound(0, nil)", "Filter.SetRangeBound(-1, nil)",
                                                  "SetFilter(nil)"}));
    EXPECT_EQ(Rows().size(), 6u);
}

TEST_F(Ranges, EditedBoundsTakeEffectAtApplyRange) {
    D.SetIndexFieldNames("Payee");
    D.Open();
    D.SetRangeStart();
    EXPECT_EQ(D.State(), dsSetKey);
    EXPECT_EQ(D.KeyBuffer(), D.KeyBuffers(mkiRangeStart));
    D.FieldByName("Payee")->SetAsString("Bert");
    D.SetKeyFieldCount(1);
    D.Post();
    D.SetRangeEnd();
    D.FieldByName("Payee")->SetAsString("Cleo");
    D.SetKeyFieldCount(1);
    D.Post();
    // Nothing is applied before ApplyRange.
    EXPECT_EQ(Engine().Count("SetFilter"), 0);
    EXPECT_EQ(D.KeyModified(mkiRangeStart), 1);
    D.ApplyRange();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Bert4", "Cleo3", "Cleo6"}));
    // Editing the end and cancelling keeps the old end.
    D.EditRangeEnd();
    EXPECT_EQ(D.FieldByName("Payee")->AsString(), "Cleo");
    D.FieldByName("Payee")->SetAsString("Zzz");
    D.Cancel();
    D.EditRangeStart();
    EXPECT_EQ(D.FieldByName("Payee")->AsString(), "Bert");
    D.FieldByName("Payee")->SetAsString("Abel");
    D.Post();
    D.ApplyRange();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Abel2", "Bert4", "Cleo3", "Cleo6"}));
}

TEST_F(Ranges, CancelRangeOnAPlainTableRemovesTheRange) {
    D.SetIndexFieldNames("Payee");
    D.Open();
    D.SetRange({"Bert"}, {"Cleo"});
    D.Next();
    Calls().clear();
    D.CancelRange();
    EXPECT_EQ(D.KeyCount(mkiRangeStart), 0);
    EXPECT_EQ(D.KeyCount(mkiRangeEnd), 0);
    EXPECT_EQ(Engine().Count("SetFilter(nil)"), 1);
    EXPECT_EQ(Engine().Count("MoveFirst"), 1);
    EXPECT_EQ(D.FieldByName("Payee")->AsString(), "Abel");
    EXPECT_EQ(Rows().size(), 6u);
}

TEST_F(Ranges, RangeFailures) {
    D.SetIndexFieldNames("Payee");
    D.Open();
    ExpectError<EDatabaseError>([&] { D.SetRange({"A", 1}, {"B"}); }, "No index currently active");
    ExpectError<EDatabaseError>([&] { D.SetRange({"A"}, {"B", 2}); }, "No index currently active");
    EXPECT_EQ(D.State(), dsBrowse);
    EXPECT_EQ(Engine().Count("SetFilter"), 0);
    // An index whose field name is not a field of the dataset (the field
    // name is cut to 10 characters).
    D.SetIndexFieldNames("CategoryNameOne");
    ExpectError<EDatabaseError>([&] { D.SetRange({"x"}, {"x"}); }, "Cannot access index field 'CategoryNameOne'");
    EXPECT_EQ(D.State(), dsBrowse);
    EXPECT_EQ(Engine().Count("SetFilter"), 0);
}

// ============================================================ master source

TEST_F(Ranges, CircularLinksAreRefused) {
    TDataSource Own(nullptr);
    Own.SetDataSet(&D);
    ExpectError<EDatabaseError>([&] { D.SetMasterSource(&Own); }, "Circular datalinks are not allowed");
    EXPECT_EQ(D.MasterSource(), nullptr);
    // M follows D, so D may not follow M.
    M.SetMasterSource(&Own);
    ExpectError<EDatabaseError>([&] { D.SetMasterSource(&MS); }, "Circular datalinks are not allowed");
    EXPECT_EQ(D.MasterSource(), nullptr);
    M.SetMasterSource(nullptr);
    D.SetMasterSource(&MS);
    EXPECT_EQ(D.MasterSource(), &MS);
    D.SetMasterSource(nullptr);
    Own.SetDataSet(nullptr);
}

TEST_F(Ranges, TheMasterRangeFollowsTheMaster) {
    MakeDetail("Account;Payee", "Id");
    EXPECT_EQ(D.MasterFields(), "Id");
    M.Open();
    D.Open();  // the link is active: the range is put into force at open
    EXPECT_EQ(Engine().Count("Filter.SetRangeBound(0, [I4:1])"), 1);
    EXPECT_EQ(D.GetMasterFieldCount(), 1);
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Abel2", "Bert4"}));
    EXPECT_EQ(D.KeyModified(mkiRangeStart), 1);
    Calls().clear();
    M.Next();
    EXPECT_EQ(Engine().Count("Filter.SetRangeBound(-1, [I4:2])"), 1);
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Cleo3", "Cleo6", "Dora1", "Egon5"}));
    M.Next();
    EXPECT_TRUE(D.IsEmpty());
    // A user range on a detail starts with the master values.
    M.Prior();
    D.SetRange({"Cleo"}, {"Dora"});
    EXPECT_EQ(Engine().Count("Filter.SetRangeBound(0, [I4:2, BSTR:'Cleo'])"), 1);
    EXPECT_EQ(D.KeyCount(mkiRangeStart), 2);
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Cleo3", "Cleo6", "Dora1"}));
    ExpectError<EDatabaseError>([&] { D.SetRange({"A", "B"}, {"C"}); }, "No index currently active");
    // CancelRange keeps the master range.
    Calls().clear();
    D.CancelRange();
    EXPECT_EQ(D.KeyCount(mkiRangeStart), 1);
    EXPECT_EQ(Bounds(), (std::vector<std::string>{"Filter.SetRangeBound(0, nil)", "Filter.SetRangeBound(-1, nil)",
                                                  "Filter.SetRangeBound(0, [I4:2])", "Filter.SetRangeBound(-1, [I4:2])",
                                                  "SetFilter(filter)"}));
    EXPECT_EQ(Rows().size(), 4u);
}

TEST_F(Ranges, KeysOfADetailStartWithTheMasterValues) {
    MakeDetail("Account;Payee", "Id");
    M.Open();
    M.Next();  // account 2
    D.Open();
    D.SetKey();
    EXPECT_EQ(D.FieldByName("Account")->AsInteger(), 2);
    EXPECT_FALSE(D.Modified());  // taken from the cleared buffer's byte
    moneytable::FillKeyFields(&D, "Dora");
    EXPECT_EQ(D.KeyFieldCount(), 2);
    D.Post();
    EXPECT_EQ(D.GotoNearest(), 7);
    EXPECT_EQ(D.RecNo(), 1);
    Calls().clear();
    EXPECT_TRUE(D.FindKey({"Egon"}));
    EXPECT_EQ(D.KeyCount(mkiLookup), 2);
    EXPECT_EQ(Engine().Count("SeekKeys([I4:2, BSTR:'Egon'])"), 1);
    ExpectError<EDatabaseError>([&] { D.FindKey({"Egon", "x"}); }, "No index currently active");
}

TEST_F(Ranges, InsertingIntoADetailTakesTheMasterKeyFirst) {
    MakeDetail("Account", "Id");
    M.Open();
    M.Next();
    D.Open();
    int Seen = -1;
    D.OnNewRecord = [&](TDataSet*) { Seen = D.FieldByName("Account")->AsInteger(); };
    D.Insert();
    EXPECT_EQ(Seen, 2);
    D.FieldByName("Payee")->SetAsString("Fay");
    D.Post();
    EXPECT_EQ(Engine().Count("SetColumnValue(Account, I4:2)"), 1);
    EXPECT_EQ(Rows().size(), 5u);
}

TEST_F(Ranges, MasterFieldsBeyondTheDetailIndex) {
    MakeDetail("Account", "Id");
    M.Open();
    D.Open();
    // Two master fields, one index field: the change raises from the link.
    ExpectError<EDatabaseError>([&] { D.SetMasterFields("Id;Name"); }, "Field index out of range");
    EXPECT_EQ(D.State(), dsBrowse);
    EXPECT_EQ(D.KeyBuffer(), nullptr);
    ExpectError<EDatabaseError>([&] { M.Next(); }, "Field index out of range");
    // A new record cannot take the master key either.
    ExpectError<EDatabaseError>([&] { D.Insert(); }, "Field index out of range");
    EXPECT_EQ(D.State(), dsBrowse);
    // While the master range is installed, an index that drops a master
    // field is refused and the old one stays.
    D.SetMasterFields("Id");
    ExpectError<EDatabaseError>([&] { D.SetIndexFieldNames("Payee;Amount"); }, "No index for fields 'Id'");
    EXPECT_EQ(D.IndexFieldNames(), "Account");
    EXPECT_NO_THROW(D.SetIndexFieldNames("Account;Payee"));
}

TEST_F(Ranges, ADisabledLinkLiftsTheMasterRange) {
    MakeDetail("Account", "Id");
    M.Open();
    D.Open();
    EXPECT_EQ(Rows().size(), 2u);
    Calls().clear();
    M.Close();
    EXPECT_EQ(D.GetMasterFieldCount(), 0);
    // The detail removes its filter object; the master's close does the same
    // on its own engine table.
    EXPECT_EQ(Engine().Count("SetFilter(nil)"), 2);
    EXPECT_EQ(Engine().Count("Filter.SetRangeBound(0, ["), 0);
    EXPECT_EQ(Rows().size(), 6u);
    M.Open();
    EXPECT_EQ(Rows().size(), 2u);
    // Emptying the master fields disables the link the same way.
    D.SetMasterFields("");
    EXPECT_EQ(Rows().size(), 6u);
    // A filter stays in force when the master range goes.
    D.SetMasterFields("Id");
    Engine().Predicate = [](const fake::FakeTableData&, const fake::FakeRecord& R, const std::string& E) {
        return E.empty() || R.Values[1].ToString() != E;
    };
    D.SetFilterText("Abel");
    D.SetFiltered(true);
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Bert4"}));
    M.Close();
    EXPECT_EQ(Rows().size(), 5u);
}

#ifdef TAMBLOR_HAVE_ENGINE

// ============================================================ real files

namespace {

class RealFiles : public ::testing::Test {
protected:
    void SetUp() override {
        FormatSettings = TFormatSettings::Invariant();
        engine::RegisterEngineServer();
        char Template[] = "/tmp/tamblor-ranges-XXXXXX";
        ASSERT_NE(::mkdtemp(Template), nullptr);
        Dir = Template;
        engine::CreateTable(Dir + "/acc.dat", {{{"Id", 'L', 0, false}, {"Name", 'C', 10, false}}, {{{0}, true}}, ""});
        engine::CreateTable(Dir + "/trn.dat", {{{"Account", 'L', 0, false}, {"Payee", 'C', 20, false}, {"Amount", 'R', 0, false}},
                                                {{{0}, false}, {{0, 1}, false}},
                                                ""});
        {
            engine::BulkInserter Ins(Dir + "/acc.dat");
            const std::pair<int, const char*> Accounts[] = {{1, "Cash"}, {2, "Bank"}, {3, "Empty"}};
            for (auto [Id, Name] : Accounts) Ins.Add({engine::Value::Int(Id), engine::Value::Text(Name)});
            Ins.Commit();
        }
        {
            engine::BulkInserter Ins(Dir + "/trn.dat");
            struct Row {
                int Account;
                const char* Payee;
                double Amount;
            };
            for (Row R : {Row{2, "dora", 4}, Row{1, "Abel", 1}, Row{2, "Cleo", 3}, Row{1, "bert", 2}, Row{2, "Egon", 5}})
                Ins.Add({engine::Value::Int(R.Account), engine::Value::Text(R.Payee), engine::Value::Real(R.Amount)});
            Ins.Commit();
        }
        M.SetFileName(Dir + "/acc.dat");
        M.SetIndexFieldNames("Id");
        MS.SetDataSet(&M);
        D.SetFileName(Dir + "/trn.dat");
        D.SetIndexFieldNames("Account;Payee");
        D.SetMasterSource(&MS);
        D.SetMasterFields("Id");
    }
    void TearDown() override {
        D.Close();
        M.Close();
        MS.SetDataSet(nullptr);
        std::error_code Ec;
        std::filesystem::remove_all(Dir, Ec);
    }
    std::vector<std::string> Rows() {
        std::vector<std::string> R;
        for (D.First(); !D.Eof(); D.Next()) R.push_back(D.FieldByName("Payee")->AsString());
        return R;
    }
    std::string Dir;
    TRangeTable M{nullptr};
    TRangeTable D{nullptr};
    TDataSource MS{nullptr};
};

}  // namespace

TEST_F(RealFiles, ScrollingTheMasterRerangesTheDetail) {
    M.Open();
    D.Open();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Abel", "bert"}));
    M.Next();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Cleo", "dora", "Egon"}));
    EXPECT_EQ(D.RecordCount(), 3);
    M.Next();
    EXPECT_TRUE(D.IsEmpty());
    M.First();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Abel", "bert"}));
    // A range inside the master range, keys compared without letter case.
    M.Next();
    D.SetRange({"CLEO"}, {"DORA"});
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Cleo", "dora"}));
    EXPECT_TRUE(D.FindKey({"EGON"}) == false);  // outside the range
    D.CancelRange();
    EXPECT_TRUE(D.FindKey({"EGON"}));
    EXPECT_EQ(D.FieldByName("Payee")->AsString(), "Egon");
    // The master closes: the detail shows every record.
    M.Close();
    EXPECT_EQ(Rows().size(), 5u);
}

TEST_F(RealFiles, InsertingIntoTheDetailTakesTheMastersKey) {
    M.Open();
    M.Next();
    M.Next();  // account 3, no transactions yet
    D.Open();
    EXPECT_TRUE(D.IsEmpty());
    D.Insert();
    EXPECT_EQ(D.FieldByName("Account")->AsInteger(), 3);
    D.FieldByName("Payee")->SetAsString("Fred");
    D.FieldByName("Amount")->SetAsFloat(6);
    D.Post();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Fred"}));
    M.First();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Abel", "bert"}));
    M.Last();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Fred"}));
    EXPECT_EQ(engine::ReadTableInfo(Dir + "/trn.dat").RecordCount, 6);
}

TEST_F(RealFiles, AMasterWithMoreFieldsThanTheDetailIndex) {
    D.Close();
    D.SetIndexFieldNames("Account");
    M.Open();
    D.Open();
    ExpectError<EDatabaseError>([&] { D.SetMasterFields("Id;Name"); }, "Field index out of range");
    ExpectError<EDatabaseError>([&] { M.Next(); }, "Field index out of range");
    // With an index that covers both master fields the link works again.
    D.Close();
    D.SetIndexFieldNames("Account;Payee");
    D.Open();  // Id 2, Name 'Bank': no payee is called Bank
    EXPECT_TRUE(D.IsEmpty());
}

#endif  // TAMBLOR_HAVE_ENGINE
