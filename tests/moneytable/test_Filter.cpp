// Tests of TMoneyTable's filtering against the recording fake engine: which
// property changes reach the filter object, what it is given, its
// installation and reference count.
#include "tests/moneytable/MoneyTableTestKit.h"

using namespace mttest;

namespace {

const std::string kPath = "/data/FLT.dat";

class Filtering : public FakeEngineTest {
protected:
    void SetUp() override {
        FakeEngineTest::SetUp();
        auto& Data = Engine().CreateTable(kPath, {{"Payee", "C", 20}, {"Amount", "R", 8}});
        Data.Indexes = {{0}};
        Data.Add({"Cleo", 3.0});
        Data.Add({"Abel", 1.0});
        Data.Add({"Bert", 2.0});
        Data.Add({"Dora", 4.0});
        // The fake's filter expression: a payee that the filter hides.
        Engine().Predicate = [](const fake::FakeTableData&, const fake::FakeRecord& R, const std::string& E) {
            return E.empty() || R.Values[0].ToString() != E;
        };
        T.SetFileName("/data/FLT");
    }
    void TearDown() override {
        T.Close();
        FakeEngineTest::TearDown();
    }
    void Open() {
        T.Open();
        Calls().clear();
    }
    std::vector<std::string> FilterCalls() {
        return Engine().CallsStartingWith({"Filter.", "SetFilter", "MoveFirst", "MoveToRecord"});
    }
    std::vector<std::string> Rows() {
        std::vector<std::string> R;
        for (T.First(); !T.Eof(); T.Next()) R.push_back(T.FieldByName("Payee")->AsString());
        return R;
    }
    // The filter object's reference count.
    int References() {
        IMoneyFilter* F = T.EngineFilter();
        F->AddRef();
        return static_cast<int>(F->Release());
    }
    TTestTable T{nullptr};
};

}  // namespace

TEST_F(Filtering, SettingFilteredToItsValueMakesNoCall) {
    Open();
    T.SetFiltered(false);
    EXPECT_TRUE(Calls().empty());
    T.SetFiltered(true);
    Calls().clear();
    T.SetFiltered(true);
    EXPECT_TRUE(Calls().empty());
}

TEST_F(Filtering, TurningFilteredOnInstallsTheFilterAndGoesFirst) {
    Open();
    T.Next();
    Calls().clear();
    T.SetFilterText("Cleo");  // not yet filtered: only stored
    EXPECT_TRUE(Calls().empty());
    EXPECT_EQ(T.Filter(), "Cleo");
    T.SetFiltered(true);
    EXPECT_EQ(FilterCalls(), (std::vector<std::string>{"Filter.SetExpression('Cleo')", "Filter.SetCompareFlags(0)",
                                                       "Filter.SetRangeBound(0, nil)", "Filter.SetRangeBound(-1, nil)",
                                                       "SetFilter(filter)", "MoveFirst"}));
    EXPECT_EQ(T.FieldByName("Payee")->AsString(), "Abel");
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Abel", "Bert", "Dora"}));
}

TEST_F(Filtering, OnlyARealChangeOfTextOrOptionsReapplies) {
    Open();
    T.SetFilterText("Cleo");
    T.SetFiltered(true);
    T.Last();
    Calls().clear();
    T.SetFilterText("Cleo");
    T.SetFilterOptions({});
    EXPECT_TRUE(Calls().empty());
    // A different text (also in letter case only) re-applies and goes first.
    T.SetFilterText("cleo");
    EXPECT_EQ(Engine().Count("Filter.SetExpression('cleo')"), 1);
    EXPECT_EQ(Engine().Count("MoveFirst"), 1);
    EXPECT_EQ(T.FieldByName("Payee")->AsString(), "Cleo");
    // So do different options with the same text.
    T.Last();
    Calls().clear();
    T.SetFilterOptions({foCaseInsensitive});
    EXPECT_EQ(Engine().Count("Filter.SetCompareFlags(1)"), 1);
    EXPECT_EQ(Engine().Count("MoveFirst"), 1);
    // Unfiltered, changes are only stored; the next application uses them.
    T.SetFiltered(false);
    Calls().clear();
    T.SetFilterText("Dora");
    T.SetFilterOptions({foNoPartialCompare});
    EXPECT_TRUE(Calls().empty());
    EXPECT_EQ(T.FilterOptions(), TFilterOptions{foNoPartialCompare});
    T.SetFiltered(true);
    EXPECT_EQ(Engine().Count("Filter.SetExpression('Dora')"), 1);
    EXPECT_EQ(Engine().Count("Filter.SetCompareFlags(2)"), 1);
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Cleo", "Abel", "Bert"}));
}

TEST_F(Filtering, TurningFilteredOffStaysOnTheRecord) {
    Open();
    T.SetFilterText("Abel");
    T.SetFiltered(true);
    T.Next();  // Bert, record 3
    ASSERT_EQ(T.RecNo(), 3);
    Calls().clear();
    T.SetFiltered(false);
    EXPECT_EQ(FilterCalls(), (std::vector<std::string>{"Filter.SetExpression('')", "Filter.SetCompareFlags(0)",
                                                       "Filter.SetRangeBound(0, nil)", "Filter.SetRangeBound(-1, nil)",
                                                       "SetFilter(nil)", "MoveToRecord(3)"}));
    EXPECT_EQ(T.RecNo(), 3);
    EXPECT_EQ(Rows().size(), 4u);
}

TEST_F(Filtering, ARecordGoneMeanwhileLeavesTheTableOnItsFirstRecord) {
    Open();
    T.SetFilterText("Abel");
    T.SetFiltered(true);
    T.Last();  // Dora, record 4
    // Another user deletes the record.
    std::erase_if(Engine().Table(kPath).Records, [](const fake::FakeRecord& R) { return R.RecNo == 4; });
    T.SetFiltered(false);
    EXPECT_EQ(T.FieldByName("Payee")->AsString(), "Cleo");
    EXPECT_EQ(T.RecNo(), 1);
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Cleo", "Abel", "Bert"}));
}

TEST_F(Filtering, OptionsBecomeCompareFlags) {
    Open();
    T.SetFiltered(true);
    struct Case {
        TFilterOptions Options;
        std::vector<std::string> Flags;
    };
    const Case Cases[] = {
        {{foCaseInsensitive, foNoPartialCompare},
         {"Filter.SetCompareFlags(0)", "Filter.GetCompareFlags", "Filter.SetCompareFlags(1)", "Filter.GetCompareFlags",
          "Filter.SetCompareFlags(3)"}},
        {{foNoPartialCompare}, {"Filter.SetCompareFlags(0)", "Filter.GetCompareFlags", "Filter.SetCompareFlags(2)"}},
        {{foCaseInsensitive}, {"Filter.SetCompareFlags(0)", "Filter.GetCompareFlags", "Filter.SetCompareFlags(1)"}},
        {{}, {"Filter.SetCompareFlags(0)"}},
    };
    for (const Case& C : Cases) {
        Calls().clear();
        T.SetFilterOptions(C.Options);
        EXPECT_EQ(Engine().CallsStartingWith({"Filter.SetCompareFlags", "Filter.GetCompareFlags"}), C.Flags);
    }
}

TEST_F(Filtering, AStaleFilterTextNeverRestrictsARange) {
    Open();
    T.SetIndexFieldNames("Payee");
    T.SetFilterText("Bert");  // stored, not in force
    T.SetRange({"Abel"}, {"Cleo"});
    EXPECT_EQ(Engine().Count("Filter.SetExpression('')"), 1);
    EXPECT_EQ(Engine().Count("Filter.SetExpression('Bert')"), 0);
    EXPECT_EQ(Engine().Count("SetFilter(filter)"), 1);
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Abel", "Bert", "Cleo"}));
    // Filter and range together.
    T.SetFiltered(true);
    EXPECT_EQ(Engine().Count("Filter.SetRangeBound(-1, [BSTR:'Cleo'])"), 2);
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Abel", "Cleo"}));
    // Only the range stays once the filter is off.
    T.SetFiltered(false);
    EXPECT_EQ(Engine().Count("SetFilter(nil)"), 0);
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Abel", "Bert", "Cleo"}));
    T.CancelRange();
    EXPECT_EQ(Engine().Count("SetFilter(nil)"), 1);
    EXPECT_EQ(Rows().size(), 4u);
}

TEST_F(Filtering, EachInstallationHandsTheEngineOneReference) {
    Open();
    const int Own = References();
    T.SetFiltered(true);
    EXPECT_EQ(References(), Own + 1);
    T.SetFilterText("Abel");  // installed again: the engine drops the old reference
    EXPECT_EQ(References(), Own + 1);
    T.SetFiltered(false);
    EXPECT_EQ(References(), Own);
    // A refused installation leaves the count as it was.
    Engine().FailWith["SetFilter"] = E_FAIL;
    ExpectError<EOleException>([&] { T.SetFiltered(true); }, "SetFilter failed in the fake");
    EXPECT_EQ(References(), Own);
    EXPECT_TRUE(T.Filtered());
    Engine().FailWith.clear();
    // Filtered is already set: a change of the text installs it.
    T.SetFilterText("Bert");
    EXPECT_EQ(References(), Own + 1);
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Cleo", "Abel", "Dora"}));
}

TEST_F(Filtering, AClosedTableOnlyStoresAndTheOpenApplies) {
    T.SetFilterText("Abel");
    T.SetFilterOptions({foCaseInsensitive});
    T.SetFiltered(true);
    EXPECT_TRUE(Calls().empty());
    EXPECT_EQ(Engine().LiveObjects(), 0);
    EXPECT_NO_THROW(T.ApplyFiltering(true));
    EXPECT_TRUE(Calls().empty());
    // The open puts the filter into force once the table is active.
    int AfterOpen = 0;
    T.AfterOpen = [&](TDataSet*) {
        ++AfterOpen;
        EXPECT_EQ(Engine().Count("SetFilter(filter)"), 1);
    };
    T.Open();
    EXPECT_EQ(AfterOpen, 1);
    T.AfterOpen = nullptr;
    EXPECT_EQ(Engine().Count("Filter.SetExpression('Abel')"), 1);
    EXPECT_EQ(Engine().Count("Filter.SetCompareFlags(1)"), 1);
    EXPECT_EQ(T.FieldByName("Payee")->AsString(), "Cleo");
    EXPECT_EQ(Rows(), (std::vector<std::string>{"Cleo", "Bert", "Dora"}));
    // Closing removes it; a plain open installs nothing.
    T.Close();
    T.SetFiltered(false);
    Calls().clear();
    T.Open();
    EXPECT_EQ(Engine().Count("SetFilter"), 0);
    EXPECT_EQ(Engine().Count("Filter."), 0);
}

TEST_F(Filtering, APendingEditIsPostedBeforeTheFilterChanges) {
    Open();
    T.Edit();
    T.FieldByName("Payee")->SetAsString("Cleopatra");
    T.SetFilterText("Abel");
    T.SetFiltered(true);
    EXPECT_EQ(T.State(), dsBrowse);
    EXPECT_EQ(Engine().Table(kPath).Find(1)->Values[0].ToString(), "Cleopatra");
    const auto Order = Engine().CallsStartingWith({"PostRecord", "Filter.SetExpression"});
    EXPECT_EQ(Order, (std::vector<std::string>{"PostRecord", "Filter.SetExpression('Abel')"}));
}
