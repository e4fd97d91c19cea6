// Data-aware controls: TDBNavigator, a bar of ten buttons that move through
// and edit the dataset of its data source.
//
// Buttons, in order, and what a click does (BtnClick):
//   nbFirst First   nbPrior Prior   nbNext Next   nbLast Last
//   nbInsert Insert nbDelete Delete (after "Delete record?" when
//   ConfirmDelete)  nbEdit Edit     nbPost Post   nbCancel Cancel
//   nbRefresh Refresh
// A button is enabled by the dataset's state:
//   first, prior   open and not at the beginning (Bof)
//   next, last     open and not at the end (Eof)
//   insert         open
//   delete         open and not empty
//   edit           open, modifiable and not editing
//   post, cancel   open, modifiable and editing
//   refresh        open and not editing
// Insert and delete stay enabled on a dataset that cannot be modified (a
// read-only table): a click fails with the framework's read-only error
// (delete without asking first). Errors raised by a click go to the
// application's error box (controls/Interaction.h); the bar stays usable.
//
// The glyphs are drawn in the palette's button text colour (post and cancel
// in a green and a red that stand out on the button colour), and drawn
// again when the palette changes, so that a dark desktop palette keeps them
// visible.
//
// Each button can be hidden (SetVisibleButtons); the visible buttons share
// the bar's width equally, and the bar is never narrower than its visible
// buttons need (MinimumWidth()): a width below that is enlarged to it.
//
// Ownership: a QWidget owned by its Qt parent; owns its buttons and its data
// link. Threads: the GUI thread only.
#pragma once

#include "framework/DB.h"

#include <QWidget>

#include <array>
#include <functional>

class QToolButton;

namespace controls {

enum TNavigateBtn { nbFirst, nbPrior, nbNext, nbLast, nbInsert, nbDelete, nbEdit, nbPost, nbCancel, nbRefresh };
using TButtonSet = fw::TSet<TNavigateBtn>;

inline constexpr TButtonSet AllNavigateButtons{nbFirst, nbPrior, nbNext,  nbLast,   nbInsert,
                                               nbDelete, nbEdit, nbPost, nbCancel, nbRefresh};

class TDBNavigator : public QWidget {
    Q_OBJECT
public:
    explicit TDBNavigator(QWidget* Parent = nullptr);
    ~TDBNavigator() override;

    TDataSource* DataSource() const noexcept;
    void SetDataSource(TDataSource* Value);
    TButtonSet VisibleButtons() const noexcept { return FVisibleButtons; }
    void SetVisibleButtons(TButtonSet Value);
    bool ConfirmDelete() const noexcept { return FConfirmDelete; }
    void SetConfirmDelete(bool Value) noexcept { FConfirmDelete = Value; }

    // Runs the button's action as a click does (errors propagate).
    void BtnClick(TNavigateBtn Button);
    QToolButton* Button(TNavigateBtn Button) const { return FButtons[Button]; }

    // Sets the width, enlarged to MinimumWidth() when smaller.
    void SetWidth(int Value);
    // The least width the visible buttons need.
    int MinimumWidth() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // Called before a button's action; may raise EAbort to skip it.
    std::function<void(TNavigateBtn Button)> BeforeAction;
    // Called after a button's action.
    std::function<void(TNavigateBtn Button)> OnClick;

protected:
    void resizeEvent(QResizeEvent* Event) override;
    void changeEvent(QEvent* Event) override;

private:
    class TNavDataLink;
    void UpdateButtons();
    void LayoutButtons();
    void DrawGlyphs();
    void Clicked(TNavigateBtn Button);
    int ButtonMinWidth() const;

    std::unique_ptr<TNavDataLink> FDataLink;
    std::array<QToolButton*, 10> FButtons{};
    TButtonSet FVisibleButtons = AllNavigateButtons;
    bool FConfirmDelete = true;
};

}  // namespace controls
