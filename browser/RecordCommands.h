// Record commands of the browser window, without the window: the search
// through the grid's current column, the two walks that write into it
// ("Count field", "Fill field in records"), the key range and filter of
// "Filter active", "Range start", "Range end" and "Set filter", and the
// About text.
//
// The window (TTamblorBrowserForm) owns the state these commands use - FStop,
// FFound, FSearching, FRangeStartText, FRangeEndText - and hands it in by
// reference together with what only it can supply: the grid's selected
// field, the input box, the processing of pending window messages and the
// disabling of grid and memo (TRecordCommandHooks). Everything here can
// therefore run, and be tested, without a window.
//
// Errors are exceptions and propagate to the caller, which shows them in the
// application's error box; what each command leaves behind on an error is
// documented at the command.
//
// Ownership: nothing here keeps a pointer beyond the call; the dataset, the
// fields and the hooks must outlive the call. Results are values.
// Threads: the GUI thread only (the dataset's thread); the hooks run on it.
// Re-entrance: ProcessMessages may run other commands of the window, among
// them another find-next press (guarded by FSearching) and Esc (FStop).
#pragma once

#include <functional>
#include <optional>
#include <string>

class TDataSet;
class TField;
class TMoneyTable;

namespace browser {

// ------------------------------------------------------------------ hooks

// Asks for one value: an input box with Caption, one line of Prompt and an
// edit field preset with Value; true and the value typed in Value on OK,
// false (Value unchanged) on Cancel.
using TInputQuery = std::function<bool(const std::string& Caption, const std::string& Prompt, std::string& Value)>;

// What the commands need of their window. Every hook may be empty, which
// means: SelectedField none, InputQuery cancelled, the others nothing.
struct TRecordCommandHooks {
    // The field of the grid's current column, nullptr when the grid has none.
    // Asked again for every record, so that a walk never keeps a field that
    // the message processing may have hidden or freed.
    std::function<TField*()> SelectedField;
    TInputQuery InputQuery;
    // A walk (a search, "Count field", "Fill field in records") begins:
    // BeginWalk with what it does (SSearching, SCounting, SFilling); EndWalk
    // however it ends. Between them ProcessMessages runs once for every
    // record visited. A walk started from within ProcessMessages nests.
    std::function<void(const char* What)> BeginWalk;
    std::function<void()> EndWalk;
    // One more record visited: processes pending window messages (Esc,
    // further menu commands, a second find-next press).
    std::function<void()> ProcessMessages;
    // Disables (true) or enables (false) the grid and the memo pane.
    std::function<void(bool)> SetBusy;
};

// What each walk tells BeginWalk.
inline constexpr const char* SSearching = "Searching";
inline constexpr const char* SCounting = "Counting";
inline constexpr const char* SFilling = "Filling";

// Caption of every prompt of the record commands.
inline constexpr const char* SInputCaption = "Input";

// ------------------------------------------------------------------ search

// Upper case with full Unicode case mapping (the program's locale-independent
// character tables): "straße" becomes "STRASSE". UTF-8 in and out.
std::string LocaleUpperCase(const std::string& S);

// A search pattern built from the find dialog's text.
struct TSearchPattern {
    std::string Text;        // what is compared (upper case unless MatchCase)
    bool Quoted = false;     // enclosed in double quotes: compared exactly
    bool AnyStart = false;   // a leading '*' was removed: any beginning
    bool AnyEnd = false;     // a trailing '*' was removed: any end
    bool MatchCase = false;  // the texts are compared as they stand
    // False for a pattern with nothing to compare (empty after trimming, or
    // only stars): the search ignores it. An empty quoted pattern is usable
    // and matches an empty text.
    bool Usable() const noexcept { return Quoted || !Text.empty(); }
};

// Builds the pattern: upper case unless MatchCase; blanks trimmed at both
// ends (LRTrim); "..." of at least 2 characters loses its quotes and is
// exact; otherwise a leading '*', then a trailing '*' are removed and marked.
TSearchPattern MakeSearchPattern(const std::string& FindText, bool MatchCase);

// Tests a field text (untrimmed; upper-cased here unless the pattern matches
// case) against Pattern:
//   no star or quoted   text equals pattern
//   star at both ends   pattern occurs in text
//   star at the end     text begins with pattern
//   star at the start   PadLeft(text, length of pattern) equals pattern
bool MatchesSearchPattern(const TSearchPattern& Pattern, const std::string& FieldText);

// One press of the find dialog's find-next button (FindDialogFind).
//
// Search state of the window:
//   FSearching  FFound  event                      effect
//   0           any     press                      FStop := false, FSearching 1,
//                                                  (FFound: move one record first)
//                                                  then test record by record
//   1           any     press (through messages)   FStop := true, nothing else
//   1           -       record matches             FFound := true, stop there
//   1           -       FStop seen / end reached   FFound := false, stop
//   1           -       any way out                FSearching back to 0
// The walk tests a record, processes messages, and stops on a match, on FStop
// or at the end in the search direction (Eof down, Bof up); otherwise it moves
// one record (Next down, Prior up). An unusable pattern or a grid without
// selected field ends the press without a search (FFound unchanged).
// Raises the framework's closed-dataset error on a closed dataset; any error
// of the dataset ends the search where it stands.
void FindDialogFindStep(TDataSet* DataSet, const std::string& FindText, bool MatchCase, bool Down, bool& FStop,
                        bool& FFound, unsigned& FSearching, const TRecordCommandHooks& Hooks);

// ------------------------------------------------------------------ walks

// The inputs of "Count field".
struct TCountFieldParams {
    std::string Mask = "%d";  // Format mask with one integer directive
    int Start = 1;
    int Increment = 1;
    int Count = 0;  // 0: nothing; -1 (or any negative count): to the end
};

// The four prompts of "Count field" ("Counting mask (Format procedure mask
// with one %d parameter)" "%d", "Start number" "1", "Increment" "1",
// "Count (-1..infinity)" "0"), each number converted as soon as it is
// confirmed. Nothing when a prompt is cancelled; EConvertError "'%s' is not
// a valid integer value" for an entry that is not an integer.
std::optional<TCountFieldParams> AskCountFieldParams(const TInputQuery& InputQuery);

// The two prompts of "Fill field in records" ("String" "", "Count
// (-1..infinity)" "0"); the text and the count, or nothing on Cancel.
struct TFillFieldParams {
    std::string Text;
    int Count = 0;
};
std::optional<TFillFieldParams> AskFillFieldParams(const TInputQuery& InputQuery);

// The walk of "Count field", from the current record: while not Eof, not
// FStop and the count not 0: Edit; the selected field gets, through
// AsString, Format(Mask, counter); CheckBrowseMode (posts); Next;
// ProcessMessages; counter += Increment; a positive count goes down by 1.
// FStop is cleared first. The counter is 64-bit, so it never wraps.
// Returns the number of records written. Ends without writing when the grid
// has no selected field. An error ends the walk at that record (a bad mask
// there leaves the record in edit, unchanged; records written stay written).
int CountFieldWalk(TDataSet* DataSet, const TCountFieldParams& Params, bool& FStop, const TRecordCommandHooks& Hooks);

// The walk of "Fill field in records": the same walk writing Params.Text
// unchanged, inside SetBusy(true) .. SetBusy(false); SetBusy(false) runs
// however the walk ends. Returns the number of records written.
int FillFieldWalk(TDataSet* DataSet, const TFillFieldParams& Params, bool& FStop, const TRecordCommandHooks& Hooks);

// The whole commands: the closed-dataset error on a closed dataset, the
// prompts, the walk. Return the records written (0 after Cancel).
int CountField(TDataSet* DataSet, bool& FStop, const TRecordCommandHooks& Hooks);
int FillFieldInRecords(TDataSet* DataSet, bool& FStop, const TRecordCommandHooks& Hooks);

// ------------------------------------------------------------------ range and filter

// "Filter active" after its check mark has been set to Active:
//   Active: SetRangeStart, FillKeyFields(RangeStartText), Post; SetRangeEnd,
//           FillKeyFields(RangeEndText), Post; ApplyRange.
//   else:   CancelRange.
//   then    Filtered := Active and the filter text is not empty.
// The key-entry state is left in every case: a failed fill still posts what
// was filled (and, should that post fail too, the key edit is cancelled)
// before the error propagates.
void ApplyFilterActive(TMoneyTable* Table, bool Active, const std::string& RangeStartText,
                       const std::string& RangeEndText);

// "Set filter": the prompt "Filter expression" preset with the table's filter
// text; on OK the text becomes the table's filter (whether it is in force is
// not changed). False on Cancel.
bool AskFilterText(TMoneyTable* Table, const TInputQuery& InputQuery);

// "Range start" / "Range end": the prompt (SRangeStart or SRangeEnd) preset
// with Text; on OK the value is stored in Text. False on Cancel.
inline constexpr const char* SRangeStart = "Range start";
inline constexpr const char* SRangeEnd = "Range end";
bool AskRangeText(const TInputQuery& InputQuery, const std::string& Prompt, std::string& Text);

// ------------------------------------------------------------------ About

// The About box text: four lines separated by CR LF naming the program, its
// version and where to report problems.
std::string AboutText();

}  // namespace browser
