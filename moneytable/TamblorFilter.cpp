// TMoneyTable: filtering and ranges through the engine's filter object.
//
// The table filters nothing itself. ApplyFiltering brings the one filter
// object of the open table up to date (expression, compare flags, range
// bounds from the range key buffers) and installs it on the engine table
// when a filter or a range is in force, or removes it otherwise:
//
//   Filtered  range in force  filter object           expression given to it
//   false     no              removed (SetFilter nil)  empty
//   false     yes             installed, bounds set    empty (a stale text never
//                                                      restricts a range)
//   true      no              installed, no bounds     Filter
//   true      yes             installed, bounds set    Filter
//
// Ownership: SetFilter takes over one reference of the filter object, so
// the table adds one before each installation (and drops it again when the
// installation fails); SetRangeBound takes over the arrays it is given.
#include "moneytable/Tamblor.h"

#include <utility>

namespace {

// Destroys a safe array that has not been handed over.
struct BoundGuard {
    PSafeArray Array = nullptr;
    ~BoundGuard() {
        if (Array) SafeArrayDestroy(Array);
    }
    PSafeArray Release() noexcept { return std::exchange(Array, nullptr); }
};

}  // namespace

void TMoneyTable::SetFiltered(bool Value) {
    const bool Changed = Value != Filtered();
    TDataSet::SetFiltered(Value);
    if (Changed) ApplyFiltering(Value);
}

void TMoneyTable::SetFilterText(const std::string& Value) { SetFilterData(Value, FilterOptions()); }

void TMoneyTable::SetFilterOptions(TFilterOptions Value) { SetFilterData(Filter(), Value); }

void TMoneyTable::SetFilterData(const std::string& Text, TFilterOptions Options) {
    const bool Changed = Text != Filter() || !(Options == FilterOptions());
    TDataSet::SetFilterText(Text);
    TDataSet::SetFilterOptions(Options);
    if (Changed && Filtered()) ApplyFiltering(true);
}

void TMoneyTable::ApplyFiltering(bool GoFirst) {
    // 1.-2.
    if (!Active()) return;
    CheckBrowseMode();
    // 3.-4. A range is in force when both bounds have key fields, unless it
    // belongs to a master link that has fields but is not active.
    const bool LinkInactive = !FMasterLink->Fields().empty() && !FMasterLink->Active();
    const bool RangeInForce = !LinkInactive && GetMKeyBuffer(FKeyBuffers[mkiRangeStart])->FieldCount > 0 &&
                              GetMKeyBuffer(FKeyBuffers[mkiRangeEnd])->FieldCount > 0;
    const bool Install = RangeInForce || Filtered();
    // 5. The expression counts only while Filtered is set.
    OleCheck(FEngineFilter->SetExpression(Utf8ToWide(Filtered() ? Filter() : std::string())));
    // 6. Compare flags.
    OleCheck(FEngineFilter->SetCompareFlags(0));
    std::int32_t Flags = 0;
    if (FilterOptions().Contains(foCaseInsensitive)) {
        OleCheck(FEngineFilter->GetCompareFlags(&Flags));
        OleCheck(FEngineFilter->SetCompareFlags(Flags | CompareFlagCaseInsensitive));
    }
    if (FilterOptions().Contains(foNoPartialCompare)) {
        OleCheck(FEngineFilter->GetCompareFlags(&Flags));
        OleCheck(FEngineFilter->SetCompareFlags(Flags | CompareFlagNoPartial));
    }
    // 7.1 / 8. Both bounds cleared (their results are not examined).
    FEngineFilter->SetRangeBound(RangeBoundLower, nullptr);
    FEngineFilter->SetRangeBound(RangeBoundUpper, nullptr);
    if (Install) {
        // 7.2 The bounds from the range buffers.
        if (RangeInForce) {
            auto Bound = [this](TMKeyIndex KeyIndex) {
                TRecordBuffer Buffer = FKeyBuffers[KeyIndex];
                const std::int32_t Count = GetMKeyBuffer(Buffer)->FieldCount;
                std::vector<TField*> KeyFields;
                for (std::int32_t I = 0; I < Count; ++I) KeyFields.push_back(GetIndexField(I));
                BoundGuard Keys;
                Keys.Array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<std::uint32_t>(Count));
                if (!Keys.Array) OleCheck(E_OUTOFMEMORY);
                for (std::int32_t I = 0; I < Count; ++I) {
                    const OleVariant Key = GetFieldAsOleVariant(Buffer, KeyFields[static_cast<std::size_t>(I)], true);
                    OleCheck(SafeArrayPutElement(Keys.Array, &I, &Key));
                }
                return Keys.Release();
            };
            FEngineFilter->SetRangeBound(RangeBoundLower, Bound(mkiRangeStart));
            FEngineFilter->SetRangeBound(RangeBoundUpper, Bound(mkiRangeEnd));
        }
        // 7.3 The engine takes over the reference added here.
        FEngineFilter->AddRef();
        const HRESULT Result = FEngineTable->SetFilter(FEngineFilter.get());
        if (FAILED(Result)) {
            FEngineFilter->Release();
            OleCheck(Result);
        }
    } else {
        OleCheck(FEngineTable->SetFilter(nullptr));
    }
    // 9.
    if (GoFirst) {
        First();
    } else if (!IsEmpty()) {
        // The current record stays current when it still passes; one that
        // is gone (deleted by another user, say) leaves the table on its
        // first record instead of failing after the filter has changed.
        FAtEof = false;
        FAtBof = false;
        std::int32_t Status = 0;
        OleCheck(FEngineTable->MoveToRecord(BufferRecNo(ActiveBuffer()), &Status));
        if (Status == 0)
            Resync(TResyncMode{});
        else
            First();
    }
}

// A table opened with Filtered set, or with an active master link, puts
// them into force once it is active (the open itself installs nothing).
void TMoneyTable::DoAfterOpen() {
    if (FCursorOpen && Active()) {
        if (GetMasterFieldCount() > 0)
            MasterChanged(FMasterLink.get());
        else if (Filtered())
            ApplyFiltering(true);
    }
    TDataSet::DoAfterOpen();
}
