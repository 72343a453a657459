#include "ui/Dialogs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>

#include <memory>

namespace korva {

UiDialogs UiDialogs::Standard(QWidget* parent, const QString& startFolder) {
    UiDialogs d;
    // Shared by every dialog of the window, for the whole run.
    auto last = std::make_shared<QString>(QFileInfo(startFolder).absoluteFilePath());
    const auto remember = [last](const QString& chosen) {
        if (!chosen.isEmpty()) *last = QFileInfo(chosen).absolutePath();
        return chosen;
    };
    // A suggested name without a folder goes in the folder last used.
    const auto inLast = [last](const QString& suggested) {
        return suggested.isEmpty() || QFileInfo(suggested).isAbsolute()
                   ? (suggested.isEmpty() ? *last : suggested)
                   : QDir(*last).filePath(suggested);
    };
    d.message = [parent](const QString& text) {
        QMessageBox box(QMessageBox::NoIcon, QString(), text, QMessageBox::Ok, parent);
        box.exec();
    };
    d.error = [parent](const QString& text) {
        QMessageBox::critical(parent, QCoreApplication::applicationName(), text);
    };
    d.confirm = [parent](const QString& text) {
        QMessageBox box(QMessageBox::Question, QString(), text, QMessageBox::Ok | QMessageBox::Cancel,
                        parent);
        return box.exec() == QMessageBox::Ok;
    };
    d.alert = [parent](const QString& text, const QString& caption) {
        QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok, parent);
        box.exec();
    };
    d.question = [parent](const QString& text) {
        return QMessageBox::question(parent, QCoreApplication::applicationName(), text) == QMessageBox::Yes;
    };
    d.openSequence = [parent, last, remember] {
        QFileDialog dialog(parent, QString(), *last, "*.kts");
        dialog.setObjectName("odTestSequence");
        dialog.setDefaultSuffix("kts");
        dialog.setFileMode(QFileDialog::ExistingFile);
        return remember(dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()
                            ? dialog.selectedFiles().first()
                            : QString());
    };
    d.saveFile = [parent, remember, inLast](const QString& caption, const QString& filter,
                                            const QString& suggested) {
        return remember(QFileDialog::getSaveFileName(parent, caption, inLast(suggested), filter));
    };
    d.openFile = [parent, last, remember](const QString& caption, const QString& filter) {
        return remember(QFileDialog::getOpenFileName(parent, caption, *last, filter));
    };
    d.runDialog = [](QDialog& dialog) { return dialog.exec() == QDialog::Accepted; };
    d.requestEnd = [] { QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(1); }); };
    return d;
}

}  // namespace korva
