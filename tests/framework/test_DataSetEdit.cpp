// Editing operations of TDataSet: hook orders, the error events' retry and
// abort, new-record failures, required fields.
#include "tests/framework/MemDataSet.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace fw::test;

namespace {

struct Editing {
    TMemDataSet DS;
    TDataSource Source{nullptr};
    TRecordingLink Link;

    Editing(int Rows, int LinkRows) {
        AddNumberRows(DS, Rows);
        Source.SetDataSet(&DS);
        Link.SetBufferCount(LinkRows);
        Link.SetDataSource(&Source);
        DS.Open();
        DS.LogEvents = true;
        DS.ClearLog();
        Link.Clear();
    }
    TField* Id() { return DS.FieldByName("ID"); }
    TField* Name() { return DS.FieldByName("NAME"); }
};

std::string Ids(const TMemDataSet& DS) {
    std::string S;
    for (auto Id : DS.WindowIds()) S += (S.empty() ? "" : ",") + std::to_string(Id);
    return S;
}

template <class E, class F>
std::string MessageOf(F&& Body) {
    try {
        Body();
    } catch (const E& Error) {
        return Error.what();
    }
    return "<no exception>";
}

}  // namespace

TEST(DataSetEdit, EditAndPostHookOrder) {
    Editing T(3, 3);
    T.DS.Next();
    T.DS.ClearLog();
    T.Link.Clear();
    T.DS.Edit();
    EXPECT_EQ(T.DS.Joined(), "BeforeEdit InternalSetToRecord(2) InternalEdit AfterEdit");
    EXPECT_EQ(T.DS.State(), dsEdit);
    EXPECT_EQ(T.Link.JoinedEvents(), "deCheckBrowseMode deUpdateState deRecordChange");
    EXPECT_EQ(T.Link.JoinedReactions(), "CheckBrowseMode EditingChanged(1) RecordChanged()");
    T.Name()->SetAsString("two");
    EXPECT_TRUE(T.DS.Modified());
    EXPECT_EQ(T.Link.Events.back(), "deFieldChange(NAME)");
    T.DS.ClearLog();
    T.Link.Clear();
    T.DS.Post();
    EXPECT_EQ(T.DS.Joined(),
              "BeforePost InternalPost GetRecord(current)=ok:2 GetRecord(prior)=ok:1 InternalSetToRecord(2) "
              "GetRecord(next)=ok:3 AfterPost");
    EXPECT_EQ(T.Link.JoinedEvents(), "deUpdateRecord deCheckBrowseMode deUpdateState deDataSetChange");
    EXPECT_EQ(T.DS.State(), dsBrowse);
    EXPECT_FALSE(T.DS.Modified());
    EXPECT_EQ(T.DS.RowText(1, 1), "two");
    EXPECT_EQ(T.Name()->AsString(), "two");
    EXPECT_EQ(T.DS.ActiveRecord(), 1);
}

TEST(DataSetEdit, EditTwiceDoesNothingAndPostOutsideEditRaises) {
    Editing T(2, 1);
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { T.DS.Post(); }), "Dataset not in edit or insert mode");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { T.Name()->SetAsString("x"); }), "Dataset not in edit or insert mode");
    T.DS.Edit();
    T.DS.ClearLog();
    T.DS.Edit();
    EXPECT_EQ(T.DS.Joined(), "");
}

TEST(DataSetEdit, EditOnEmptyDataBecomesInsertWithBofFlag) {
    Editing T(0, 3);
    T.DS.Edit();
    EXPECT_EQ(T.DS.State(), dsInsert);
    EXPECT_EQ(T.DS.Joined(), "BeforeInsert BeforeScroll InternalInitRecord InternalInsert OnNewRecord AfterInsert AfterScroll");
    EXPECT_EQ(T.DS.BufferFlag(T.DS.ActiveBuffer()), bfBOF);
    EXPECT_EQ(T.DS.ValidCount(), 1);
    T.Id()->SetAsInteger(7);
    T.DS.Post();
    EXPECT_EQ(T.DS.RowCount(), 1);
    EXPECT_EQ(T.DS.RowInt(0, 0), 7);
    EXPECT_FALSE(T.DS.IsEmpty());
    EXPECT_EQ(T.Id()->AsInteger(), 7);
}

TEST(DataSetEdit, ReadOnlyDataSetRefusesChanges) {
    Editing T(2, 1);
    T.DS.ReadOnlyData = true;
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { T.DS.Edit(); }), "Cannot modify a read-only dataset");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { T.DS.Insert(); }), "Cannot modify a read-only dataset");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { T.DS.Append(); }), "Cannot modify a read-only dataset");
    EXPECT_EQ(T.DS.State(), dsBrowse);
    EXPECT_EQ(T.DS.Joined().find("InternalEdit"), std::string::npos);
}

TEST(DataSetEdit, InsertMovesTheWindowAndCarriesTheCurrentBookmark) {
    Editing T(5, 3);
    T.DS.Next();  // record 2 at index 1
    T.DS.ClearLog();
    T.Link.Clear();
    T.DS.Insert();
    EXPECT_EQ(T.DS.Joined(),
              "BeforeInsert BeforeScroll InternalInitRecord InternalInsert OnNewRecord AfterInsert AfterScroll");
    EXPECT_EQ(T.Link.JoinedEvents(), "deCheckBrowseMode deUpdateState deDataSetChange");
    EXPECT_EQ(T.DS.State(), dsInsert);
    EXPECT_EQ(T.DS.ActiveRecord(), 1);
    EXPECT_EQ(T.DS.BufferFlag(T.DS.ActiveBuffer()), bfInserted);
    EXPECT_EQ(T.DS.BufferId(T.DS.ActiveBuffer()), 2);  // the bookmark of the record it stands before
    EXPECT_EQ(T.DS.BufferId(T.DS.Buffers(0)), 1);
    EXPECT_EQ(T.DS.BufferId(T.DS.Buffers(2)), 2);
    EXPECT_EQ(T.DS.ValidCount(), 3);
    EXPECT_FALSE(T.DS.Modified());
    EXPECT_TRUE(T.Id()->IsNull());
    T.Id()->SetAsInteger(15);
    T.DS.ClearLog();
    T.DS.Post();
    EXPECT_EQ(T.DS.RowInt(1, 0), 15);  // inserted before record 2
    EXPECT_EQ(T.Id()->AsInteger(), 15);
    EXPECT_EQ(T.DS.ActiveRecord(), 1);
    // The cursor goes to the record the new buffer carries, then the post.
    EXPECT_EQ(T.DS.Joined().substr(0, 57), "BeforePost InternalSetToRecord(2) InternalPost GetRecord(");
}

TEST(DataSetEdit, CancelOfAnInsertReturnsToThePreviousRecord) {
    Editing T(5, 3);
    T.DS.Next();
    T.DS.Insert();
    T.Id()->SetAsInteger(99);
    T.DS.ClearLog();
    T.Link.Clear();
    T.DS.Cancel();
    EXPECT_EQ(T.DS.Joined(),
              "BeforeCancel BeforeScroll InternalSetToRecord(2) InternalCancel GetRecord(current)=ok:2 "
              "GetRecord(prior)=ok:1 InternalSetToRecord(2) GetRecord(next)=ok:3 AfterCancel AfterScroll");
    EXPECT_EQ(T.Link.JoinedEvents(), "deCheckBrowseMode deUpdateState deDataSetChange");
    EXPECT_EQ(T.DS.State(), dsBrowse);
    EXPECT_EQ(T.Id()->AsInteger(), 2);
    EXPECT_EQ(Ids(T.DS), "1,2,3");
    EXPECT_EQ(T.DS.RowCount(), 5);
}

TEST(DataSetEdit, CancelOfAnEditHasNoScrollEvents) {
    Editing T(3, 1);
    T.DS.Edit();
    T.Name()->SetAsString("zz");
    T.DS.ClearLog();
    T.DS.Cancel();
    EXPECT_EQ(T.DS.Joined(), "BeforeCancel InternalCancel GetRecord(current)=ok:1 AfterCancel");
    EXPECT_EQ(T.Name()->AsString(), "N1");
    T.DS.ClearLog();
    T.DS.Cancel();  // in dsBrowse: nothing
    EXPECT_EQ(T.DS.Joined(), "");
}

TEST(DataSetEdit, AppendMarksEofAndFillsTheWindowWithTheLastRecords) {
    Editing T(5, 3);
    T.DS.Append();
    EXPECT_EQ(T.DS.Joined(),
              "BeforeInsert BeforeScroll InternalInitRecord InternalLast GetRecord(prior)=ok:5 "
              "GetRecord(prior)=ok:4 InternalInsert OnNewRecord AfterInsert AfterScroll");
    EXPECT_EQ(T.DS.BufferFlag(T.DS.ActiveBuffer()), bfEOF);
    EXPECT_EQ(T.DS.ActiveRecord(), 2);
    EXPECT_EQ(T.DS.BufferId(T.DS.Buffers(0)), 4);
    EXPECT_EQ(T.DS.BufferId(T.DS.Buffers(1)), 5);
    EXPECT_FALSE(T.DS.Bof());
    T.Id()->SetAsInteger(6);
    T.DS.Post();
    EXPECT_EQ(T.DS.RowInt(5, 0), 6);
    EXPECT_EQ(Ids(T.DS), "4,5,6");  // the new record got the identifier 6
    EXPECT_EQ(T.Id()->AsInteger(), 6);
}

TEST(DataSetEdit, CheckBrowseModePostsWhenModifiedAndCancelsOtherwise) {
    Editing T(3, 1);
    T.DS.Edit();
    T.DS.ClearLog();
    T.DS.Next();  // unmodified edit: cancelled
    EXPECT_EQ(T.DS.Joined().substr(0, 28), "BeforeCancel InternalCancel ");
    EXPECT_EQ(T.Id()->AsInteger(), 2);
    T.DS.Edit();
    T.Name()->SetAsString("two");
    T.DS.ClearLog();
    T.DS.Prior();  // modified edit: posted
    EXPECT_EQ(T.DS.Joined().substr(0, 23), "BeforePost InternalPost");
    EXPECT_EQ(T.DS.RowText(1, 1), "two");
    EXPECT_EQ(T.Id()->AsInteger(), 1);
}

TEST(DataSetEdit, DeleteHookOrderAndDeletingTheLastRecord) {
    Editing T(2, 3);
    T.DS.Last();
    T.DS.ClearLog();
    T.Link.Clear();
    T.DS.Delete();
    EXPECT_EQ(T.DS.Joined(),
              "BeforeDelete BeforeScroll InternalSetToRecord(2) InternalDelete GetRecord(current)=error "
              "GetRecord(next)=eof GetRecord(prior)=ok:1 GetRecord(prior)=bof InternalSetToRecord(1) "
              "GetRecord(next)=eof InternalSetToRecord(1) GetRecord(prior)=bof AfterDelete AfterScroll");
    EXPECT_EQ(T.Link.JoinedEvents(), "deCheckBrowseMode deDataSetChange");
    EXPECT_EQ(T.Id()->AsInteger(), 1);
    T.DS.ClearLog();
    T.DS.Delete();
    EXPECT_EQ(T.DS.Joined(),
              "BeforeDelete BeforeScroll InternalSetToRecord(1) InternalDelete GetRecord(current)=error "
              "GetRecord(next)=eof GetRecord(prior)=bof AfterDelete AfterScroll");
    EXPECT_TRUE(T.DS.IsEmpty());
    EXPECT_TRUE(T.DS.Bof());
    EXPECT_TRUE(T.DS.Eof());
    EXPECT_EQ(T.DS.RowCount(), 0);
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { T.DS.Delete(); }), "Cannot perform this operation on an empty dataset");
}

TEST(DataSetEdit, DeleteWhileEditingDeletesAndWhileInsertingCancels) {
    Editing T(3, 1);
    T.DS.Edit();
    T.DS.ClearLog();
    T.DS.Delete();
    EXPECT_NE(T.DS.Joined().find("InternalDelete"), std::string::npos);
    EXPECT_EQ(T.DS.Joined().find("InternalCancel"), std::string::npos);
    EXPECT_EQ(T.DS.RowCount(), 2);
    EXPECT_EQ(T.DS.State(), dsBrowse);
    T.DS.Insert();
    T.DS.ClearLog();
    T.DS.Delete();
    EXPECT_NE(T.DS.Joined().find("InternalCancel"), std::string::npos);
    EXPECT_EQ(T.DS.Joined().find("InternalDelete"), std::string::npos);
    EXPECT_EQ(T.DS.RowCount(), 2);
}

TEST(DataSetEdit, RefreshRereadsAroundTheCurrentRecordEvenWhenItFails) {
    Editing T(5, 3);
    T.DS.Next();
    T.DS.ClearLog();
    T.DS.Refresh();
    EXPECT_EQ(T.DS.Joined(),
              "BeforeRefresh InternalSetToRecord(2) InternalRefresh GetRecord(current)=ok:2 GetRecord(prior)=ok:1 "
              "InternalSetToRecord(2) GetRecord(next)=ok:3 AfterRefresh");
    T.DS.OnHook = [](const std::string& Hook) {
        if (Hook == "InternalRefresh") throw EDatabaseError("refresh failed");
    };
    T.DS.ClearLog();
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { T.DS.Refresh(); }), "refresh failed");
    EXPECT_NE(T.DS.Joined().find("GetRecord(current)=ok:2"), std::string::npos);
    EXPECT_EQ(T.DS.Log.back(), "AfterRefresh");
}

// ---------------------------------------------------------------------------
// Error events
// ---------------------------------------------------------------------------

TEST(DataSetErrors, PostErrorRetryRunsTheHookAgain) {
    Editing T(2, 1);
    T.DS.Edit();
    T.Name()->SetAsString("x");
    int Failures = 1, Attempts = 0, EventCalls = 0;
    T.DS.OnHook = [&](const std::string& Hook) {
        if (Hook != "InternalPost") return;
        ++Attempts;
        if (Failures-- > 0) throw EDatabaseError("locked");
    };
    T.DS.OnPostError = [&](TDataSet* DS, EDatabaseError& E, TDataAction& Action) {
        ++EventCalls;
        EXPECT_EQ(DS, &T.DS);
        EXPECT_STREQ(E.what(), "locked");
        EXPECT_EQ(Action, daFail);
        Action = daRetry;
    };
    T.DS.Post();
    EXPECT_EQ(Attempts, 2);
    EXPECT_EQ(EventCalls, 1);
    EXPECT_EQ(T.DS.State(), dsBrowse);
    EXPECT_EQ(T.DS.RowText(0, 1), "x");
}

TEST(DataSetErrors, PostErrorFailKeepsTheEditAndReraises) {
    Editing T(2, 1);
    T.DS.Insert();
    T.DS.OnHook = [](const std::string& Hook) {
        if (Hook == "InternalPost") throw EDatabaseError("key violation");
    };
    int EventCalls = 0;
    T.DS.OnPostError = [&](TDataSet*, EDatabaseError&, TDataAction&) { ++EventCalls; };
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { T.DS.Post(); }), "key violation");
    EXPECT_EQ(EventCalls, 1);
    EXPECT_EQ(T.DS.State(), dsInsert);
    EXPECT_EQ(T.DS.Log.back(), "BeforePost");
}

TEST(DataSetErrors, EditErrorAbortIsSilentAndLeavesBrowse) {
    Editing T(2, 1);
    T.DS.OnHook = [](const std::string& Hook) {
        if (Hook == "InternalEdit") throw EDatabaseError("record locked");
    };
    T.DS.OnEditError = [](TDataSet*, EDatabaseError&, TDataAction& Action) { Action = daAbort; };
    EXPECT_THROW(T.DS.Edit(), EAbort);
    EXPECT_EQ(T.DS.State(), dsBrowse);
    EXPECT_EQ(T.DS.Log.back(), "BeforeEdit");
}

TEST(DataSetErrors, DeleteErrorOfAnotherClassBypassesTheEvent) {
    Editing T(2, 1);
    T.DS.OnHook = [](const std::string& Hook) {
        if (Hook == "InternalDelete") throw std::runtime_error("disk");
    };
    int EventCalls = 0;
    T.DS.OnDeleteError = [&](TDataSet*, EDatabaseError&, TDataAction& Action) {
        ++EventCalls;
        Action = daRetry;
    };
    EXPECT_EQ(MessageOf<std::runtime_error>([&] { T.DS.Delete(); }), "disk");
    EXPECT_EQ(EventCalls, 0);
    EXPECT_EQ(T.DS.RowCount(), 2);
    EXPECT_EQ(T.DS.State(), dsBrowse);
    // A database error goes through the event; daFail without a handler.
    T.DS.OnHook = [](const std::string& Hook) {
        if (Hook == "InternalDelete") throw EDatabaseError("in use");
    };
    T.DS.OnDeleteError = nullptr;
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { T.DS.Delete(); }), "in use");
}

TEST(DataSetErrors, NewRecordFailureCancelsTheInsertAndPropagates) {
    Editing T(3, 3);
    T.DS.Next();
    T.DS.OnNewRecord = [](TDataSet* DS) {
        DS->FieldByName("ID")->SetAsInteger(50);
        throw EDatabaseError("no defaults");
    };
    T.DS.ClearLog();
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { T.DS.Insert(); }), "no defaults");
    EXPECT_EQ(T.DS.State(), dsBrowse);
    EXPECT_EQ(T.Id()->AsInteger(), 2);
    EXPECT_EQ(Ids(T.DS), "1,2,3");
    EXPECT_EQ(T.DS.RowCount(), 3);
    const std::string Log = T.DS.Joined();
    EXPECT_EQ(Log.find("AfterInsert"), std::string::npos);
    EXPECT_NE(Log.find("OnNewRecord InternalSetToRecord(2) GetRecord(current)=ok:2"), std::string::npos);
}

TEST(DataSetErrors, RequiredFieldGetsFocusAndRaises) {
    TMemDataSet DS;
    DS.AddColumn("ID", ftInteger, 0, true);
    DS.AddColumn("NAME", ftString, 10);
    DS.AddRow({1, "a"});
    TDataSource Source(nullptr);
    TRecordingLink Link;
    Source.SetDataSet(&DS);
    Link.SetDataSource(&Source);
    DS.Open();
    DS.Append();
    DS.FieldByName("NAME")->SetAsString("b");
    Link.Clear();
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { DS.Post(); }), "Field 'ID' must have a value");
    EXPECT_TRUE(Link.Saw("deFocusControl"));
    EXPECT_EQ(Link.Reactions.back(), "FocusControl(ID)");
    EXPECT_EQ(DS.State(), dsInsert);
    DS.FieldByName("ID")->SetAsInteger(2);
    DS.Post();
    EXPECT_EQ(DS.RowCount(), 2);
}

TEST(DataSetEdit, InsertRecordAndAppendRecordAssignInFieldOrder) {
    Editing T(1, 1);
    T.DS.AppendRecord({2, "two"});
    T.DS.InsertRecord({0, "zero"});
    ASSERT_EQ(T.DS.RowCount(), 3);
    EXPECT_EQ(T.DS.RowText(0, 1), "N1");
    EXPECT_EQ(T.DS.RowText(1, 1), "zero");  // inserted before the current record 2
    EXPECT_EQ(T.DS.RowText(2, 1), "two");
    EXPECT_EQ(MessageOf<EDatabaseError>([&] { T.DS.SetFields({1}); }), "Dataset not in edit or insert mode");
}

TEST(DataSetEdit, ClearFieldsEmptiesTheRecordBeingEdited) {
    Editing T(1, 1);
    T.DS.Edit();
    T.DS.ClearFields();
    EXPECT_TRUE(T.Id()->IsNull());
    EXPECT_TRUE(T.Name()->IsNull());
    T.DS.Cancel();
    EXPECT_EQ(T.Id()->AsInteger(), 1);
}
