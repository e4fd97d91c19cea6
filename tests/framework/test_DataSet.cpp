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

// ---------------------------------------------------------------------------
// Navigation and the sliding window
// ---------------------------------------------------------------------------

TEST(DataSetNavigation, WindowOfOneSlidesOnEveryNext) {
    Window W(3, 1);
    W.DS.Open();
    W.DS.LogEvents = true;
    W.DS.ClearLog();
    W.Link.Clear();
    W.DS.Next();
    EXPECT_EQ(W.DS.Joined(), "BeforeScroll GetRecord(next)=ok:2 AfterScroll");
    EXPECT_EQ(W.Link.JoinedEvents(), "deCheckBrowseMode deDataSetScroll(-1)");
    EXPECT_EQ(W.Link.JoinedReactions(), "CheckBrowseMode DataSetScrolled(1)");
    EXPECT_EQ(W.Link.FirstRecord(), 0);
    EXPECT_EQ(W.Link.ActiveRecord(), 0);
    EXPECT_EQ(Ids(W.DS), "2");
    W.DS.Next();
    EXPECT_EQ(W.DS.FieldByName("ID")->AsInteger(), 3);
    EXPECT_FALSE(W.DS.Eof());
}

TEST(DataSetNavigation, NextAtTheEndSetsEofThenReturnsAtOnce) {
    Window W(2, 1);
    W.DS.Open();
    W.DS.Next();
    W.DS.LogEvents = true;
    W.DS.ClearLog();
    W.Link.Clear();
    EXPECT_EQ(W.DS.MoveBy(1), 0);
    EXPECT_EQ(W.DS.Joined(), "BeforeScroll GetRecord(next)=eof AfterScroll");
    EXPECT_TRUE(W.DS.Eof());
    EXPECT_EQ(W.DS.FieldByName("ID")->AsInteger(), 2);  // still on the last record
    EXPECT_EQ(W.Link.JoinedEvents(), "deCheckBrowseMode deDataSetScroll(0)");
    W.DS.ClearLog();
    W.Link.Clear();
    W.DS.Next();
    EXPECT_EQ(W.DS.Joined(), "BeforeScroll");  // no AfterScroll, no fetch
    EXPECT_EQ(W.Link.JoinedEvents(), "deCheckBrowseMode");
    EXPECT_TRUE(W.DS.Eof());
}

TEST(DataSetNavigation, WindowOfThreeMovesInsideThenSlides) {
    Window W(5, 3);
    W.DS.Open();
    EXPECT_EQ(Ids(W.DS), "1,2,3");
    W.DS.ClearLog();
    W.Link.Clear();
    W.DS.Next();
    W.DS.Next();
    EXPECT_EQ(W.DS.Joined(), "");  // inside the window nothing is fetched
    EXPECT_EQ(W.DS.ActiveRecord(), 2);
    EXPECT_EQ(W.Link.ActiveRecord(), 2);
    EXPECT_EQ(W.Link.JoinedEvents(), "deCheckBrowseMode deDataSetScroll(0) deCheckBrowseMode deDataSetScroll(0)");
    W.Link.Clear();
    W.DS.Next();
    EXPECT_EQ(W.DS.Joined(), "GetRecord(next)=ok:4");
    EXPECT_EQ(Ids(W.DS), "2,3,4");
    EXPECT_EQ(W.DS.ActiveRecord(), 2);
    EXPECT_EQ(W.Link.JoinedEvents(), "deCheckBrowseMode deDataSetScroll(-1)");
    EXPECT_EQ(W.Link.JoinedReactions(), "CheckBrowseMode DataSetScrolled(1)");
    EXPECT_EQ(W.Link.FirstRecord(), 0);
    EXPECT_EQ(W.Link.ActiveRecord(), 2);
    // Backwards: inside, then past the front edge (shift +1).
    W.DS.ClearLog();
    W.Link.Clear();
    EXPECT_EQ(W.DS.MoveBy(-3), -3);
    EXPECT_EQ(W.DS.Joined(), "InternalSetToRecord(2) GetRecord(prior)=ok:1");
    EXPECT_EQ(Ids(W.DS), "1,2,3");
    EXPECT_EQ(W.DS.ActiveRecord(), 0);
    EXPECT_EQ(W.Link.JoinedEvents(), "deCheckBrowseMode deDataSetScroll(1)");
    EXPECT_EQ(W.Link.JoinedReactions(), "CheckBrowseMode DataSetScrolled(-1)");
    EXPECT_EQ(W.Link.FirstRecord(), 0);
    EXPECT_EQ(W.DS.MoveBy(-1), 0);
    EXPECT_TRUE(W.DS.Bof());
}

TEST(DataSetNavigation, WindowOfTenHoldsAllRecords) {
    Window W(5, 10);
    W.DS.Open();
    EXPECT_EQ(Ids(W.DS), "1,2,3,4,5");
    EXPECT_EQ(W.DS.BufferCount(), 10);
    W.DS.ClearLog();
    W.Link.Clear();
    EXPECT_EQ(W.DS.MoveBy(10), 4);
    EXPECT_TRUE(W.DS.Eof());
    EXPECT_EQ(W.DS.FieldByName("ID")->AsInteger(), 5);
    // The cursor was left undetermined by the failed fetches of the open.
    EXPECT_EQ(W.DS.Joined(), "InternalSetToRecord(5) GetRecord(next)=eof");
    EXPECT_EQ(W.Link.JoinedEvents(), "deCheckBrowseMode deDataSetScroll(0)");
    EXPECT_EQ(W.Link.ActiveRecord(), 4);
    EXPECT_EQ(W.Link.RecordCount(), 5);
}

TEST(DataSetNavigation, GrowingWindowSendsDataSetChange) {
    Window W(2, 3);
    W.DS.Open();
    W.DS.Next();
    EXPECT_FALSE(W.DS.Eof());
    W.DS.AddRow({3, "N3"});  // a record appears after the window
    W.Link.Clear();
    W.DS.Next();
    EXPECT_EQ(Ids(W.DS), "1,2,3");
    EXPECT_EQ(W.DS.FieldByName("ID")->AsInteger(), 3);
    EXPECT_EQ(W.Link.JoinedEvents(), "deCheckBrowseMode deDataSetChange");
}

TEST(DataSetNavigation, FirstAndLast) {
    Window W(5, 3);
    W.DS.Open();
    W.DS.LogEvents = true;
    W.DS.ClearLog();
    W.Link.Clear();
    W.DS.Last();
    EXPECT_EQ(W.DS.Joined(),
              "BeforeScroll InternalLast GetRecord(prior)=ok:5 GetRecord(prior)=ok:4 GetRecord(prior)=ok:3 "
              "AfterScroll");
    EXPECT_EQ(Ids(W.DS), "3,4,5");
    EXPECT_EQ(W.DS.ActiveRecord(), 2);
    EXPECT_TRUE(W.DS.Eof());
    EXPECT_FALSE(W.DS.Bof());
    EXPECT_EQ(W.Link.JoinedEvents(), "deCheckBrowseMode deDataSetChange");
    EXPECT_EQ(W.Link.ActiveRecord(), 2);
    W.DS.ClearLog();
    W.DS.First();
    EXPECT_EQ(W.DS.Joined(),
              "BeforeScroll InternalFirst GetRecord(next)=ok:1 GetRecord(next)=ok:2 GetRecord(next)=ok:3 "
              "AfterScroll");
    EXPECT_TRUE(W.DS.Bof());
    EXPECT_FALSE(W.DS.Eof());
}

TEST(DataSetNavigation, FirstOnEmptyDataFetchesTwiceAndIsBofAndEof) {
    TMemDataSet DS;
    AddNumberRows(DS, 0);
    DS.Open();
    DS.ClearLog();
    DS.First();
    EXPECT_EQ(DS.Joined(), "InternalFirst GetRecord(next)=eof GetRecord(next)=eof");
    EXPECT_TRUE(DS.Bof());
    EXPECT_TRUE(DS.Eof());
}

TEST(DataSetNavigation, FailureInsideNavigationStillNotifiesAndScrolls) {
    Window W(5, 3);
    W.DS.Open();
    int AfterScrolls = 0;
    W.DS.AfterScroll = [&](TDataSet*) { ++AfterScrolls; };
    W.DS.OnHook = [](const std::string& Hook) {
        if (Hook == "GetRecord") throw EDatabaseError("read failed");
    };
    W.Link.Clear();
    EXPECT_THROW(W.DS.Last(), EDatabaseError);
    EXPECT_EQ(AfterScrolls, 1);
    EXPECT_TRUE(W.DS.Eof());
    EXPECT_EQ(W.Link.JoinedEvents(), "deCheckBrowseMode deDataSetChange");
    W.DS.OnHook = nullptr;
    W.DS.First();
    W.DS.Next();
    W.DS.Next();
    W.DS.OnHook = [](const std::string& Hook) {
        if (Hook == "GetRecord") throw EDatabaseError("read failed");
    };
    W.Link.Clear();
    EXPECT_THROW(W.DS.Next(), EDatabaseError);
    EXPECT_EQ(AfterScrolls, 5);  // Last, First, Next, Next and the failed Next
    EXPECT_EQ(W.Link.JoinedEvents(), "deCheckBrowseMode deDataSetScroll(0)");
}

TEST(DataSetNavigation, RecNoAndRecordCount) {
    Window W(5, 3);
    W.DS.Open();
    EXPECT_EQ(W.DS.RecordCount(), 5);
    W.DS.Next();
    EXPECT_EQ(W.DS.RecNo(), 2);
    W.DS.SetRecNo(5);
    EXPECT_EQ(W.DS.FieldByName("ID")->AsInteger(), 5);
    EXPECT_EQ(Ids(W.DS), "3,4,5");  // centred, then filled backwards
    EXPECT_EQ(W.DS.ActiveRecord(), 2);
}

// ---------------------------------------------------------------------------
// Buffer count changes
// ---------------------------------------------------------------------------

TEST(DataSetWindow, GrowingALinkFetchesMoreAndShrinkingKeepsTheActiveRecord) {
    Window W(8, 2);
    W.DS.Open();
    W.DS.Next();
    W.DS.Next();
    W.DS.Next();  // window 3,4; active 1
    EXPECT_EQ(Ids(W.DS), "3,4");
    W.DS.ClearLog();
    W.Link.SetBufferCount(5);
    EXPECT_EQ(W.DS.BufferCount(), 5);
    EXPECT_EQ(Ids(W.DS), "3,4,5,6,7");
    EXPECT_EQ(W.DS.FieldByName("ID")->AsInteger(), 4);
    EXPECT_EQ(W.DS.Joined(), "GetRecord(next)=ok:5 GetRecord(next)=ok:6 GetRecord(next)=ok:7");
    EXPECT_EQ(W.DS.LiveBuffers, 6);
    W.DS.MoveBy(3);  // record 7, window 3..7
    W.Link.SetBufferCount(2);
    EXPECT_EQ(W.DS.BufferCount(), 2);
    EXPECT_EQ(W.DS.FieldByName("ID")->AsInteger(), 7);
    EXPECT_EQ(W.DS.ActiveRecord() - W.Link.FirstRecord(), W.Link.ActiveRecord());
    EXPECT_GE(W.Link.ActiveRecord(), 0);
    EXPECT_LT(W.Link.ActiveRecord(), 2);
    EXPECT_EQ(W.DS.LiveBuffers, 3);
}

TEST(DataSetWindow, GrowingAtTheEndFillsBackwardAndShiftsTheLinks) {
    Window W(6, 2);
    W.DS.Open();
    W.DS.Last();  // window 5,6
    TRecordingLink Other;
    Other.SetDataSource(&W.Source);
    EXPECT_EQ(W.Link.FirstRecord(), 0);
    Other.SetBufferCount(4);
    EXPECT_EQ(Ids(W.DS), "3,4,5,6");
    EXPECT_EQ(W.DS.FieldByName("ID")->AsInteger(), 6);
    EXPECT_EQ(W.Link.FirstRecord(), 2);  // shifted by the two records gained in front
    EXPECT_EQ(W.Link.ActiveRecord(), 1);
    EXPECT_EQ(Other.ActiveRecord(), 3);
}

// ---------------------------------------------------------------------------
// Resync and bookmarks
// ---------------------------------------------------------------------------

TEST(DataSetResync, KeepsTheActivePositionWithoutOptions) {
    Window W(6, 3);
    W.DS.Open();
    W.DS.Next();  // record 2 at index 1; the cursor stands on record 3
    W.DS.ClearLog();
    W.Link.Clear();
    W.DS.UpdateCursorPos();
    W.DS.Resync({});
    EXPECT_EQ(W.DS.Joined(),
              "InternalSetToRecord(2) GetRecord(current)=ok:2 GetRecord(prior)=ok:1 InternalSetToRecord(2) "
              "GetRecord(next)=ok:3");
    EXPECT_EQ(Ids(W.DS), "1,2,3");
    EXPECT_EQ(W.DS.ActiveRecord(), 1);
    EXPECT_EQ(W.Link.JoinedEvents(), "deDataSetChange");
    // The window is rebuilt around the descendant's cursor, whatever the
    // active buffer held.
    W.DS.ClearLog();
    W.DS.Resync({});
    EXPECT_EQ(W.DS.Joined(), "GetRecord(current)=ok:3 GetRecord(prior)=ok:2 InternalSetToRecord(3) GetRecord(next)=ok:4");
    EXPECT_EQ(Ids(W.DS), "2,3,4");
    EXPECT_EQ(W.DS.ActiveRecord(), 1);
}

TEST(DataSetResync, EmptiesTheWindowWhenNothingIsLeft) {
    Window W(2, 3);
    W.DS.Open();
    W.DS.DeleteRowDirectly(0);
    W.DS.DeleteRowDirectly(0);
    W.DS.ClearLog();
    W.Link.Clear();
    W.DS.Resync({});
    EXPECT_EQ(W.DS.Joined(), "GetRecord(current)=error GetRecord(next)=eof GetRecord(prior)=bof");
    EXPECT_TRUE(W.DS.IsEmpty());
    EXPECT_TRUE(W.DS.Bof());
    EXPECT_TRUE(W.DS.Eof());
    EXPECT_EQ(W.Link.JoinedEvents(), "deDataSetChange");
}

TEST(DataSetResync, ExactFailsWithRecordNotFound) {
    Window W(3, 3);
    W.DS.Open();
    W.DS.First();
    TBookmark B = W.DS.GetBookmark();
    W.DS.Last();
    W.DS.DeleteRowDirectly(0);
    try {
        W.DS.GotoBookmark(B);
        FAIL();
    } catch (const EDatabaseError& E) {
        EXPECT_STREQ(E.what(), "Record not found");
    }
}

TEST(DataSetBookmarks, GetGotoCompareAndString) {
    Window W(9, 3);
    W.DS.Open();
    W.DS.MoveBy(6);
    TBookmark B = W.DS.GetBookmark();
    ASSERT_EQ(B.size(), 4u);
    EXPECT_TRUE(W.DS.BookmarkValid(B));
    EXPECT_EQ(W.DS.GetBookmarkStr(), std::string(B.begin(), B.end()));
    W.DS.First();
    TBookmark First = W.DS.GetBookmark();
    EXPECT_EQ(W.DS.CompareBookmarks(First, B), -1);
    EXPECT_EQ(W.DS.CompareBookmarks(B, First), 1);
    EXPECT_EQ(W.DS.CompareBookmarks(B, B), 0);
    EXPECT_EQ(W.DS.CompareBookmarks({}, {}), 0);
    EXPECT_EQ(W.DS.CompareBookmarks({}, B), 1);
    W.DS.LogEvents = true;
    W.DS.ClearLog();
    W.Link.Clear();
    W.DS.GotoBookmark(B);
    EXPECT_EQ(W.DS.FieldByName("ID")->AsInteger(), 7);
    EXPECT_EQ(W.DS.Joined(),
              "BeforeScroll InternalGotoBookmark(7) GetRecord(current)=ok:7 GetRecord(prior)=ok:6 "
              "InternalSetToRecord(7) GetRecord(next)=ok:8 AfterScroll");
    EXPECT_EQ(Ids(W.DS), "6,7,8");
    EXPECT_EQ(W.DS.ActiveRecord(), 1);  // centred
    EXPECT_EQ(W.Link.JoinedEvents(), "deCheckBrowseMode deDataSetChange");
    W.DS.ClearLog();
    W.DS.GotoBookmark({});
    EXPECT_EQ(W.DS.Joined(), "");  // no bookmark: nothing at all
    W.DS.FreeBookmark(B);
    EXPECT_TRUE(B.empty());
    W.DS.First();
    W.DS.SetBookmarkStr(W.DS.GetBookmarkStr());
    EXPECT_EQ(W.DS.FieldByName("ID")->AsInteger(), 1);
}

TEST(DataSetBookmarks, NoneWhileInsertingOrClosed) {
    TMemDataSet DS;
    AddNumberRows(DS, 2);
    EXPECT_TRUE(DS.GetBookmark().empty());
    DS.Open();
    DS.Insert();
    EXPECT_TRUE(DS.GetBookmark().empty());  // the active buffer is a new record
    EXPECT_EQ(DS.GetBookmarkStr(), "");
}

// ---------------------------------------------------------------------------
// States, controls and notifications
// ---------------------------------------------------------------------------

TEST(DataSetState, SetStateNotifiesAndClearsModified) {
    Window W(2, 1);
    W.DS.Open();
    W.DS.SetModified(true);
    W.Link.Clear();
    W.DS.SetState(dsBrowse);
    EXPECT_EQ(W.Link.JoinedEvents(), "");
    EXPECT_TRUE(W.DS.Modified());
    W.DS.SetState(dsSetKey);
    EXPECT_FALSE(W.DS.Modified());
    EXPECT_EQ(W.Link.JoinedEvents(), "deUpdateState");
    EXPECT_EQ(W.Source.State(), dsSetKey);
    EXPECT_TRUE(W.Link.Editing());
    EXPECT_EQ(W.Link.ActiveRecord(), 0);
    EXPECT_EQ(W.Link.RecordCount(), 1);
    W.DS.SetState(dsBrowse);
}

TEST(DataSetState, TempStateHidesNotificationsFromControls) {
    Window W(2, 1);
    W.DS.Open();
    W.Link.Clear();
    W.DS.SetModified(true);
    TDataSetState Old = W.DS.SetTempState(dsSetKey);
    EXPECT_EQ(Old, dsBrowse);
    EXPECT_EQ(W.DS.State(), dsSetKey);
    EXPECT_FALSE(W.DS.Modified());
    EXPECT_TRUE(W.DS.ControlsDisabled());
    W.DS.FieldByName("ID")->SetAsInteger(42);  // goes into the key buffer
    EXPECT_TRUE(W.DS.Modified());
    EXPECT_EQ(W.DS.FieldByName("ID")->AsInteger(), 42);
    W.DS.RestoreState(Old);
    EXPECT_EQ(W.DS.State(), dsBrowse);
    EXPECT_FALSE(W.DS.Modified());
    EXPECT_FALSE(W.DS.ControlsDisabled());
    EXPECT_EQ(W.Link.JoinedEvents(), "");
    EXPECT_EQ(W.Source.State(), dsBrowse);
    EXPECT_EQ(W.DS.FieldByName("ID")->AsInteger(), 1);  // the record is untouched
}

TEST(DataSetState, DisableControlsIsCountedAndSendsOneChangeAtTheEnd) {
    Window W(5, 2);
    W.DS.Open();
    W.Link.Clear();
    W.DS.DisableControls();
    W.DS.DisableControls();
    W.DS.Next();
    W.DS.Next();
    W.DS.Next();
    W.DS.EnableControls();
    EXPECT_EQ(W.Link.JoinedEvents(), "");
    W.DS.EnableControls();
    EXPECT_EQ(W.Link.JoinedEvents(), "deDataSetChange");
    EXPECT_EQ(W.Link.ActiveRecord(), 1);
    W.DS.EnableControls();  // unbalanced: ignored
    EXPECT_FALSE(W.DS.ControlsDisabled());
}

TEST(DataSetState, ClosingWhileDisabledTellsTheControlsAtEnable) {
    Window W(3, 2);
    W.DS.Open();
    W.Link.Clear();
    W.DS.DisableControls();
    W.DS.Close();
    EXPECT_EQ(W.Link.JoinedEvents(), "");
    EXPECT_TRUE(W.Link.Active());
    W.DS.EnableControls();
    EXPECT_EQ(W.Link.JoinedEvents(), "deUpdateState");
    EXPECT_FALSE(W.Link.Active());
    // Reopened while disabled: the state change and the planned event.
    W.Link.Clear();
    W.DS.DisableControls();
    W.DS.Open();
    EXPECT_EQ(W.Link.JoinedEvents(), "");
    W.DS.EnableControls();
    EXPECT_EQ(W.Link.JoinedEvents(), "deUpdateState");
    EXPECT_TRUE(W.Link.Active());
}

TEST(DataSetState, FilterSettingsAreOnlyStored) {
    Window W(3, 2);
    W.DS.Open();
    W.DS.ClearLog();
    W.Link.Clear();
    W.DS.SetFilter("ID > 1");
    W.DS.SetFilterOptions({foCaseInsensitive});
    W.DS.SetFiltered(true);
    int Calls = 0;
    W.DS.SetOnFilterRecord([&](TDataSet*, bool& Accept) {
        ++Calls;
        Accept = false;
    });
    EXPECT_EQ(W.DS.Filter(), "ID > 1");
    EXPECT_TRUE(W.DS.Filtered());
    EXPECT_TRUE(W.DS.FilterOptions().Contains(foCaseInsensitive));
    EXPECT_TRUE(static_cast<bool>(W.DS.OnFilterRecord()));
    W.DS.Last();
    EXPECT_EQ(W.DS.FieldByName("ID")->AsInteger(), 3);
    EXPECT_EQ(Calls, 0);  // the framework itself never filters
    EXPECT_EQ(W.DS.RecordCount(), 3);
}

TEST(DataSetState, BlockReadingSilencesControls) {
    Window W(4, 1);
    try {
        TMemDataSet Closed;
        Closed.SetBlockReadSize(10);
        FAIL();
    } catch (const EDatabaseError& E) {
        EXPECT_STREQ(E.what(), "Cannot perform this operation on a closed dataset");
    }
    W.DS.Open();
    W.Link.Clear();
    W.DS.SetBlockReadSize(10);
    EXPECT_EQ(W.DS.State(), dsBlockRead);
    W.DS.BlockReadNext();
    W.DS.BlockReadNext();
    EXPECT_EQ(W.Link.JoinedEvents(), "");  // not even the state change
    W.DS.SetBlockReadSize(0);
    EXPECT_EQ(W.DS.State(), dsBrowse);
    EXPECT_EQ(W.DS.FieldByName("ID")->AsInteger(), 3);
    EXPECT_EQ(W.Link.JoinedEvents(), "deDataSetChange");  // the source never left dsBrowse
    EXPECT_EQ(W.Link.ActiveRecord(), 0);
}
