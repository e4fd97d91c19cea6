// Data sources and data links: state changes, event delivery, the link's
// rows in the window, attachment and detachment, circular links.
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

// A dataset whose master data source can be set (for the chain checks).
class TDetailDataSet : public TMemDataSet {
public:
    using TMemDataSet::TMemDataSet;
    TDataSource* Master = nullptr;

protected:
    TDataSource* GetDataSource() override { return Master; }
};

}  // namespace

TEST(DataSource, StateChangesReachLinksAndOnStateChange) {
    TMemDataSet DS;
    AddNumberRows(DS, 2);
    TDataSource Source(nullptr);
    TRecordingLink Link;
    std::vector<TDataSetState> States;
    Source.OnStateChange = [&](TObject* Sender) {
        EXPECT_EQ(Sender, &Source);
        States.push_back(Source.State());
    };
    Link.SetDataSource(&Source);
    Source.SetDataSet(&DS);
    EXPECT_EQ(Link.DataSet(), &DS);
    EXPECT_FALSE(Link.Active());
    DS.Open();
    EXPECT_TRUE(Link.Active());
    DS.Edit();
    EXPECT_TRUE(Link.Editing());
    DS.Cancel();
    DS.Close();
    EXPECT_EQ(States, (std::vector<TDataSetState>{dsBrowse, dsEdit, dsBrowse, dsInactive}));
    EXPECT_EQ(Link.JoinedReactions(),
              "ActiveChanged(1) CheckBrowseMode EditingChanged(1) RecordChanged() CheckBrowseMode "
              "EditingChanged(0) DataSetChanged ActiveChanged(0)");
}

TEST(DataSource, DataChangeAndUpdateDataEvents) {
    TMemDataSet DS;
    AddNumberRows(DS, 3);
    TDataSource Source(nullptr);
    Source.SetDataSet(&DS);
    std::vector<std::string> Changes;
    int Updates = 0;
    Source.OnDataChange = [&](TObject*, TField* Field) { Changes.push_back(Field ? Field->FieldName() : "-"); };
    Source.OnUpdateData = [&](TObject*) { ++Updates; };
    DS.Open();
    EXPECT_TRUE(Changes.empty());  // the open itself is a state change
    DS.Next();
    DS.Edit();
    DS.FieldByName("NAME")->SetAsString("x");
    DS.Post();
    EXPECT_EQ(Changes, (std::vector<std::string>{"-", "-", "NAME", "-"}));
    EXPECT_EQ(Updates, 1);
}

TEST(DataSource, DisabledSourcePassesNothing) {
    TMemDataSet DS;
    AddNumberRows(DS, 3);
    TDataSource Source(nullptr);
    TRecordingLink Link;
    Source.SetDataSet(&DS);
    Link.SetDataSource(&Source);
    DS.Open();
    Source.SetEnabled(false);
    EXPECT_EQ(Source.State(), dsInactive);
    EXPECT_FALSE(Link.Active());
    Link.Clear();
    DS.Next();
    EXPECT_EQ(Link.JoinedEvents(), "");
    Source.SetEnabled(true);
    EXPECT_TRUE(Link.Active());
    EXPECT_EQ(Link.ActiveRecord(), 0);
}

TEST(DataSource, AutoEditThroughTheLink) {
    TMemDataSet DS;
    AddNumberRows(DS, 1);
    TDataSource Source(nullptr);
    TRecordingLink Link;
    Source.SetDataSet(&DS);
    Link.SetDataSource(&Source);
    DS.Open();
    EXPECT_TRUE(Link.Edit());
    EXPECT_EQ(DS.State(), dsEdit);
    DS.Cancel();
    Source.SetAutoEdit(false);
    EXPECT_FALSE(Link.Edit());
    EXPECT_EQ(DS.State(), dsBrowse);
    Link.SetReadOnly(true);
    Source.SetAutoEdit(true);
    EXPECT_FALSE(Link.Edit());
    EXPECT_EQ(DS.State(), dsBrowse);
}

TEST(DataSource, LinkWritesPendingInputWithoutRedisplayingItself) {
    struct TWriter : TRecordingLink {
        TField* Target = nullptr;
        void UpdateData() override {
            TRecordingLink::UpdateData();
            Target->SetAsString("typed");  // deFieldChange arrives while updating
        }
    };
    TMemDataSet DS;
    AddNumberRows(DS, 1);
    TDataSource Source(nullptr);
    TWriter Link;
    Source.SetDataSet(&DS);
    Link.SetDataSource(&Source);
    DS.Open();
    Link.Target = DS.FieldByName("NAME");
    DS.Edit();
    Link.Clear();
    DS.UpdateRecord();
    EXPECT_EQ(Link.JoinedEvents(), "deUpdateRecord deFieldChange(NAME)");
    EXPECT_EQ(Link.JoinedReactions(), "UpdateData");  // no RecordChanged while writing
    EXPECT_TRUE(DS.Modified());
}

TEST(DataSource, SetActiveRecordMovesTheDataSetsActiveIndex) {
    TMemDataSet DS;
    AddNumberRows(DS, 5);
    TDataSource Source(nullptr);
    TRecordingLink Link;
    Link.SetBufferCount(4);
    Source.SetDataSet(&DS);
    Link.SetDataSource(&Source);
    DS.Open();
    EXPECT_EQ(Link.RecordCount(), 4);
    Link.SetActiveRecord(3);
    EXPECT_EQ(DS.FieldByName("ID")->AsInteger(), 4);
    Link.SetActiveRecord(0);
    EXPECT_EQ(DS.FieldByName("ID")->AsInteger(), 1);
}

TEST(DataSource, DetachingAndDestroying) {
    TMemDataSet DS;
    AddNumberRows(DS, 6);
    TDataSource Source(nullptr);
    Source.SetDataSet(&DS);
    DS.Open();
    {
        TRecordingLink Big;
        Big.SetBufferCount(5);
        Big.SetDataSource(&Source);
        EXPECT_EQ(DS.BufferCount(), 5);
    }
    EXPECT_EQ(DS.BufferCount(), 1);  // the window shrinks with the link gone
    EXPECT_EQ(DS.LiveBuffers, 2);
    TRecordingLink Orphan;
    {
        TDataSource Temp(nullptr);
        Temp.SetDataSet(&DS);
        Orphan.SetDataSource(&Temp);
        EXPECT_TRUE(Orphan.Active());
    }
    EXPECT_EQ(Orphan.DataSource(), nullptr);
    EXPECT_FALSE(Orphan.Active());
    Source.SetDataSet(nullptr);
    EXPECT_EQ(Source.State(), dsInactive);
    Orphan.SetDataSourceFixed(true);
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { Orphan.SetDataSource(&Source); }), "DataSource cannot be changed");
}

TEST(DataSource, CircularLinksAreRefused) {
    TDetailDataSet Detail;
    AddNumberRows(Detail, 1);
    TDataSource DetailSource(nullptr);
    // A detail whose master source would be its own data source.
    Detail.Master = &DetailSource;
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { DetailSource.SetDataSet(&Detail); }),
              "Circular datalinks are not allowed");
    EXPECT_EQ(DetailSource.DataSet(), nullptr);
    EXPECT_TRUE(Detail.IsLinkedTo(nullptr) == false);

    // A chain: Source1 -> A (master Source2) -> Source2 -> B (master Source1).
    TDetailDataSet A, B;
    TDataSource Source1(nullptr), Source2(nullptr);
    Source1.SetDataSet(&A);
    A.Master = &Source2;
    B.Master = &Source1;
    EXPECT_TRUE(B.IsLinkedTo(&Source1) == false);
    EXPECT_TRUE(A.IsLinkedTo(&Source1));
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { Source2.SetDataSet(&B); }), "Circular datalinks are not allowed");
    Detail.Master = nullptr;
    A.Master = nullptr;
    B.Master = nullptr;
}
