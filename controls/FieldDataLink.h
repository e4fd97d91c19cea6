// Data-aware controls: TFieldDataLink, the data link of a control that shows
// one field of the current record (the memo pane).
//
// The link resolves its FieldName to a field of the dataset whenever the link
// becomes active or the dataset's field layout changes (Field() is nullptr
// while inactive or when no field has that name), and tells its control
// through the callbacks:
//   OnDataChange     the record or the field changed: redisplay the value
//                    (not while the link itself writes the value)
//   OnEditingChange  the dataset entered or left an edit state
//   OnUpdateData     write the control's pending input into the field (only
//                    when the control marked it modified)
//   OnActiveChange   the link became active or inactive
// Modified state of the control's input:
//   state        entered by                          left by
//   unmodified   construction, Reset, a redisplay,   Modified()
//                a successful write, end of editing
//   modified     Modified()                          write (UpdateData),
//                                                    redisplay, end of editing
//
// Ownership: owned by its control; does not own its data source or field.
// Threads: the GUI thread only.
#pragma once

#include "framework/DB.h"

#include <functional>
#include <string>

namespace controls {

class TFieldDataLink : public TDataLink {
public:
    TFieldDataLink() = default;

    const std::string& FieldName() const noexcept { return FFieldName; }
    // Binds the link to the field of that name (empty: none).
    void SetFieldName(const std::string& Value);
    TField* Field() const noexcept { return FField; }

    // The field can be changed: link and field writable, dataset modifiable.
    bool CanModify() const;
    // Puts the dataset into an edit state for the control (through the data
    // source's AutoEdit); true when it is in one afterwards.
    bool EditField();
    // The control's input differs from the field.
    bool IsModified() const noexcept { return FModified; }
    void Modified() noexcept { FModified = true; }
    // Forgets the control's input and redisplays the field.
    void Reset();

    std::function<void()> OnDataChange;
    std::function<void()> OnEditingChange;
    std::function<void()> OnUpdateData;
    std::function<void()> OnActiveChange;
    // The control is asked to take the focus for its field.
    std::function<void()> OnFocus;

protected:
    void ActiveChanged() override;
    void EditingChanged() override;
    void LayoutChanged() override;
    void RecordChanged(TField* Field) override;
    void UpdateData() override;
    void FocusControl(TField** Field) override;
    void DataEvent(TDataEvent Event, std::intptr_t Info) override;

private:
    void UpdateField();
    void Notify(const std::function<void()>& Callback) {
        if (Callback) Callback();
    }

    std::string FFieldName;
    TField* FField = nullptr;
    bool FModified = false;
    bool FWriting = false;
};

}  // namespace controls
