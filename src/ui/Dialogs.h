#pragma once
// The modal boxes the window shows. Tests replace them with recorders; the program uses Qt's.

#include <exception>
#include <functional>

#include <QString>

class QDialog;
class QWidget;

namespace korva {

struct UiDialogs {
    // A box with the text and an OK button, no title of its own.
    std::function<void(const QString& text)> message;
    // The application's standard error box.
    std::function<void(const QString& text)> error;
    // A confirmation with OK and Cancel; true for OK.
    std::function<bool(const QString& text)> confirm;
    // A question with Yes and No; true for Yes.
    std::function<bool(const QString& text)> question;
    // The open-file dialog for sequence files; an empty text when cancelled.
    std::function<QString()> openSequence;
    // A save-file dialog: caption, filter, suggested file; an empty text when cancelled.
    std::function<QString(const QString& caption, const QString& filter, const QString& suggested)> saveFile;
    // An open-file dialog for an existing file: caption, filter; an empty text when cancelled.
    std::function<QString(const QString& caption, const QString& filter)> openFile;
    // A warning with the caption given and an OK button (the CSV logger's boxes).
    std::function<void(const QString& text, const QString& caption)> alert;
    // Runs a dialog the window built (the port picker); true when it was accepted.
    std::function<bool(QDialog& dialog)> runDialog;
    // Asks the application to end once control is back in the event loop.
    std::function<void()> requestEnd;

    // The file dialogs start in startFolder (the working folder), then in the folder last chosen.
    static UiDialogs Standard(QWidget* parent, const QString& startFolder = ".");
};

// Runs a handler; an error it raises is shown in the standard error box and the window goes on.
template <typename F>
void Guarded(const UiDialogs& dialogs, F&& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        dialogs.error(QString::fromUtf8(e.what()));
    }
}

}  // namespace korva
