// Data-aware controls: how the controls talk to the user outside their own
// painting - the application's error box and its yes/no confirmation.
//
// A control that runs a dataset operation on behalf of the user (a key, a
// click, a navigator button) catches whatever the operation raises and hands
// it to HandleCurrentException(), which shows the message through the
// installed error handler; EAbort (the silent exception) is dropped. Qt event
// handlers must never let an exception escape, so every such entry point of
// the controls goes through Guarded().
//
// The handlers are process-wide, like the application object of a desktop
// program: the program installs its own (the browser routes them through its
// dialogs, which tests answer); without one, a Qt message box is shown.
//
// Ownership: the handlers are copied in; nothing is returned by reference.
// Threads: the GUI thread only.
#pragma once

#include <functional>
#include <string>

namespace controls {

// Shows an error message to the user.
using TErrorHandler = std::function<void(const std::string& Message)>;
// Asks a yes/no question; true for yes.
using TConfirmHandler = std::function<bool(const std::string& Message)>;

// Install a handler (an empty function restores the Qt message box); each
// returns the handler it replaces.
TErrorHandler SetErrorHandler(TErrorHandler Handler);
TConfirmHandler SetConfirmHandler(TConfirmHandler Handler);

// Shows Message through the installed error handler.
void ShowError(const std::string& Message);
// Asks Message through the installed confirmation handler.
bool Confirm(const std::string& Message);

// To be called inside a catch block: shows the message of the exception being
// handled (EAbort is silent; an exception of unknown class shows
// "Unknown error"). Never raises.
void HandleCurrentException() noexcept;

// Runs Action; an exception it raises is shown (HandleCurrentException) and
// false is returned; true when Action returned normally.
template <class F>
bool Guarded(F&& Action) noexcept {
    try {
        Action();
        return true;
    } catch (...) {
        HandleCurrentException();
        return false;
    }
}

}  // namespace controls
