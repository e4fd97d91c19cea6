#include "controls/Interaction.h"

#include "rtl/SysUtils.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <exception>

namespace controls {

namespace {

TErrorHandler& ErrorHandler() {
    static TErrorHandler Handler;
    return Handler;
}

TConfirmHandler& ConfirmHandler() {
    static TConfirmHandler Handler;
    return Handler;
}

QString BoxTitle() {
    QString Title = QCoreApplication::applicationName();
    return Title.isEmpty() ? QStringLiteral("Error") : Title;
}

}  // namespace

TErrorHandler SetErrorHandler(TErrorHandler Handler) {
    TErrorHandler Old = std::move(ErrorHandler());
    ErrorHandler() = std::move(Handler);
    return Old;
}

TConfirmHandler SetConfirmHandler(TConfirmHandler Handler) {
    TConfirmHandler Old = std::move(ConfirmHandler());
    ConfirmHandler() = std::move(Handler);
    return Old;
}

void ShowError(const std::string& Message) {
    if (ErrorHandler()) {
        ErrorHandler()(Message);
        return;
    }
    if (qApp == nullptr) {
        std::fprintf(stderr, "%s\n", Message.c_str());
        return;
    }
    QMessageBox::critical(QApplication::activeWindow(), BoxTitle(), QString::fromStdString(Message));
}

bool Confirm(const std::string& Message) {
    if (ConfirmHandler()) return ConfirmHandler()(Message);
    if (qApp == nullptr) return false;
    return QMessageBox::question(QApplication::activeWindow(), BoxTitle(), QString::fromStdString(Message),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

void HandleCurrentException() noexcept {
    try {
        try {
            throw;
        } catch (const EAbort&) {
            // Silent by definition.
        } catch (const std::exception& E) {
            ShowError(E.what());
        } catch (...) {
            ShowError("Unknown error");
        }
    } catch (...) {
        // The error handler itself failed: nothing sensible is left to do
        // but not to take the program down from inside an event handler.
    }
}

}  // namespace controls
