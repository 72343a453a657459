#pragma once
// The "Utility" page: speed, tracing and selection switches, the boot loader, the logging controls;
// the relay and own-address controls stay hidden. The page's handlers act on the lines and the log.

#include <memory>
#include <string>
#include <vector>

#include <QWidget>

#include "ui/Dialogs.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace korva {

class Engine;
class LinePorts;
class Logging;
class TcpRelay;

// What the page's handlers act on.
struct UtilityTargets {
    Engine* engine = nullptr;
    LinePorts* ports = nullptr;
    Logging* logging = nullptr;
    const UiDialogs* dialogs = nullptr;
    std::string workDir = ".";  // relative log file names are kept below it
};

class TUtilityPage : public QWidget {
    Q_OBJECT
  public:
    explicit TUtilityPage(UtilityTargets targets, QWidget* parent = nullptr);
    ~TUtilityPage() override;

    // The TCP relay on COM1, closed unless workDir's config/relay.xml opens it: see korvaconfig(1).
    // Its state shows in the hidden boxes; the answer is what was wrong with that file, if anything.
    std::string OpenRelay(const std::string& workDir);
    TcpRelay& relay() { return *relay_; }
    // The "Coms" menu's relay items stay greyed, but the commands work when called.
    void ConnectToRemote();  // to the address in tbServerIP
    void ListenForRemote();

    // A new speed for every line opened so far.
    void cbBaudRateChange(const QString& text);
    // Broadcasts to other nodes show in the log, on every line, while the box is ticked.
    void chkReceiveBroadcastsClick();
    void btRunBootLoaderClick();
    // The program's own address, the same on every line.
    void btSetAddressClick();
    // The CSV log: interval and file name from the boxes, then start; stop; append flag.
    void btStartLoggingClick();
    void btStopLoggingClick();
    void chkAppendClick();
    // The interval as the poll period, without a log; the file name from a save dialog.
    void btApplyIntervalClick();
    void btLogFileNameClick();

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
    // The unit scheme values are shown in; the first entry shows each property's own unit.
    QLabel* lbUnits;
    QComboBox* cbUnits;
    static constexpr const char* kOwnUnits = "As configured";
    // The schemes of the units document; `current` is chosen when it is one of them.
    void ShowUnitSchemes(const std::vector<std::string>& names, const std::string& current);

  signals:
    // A scheme was picked: "" for each property's own unit.
    void unitSchemeChosen(const QString& scheme);
    // After a start or stop: whether a log runs now.
    void loggingShown(bool active);
    // The relay's state, as the status bar says it.
    void relayShown(const QString& state);

  private:
    void UpdateRelayStatus();
    // The log file the box names, below the working folder when relative; a name the program gave
    // is given afresh, so that each log has its own file.
    std::string LogFilePath();

    QString givenLogName_;
    UtilityTargets targets_;
    std::unique_ptr<TcpRelay> relay_;
};

}  // namespace korva
