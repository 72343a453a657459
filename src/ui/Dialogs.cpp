#include "ui/Dialogs.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>

namespace korva {

UiDialogs UiDialogs::Standard(QWidget* parent) {
    UiDialogs d;
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
    d.openSequence = [parent] {
        QFileDialog dialog(parent, QString(), "..", "*.kts");
        dialog.setObjectName("odTestSequence");
        dialog.setDefaultSuffix("kts");
        dialog.setFileMode(QFileDialog::ExistingFile);
        return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()
                   ? dialog.selectedFiles().first()
                   : QString();
    };
    d.saveFile = [parent](const QString& caption, const QString& filter, const QString& suggested) {
        return QFileDialog::getSaveFileName(parent, caption, suggested, filter);
    };
    d.runDialog = [](QDialog& dialog) { return dialog.exec() == QDialog::Accepted; };
    d.requestEnd = [] { QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(1); }); };
    return d;
}

}  // namespace korva
