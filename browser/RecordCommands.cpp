// Record commands of the browser window without the window; see
// RecordCommands.h.
#include "browser/RecordCommands.h"

#include "browser/AuxStr.h"
#include "moneytable/Tamblor.h"
#include "rtl/Rtl.h"

#include <QString>

#include <cstdint>
#include <limits>

#ifndef TAMBLOR_VERSION
#define TAMBLOR_VERSION "1.0.0"
#endif

namespace browser {

namespace {

// Decrements FSearching however the search step ends.
class TSearchingGuard {
public:
    explicit TSearchingGuard(unsigned& Counter) : FCounter(Counter) { ++FCounter; }
    ~TSearchingGuard() { --FCounter; }
    TSearchingGuard(const TSearchingGuard&) = delete;
    TSearchingGuard& operator=(const TSearchingGuard&) = delete;

private:
    unsigned& FCounter;
};

// SetBusy(false) however the walk ends.
class TBusyGuard {
public:
    explicit TBusyGuard(const std::function<void(bool)>& SetBusy) : FSetBusy(SetBusy) {
        if (FSetBusy) FSetBusy(true);
    }
    ~TBusyGuard() {
        if (FSetBusy) FSetBusy(false);
    }
    TBusyGuard(const TBusyGuard&) = delete;
    TBusyGuard& operator=(const TBusyGuard&) = delete;

private:
    const std::function<void(bool)>& FSetBusy;
};

// BeginWalk, and EndWalk however the walk ends.
class TWalkGuard {
public:
    TWalkGuard(const TRecordCommandHooks& Hooks, const char* What) : FHooks(Hooks) {
        if (FHooks.BeginWalk) FHooks.BeginWalk(What);
    }
    ~TWalkGuard() {
        if (FHooks.EndWalk) FHooks.EndWalk();
    }
    TWalkGuard(const TWalkGuard&) = delete;
    TWalkGuard& operator=(const TWalkGuard&) = delete;

private:
    const TRecordCommandHooks& FHooks;
};

TField* SelectedFieldOf(const TRecordCommandHooks& Hooks) { return Hooks.SelectedField ? Hooks.SelectedField() : nullptr; }

void ProcessMessagesOf(const TRecordCommandHooks& Hooks) {
    if (Hooks.ProcessMessages) Hooks.ProcessMessages();
}

bool Ask(const TInputQuery& InputQuery, const char* Prompt, std::string& Value) {
    return InputQuery && InputQuery(SInputCaption, Prompt, Value);
}

// Asks for an integer; EConvertError for an entry that is not one.
bool AskInteger(const TInputQuery& InputQuery, const char* Prompt, const char* Preset, int& Value) {
    std::string Text = Preset;
    if (!Ask(InputQuery, Prompt, Text)) return false;
    Value = StrToInt(Text);
    return true;
}

// The counter as Format's argument: a 32-bit integer while it fits (so %u and
// %x of a negative counter keep their 32-bit forms), else 64-bit.
TVarRec CounterArg(std::int64_t Counter) {
    if (Counter >= std::numeric_limits<int>::min() && Counter <= std::numeric_limits<int>::max())
        return TVarRec(static_cast<int>(Counter));
    return TVarRec(static_cast<long long>(Counter));
}

// The walk shared by "Count field" and "Fill field in records". ValueOf gives
// the text for the record at the given counter value.
template <class TValueOf>
int Walk(TDataSet* DataSet, const char* What, int Count, std::int64_t Counter, std::int64_t Increment, bool& FStop,
         const TRecordCommandHooks& Hooks, TValueOf&& ValueOf) {
    FStop = false;
    TWalkGuard Walking(Hooks, What);
    int Written = 0;
    while (!DataSet->Eof() && !FStop && Count != 0) {
        // The field is asked for anew on every record: the messages processed
        // below may hide the column or close the table.
        TField* Field = SelectedFieldOf(Hooks);
        if (Field == nullptr) break;
        DataSet->Edit();
        Field->SetAsString(ValueOf(Counter));
        DataSet->CheckBrowseMode();
        ++Written;
        DataSet->Next();
        ProcessMessagesOf(Hooks);
        Counter += Increment;
        // Only a positive count runs down; -1 and every other negative count
        // run to the end (and cannot wrap around to 0).
        if (Count > 0) --Count;
    }
    return Written;
}

// Leaves the key-entry state of Table: Post stores the key; should that fail,
// the key edit is cancelled so that the table is back in dsBrowse, and the
// post's error propagates.
void PostKey(TMoneyTable* Table) {
    try {
        Table->Post();
    } catch (...) {
        if (Table->State() == dsSetKey) {
            try {
                Table->Cancel();
            } catch (...) {
                // The post's error is the one to report.
            }
        }
        throw;
    }
}

// One range bound: the key-entry state on the bound's buffer, the key fields
// from Text, then Post - also when the fill fails, whose error then
// propagates after the post.
void EnterRangeBound(TMoneyTable* Table, bool Start, const std::string& Text) {
    try {
        if (Start) Table->SetRangeStart();
        else Table->SetRangeEnd();
        moneytable::FillKeyFields(Table, Text);
    } catch (...) {
        if (Table->State() == dsSetKey) {
            try {
                PostKey(Table);
            } catch (...) {
                // The first error is the one to report.
            }
        }
        throw;
    }
    PostKey(Table);
}

}  // namespace

// ------------------------------------------------------------------ search

std::string LocaleUpperCase(const std::string& S) {
    return QString::fromUtf8(S.data(), static_cast<qsizetype>(S.size())).toUpper().toStdString();
}

TSearchPattern MakeSearchPattern(const std::string& FindText, bool MatchCase) {
    TSearchPattern Pattern;
    Pattern.MatchCase = MatchCase;
    std::string Text = LRTrim(MatchCase ? FindText : LocaleUpperCase(FindText));
    if (Text.size() >= 2 && Text.front() == '"' && Text.back() == '"') {
        Pattern.Quoted = true;
        Pattern.Text = Text.substr(1, Text.size() - 2);
        return Pattern;
    }
    if (!Text.empty() && Text.front() == '*') {
        Pattern.AnyStart = true;
        Text.erase(0, 1);
    }
    if (!Text.empty() && Text.back() == '*') {
        Pattern.AnyEnd = true;
        Text.pop_back();
    }
    Pattern.Text = std::move(Text);
    return Pattern;
}

bool MatchesSearchPattern(const TSearchPattern& Pattern, const std::string& FieldText) {
    const std::string Text = Pattern.MatchCase ? FieldText : LocaleUpperCase(FieldText);
    const std::string& P = Pattern.Text;
    if (Pattern.Quoted || (!Pattern.AnyStart && !Pattern.AnyEnd)) return Text == P;
    if (Pattern.AnyStart && Pattern.AnyEnd) return Text.find(P) != std::string::npos;
    if (Pattern.AnyEnd) return Text.compare(0, P.size(), P) == 0;
    // Right-aligned: byte lengths of UTF-8 texts, which compares the endings
    // exactly as a comparison of characters would.
    return PadLeft(Text, static_cast<int>(P.size())) == P;
}

void FindDialogFindStep(TDataSet* DataSet, const std::string& FindText, bool MatchCase, bool Down, bool& FStop,
                        bool& FFound, unsigned& FSearching, const TRecordCommandHooks& Hooks) {
    // A press while a search runs (it arrives through the message processing
    // of that search) only stops it.
    if (FSearching != 0) {
        FStop = true;
        return;
    }
    DataSet->CheckActive();
    const TSearchPattern Pattern = MakeSearchPattern(FindText, MatchCase);
    if (!Pattern.Usable() || SelectedFieldOf(Hooks) == nullptr) return;

    FStop = false;
    TSearchingGuard Searching(FSearching);
    TWalkGuard Walking(Hooks, SSearching);
    if (FFound) {
        if (Down) DataSet->Next();
        else DataSet->Prior();
    }
    for (;;) {
        TField* Field = SelectedFieldOf(Hooks);
        if (Field == nullptr) {
            FFound = false;
            return;
        }
        const std::string Text = Field->AsString();
        ProcessMessagesOf(Hooks);
        FFound = MatchesSearchPattern(Pattern, Text);
        if (FFound || FStop) return;
        if (Down ? DataSet->Eof() : DataSet->Bof()) return;
        if (Down) DataSet->Next();
        else DataSet->Prior();
    }
}

// ------------------------------------------------------------------ walks

std::optional<TCountFieldParams> AskCountFieldParams(const TInputQuery& InputQuery) {
    TCountFieldParams Params;
    if (!Ask(InputQuery, "Counting mask (Format procedure mask with one %d parameter)", Params.Mask)) return std::nullopt;
    if (!AskInteger(InputQuery, "Start number", "1", Params.Start)) return std::nullopt;
    if (!AskInteger(InputQuery, "Increment", "1", Params.Increment)) return std::nullopt;
    if (!AskInteger(InputQuery, "Count (-1..infinity)", "0", Params.Count)) return std::nullopt;
    return Params;
}

std::optional<TFillFieldParams> AskFillFieldParams(const TInputQuery& InputQuery) {
    TFillFieldParams Params;
    if (!Ask(InputQuery, "String", Params.Text)) return std::nullopt;
    if (!AskInteger(InputQuery, "Count (-1..infinity)", "0", Params.Count)) return std::nullopt;
    return Params;
}

int CountFieldWalk(TDataSet* DataSet, const TCountFieldParams& Params, bool& FStop, const TRecordCommandHooks& Hooks) {
    return Walk(DataSet, SCounting, Params.Count, Params.Start, Params.Increment, FStop, Hooks,
                [&Params](std::int64_t Counter) { return Format(Params.Mask, {CounterArg(Counter)}); });
}

int FillFieldWalk(TDataSet* DataSet, const TFillFieldParams& Params, bool& FStop, const TRecordCommandHooks& Hooks) {
    TBusyGuard Busy(Hooks.SetBusy);
    return Walk(DataSet, SFilling, Params.Count, 0, 0, FStop, Hooks, [&Params](std::int64_t) { return Params.Text; });
}

int CountField(TDataSet* DataSet, bool& FStop, const TRecordCommandHooks& Hooks) {
    DataSet->CheckActive();
    const std::optional<TCountFieldParams> Params = AskCountFieldParams(Hooks.InputQuery);
    return Params ? CountFieldWalk(DataSet, *Params, FStop, Hooks) : 0;
}

int FillFieldInRecords(TDataSet* DataSet, bool& FStop, const TRecordCommandHooks& Hooks) {
    DataSet->CheckActive();
    const std::optional<TFillFieldParams> Params = AskFillFieldParams(Hooks.InputQuery);
    return Params ? FillFieldWalk(DataSet, *Params, FStop, Hooks) : 0;
}

// ------------------------------------------------------------------ range and filter

void ApplyFilterActive(TMoneyTable* Table, bool Active, const std::string& RangeStartText,
                       const std::string& RangeEndText) {
    if (Active) {
        EnterRangeBound(Table, true, RangeStartText);
        EnterRangeBound(Table, false, RangeEndText);
        Table->ApplyRange();
    } else {
        Table->CancelRange();
    }
    Table->SetFiltered(Active && !Table->Filter().empty());
}

bool AskFilterText(TMoneyTable* Table, const TInputQuery& InputQuery) {
    std::string Text = Table->Filter();
    if (!Ask(InputQuery, "Filter expression", Text)) return false;
    Table->SetFilter(Text);
    return true;
}

bool AskRangeText(const TInputQuery& InputQuery, const std::string& Prompt, std::string& Text) {
    std::string Value = Text;
    if (!InputQuery || !InputQuery(SInputCaption, Prompt, Value)) return false;
    Text = std::move(Value);
    return true;
}

// ------------------------------------------------------------------ About

std::string AboutText() {
    return "Tallowmere - browser of Money 2000 tables\r\n"
           "Tamblorview version " TAMBLOR_VERSION "\r\n"
           "Report problems through the project's issue tracker\r\n"
           "with the table file and the exact message shown (see README.md).";
}

}  // namespace browser
