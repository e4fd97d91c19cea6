// TMasterDataLink: resolving master fields, change and disable
// notifications to the detail.
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

struct MasterDetail {
    TMemDataSet Master;
    TDataSource MasterSource{nullptr};
    TMemDataSet Detail;
    TMasterDataLink Link{&Detail};
    std::vector<std::string> Calls;

    MasterDetail() {
        AddNumberRows(Master, 3);
        AddNumberRows(Detail, 2);
        MasterSource.SetDataSet(&Master);
        Link.OnMasterChange = [this](TObject* Sender) {
            EXPECT_EQ(Sender, &Link);
            Calls.push_back("change");
        };
        Link.OnMasterDisable = [this](TObject*) { Calls.push_back("disable"); };
    }
    ~MasterDetail() { Link.SetDataSource(nullptr); }
};

}  // namespace

TEST(MasterDataLink, ResolvesFieldsWhenTheMasterOpens) {
    MasterDetail T;
    T.Detail.Open();
    T.Link.SetDataSource(&T.MasterSource);
    T.Link.SetFieldNames("ID; name");
    EXPECT_TRUE(T.Link.Fields().empty());  // master closed: the open detail hears "disable"
    EXPECT_EQ(T.Calls, (std::vector<std::string>{"disable"}));
    T.Calls.clear();
    T.Master.Open();
    ASSERT_EQ(T.Link.Fields().size(), 2u);
    EXPECT_EQ(T.Link.Fields()[0], T.Master.FieldByName("ID"));
    EXPECT_EQ(T.Link.Fields()[1], T.Master.FieldByName("NAME"));
    EXPECT_EQ(T.Calls, (std::vector<std::string>{"change"}));
    EXPECT_EQ(T.Link.DetailDataSet(), &T.Detail);
}

TEST(MasterDataLink, ScrollAndFieldChangesOfTheMaster) {
    MasterDetail T;
    T.Detail.Open();
    T.Master.Open();
    T.Link.SetDataSource(&T.MasterSource);
    T.Link.SetFieldNames("ID");
    T.Calls.clear();
    T.Master.Next();
    EXPECT_EQ(T.Calls, (std::vector<std::string>{"change"}));
    T.Master.Edit();
    T.Calls.clear();
    T.Master.FieldByName("NAME")->SetAsString("other");  // not a master field
    EXPECT_TRUE(T.Calls.empty());
    T.Master.FieldByName("ID")->SetAsInteger(9);
    EXPECT_EQ(T.Calls, (std::vector<std::string>{"change"}));
    T.Master.Cancel();
    T.Calls.clear();
    const TDataSetState Old = T.Master.SetTempState(dsSetKey);
    T.Master.FieldByName("ID")->SetAsInteger(1);
    T.Master.RestoreState(Old);
    T.Master.SetState(dsSetKey);
    T.Master.FieldByName("ID")->SetAsInteger(1);
    T.Master.SetState(dsBrowse);
    EXPECT_TRUE(T.Calls.empty());  // key edits of the master are no master changes
}

TEST(MasterDataLink, MasterCloseDisablesAndEmptiesTheFields) {
    MasterDetail T;
    T.Detail.Open();
    T.Master.Open();
    T.Link.SetDataSource(&T.MasterSource);
    T.Link.SetFieldNames("ID");
    T.Calls.clear();
    T.Master.Close();
    EXPECT_EQ(T.Calls, (std::vector<std::string>{"disable"}));
    EXPECT_TRUE(T.Link.Fields().empty());
    T.Calls.clear();
    T.Link.SetFieldNames("");
    EXPECT_EQ(T.Calls, (std::vector<std::string>{"disable"}));
}

TEST(MasterDataLink, ClosedDetailHearsNothing) {
    MasterDetail T;
    T.Master.Open();
    T.Link.SetDataSource(&T.MasterSource);
    T.Link.SetFieldNames("ID");
    T.Master.Next();
    T.Master.Close();
    EXPECT_TRUE(T.Calls.empty());
}

TEST(MasterDataLink, UnknownMasterFieldRaisesAndResolvesNothing) {
    MasterDetail T;
    T.Master.Open();
    T.Link.SetDataSource(&T.MasterSource);
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { T.Link.SetFieldNames("ID;NOPE"); }), "Field 'NOPE' not found");
    EXPECT_TRUE(T.Link.Fields().empty());
}

TEST(MasterDataLink, MasterScrollFinishesTheDetailsEdit) {
    MasterDetail T;
    T.Detail.Open();
    T.Master.Open();
    T.Link.SetDataSource(&T.MasterSource);
    T.Link.SetFieldNames("ID");
    T.Detail.Edit();
    T.Detail.FieldByName("NAME")->SetAsString("kept");
    T.Master.Next();
    EXPECT_EQ(T.Detail.State(), dsBrowse);
    EXPECT_EQ(T.Detail.RowText(0, 1), "kept");  // posted, not lost
}
