#pragma once
// The "Utility" page: speed, tracing and selection switches, the boot loader, the logging controls;
// the relay and own-address controls stay hidden.

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace korva {

class TUtilityPage : public QWidget {
    Q_OBJECT
  public:
    explicit TUtilityPage(QWidget* parent = nullptr);

    QLabel* StaticText72;
    QComboBox* cbBaudRate;
    QCheckBox* chkAutoGet;
    QCheckBox* chkReceiveBroadcasts;
    QCheckBox* cbHideAdvanced;
    QWidget* Shape1;
    QPushButton* btRunBootLoader;
    QPushButton* btLoadFile;
    QPushButton* btSaveFile;
    QPushButton* btCancelFile;
    QLabel* Label15;
    QLineEdit* tbServerIP;
    QCheckBox* chkSlaveConnect;
    QCheckBox* chkMasterConnect;
    QCheckBox* chkWaitConnect;
    QLabel* Label16;
    QLineEdit* tbMyAddress;
    QPushButton* btSetAddress;
    QPushButton* btStartLogging;
    QPushButton* btStopLogging;
    QLabel* Label1;
    QLineEdit* tbLogInterval;
    QLabel* Label2;
    QLineEdit* tbLogFileName;
    QCheckBox* chkAppend;
    // The log interval is also the poll period: Apply sets it without starting a log.
    QPushButton* btApplyInterval;
    // Chooses the log file with a save dialog.
    QPushButton* btLogFileName;
};

}  // namespace korva
