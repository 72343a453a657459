#include "ui/UtilityPage.h"

#include <QComboBox>
#include <QFrame>
#include <QLineEdit>

#include <filesystem>

#include "protocol/Engine.h"
#include "sequence/LogFile.h"
#include "transport/Relay.h"
#include "compose/LinePorts.h"
#include "ui/Logging.h"
#include "ui/Widgets.h"

namespace korva {

TUtilityPage::TUtilityPage(UtilityTargets targets, QWidget* parent) : QWidget(parent), targets_(targets) {
    setObjectName("tsUtil");
    StaticText72 = MakeLabel(this, "StaticText72", "Baud Rate", 264, 24);
    cbBaudRate = Place(new QComboBox(this), "cbBaudRate", 264, 40, 97, 21);
    cbBaudRate->addItems({"2400", "9600", "14400", "19200", "28800", "37600", "57600", "115200"});
    cbBaudRate->setCurrentText("57600");
    chkAutoGet = MakeCheck(this, "chkAutoGet", "Auto Get Properties On Click", 400, 8, true);
    chkReceiveBroadcasts = MakeCheck(this, "chkReceiveBroadcasts", "Show Broadcast Packets", 400, 28, true);
    cbHideAdvanced = MakeCheck(this, "cbHideAdvanced", "Hide Advanced Settings", 400, 52, true);

    auto* shape = new QFrame(this);
    shape->setStyleSheet("QFrame#Shape1 { border: 2px solid rgb(220, 0, 0); }");
    Shape1 = Place(shape, "Shape1", 16, 240, 105, 49);
    btRunBootLoader = MakeButton(this, "btRunBootLoader", "Run Boot Loader", 24, 252, 89, 25);
    QFont small("Arial");
    small.setPixelSize(9);
    btRunBootLoader->setFont(small);

    btLoadFile = MakeButton(this, "btLoadFile", "Load File", 152, 196, 57, 25);
    btSaveFile = MakeButton(this, "btSaveFile", "Save File", 216, 196, 57, 25);
    btCancelFile = MakeButton(this, "btCancelFile", "Cancel", 280, 196, 57, 25);

    // Controls of functions that the operator does not reach; they stay hidden.
    Label15 = MakeLabel(this, "Label15", "Slave IP Address", 160, 40);
    tbServerIP = MakeEdit(this, "tbServerIP", "192.168.1.20", 32, 33, 121);
    chkSlaveConnect = MakeCheck(this, "chkSlaveConnect", "Slave Connect", 152, 136, false);
    chkMasterConnect = MakeCheck(this, "chkMasterConnect", "Master Connect", 152, 160, false);
    chkWaitConnect = MakeCheck(this, "chkWaitConnect", "Wait for Master", 272, 136, false);
    Label16 = MakeLabel(this, "Label16", "My Address", 160, 88);
    tbMyAddress = MakeEdit(this, "tbMyAddress", "140", 72, 81, 81);
    btSetAddress = MakeButton(this, "btSetAddress", "Set", 32, 80, 33, 25);
    // The logging controls: the interval beside the buttons, the file name across the column.
    btStartLogging = MakeButton(this, "btStartLogging", "StartLogging", 400, 96, 89, 25);
    btStopLogging = MakeButton(this, "btStopLogging", "StopLogging", 400, 128, 89, 25);
    Label1 = MakeLabel(this, "Label1", "Log Interval (seconds)", 496, 106);
    tbLogInterval = MakeEdit(this, "tbLogInterval", "4", 496, 130, 73);
    btApplyInterval = MakeButton(this, "btApplyInterval", "Apply", 573, 130, 45, 21);
    Label2 = MakeLabel(this, "Label2", "Log FileName", 400, 161);
    givenLogName_ = QString::fromStdString(LogFile::DefaultFileName(LogFile::Clock::now()));
    tbLogFileName = MakeEdit(this, "tbLogFileName", givenLogName_, 400, 177, 189);
    btLogFileName = MakeButton(this, "btLogFileName", "...", 593, 177, 25, 21);
    chkAppend = MakeCheck(this, "chkAppend", "Append to Log File", 400, 203, false);
    lbUnits = MakeLabel(this, "lbUnits", "Units", 264, 72);
    cbUnits = Place(new QComboBox(this), "cbUnits", 264, 88, 97, 21);
    cbUnits->addItem(kOwnUnits);
    cbUnits->setToolTip("The units values are shown and typed in");
    for (QWidget* w : std::initializer_list<QWidget*>{btLoadFile, btSaveFile, btCancelFile, Label15,
                                                      tbServerIP, chkSlaveConnect, chkMasterConnect,
                                                      chkWaitConnect, Label16, tbMyAddress, btSetAddress})
        w->hide();

    connect(cbBaudRate, &QComboBox::textActivated, this,
            [this](const QString& text) { Guarded(*targets_.dialogs, [&] { cbBaudRateChange(text); }); });
    connect(cbUnits, &QComboBox::activated, this,
            [this](int index) { emit unitSchemeChosen(index <= 0 ? QString() : cbUnits->itemText(index)); });
    connect(chkReceiveBroadcasts, &QCheckBox::clicked, this, [this] { chkReceiveBroadcastsClick(); });
    connect(btRunBootLoader, &QPushButton::clicked, this, [this] { btRunBootLoaderClick(); });
    connect(btSetAddress, &QPushButton::clicked, this, [this] { btSetAddressClick(); });
    connect(btStartLogging, &QPushButton::clicked, this,
            [this] { Guarded(*targets_.dialogs, [this] { btStartLoggingClick(); }); });
    connect(btStopLogging, &QPushButton::clicked, this,
            [this] { Guarded(*targets_.dialogs, [this] { btStopLoggingClick(); }); });
    connect(chkAppend, &QCheckBox::clicked, this, [this] { chkAppendClick(); });
    connect(btApplyInterval, &QPushButton::clicked, this,
            [this] { Guarded(*targets_.dialogs, [this] { btApplyIntervalClick(); }); });
    connect(btLogFileName, &QPushButton::clicked, this, [this] { btLogFileNameClick(); });
}

void TUtilityPage::ShowUnitSchemes(const std::vector<std::string>& names, const std::string& current) {
    cbUnits->clear();
    cbUnits->addItem(kOwnUnits);
    for (const std::string& name : names) cbUnits->addItem(QString::fromStdString(name));
    const int at = cbUnits->findText(QString::fromStdString(current));
    cbUnits->setCurrentIndex(current.empty() || at < 0 ? 0 : at);
}

// Out of line: the relay is only declared in the header.
TUtilityPage::~TUtilityPage() = default;

std::string TUtilityPage::OpenRelay(const std::string& workDir) {
    TcpRelay::Indicators boxes;
    // The status bar follows the same changes.
    boxes.masterConnect = [this](bool on) {
        chkMasterConnect->setChecked(on);
        UpdateRelayStatus();
    };
    boxes.slaveConnect = [this](bool on) {
        chkSlaveConnect->setChecked(on);
        UpdateRelayStatus();
    };
    boxes.waitConnect = [this](bool on) {
        chkWaitConnect->setChecked(on);
        UpdateRelayStatus();
    };
    std::string problem;
    relay_ = std::make_unique<TcpRelay>(targets_.engine->Line(), std::move(boxes), TcpRelay::kPort,
                                        RelayAccess::Read(workDir, problem));
    UpdateRelayStatus();
    return problem;
}

void TUtilityPage::UpdateRelayStatus() {
    if (!relay_) return;
    switch (relay_->Mode()) {
        case RelayMode::None:
            emit relayShown("off");
            break;
        case RelayMode::Listening:
            emit relayShown("listening");
            break;
        case RelayMode::MasterConnected:
            emit relayShown("connected (master)");
            break;
        case RelayMode::SlaveConnected:
            emit relayShown("connected (slave)");
            break;
    }
}

void TUtilityPage::ConnectToRemote() {
    relay_->ConnectToRemote(tbServerIP->text());
}

void TUtilityPage::ListenForRemote() {
    relay_->ListenForRemote();
}

void TUtilityPage::cbBaudRateChange(const QString& text) {
    if (!targets_.ports->ChangeBaudRate(text.toStdString()))
        targets_.dialogs->error(QString("'%1' is not a valid integer value").arg(text));
}

void TUtilityPage::chkReceiveBroadcastsClick() {
    const bool on = chkReceiveBroadcasts->isChecked();
    for (const auto& bus : targets_.engine->Buses()) bus->showBroadcasts = on;
}

void TUtilityPage::btRunBootLoaderClick() {
    Bus& line = targets_.engine->Line();
    // The command restarts whatever answers there into its boot loader: the operator says so first.
    const QString text = QString(
                             "Send the boot loader command to address %1 on %2?\nThe device there stops "
                             "its work and waits for new firmware.")
                             .arg(Bus::kBootLoaderDest)
                             .arg(QString::fromStdString(line.Name()));
    if (targets_.dialogs->question && !targets_.dialogs->question(text)) return;
    line.RunBootLoader();
}

void TUtilityPage::btSetAddressClick() {
    const QString text = tbMyAddress->text();
    bool ok = true;  // the program has one address, on every line
    for (const auto& bus : targets_.engine->Buses())
        ok = bus->SetOwnAddressFromText(text.toStdString()) && ok;
    if (!ok) targets_.dialogs->error(QString("'%1' is not a valid integer value").arg(text));
}

void TUtilityPage::btApplyIntervalClick() {
    targets_.logging->ApplyInterval(tbLogInterval->text());
}

void TUtilityPage::btStartLoggingClick() {
    LogFile* log = targets_.logging->File();
    if (!log || !targets_.logging->ApplyInterval(tbLogInterval->text())) return;
    log->fileName = LogFilePath();
    log->StartLogging();
    // A failed restart has closed the log that ran before it; a missing name leaves that one running.
    emit loggingShown(log->Active());
}

void TUtilityPage::btStopLoggingClick() {
    if (LogFile* log = targets_.logging->File()) log->StopLogging();
    emit loggingShown(false);
}

std::string TUtilityPage::LogFilePath() {
    if (tbLogFileName->text() == givenLogName_) {
        givenLogName_ = QString::fromStdString(LogFile::DefaultFileName(LogFile::Clock::now()));
        tbLogFileName->setText(givenLogName_);
    }
    const std::string text = tbLogFileName->text().trimmed().toStdString();
    if (text.empty()) return text;  // the log says that no name is given
    std::filesystem::path path = text;
    if (path.is_relative()) path = std::filesystem::path(targets_.workDir) / path;
    std::error_code ec;
    // A folder that cannot be made is said by the log, which then cannot open its file.
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
    return path.string();
}

void TUtilityPage::btLogFileNameClick() {
    const UiDialogs& d = *targets_.dialogs;
    const QString chosen =
        d.saveFile ? d.saveFile("Log File", "CSV files (*.csv)", tbLogFileName->text()) : QString();
    if (!chosen.isEmpty()) tbLogFileName->setText(chosen);
}

void TUtilityPage::chkAppendClick() {
    if (LogFile* log = targets_.logging->File()) log->append = chkAppend->isChecked();
}

}  // namespace korva
