#include "ui/Dialogs.h"

#include <QCoreApplication>
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
        QMessageBox box(QMessageBox::Question, QString(), text, QMessageBox::Ok | QMessageBox::Cancel, parent);
        return box.exec() == QMessageBox::Ok;
    };
    d.requestEnd = [] { QTimer::singleShot(0, qApp, &QCoreApplication::quit); };
    return d;
}

}  // namespace korva
