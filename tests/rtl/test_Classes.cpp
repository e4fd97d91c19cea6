// TPersistent, TComponent (ownership, names, notifications), the
// component-class registry and TStringList.
#include "rtl/Rtl.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cstdio>
#include <unistd.h>

namespace {

template <class E, class F>
void ExpectRaise(F&& Body, const std::string& Msg) {
    try {
        Body();
        ADD_FAILURE() << "no exception, expected: " << Msg;
    } catch (const E& Ex) {
        EXPECT_EQ(Ex.Message(), Msg);
    } catch (const std::exception& Ex) {
        ADD_FAILURE() << "wrong exception class: " << Ex.what();
    }
}

// A component that records what happens to it in a shared log.
class TRecorder : public TComponent {
public:
    TRecorder(TComponent* AOwner, std::string Label, std::vector<std::string>* Log)
        : TComponent(AOwner), FLabel(std::move(Label)), FLog(Log) {}
    ~TRecorder() override {
        if (FLog) FLog->push_back("free " + FLabel);
    }
    explicit TRecorder(TComponent* AOwner) : TComponent(AOwner) {}

    // A reference to another component, cleared when it goes away.
    void SetPeer(TComponent* Peer) {
        FPeer = Peer;
        if (Peer) Peer->FreeNotification(this);
    }
    TComponent* Peer() const { return FPeer; }
    std::vector<std::pair<TComponent*, TOperation>> Received;

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override {
        TComponent::Notification(AComponent, Operation);
        Received.emplace_back(AComponent, Operation);
        if (Operation == opRemove && AComponent == FPeer) FPeer = nullptr;
    }

private:
    std::string FLabel;
    std::vector<std::string>* FLog = nullptr;
    TComponent* FPeer = nullptr;
};

int CountOf(const TRecorder& R, TComponent* C, TOperation Op) {
    int N = 0;
    for (auto& [Who, What] : R.Received)
        if (Who == C && What == Op) ++N;
    return N;
}

TEST(Component, OwnerFreesItsComponentsInReverseOrder) {
    std::vector<std::string> Log;
    auto* Owner = new TRecorder(nullptr, "owner", &Log);
    auto* A = new TRecorder(Owner, "A", &Log);
    auto* B = new TRecorder(Owner, "B", &Log);
    new TRecorder(B, "B1", &Log);
    new TRecorder(Owner, "C", &Log);
    ASSERT_EQ(Owner->ComponentCount(), 3);
    EXPECT_EQ(Owner->Components(0), A);
    EXPECT_EQ(B->Owner(), Owner);
    EXPECT_EQ(B->ComponentIndex(), 1);
    EXPECT_EQ(Owner->ComponentIndex(), -1);
    delete Owner;
    const std::vector<std::string> Expected{"free owner", "free C", "free B", "free B1", "free A"};
    EXPECT_EQ(Log, Expected);
}

TEST(Component, ComponentFreedByItselfLeavesItsOwner) {
    std::vector<std::string> Log;
    TRecorder Owner(nullptr, "owner", &Log);
    auto* A = new TRecorder(&Owner, "A", &Log);
    auto* B = new TRecorder(&Owner, "B", &Log);
    B->SetName("B");
    delete A;
    ASSERT_EQ(Owner.ComponentCount(), 1);
    EXPECT_EQ(Owner.Components(0), B);
    EXPECT_EQ(CountOf(Owner, A, opRemove), 1);
    EXPECT_EQ(CountOf(*B, A, opRemove), 1);  // the owner passes it on to its components
    ExpectRaise<EListError>([&] { Owner.Components(1); }, "List index out of bounds (1)");
    EXPECT_EQ(Owner.FindComponent("b"), B);
    EXPECT_EQ(Owner.FindComponent("A"), nullptr);
}

TEST(Component, InsertNotificationAndChangeOfOwner) {
    TRecorder Old(nullptr), New(nullptr);
    auto* Sibling = new TRecorder(&New);
    auto* C = new TRecorder(&Old);
    EXPECT_EQ(CountOf(Old, C, opInsert), 1);
    New.InsertComponent(C);
    EXPECT_EQ(C->Owner(), &New);
    EXPECT_EQ(Old.ComponentCount(), 0);
    EXPECT_EQ(CountOf(Old, C, opRemove), 1);
    EXPECT_EQ(CountOf(New, C, opInsert), 1);
    EXPECT_EQ(CountOf(*Sibling, C, opInsert), 1);
    New.RemoveComponent(C);
    EXPECT_EQ(C->Owner(), nullptr);
    delete C;  // no longer owned: the caller frees it
    EXPECT_EQ(New.ComponentCount(), 1);
}

TEST(Component, NamesAreValidatedAndUniqueInTheOwner) {
    TComponent Owner(nullptr);
    auto* A = new TComponent(&Owner);
    auto* B = new TComponent(&Owner);
    A->SetName("Table1");
    ExpectRaise<EComponentError>([&] { B->SetName("TABLE1"); }, "A component named TABLE1 already exists");
    EXPECT_EQ(B->Name(), "");
    ExpectRaise<EComponentError>([&] { B->SetName("1Table"); }, "'1Table' is not a valid component name");
    ExpectRaise<EComponentError>([&] { B->SetName("a b"); }, "'a b' is not a valid component name");
    A->SetName("TABLE1");  // its own name in another case is no clash
    EXPECT_EQ(A->Name(), "TABLE1");
    B->SetName("Table2");
    // Moving a component into an owner that already has its name fails and
    // leaves it where it was.
    TComponent Other(nullptr);
    auto* C = new TComponent(&Other);
    C->SetName("table2");
    ExpectRaise<EComponentError>([&] { Owner.InsertComponent(C); }, "A component named table2 already exists");
    EXPECT_EQ(C->Owner(), &Other);
    A->SetTag(42);
    EXPECT_EQ(A->Tag(), 42);
}

TEST(Component, FreeNotificationTellsAReferrerOnce) {
    TComponent FormA(nullptr), FormB(nullptr);
    auto* Source = new TRecorder(&FormA);
    auto* Table = new TRecorder(&FormB);
    Source->SetPeer(Table);
    delete Table;
    EXPECT_EQ(Source->Peer(), nullptr);
    EXPECT_EQ(CountOf(*Source, Table, opRemove), 1);
    // The link is gone on both sides: freeing the referrer later touches
    // nothing that was freed (ASan would see it).
    delete Source;
}

TEST(Component, FreeNotificationWorksBothWaysAndCanBeRemoved) {
    auto* X = new TRecorder(nullptr);
    auto* Y = new TRecorder(nullptr);
    auto* Z = new TRecorder(nullptr);
    X->SetPeer(Y);
    Z->SetPeer(Y);
    Y->RemoveFreeNotification(Z);
    delete X;  // the referrer goes first: Y must not call it later
    EXPECT_EQ(CountOf(*Y, X, opRemove), 1);
    delete Y;
    EXPECT_EQ(Z->Peer(), Y);  // unlinked: not told
    EXPECT_EQ(CountOf(*Z, Y, opRemove), 0);
    delete Z;
}

TEST(Component, SiblingsLearnOfARemovalThroughTheOwner) {
    TComponent Owner(nullptr);
    auto* Table = new TRecorder(&Owner);
    auto* Source = new TRecorder(&Owner);
    Source->SetPeer(Table);  // same owner: no direct link needed
    delete Table;
    EXPECT_EQ(Source->Peer(), nullptr);
    EXPECT_EQ(CountOf(*Source, Table, opRemove), 1);
}

TEST(Component, ClassNamesAndAssign) {
    TComponent C(nullptr);
    TRecorder R(nullptr);
    TStringList L;
    EXPECT_EQ(C.ClassName(), "TComponent");
    EXPECT_EQ(R.ClassName(), "TRecorder");
    EXPECT_EQ(L.ClassName(), "TStringList");
    ExpectRaise<EConvertError>([&] { L.Assign(&C); }, "Cannot assign a TComponent to a TStringList");
    ExpectRaise<EConvertError>([&] { L.Assign(nullptr); }, "Cannot assign a nil to a TStringList");
    ExpectRaise<EConvertError>([&] { C.Assign(&L); }, "Cannot assign a TStringList to a TComponent");
}

TEST(ComponentRegistry, HostReceivesRegistrationsAndCreatesByName) {
    std::vector<std::string> Seen;
    auto Previous = rtl::SetRegisterComponentsProc([&](const std::string& Page, const std::vector<TComponentClass>& C) {
        for (const auto& K : C) Seen.push_back(Page + "/" + K.ClassName);
    });
    TPropInfo NameProp{"Name", "string", [](TComponent* C) { return C->Name(); },
                       [](TComponent* C, const std::string& V) { C->SetName(V); }};
    RegisterComponents("Data Access", {ComponentClassOf<TRecorder>("TRecorderTest", {NameProp})});
    RegisterComponents("Servers", {ComponentClassOf<TComponent>("TPlainTest"), ComponentClassOf<TRecorder>("TOtherTest")});
    EXPECT_EQ(Seen, (std::vector<std::string>{"Data Access/TRecorderTest", "Servers/TPlainTest", "Servers/TOtherTest"}));

    auto Class = rtl::FindComponentClass("trecordertest");
    ASSERT_TRUE(Class.has_value());
    TComponent Owner(nullptr);
    TComponent* Made = Class->Create(&Owner);
    EXPECT_EQ(Made->Owner(), &Owner);
    EXPECT_EQ(Made->ClassName(), "TRecorder");
    ASSERT_EQ(Class->Properties.size(), 1u);
    Class->Properties[0].Set(Made, "MoneyTable1");
    EXPECT_EQ(Class->Properties[0].Get(Made), "MoneyTable1");

    const auto All = rtl::RegisteredComponentClasses();
    const auto It = std::find_if(All.begin(), All.end(), [](auto& E) { return E.Class.ClassName == "TOtherTest"; });
    ASSERT_NE(It, All.end());
    EXPECT_EQ(It->Page, "Servers");

    ExpectRaise<EComponentError>([] { RegisterComponents("X", {TComponentClass{"", nullptr, {}}}); },
                                 "Invalid component registration");
    EXPECT_TRUE(rtl::UnregisterComponentClass("TPlainTest"));
    EXPECT_FALSE(rtl::UnregisterComponentClass("TPlainTest"));
    EXPECT_FALSE(rtl::FindComponentClass("TPlainTest").has_value());
    rtl::UnregisterComponentClass("TRecorderTest");
    rtl::UnregisterComponentClass("TOtherTest");
    rtl::SetRegisterComponentsProc(std::move(Previous));
}

// ---------------------------------------------------------------------------
// TStringList
// ---------------------------------------------------------------------------

TEST(StringList, AddInsertDeleteAndObjects) {
    TStringList L;
    TComponent Obj(nullptr);
    EXPECT_EQ(L.Add("b"), 0);
    EXPECT_EQ(L.AddObject("c", &Obj), 1);
    L.Insert(0, "a");
    ASSERT_EQ(L.Count(), 3);
    EXPECT_EQ(L[0], "a");
    EXPECT_EQ(L.Strings(2), "c");
    EXPECT_EQ(L.Objects(2), &Obj);
    EXPECT_EQ(L.IndexOfObject(&Obj), 2);
    L.Put(2, "C");
    EXPECT_EQ(L.Objects(2), &Obj);  // replacing the text keeps the object
    L.Delete(1);
    EXPECT_EQ(L.Text(), "a\nC\n");
    EXPECT_EQ(L.IndexOf("c"), 1);
    EXPECT_EQ(L.IndexOf("x"), -1);
    L.SetCaseSensitive(true);
    EXPECT_EQ(L.IndexOf("c"), -1);
    L.Move(1, 0);
    EXPECT_EQ(L.Text(), "C\na\n");
    L.Exchange(0, 1);
    EXPECT_EQ(L.Text(), "a\nC\n");
    EXPECT_EQ(L.Objects(1), &Obj);
    ExpectRaise<EStringListError>([&] { L.Get(2); }, "List index out of bounds (2)");
    ExpectRaise<EStringListError>([&] { L.Delete(-1); }, "List index out of bounds (-1)");
    ExpectRaise<EStringListError>([&] { L.Insert(5, "x"); }, "List index out of bounds (5)");
    L.Clear();
    EXPECT_EQ(L.Count(), 0);
}

TEST(StringList, SortedListsAndDuplicates) {
    TStringList L;
    L.SetSorted(true);
    for (const char* S : {"pear", "Apple", "fig", "apple"}) L.Add(S);
    EXPECT_EQ(L.Text(), "Apple\nfig\npear\n");  // dupIgnore: "apple" equals "Apple"
    EXPECT_EQ(L.Add("APPLE"), 0);
    EXPECT_EQ(L.Count(), 3);
    int Index = -1;
    EXPECT_TRUE(L.Find("FIG", Index));
    EXPECT_EQ(Index, 1);
    EXPECT_FALSE(L.Find("grape", Index));
    EXPECT_EQ(Index, 2);
    EXPECT_EQ(L.IndexOf("PEAR"), 2);
    ExpectRaise<EStringListError>([&] { L.Insert(0, "x"); }, "Operation not allowed on sorted list");
    L.SetDuplicates(dupError);
    ExpectRaise<EStringListError>([&] { L.Add("Fig"); }, "String list does not allow duplicates");
    L.SetDuplicates(dupAccept);
    L.Add("Fig");
    EXPECT_EQ(L.Count(), 4);
    EXPECT_TRUE(SameText(L[1], "fig") && SameText(L[2], "fig"));
    TStringList U;
    U.Add("b");
    U.Add("a");
    U.Add("C");
    U.SetSorted(true);  // sorting an existing list
    EXPECT_EQ(U.Text(), "a\nb\nC\n");
}

TEST(StringList, TextCommaAndDelimitedForms) {
    TStringList L;
    L.SetText("a\r\nb\rc\n\nd");
    EXPECT_EQ(L.Count(), 5);
    EXPECT_EQ(L[3], "");
    EXPECT_EQ(L.Text(), "a\nb\nc\n\nd\n");
    L.SetText("x\n");
    EXPECT_EQ(L.Count(), 1);  // a final line break adds no line

    L.SetCommaText("a, \"b c\",,\"d\"\"e\"");
    ASSERT_EQ(L.Count(), 4);
    EXPECT_EQ(L[1], "b c");
    EXPECT_EQ(L[2], "");
    EXPECT_EQ(L[3], "d\"e");
    EXPECT_EQ(L.CommaText(), "a,\"b c\",,\"d\"\"e\"");
    L.SetCommaText("x y");
    EXPECT_EQ(L.Count(), 2);  // blanks separate as well, outside quotes
    L.SetCommaText("a,");
    EXPECT_EQ(L.Count(), 2);

    L.SetDelimiter(';');
    L.SetStrictDelimiter(true);
    L.SetDelimitedText("a b;c;");
    ASSERT_EQ(L.Count(), 3);
    EXPECT_EQ(L[0], "a b");
    EXPECT_EQ(L.DelimitedText(), "a b;c;");
    EXPECT_EQ(L.CommaText(), "\"a b\",c,");  // the comma form does not change the settings
    EXPECT_EQ(L.Delimiter(), ';');

    L.SetText("Name=Smith\nCity=Prague");
    EXPECT_EQ(L.Values("city"), "Prague");
    EXPECT_EQ(L.Names(0), "Name");
    L.SetValue("City", "Brno");
    L.SetValue("Zip", "60200");
    EXPECT_EQ(L.Text(), "Name=Smith\nCity=Brno\nZip=60200\n");
    L.SetValue("Name", "");
    EXPECT_EQ(L.IndexOfName("Name"), -1);
}

TEST(StringList, ChangeEventsAndUpdates) {
    TStringList L;
    int Changes = 0, Changings = 0, CountAtChanging = -1;
    L.OnChange = [&](TObject* Sender) {
        EXPECT_EQ(Sender, &L);
        ++Changes;
    };
    L.OnChanging = [&](TObject*) {
        ++Changings;
        CountAtChanging = L.Count();
    };
    L.Add("a");
    EXPECT_EQ(Changes, 1);
    EXPECT_EQ(Changings, 1);
    EXPECT_EQ(CountAtChanging, 0);  // before the change
    L.BeginUpdate();
    L.Add("b");
    L.BeginUpdate();
    L.Add("c");
    L.EndUpdate();
    L.Delete(0);
    EXPECT_EQ(Changes, 1);
    L.EndUpdate();
    EXPECT_EQ(Changes, 2);  // once for the whole update
    L.BeginUpdate();
    L.EndUpdate();
    EXPECT_EQ(Changes, 2);  // nothing changed: no event
    L.SetText("x\ny\nz");
    EXPECT_EQ(Changes, 3);
    L.EndUpdate();  // unbalanced: ignored
    EXPECT_EQ(L.UpdateCount(), 0);
}

TEST(StringList, AssignAndFiles) {
    TStringList A;
    TComponent Obj(nullptr);
    A.AddObject("one", &Obj);
    A.Add("t\xC3\xA4o");
    TStringList B;
    B.Add("old");
    B.Assign(&A);
    EXPECT_TRUE(B.Equals(A));
    EXPECT_EQ(B.Objects(0), &Obj);
    TStringList Copy = A;
    EXPECT_TRUE(Copy.Equals(A));

    char Dir[] = "/tmp/rtl_strings_XXXXXX";
    ASSERT_NE(mkdtemp(Dir), nullptr);
    const std::string Path = std::string(Dir) + "/lines.txt";
    A.SaveToFile(Path);
    TStringList C;
    C.LoadFromFile(Path);
    EXPECT_TRUE(C.Equals(A));
    {
        TFileStream F(Path, fmCreate);
        F.WriteString("\xEF\xBB\xBFwith bom\r\nsecond");
    }
    C.LoadFromFile(Path);
    EXPECT_EQ(C.Text(), "with bom\nsecond\n");
    const std::string Missing = std::string(Dir) + "/missing.txt";
    ExpectRaise<EFOpenError>([&] { C.LoadFromFile(Missing); }, "Cannot open file " + Missing);
    EXPECT_EQ(C.Count(), 2);  // unchanged by the failed load
    std::remove(Path.c_str());
    rmdir(Dir);
}

}  // namespace
