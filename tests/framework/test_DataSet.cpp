// Record window, navigation, resynchronisation, bookmarks, opening and
// closing of TDataSet, driven through the in-memory test dataset.
#include "tests/framework/MemDataSet.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace fw::test;

namespace {

// A dataset with a data source and a recording link of a given row count.
struct Window {
    TMemDataSet DS;
    TDataSource Source{nullptr};
    TRecordingLink Link;

    Window(int Rows, int LinkRows) {
        AddNumberRows(DS, Rows);
        Source.SetDataSet(&DS);
        Link.SetBufferCount(LinkRows);
        Link.SetDataSource(&Source);
    }
};

std::string Ids(const TMemDataSet& DS) {
    std::string S;
    for (auto Id : DS.WindowIds()) S += (S.empty() ? "" : ",") + std::to_string(Id);
    return S;
}

}  // namespace

// ---------------------------------------------------------------------------
// Opening and closing
// ---------------------------------------------------------------------------

TEST(DataSetOpen, HookOrderWithOneRowWindow) {
    TMemDataSet DS;
    AddNumberRows(DS, 3);
    DS.LogEvents = true;
    DS.Open();
    EXPECT_EQ(DS.Joined(), "BeforeOpen InternalOpen GetRecord(next)=ok:1 AfterOpen");
    EXPECT_EQ(DS.State(), dsBrowse);
    EXPECT_TRUE(DS.Active());
    EXPECT_TRUE(DS.Bof());
    EXPECT_FALSE(DS.Eof());
    EXPECT_EQ(DS.BufferCount(), 1);
    EXPECT_EQ(DS.BookmarkSize(), 4);
    EXPECT_TRUE(DS.DefaultFields());
    ASSERT_EQ(DS.FieldCount(), 2);
    EXPECT_EQ(DS.FieldByName("ID")->AsInteger(), 1);
    EXPECT_EQ(DS.LiveBuffers, 2);  // the window and the temporary buffer
}

TEST(DataSetOpen, FirstWindowFetchesForwardThenTriesBackward) {
    Window W(2, 3);
    W.DS.Open();
    EXPECT_EQ(W.DS.Joined(),
              "InternalOpen GetRecord(next)=ok:1 GetRecord(next)=ok:2 GetRecord(next)=eof "
              "InternalSetToRecord(1) GetRecord(prior)=bof");
    EXPECT_EQ(Ids(W.DS), "1,2");
    EXPECT_EQ(W.DS.ActiveRecord(), 0);
    EXPECT_EQ(W.DS.LiveBuffers, 4);
}

TEST(DataSetOpen, EmptyDataIsBofEofAndEmpty) {
    TMemDataSet DS;
    AddNumberRows(DS, 0);
    DS.Open();
    EXPECT_EQ(DS.Joined(), "InternalOpen GetRecord(next)=eof GetRecord(prior)=bof");
    EXPECT_TRUE(DS.Bof());
    EXPECT_TRUE(DS.Eof());
    EXPECT_TRUE(DS.IsEmpty());
    EXPECT_TRUE(DS.FieldByName("ID")->IsNull());
    EXPECT_EQ(DS.FieldByName("NAME")->AsString(), "");
    EXPECT_TRUE(DS.GetBookmark().empty());
}

TEST(DataSetOpen, FailedInternalOpenStillClosesAndPropagates) {
    TMemDataSet DS;
    AddNumberRows(DS, 3);
    DS.LogEvents = true;
    DS.OnHook = [](const std::string& Hook) {
        if (Hook == "InternalOpen") throw EDatabaseError("cannot open");
    };
    try {
        DS.Open();
        FAIL() << "no exception";
    } catch (const EDatabaseError& E) {
        EXPECT_STREQ(E.what(), "cannot open");
    }
    EXPECT_EQ(DS.Joined(), "BeforeOpen InternalClose");
    EXPECT_EQ(DS.State(), dsInactive);
    EXPECT_FALSE(DS.Active());
    EXPECT_EQ(DS.LiveBuffers, 0);
}

TEST(DataSetOpen, FailedFirstFetchLeavesDataSetOpen) {
    TMemDataSet DS;
    AddNumberRows(DS, 3);
    DS.LogEvents = true;
    DS.OnHook = [](const std::string& Hook) {
        if (Hook == "GetRecord") throw std::runtime_error("read failed");
    };
    EXPECT_THROW(
        {
            try {
                DS.Open();
            } catch (const std::runtime_error& E) {
                EXPECT_STREQ(E.what(), "read failed");
                throw;
            }
        },
        std::runtime_error);
    EXPECT_EQ(DS.Joined(), "BeforeOpen InternalOpen AfterOpen");
    EXPECT_EQ(DS.State(), dsBrowse);
    EXPECT_TRUE(DS.Active());
    EXPECT_TRUE(DS.IsEmpty());
    EXPECT_TRUE(DS.Bof());
    DS.OnHook = nullptr;
    DS.First();
    EXPECT_EQ(DS.FieldByName("ID")->AsInteger(), 1);
}

TEST(DataSetOpen, CloseHookOrderAndReopen) {
    Window W(3, 2);
    W.DS.Open();
    W.DS.LogEvents = true;
    W.DS.ClearLog();
    W.Link.Clear();
    W.DS.Close();
    EXPECT_EQ(W.DS.Joined(), "BeforeClose InternalClose AfterClose");
    EXPECT_EQ(W.DS.State(), dsInactive);
    EXPECT_EQ(W.DS.LiveBuffers, 0);
    EXPECT_EQ(W.DS.FieldCount(), 0);  // default fields are destroyed
    EXPECT_FALSE(W.Link.Active());
    EXPECT_EQ(W.Link.JoinedEvents(), "deUpdateState");
    EXPECT_EQ(W.Link.JoinedReactions(), "ActiveChanged(0)");
    W.DS.Open();
    EXPECT_EQ(W.DS.FieldByName("id")->AsInteger(), 1);
    EXPECT_TRUE(W.Link.Active());
}

TEST(DataSetOpen, CloseDropsAPendingEditWithoutPostOrCancel) {
    TMemDataSet DS;
    AddNumberRows(DS, 2);
    DS.Open();
    DS.Edit();
    DS.FieldByName("NAME")->SetAsString("changed");
    DS.ClearLog();
    DS.Close();
    EXPECT_EQ(DS.Joined(), "InternalClose");
    EXPECT_EQ(DS.RowText(0, 1), "N1");
}

TEST(DataSetOpen, ClosedDataSetRefusesNavigation) {
    TMemDataSet DS;
    AddNumberRows(DS, 2);
    try {
        DS.Next();
        FAIL();
    } catch (const EDatabaseError& E) {
        EXPECT_STREQ(E.what(), "Cannot perform this operation on a closed dataset");
    }
    try {
        DS.Delete();
        FAIL();
    } catch (const EDatabaseError& E) {
        EXPECT_STREQ(E.what(), "Cannot perform this operation on a closed dataset");
    }
    DS.Open();
    try {
        DS.CheckInactive();
        FAIL();
    } catch (const EDatabaseError& E) {
        EXPECT_STREQ(E.what(), "Cannot perform this operation on an open dataset");
    }
}

TEST(DataSetOpen, DestroyingAnOpenDataSetClosesWithoutEventsAndDetachesSources) {
    TDataSource Source(nullptr);
    TRecordingLink Link;
    Link.SetDataSource(&Source);
    int Events = 0;
    {
        TMemDataSet DS;
        AddNumberRows(DS, 2);
        DS.BeforeClose = [&](TDataSet*) { ++Events; };
        DS.AfterClose = [&](TDataSet*) { ++Events; };
        Source.SetDataSet(&DS);
        DS.Open();
        EXPECT_TRUE(Link.Active());
    }
    EXPECT_EQ(Events, 0);
    EXPECT_EQ(Source.DataSet(), nullptr);
    EXPECT_EQ(Source.State(), dsInactive);
    EXPECT_FALSE(Link.Active());
}

TEST(DataSetOpen, AbstractHooksRaise) {
    struct TBare : TDataSet {
        using TDataSet::TDataSet;
    } Bare(nullptr);
    try {
        Bare.Open();
        FAIL();
    } catch (const EDatabaseError& E) {
        EXPECT_STREQ(E.what(), "Abstract Error");
    }
    EXPECT_EQ(Bare.State(), dsInactive);
    EXPECT_EQ(Bare.GetRecordCount(), -1);
    EXPECT_EQ(Bare.GetRecNo(), -1);
    EXPECT_TRUE(Bare.CanModify());
    EXPECT_EQ(Bare.DataSource(), nullptr);
}
