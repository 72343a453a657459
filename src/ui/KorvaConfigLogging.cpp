// The window's logging commands: the interval as the poll period, the CSV log, its status, the plot.
#include "ui/KorvaConfigMain.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

#include <filesystem>

#include "ui/PlotWindow.h"
#include "ui/UtilityPage.h"

namespace korva {

bool TForm1::ApplyLogInterval() {
    const QString text = utilityPage->tbLogInterval->text();
    const std::optional<float> seconds = ParseLogInterval(text.toStdString());
    if (!seconds) {
        dialogs_.error(QString("'%1' is not a valid floating point value").arg(text));
        return false;
    }
    // A negative or enormous interval would stop the divider for good: refused like a bad number.
    if (!engine_.SetPeriodSeconds(*seconds)) {
        dialogs_.error(QString("'%1' is not a valid log interval").arg(text));
        return false;
    }
    return true;
}

void TForm1::btApplyIntervalClick() {
    ApplyLogInterval();
}

void TForm1::btStartLoggingClick() {
    if (!logFile_ || !ApplyLogInterval()) return;
    logFile_->fileName = utilityPage->tbLogFileName->text().toStdString();
    logFile_->StartLogging();
    // A failed restart has closed the log that ran before it; a missing name leaves that one running.
    lbLogging->setVisible(logFile_->Active());
    UpdateLogStatus();
}

void TForm1::btStopLoggingClick() {
    if (logFile_) logFile_->StopLogging();
    lbLogging->hide();
    UpdateLogStatus();
}

void TForm1::btLogFileNameClick() {
    QLineEdit* box = utilityPage->tbLogFileName;
    const QString chosen =
        dialogs_.saveFile ? dialogs_.saveFile("Log File", "CSV files (*.csv)", box->text()) : QString();
    if (!chosen.isEmpty()) box->setText(chosen);
}

void TForm1::UpdateLogStatus() {
    if (!logFile_ || !logFile_->Active()) {
        statusLine->ShowLogging(QString());
        return;
    }
    const QString name =
        QString::fromStdString(std::filesystem::path(logFile_->fileName).filename().string());
    statusLine->ShowLogging(QString("Logging to %1: %2 rows").arg(name).arg(logFile_->Rows()));
}

void TForm1::ShowPlotClick() {
    plotWindow->show();
    plotWindow->raise();
    plotWindow->activateWindow();
}

void TForm1::chkAppendClick() {
    if (logFile_) logFile_->append = utilityPage->chkAppend->isChecked();
}

}  // namespace korva
