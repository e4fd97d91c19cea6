// The browser's record commands without the window: search patterns and the
// search walk, "Count field" and "Fill field in records", the range and
// filter of "Filter active" and the About text - on real table files made
// with the engine's schema API.
#include "browser/RecordCommands.h"

#include "engine/Engine.h"
#include "moneytable/Tamblor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

using namespace browser;

namespace {

template <class E, class F>
void ExpectError(F&& Action, const std::string& Message) {
    try {
        Action();
        ADD_FAILURE() << "expected an error: " << Message;
    } catch (const E& Error) {
        EXPECT_EQ(Error.Message(), Message);
    } catch (const std::exception& Error) {
        ADD_FAILURE() << "wrong error class: " << Error.what();
    }
}

// A folder under $TMPDIR, removed with its files.
class TTempDir {
public:
    TTempDir() {
        const char* Base = std::getenv("TMPDIR");
        std::string Template = std::string(Base && *Base ? Base : "/tmp") + "/tamblor-cmd-XXXXXX";
        if (::mkdtemp(Template.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        FPath = Template;
    }
    ~TTempDir() {
        std::error_code Ignored;
        std::filesystem::remove_all(FPath, Ignored);
    }
    std::string File(const std::string& Name) const { return FPath + "/" + Name; }

private:
    std::string FPath;
};

engine::ColumnSpec Column(const std::string& Name, char Type, int Size = 0) {
    engine::ColumnSpec C;
    C.Name = Name;
    C.Type = Type;
    C.Size = Size;
    return C;
}

// Scripted input boxes: each call takes the next answer (nullopt = Cancel)
// and records caption, prompt and preset.
struct TScriptedInput {
    std::vector<std::optional<std::string>> Answers;
    std::vector<std::string> Asked;  // "caption|prompt|preset"
    TInputQuery Query() {
        return [this](const std::string& Caption, const std::string& Prompt, std::string& Value) {
            Asked.push_back(Caption + "|" + Prompt + "|" + Value);
            if (Asked.size() > Answers.size() || !Answers[Asked.size() - 1]) return false;
            Value = *Answers[Asked.size() - 1];
            return true;
        };
    }
};

class RecordCommands : public ::testing::Test {
protected:
    static void SetUpTestSuite() { engine::RegisterEngineServer(); }

    // Table PEOPLE: Name C 30, Code C 20, Num L; index 0 on Name, index 1 on
    // Num. One row per name, Num = its position (1-based).
    void MakeTable(const std::vector<std::string>& Names) {
        engine::TableSchema Schema;
        Schema.Columns = {Column("Name", 'C', 30), Column("Code", 'C', 20), Column("Num", 'L')};
        Schema.Indexes = {engine::IndexSpec{{0}, false}, engine::IndexSpec{{2}, false}};
        engine::CreateTable(Path, Schema);
        engine::BulkInserter Rows(Path);
        int N = 0;
        for (const std::string& Name : Names)
            Rows.Add({engine::Value::Text(Name), engine::Value::Null(), engine::Value::Int(++N)});
        Rows.Commit();
    }
    void Open(bool ReadOnly = false) {
        T.SetFileName(Path);
        T.SetReadOnly(ReadOnly);
        T.Open();
    }
    // Column values of the file in record-number order, read by a second
    // table object (what another user would see).
    std::vector<std::string> FileColumn(const std::string& Name) {
        TMoneyTable Reader(nullptr);
        Reader.SetFileName(Path);
        Reader.Open();
        std::vector<std::string> Values;
        for (Reader.First(); !Reader.Eof(); Reader.Next()) Values.push_back(Reader.FieldByName(Name)->AsString());
        Reader.Close();
        return Values;
    }
    std::string Current(const char* Name = "Name") { return T.FieldByName(Name)->AsString(); }

    TRecordCommandHooks Hooks(const char* FieldName = "Name") {
        TRecordCommandHooks H;
        H.SelectedField = [this, FieldName]() -> TField* { return FieldName ? T.FindField(FieldName) : nullptr; };
        H.ProcessMessages = [this] {
            ++Messages;
            if (OnMessages) OnMessages();
        };
        H.InputQuery = Input.Query();
        H.SetBusy = [this](bool Busy) { BusyCalls.push_back(Busy); };
        return H;
    }

    // Runs one find-next press with the window's state of this fixture.
    void Find(const std::string& Text, bool MatchCase = false, bool Down = true, const char* FieldName = "Name") {
        FindDialogFindStep(&T, Text, MatchCase, Down, FStop, FFound, FSearching, Hooks(FieldName));
    }

    TTempDir Dir;
    std::string Path = Dir.File("PEOPLE.dat");
    TMoneyTable T{nullptr};
    TScriptedInput Input;
    int Messages = 0;
    std::function<void()> OnMessages;
    std::vector<bool> BusyCalls;
    bool FStop = false;
    bool FFound = false;
    unsigned FSearching = 0;
};

// ================================================================ patterns

TEST(SearchPattern, UpperCaseTrimmingQuotesAndStars) {
    // Upper case with full Unicode mapping, unless the case is to match.
    EXPECT_EQ(LocaleUpperCase("smith \xC3\xA9t\xC3\xA9"), "SMITH \xC3\x89T\xC3\x89");  // été
    EXPECT_EQ(LocaleUpperCase("stra\xC3\x9F" "e"), "STRASSE");                         // straße
    TSearchPattern P = MakeSearchPattern("  smith  ", false);
    EXPECT_EQ(P.Text, "SMITH");
    EXPECT_FALSE(P.Quoted || P.AnyStart || P.AnyEnd);
    EXPECT_EQ(MakeSearchPattern("smith", true).Text, "smith");
    // Quotes are removed after trimming; inside them a star is a character.
    P = MakeSearchPattern(" \"a*b\" ", false);
    EXPECT_TRUE(P.Quoted);
    EXPECT_EQ(P.Text, "A*B");
    // The leading star goes first, then the trailing one.
    P = MakeSearchPattern("*ith*", false);
    EXPECT_TRUE(P.AnyStart && P.AnyEnd);
    EXPECT_EQ(P.Text, "ITH");
    P = MakeSearchPattern("* x", false);
    EXPECT_TRUE(P.AnyStart && !P.AnyEnd);
    EXPECT_EQ(P.Text, " X");
    // A lone quote is no quoted pattern.
    P = MakeSearchPattern("\"", false);
    EXPECT_FALSE(P.Quoted);
    EXPECT_EQ(P.Text, "\"");
    // Nothing to compare: ignored; an empty quoted pattern compares exactly.
    for (const char* Empty : {"", "   ", "*", "**", " * "}) EXPECT_FALSE(MakeSearchPattern(Empty, false).Usable()) << Empty;
    EXPECT_TRUE(MakeSearchPattern("\"\"", false).Usable());
    EXPECT_TRUE(MatchesSearchPattern(MakeSearchPattern("\"\"", false), ""));
    EXPECT_FALSE(MatchesSearchPattern(MakeSearchPattern("\"\"", false), " "));
}

TEST(SearchPattern, TheFourTests) {
    auto Matches = [](const char* Pattern, const char* Text, bool MatchCase = false) {
        return MatchesSearchPattern(MakeSearchPattern(Pattern, MatchCase), Text);
    };
    EXPECT_TRUE(Matches("smith", "SMITH"));
    EXPECT_FALSE(Matches("smith", "SMITH", true));
    EXPECT_TRUE(Matches("SMITH", "SMITH", true));
    EXPECT_FALSE(Matches("smith", "Smithson"));
    EXPECT_TRUE(Matches("smi*", "Smithson"));
    EXPECT_TRUE(Matches("*son", "Smithson"));
    EXPECT_TRUE(Matches("*ith*", "Smithson"));
    EXPECT_FALSE(Matches("*ith", "Smithson"));
    EXPECT_FALSE(Matches("ith*", "Smithson"));
    EXPECT_FALSE(Matches("smithsons*", "Smithson"));
    // Quoted: exact, the star included.
    EXPECT_TRUE(Matches("\"a*b\"", "a*b"));
    EXPECT_FALSE(Matches("\"a*b\"", "axb"));
    EXPECT_FALSE(Matches("\"a*b\"", "a*bc"));
    // A leading star compares right-aligned, blanks in front of a short text.
    EXPECT_TRUE(Matches("* x", "x"));
    EXPECT_TRUE(Matches("* x", "a x"));
    EXPECT_FALSE(Matches("* x", "ax"));
    // The text is not trimmed: trailing blanks make it differ.
    EXPECT_FALSE(Matches("brown", "Brown  "));
    EXPECT_TRUE(Matches("brown*", "Brown  "));
    // Non-ASCII texts compare by characters, case mapped.
    EXPECT_TRUE(Matches("*\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89"));
    EXPECT_TRUE(Matches("stra\xC3\x9F" "e", "STRASSE"));
}

// ================================================================ search walk

TEST_F(RecordCommands, SearchFindsWithoutMatchCaseAndNotWithIt) {
    MakeTable({"Adams", "SMITH", "Jones"});
    Open();
    Find("smith");
    EXPECT_TRUE(FFound);
    EXPECT_EQ(T.RecNo(), 2);
    EXPECT_EQ(Messages, 2);  // one per record tested
    EXPECT_EQ(FSearching, 0u);
    // With match case the search runs to the end and stays on the last
    // record, which a further press tests once more.
    T.First();
    FFound = false;
    Messages = 0;
    Find("smith", true);
    EXPECT_FALSE(FFound);
    EXPECT_EQ(T.RecNo(), 3);
    EXPECT_TRUE(T.Eof());
    Messages = 0;
    Find("smith", true);
    EXPECT_EQ(Messages, 1);
    EXPECT_EQ(T.RecNo(), 3);
}

TEST_F(RecordCommands, SearchStarsQuotesAndRightAlignment) {
    MakeTable({"Adams", "a*b", "axb", "Smithson", "x", "Brown  "});
    Open();
    struct {
        const char* Pattern;
        int RecNo;
    } Cases[] = {{"smi*", 4}, {"*son", 4}, {"*ith*", 4}, {"\"a*b\"", 2}, {"a*", 1}, {"* x", 5}, {"*b", 2}};
    for (const auto& C : Cases) {
        T.First();
        FFound = false;
        Find(C.Pattern);
        EXPECT_TRUE(FFound) << C.Pattern;
        EXPECT_EQ(T.RecNo(), C.RecNo) << C.Pattern;
    }
    // Trailing blanks of the field text are kept: "brown" does not match.
    T.First();
    FFound = false;
    Find("brown");
    EXPECT_FALSE(FFound);
    EXPECT_EQ(Current(), "Brown  ");
}

TEST_F(RecordCommands, FindNextAfterAHitMovesOnAndUpSearchStopsAtTheFirstRecord) {
    MakeTable({"Smith", "Jones", "Smithers", "Smithson", "Adams"});
    Open();
    // After "Search..." (FFound cleared) the current record is tested first.
    Find("smith*");
    EXPECT_EQ(T.RecNo(), 1);
    Find("smith*");
    EXPECT_EQ(T.RecNo(), 3);
    Find("smith*");
    EXPECT_EQ(T.RecNo(), 4);
    // Upwards from there.
    Find("smith*", false, false);
    EXPECT_EQ(T.RecNo(), 3);
    Find("smith*", false, false);
    EXPECT_EQ(T.RecNo(), 1);
    // Up from the first record: it is tested once and the search stops.
    T.First();
    FFound = false;
    Messages = 0;
    Find("jones", false, false);
    EXPECT_FALSE(FFound);
    EXPECT_EQ(T.RecNo(), 1);
    EXPECT_EQ(Messages, 1);
}

TEST_F(RecordCommands, SearchIsStoppedByASecondPressOrEsc) {
    std::vector<std::string> Names(50, "nobody");
    Names.push_back("target");
    MakeTable(Names);
    Open();
    // A second press arrives through the message processing of the first:
    // it only sets FStop, and the first search ends after that record.
    OnMessages = [this] {
        if (Messages == 5) Find("target");
    };
    Find("target");
    EXPECT_FALSE(FFound);
    EXPECT_EQ(T.RecNo(), 5);
    EXPECT_EQ(Messages, 5);
    EXPECT_EQ(FSearching, 0u);
    // Esc (FStop) likewise; the next press clears it and searches on.
    OnMessages = [this] {
        if (Messages == 8) FStop = true;
    };
    Find("target");  // records 5 (tested again), 6 and 7
    EXPECT_EQ(T.RecNo(), 7);
    OnMessages = nullptr;
    Find("target");
    EXPECT_TRUE(FFound);
    EXPECT_EQ(T.RecNo(), 51);
}

TEST_F(RecordCommands, SearchWithoutPatternFieldOrTable) {
    MakeTable({"Adams", "Brown"});
    // A closed table: the framework's error, nothing else changes.
    ExpectError<EDatabaseError>([&] { Find("x"); }, "Cannot perform this operation on a closed dataset");
    EXPECT_EQ(FSearching, 0u);
    Open();
    FFound = true;
    for (const char* Empty : {"", "  ", "*"}) {
        Find(Empty);
        EXPECT_EQ(T.RecNo(), 1) << Empty;
        EXPECT_TRUE(FFound);
    }
    Find("brown", false, true, nullptr);  // all fields hidden
    EXPECT_EQ(T.RecNo(), 1);
    EXPECT_EQ(Messages, 0);
    // The table closed by a command run from the message processing: the
    // search ends there (the closed table is at its end) and releases
    // FSearching; the next press reports the closed table.
    OnMessages = [this] { T.Close(); };
    FFound = false;
    Find("brown");
    EXPECT_FALSE(FFound);
    EXPECT_EQ(FSearching, 0u);
    OnMessages = nullptr;
    ExpectError<EDatabaseError>([&] { Find("brown"); }, "Cannot perform this operation on a closed dataset");
}

// ================================================================ count and fill

TEST_F(RecordCommands, CountFieldPromptsAndWritesFromTheCurrentRecord) {
    MakeTable({"a", "b", "c", "d", "e", "f"});
    Open();
    T.Next();  // record 2
    Input.Answers = {"INV-%d", "100", "10", "3"};
    EXPECT_EQ(CountField(&T, FStop, Hooks("Code")), 3);
    EXPECT_EQ(Input.Asked, (std::vector<std::string>{
                               "Input|Counting mask (Format procedure mask with one %d parameter)|%d",
                               "Input|Start number|1", "Input|Increment|1", "Input|Count (-1..infinity)|0"}));
    EXPECT_EQ(T.RecNo(), 5);
    EXPECT_EQ(T.State(), dsBrowse);
    EXPECT_EQ(Messages, 3);
    EXPECT_EQ(FileColumn("Code"), (std::vector<std::string>{"", "INV-100", "INV-110", "INV-120", "", ""}));
    // Count -1 runs to the end; a negative increment counts down.
    T.First();
    Input = {};
    Input.Answers = {"%.3d", "2", "-1", "-1"};
    EXPECT_EQ(CountField(&T, FStop, Hooks("Code")), 6);
    EXPECT_TRUE(T.Eof());
    EXPECT_EQ(FileColumn("Code"), (std::vector<std::string>{"002", "001", "000", "-001", "-002", "-003"}));
    // Count 0 (the preset) writes nothing.
    T.First();
    Input = {};
    Input.Answers = {"X%d", "1", "1", "0"};
    EXPECT_EQ(CountField(&T, FStop, Hooks("Code")), 0);
    EXPECT_EQ(T.RecNo(), 1);
    EXPECT_EQ(FileColumn("Code")[0], "002");
}

TEST_F(RecordCommands, CountFieldRefusesBadNumbersAndCancelBeforeWriting) {
    MakeTable({"a", "b"});
    Open();
    Input.Answers = {"%d", "1", "one"};
    ExpectError<EConvertError>([&] { CountField(&T, FStop, Hooks("Code")); }, "'one' is not a valid integer value");
    EXPECT_EQ(Input.Asked.size(), 3u);  // the count was never asked
    Input = {};
    Input.Answers = {"%d", "1", "1", std::nullopt};
    EXPECT_EQ(CountField(&T, FStop, Hooks("Code")), 0);
    EXPECT_EQ(FileColumn("Code"), (std::vector<std::string>{"", ""}));
    EXPECT_EQ(T.State(), dsBrowse);
    // Without a selected field nothing is written.
    Input = {};
    Input.Answers = {"%d", "1", "1", "-1"};
    EXPECT_EQ(CountField(&T, FStop, Hooks(nullptr)), 0);
    EXPECT_EQ(T.RecNo(), 1);
}

TEST_F(RecordCommands, CountFieldBadMaskLeavesTheRecordInEdit) {
    MakeTable({"a", "b"});
    Open();
    T.Next();
    ExpectError<EConvertError>([&] { CountFieldWalk(&T, {"No. %s", 1, 1, -1}, FStop, Hooks("Code")); },
                               "Format 'No. %s' invalid or incompatible with argument");
    EXPECT_EQ(T.State(), dsEdit);
    EXPECT_EQ(T.RecNo(), 2);
    EXPECT_EQ(Current("Code"), "");
    T.Cancel();
    ExpectError<EConvertError>([&] { CountFieldWalk(&T, {"%d-%d", 1, 1, -1}, FStop, Hooks("Code")); },
                               "No argument for format '%d-%d'");
    T.Cancel();
    EXPECT_EQ(FileColumn("Code"), (std::vector<std::string>{"", ""}));
}

TEST_F(RecordCommands, WalksOnAReadOnlyTableEndWithTheFrameworksError) {
    MakeTable({"a", "b"});
    Open(true);
    ExpectError<EDatabaseError>([&] { CountFieldWalk(&T, {"%d", 1, 1, -1}, FStop, Hooks("Code")); },
                                "Cannot modify a read-only dataset");
    // Fill: the grid and the memo are enabled again however the walk ends.
    ExpectError<EDatabaseError>([&] { FillFieldWalk(&T, {"x", -1}, FStop, Hooks("Code")); },
                                "Cannot modify a read-only dataset");
    EXPECT_EQ(BusyCalls, (std::vector<bool>{true, false}));
    EXPECT_EQ(T.State(), dsBrowse);
    T.Close();
    EXPECT_EQ(FileColumn("Code"), (std::vector<std::string>{"", ""}));
    // A closed table: the framework's error before any prompt.
    ExpectError<EDatabaseError>([&] { CountField(&T, FStop, Hooks("Code")); },
                                "Cannot perform this operation on a closed dataset");
    ExpectError<EDatabaseError>([&] { FillFieldInRecords(&T, FStop, Hooks("Code")); },
                                "Cannot perform this operation on a closed dataset");
    EXPECT_TRUE(Input.Asked.empty());
}

TEST_F(RecordCommands, FillFieldWritesTheTextAndEscStopsALongFill) {
    MakeTable(std::vector<std::string>(300, "n"));
    Open();
    Input.Answers = {"filled", "2"};
    EXPECT_EQ(FillFieldInRecords(&T, FStop, Hooks("Code")), 2);
    EXPECT_EQ(Input.Asked, (std::vector<std::string>{"Input|String|", "Input|Count (-1..infinity)|0"}));
    EXPECT_EQ(BusyCalls, (std::vector<bool>{true, false}));
    EXPECT_EQ(T.RecNo(), 3);
    // Esc during the walk stops it after the current record; a stale FStop
    // from before does not stop the next walk.
    FStop = true;
    OnMessages = [this] {
        if (Messages == 40) FStop = true;
    };
    Messages = 0;
    EXPECT_EQ(FillFieldWalk(&T, {"esc", -1}, FStop, Hooks("Code")), 40);
    EXPECT_EQ(T.RecNo(), 43);
    const std::vector<std::string> Codes = FileColumn("Code");
    EXPECT_EQ(Codes[0], "filled");
    EXPECT_EQ(Codes[2], "esc");
    EXPECT_EQ(Codes[41], "esc");
    EXPECT_EQ(Codes[42], "");
    EXPECT_EQ(std::count(Codes.begin(), Codes.end(), "esc"), 40);
    // A bad count: the conversion error, nothing written, busy untouched.
    BusyCalls.clear();
    Input = {};
    Input.Answers = {"z", "1.5"};
    ExpectError<EConvertError>([&] { FillFieldInRecords(&T, FStop, Hooks("Code")); }, "'1.5' is not a valid integer value");
    EXPECT_TRUE(BusyCalls.empty());
}

// ================================================================ range and filter

TEST_F(RecordCommands, FilterActiveAppliesAndLiftsRangeAndFilter) {
    MakeTable({"Adams", "Brown", "Clark", "Davis", "Evans", ""});
    T.SetIndexFieldNames("Name");
    Open();
    auto Names = [this] {
        std::vector<std::string> R;
        for (T.First(); !T.Eof(); T.Next()) R.push_back(Current());
        return R;
    };
    ApplyFilterActive(&T, true, "B", "D");
    EXPECT_EQ(T.State(), dsBrowse);
    EXPECT_FALSE(T.Filtered());  // no filter text
    EXPECT_EQ(Names(), (std::vector<std::string>{"Brown", "Clark"}));
    // With a filter text both are in force.
    T.SetFilter("Num <> 3");
    ApplyFilterActive(&T, true, "B", "Davis");
    EXPECT_TRUE(T.Filtered());
    EXPECT_EQ(Names(), (std::vector<std::string>{"Brown", "Davis"}));
    // Unchecking lifts both, whatever the filter text.
    ApplyFilterActive(&T, false, "B", "Davis");
    EXPECT_FALSE(T.Filtered());
    EXPECT_EQ(Names().size(), 6u);
    // Empty range texts: the first key field is the empty string.
    T.SetFilter("");
    ApplyFilterActive(&T, true, "", "");
    EXPECT_EQ(Names(), (std::vector<std::string>{""}));
    ApplyFilterActive(&T, false, "", "");
    EXPECT_EQ(Names().size(), 6u);
}

TEST_F(RecordCommands, FilterActiveLeavesTheKeyStateWhenTheKeyIsBad) {
    MakeTable({"a", "b", "c"});
    T.SetIndexFieldNames("Num");
    Open();
    ExpectError<EDatabaseError>([&] { ApplyFilterActive(&T, true, "2", "two"); },
                                "'two' is not a valid integer value for field 'Num'");
    EXPECT_EQ(T.State(), dsBrowse);
    // The start bound was stored before the end failed.
    const int StartCount = T.GetMKeyBuffer(T.KeyBuffers(mkiRangeStart))->FieldCount;  // a packed member
    EXPECT_EQ(StartCount, 1);
    // A closed table: the framework's error, no key state entered.
    T.Close();
    ExpectError<EDatabaseError>([&] { ApplyFilterActive(&T, true, "1", "2"); },
                                "Cannot perform this operation on a closed dataset");
    EXPECT_EQ(T.State(), dsInactive);
}

TEST_F(RecordCommands, SetFilterAndRangePrompts) {
    MakeTable({"a"});
    Open();
    T.SetFilter("Num > 1");
    Input.Answers = {"Num > 2", std::nullopt};
    EXPECT_TRUE(AskFilterText(&T, Input.Query()));
    EXPECT_EQ(T.Filter(), "Num > 2");
    EXPECT_FALSE(T.Filtered());  // whether it is in force is not changed
    EXPECT_FALSE(AskFilterText(&T, Input.Query()));
    EXPECT_EQ(T.Filter(), "Num > 2");
    Input = {};
    Input.Answers = {"B|x", std::nullopt};
    std::string Text = "A";
    EXPECT_TRUE(AskRangeText(Input.Query(), SRangeStart, Text));
    EXPECT_EQ(Text, "B|x");
    EXPECT_FALSE(AskRangeText(Input.Query(), SRangeEnd, Text));
    EXPECT_EQ(Text, "B|x");
    EXPECT_EQ(Input.Asked, (std::vector<std::string>{"Input|Range start|A", "Input|Range end|B|x"}));
}

// ================================================================ About

TEST(AboutBox, FourLinesNamingProgramVersionAndReporting) {
    const std::string Text = AboutText();
    std::vector<std::string> Lines;
    std::size_t Start = 0;
    for (std::size_t End; (End = Text.find("\r\n", Start)) != std::string::npos; Start = End + 2)
        Lines.push_back(Text.substr(Start, End - Start));
    Lines.push_back(Text.substr(Start));
    ASSERT_EQ(Lines.size(), 4u);
    EXPECT_NE(Lines[0].find("Tallowmere"), std::string::npos);
    EXPECT_NE(Lines[1].find("version 1."), std::string::npos);
    EXPECT_NE(Text.find("README"), std::string::npos);
    for (const std::string& Line : Lines) EXPECT_EQ(Line.find_first_of("\r\n"), std::string::npos) << Line;
}

}  // namespace
