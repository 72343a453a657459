#include "ui/KorvaConfigMain.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>

#include <filesystem>

#include "ui/Aboutform.h"
#include "ui/DevicePage.h"
#include "ui/LogPane.h"
#include "ui/ScriptingPage.h"
#include "ui/UtilityPage.h"
#include "ui/Widgets.h"

namespace korva {

namespace {
constexpr int kClientWidth = 839;
constexpr int kClientHeight = 341;
}  // namespace

TForm1::TForm1(std::string workDir, Wiring wiring)
    : workDir_(std::move(workDir)),
      dialogs_(wiring.dialogs ? *wiring.dialogs : UiDialogs::Standard(this)),
      bridge_(dialogs_),
      comms_(bridge_),
      // Clusters reach this thread as queued calls; a call that arrives after the window is gone is dropped.
      port_([this](std::function<void()> f) { QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection); }),
      coms_(port_, comms_, bridge_, workDir_),
      tickByHand_(wiring.tickByHand) {
    if (wiring.line != nullptr) comms_.AttachSerial(wiring.line);
    bridge_.SetComPorts(&coms_);
    setWindowTitle(QString::fromUtf8(kCaption));
    auto* client = new QWidget(this);
    client->setObjectName("client");
    client->setFixedSize(kClientWidth, kClientHeight);
    client->setAutoFillBackground(true);
    QPalette pal = client->palette();
    pal.setColor(QPalette::Window, QColor(215, 215, 215));
    client->setPalette(pal);
    QFont font("MS Sans Serif");
    font.setPixelSize(11);
    client->setFont(font);
    setCentralWidget(client);

    pcInterface = Place(new QTabWidget(client), "pcInterface", 6, 8, 635, 329);
    devicePage = new TDevicePage(nullptr, dialogs_);
    scriptingPage = new TScriptingPage();
    utilityPage = new TUtilityPage();
    pcInterface->addTab(devicePage, "Device Manager");
    pcInterface->addTab(scriptingPage, "Scripting");
    pcInterface->addTab(utilityPage, "Utility");
    pcInterface->setCurrentIndex(0);

    memoLog = Place(new TLogPane(client), "memoLog", 648, 0, 185, 297);
    QFont logFont("Arial");
    logFont.setPixelSize(11);
    memoLog->setFont(logFont);
    btClearInLog = MakeButton(client, "btClearInLog", "Clear Log", 760, 304, 73, 25);
    lbLogging = MakeLabel(client, "lbLogging", "Logging", 664, 312);
    lbLogging->setStyleSheet("background: red;");
    lbLogging->hide();
    // The mode box stands below the client area: it belongs to the advanced group but never shows.
    stMode = MakeLabel(client, "stMode", "Mode", 384, 352);
    tbMode = MakeEdit(client, "tbMode", "", 424, 352, 81);

    BuildMenu();
    WireBridge();
    WireUtility();
    WireScripting();
    WireRelay();
    connect(btClearInLog, &QPushButton::clicked, this, [this] { btClearInLogClick(); });

    timComs.setObjectName("timComs");
    timComs.setInterval(10);
    connect(&timComs, &QTimer::timeout, this, [this] { OnTimComs(); });
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    setWindowFlags(windowFlags() & ~Qt::WindowMaximizeButtonHint);
}

TForm1::~TForm1() {
    timComs.stop();
    port_.SetActive(false);
}

template <typename F>
void TForm1::Guard(F&& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        dialogs_.error(QString::fromUtf8(e.what()));
    }
}

void TForm1::BuildMenu() {
    QMenuBar* bar = menuBar();
    QMenu* file = bar->addMenu("File");
    file->addAction("Exit", this, [this] { Exit1Click(); });

    QMenu* coms = bar->addMenu("Coms");
    for (int n = 1; n <= 6; ++n)
        coms->addAction(QString("Open Com %1").arg(n), this, [this, n] { Guard([&] { coms_.OpenPort(n); }); });
    coms->addAction("Close Com Port")->setEnabled(false);
    // The relay's commands are wired but not offered: their items stay greyed.
    coms->addAction("Connect to Remote", this, [this] { ConnectToRemote(); })->setEnabled(false);
    coms->addAction("Listen for Remote", this, [this] { ListenForRemote(); })->setEnabled(false);

    // Two menus that stay hidden for the whole run, with nothing behind them.
    QMenu* logging = bar->addMenu("Logging");
    logging->setObjectName("mnLogging");
    for (const char* item : {"Start Logging", "Stop Logging"}) logging->addAction(item)->setEnabled(false);
    logging->menuAction()->setVisible(false);
    QMenu* setup = bar->addMenu("Setup");
    setup->setObjectName("mnSetup");
    for (const char* item : {"Logging", "Comms", "Controller"}) setup->addAction(item)->setEnabled(false);
    setup->addAction("Show Proto-Interface")->setVisible(false);
    setup->menuAction()->setVisible(false);

    mnTools = bar->addMenu("Tools");
    mnTools->setObjectName("mnTools");
    mnStandardConfig = mnTools->addMenu("Standard Config");
    mnStandardConfig->setObjectName("mnStandardConfig");
    mnCustomConfig = mnTools->addMenu("Custom Config");
    mnCustomConfig->setObjectName("mnCustomConfig");
    mnStandardConfig->setEnabled(false);
    mnCustomConfig->setEnabled(false);
    // Generated entries go on top; stopping stays at the bottom.
    mnTools->addSeparator();
    mnStopTestNode = mnTools->addAction("Stop Test Node", this, [this] { btStopTestNodeClick(); });
    mnStopTestNode->setObjectName("mnStopTestNode");

    QMenu* help = bar->addMenu("Help");
    help->addAction("About", this, [this] { MenuItem20Click(); });
}

void TForm1::WireUtility() {
    TUtilityPage* u = utilityPage;
    connect(u->cbBaudRate, &QComboBox::textActivated, this, [this](const QString& text) {
        Guard([&] {
            if (!coms_.ChangeBaudRate(text.toStdString()))
                dialogs_.error(QString("'%1' is not a valid integer value").arg(text));
        });
    });
    connect(u->chkReceiveBroadcasts, &QCheckBox::clicked, this,
            [this] { comms_.showBroadcasts = utilityPage->chkReceiveBroadcasts->isChecked(); });
    connect(u->btRunBootLoader, &QPushButton::clicked, this, [this] { comms_.RunBootLoader(); });
    // The switches and file buttons that act on the device page.
    connect(u->chkAutoGet, &QCheckBox::toggled, devicePage, &TDevicePage::SetAutoGet);
    connect(u->cbHideAdvanced, &QCheckBox::clicked, devicePage, &TDevicePage::cbHideAdvancedClick);
    connect(u->btLoadFile, &QPushButton::clicked, devicePage, &TDevicePage::btLoadFileClick);
    connect(u->btSaveFile, &QPushButton::clicked, devicePage, &TDevicePage::btSaveFileClick);
    connect(u->btCancelFile, &QPushButton::clicked, devicePage, &TDevicePage::btCancelFileClick);
    connect(u->btSetAddress, &QPushButton::clicked, this, [this] {
        const QString text = utilityPage->tbMyAddress->text();
        if (!comms_.SetOwnAddressFromText(text.toStdString()))
            dialogs_.error(QString("'%1' is not a valid integer value").arg(text));
    });
    connect(u->btStartLogging, &QPushButton::clicked, this, [this] { Guard([this] { btStartLoggingClick(); }); });
    connect(u->btStopLogging, &QPushButton::clicked, this, [this] { Guard([this] { btStopLoggingClick(); }); });
    connect(u->chkAppend, &QCheckBox::clicked, this, [this] { chkAppendClick(); });
}

void TForm1::btStartLoggingClick() {
    if (!logFile_) return;
    const QString text = utilityPage->tbLogInterval->text();
    const std::optional<float> seconds = ParseLogInterval(text.toStdString());
    if (!seconds) {
        dialogs_.error(QString("'%1' is not a valid floating point value").arg(text));
        return;
    }
    // A negative or enormous interval would stop the divider for good: refused like a bad number.
    if (!comms_.SetPeriodSeconds(*seconds)) {
        dialogs_.error(QString("'%1' is not a valid log interval").arg(text));
        return;
    }
    logFile_->fileName = utilityPage->tbLogFileName->text().toStdString();
    logFile_->StartLogging();
    // A failed restart has closed the log that ran before it; a missing name leaves that one running.
    lbLogging->setVisible(logFile_->Active());
}

void TForm1::btStopLoggingClick() {
    if (logFile_) logFile_->StopLogging();
    lbLogging->hide();
}

void TForm1::chkAppendClick() {
    if (logFile_) logFile_->append = utilityPage->chkAppend->isChecked();
}

void TForm1::WireScripting() {
    TScriptingPage* s = scriptingPage;
    connect(s->btOpenSequence, &QPushButton::clicked, this, [this] { Guard([this] { btOpenSequenceClick(); }); });
    connect(s->btRunTestNode, &QPushButton::clicked, this, [this] { Guard([this] { btRunTestNodeClick(); }); });
    connect(s->btClearAllTS, &QPushButton::clicked, this, [this] { Guard([this] { btClearAllTSClick(); }); });
    connect(s->btStopTestNode, &QPushButton::clicked, this, [this] { btStopTestNodeClick(); });
}

void TForm1::AddMenuEntries(QMenu* menu, QAction* before, const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        // The caption is the node's name as written: an "&" in it is no hot key.
        auto* entry = new QAction(QString::fromStdString(name).replace("&", "&&"), menu);
        connect(entry, &QAction::triggered, this, [this, name] {
            Guard([&] {
                if (sequences_ && sequences_->ConfirmStop()) sequences_->RunNodeByName(name);
                UpdateRunControls();
            });
        });
        // Each entry goes on top, so the last one loaded stands first.
        menu->insertAction(before ? before : (menu->actions().isEmpty() ? nullptr : menu->actions().first()), entry);
        before = entry;
        generatedEntries_.push_back(entry);
        menu->setEnabled(true);
    }
}

void TForm1::ReloadSequences() {
    for (QAction* a : generatedEntries_) delete a;
    generatedEntries_.clear();
    mnTools->setEnabled(true);
    mnStandardConfig->setEnabled(false);
    mnCustomConfig->setEnabled(false);
    const SequenceMenus menus = sequences_->ReloadSequences(workDir_);
    AddMenuEntries(mnStandardConfig, nullptr, menus.standard);
    AddMenuEntries(mnCustomConfig, nullptr, menus.custom);
    AddMenuEntries(mnTools, nullptr, menus.tools);
}

void TForm1::btOpenSequenceClick() {
    const QString chosen = dialogs_.openSequence ? dialogs_.openSequence() : QString();
    if (!chosen.isEmpty()) scriptingPage->tbTSFilename->setText(chosen);
    std::filesystem::path path = scriptingPage->tbTSFilename->text().toStdString();
    if (path.is_relative()) path = std::filesystem::path(workDir_) / path;
    sequences_->LoadSequenceFile(path);
}

void TForm1::btRunTestNodeClick() {
    if (sequences_ && sequences_->CurrentNode() && sequences_->ConfirmStop()) sequences_->RunNode();
    UpdateRunControls();
}

void TForm1::btStopTestNodeClick() {
    if (sequences_) sequences_->Stop();
    UpdateRunControls();
}

void TForm1::btClearAllTSClick() {
    if (sequences_ && !sequences_->ConfirmStop()) return;
    ReloadSequences();
    UpdateRunControls();
}

void TForm1::UpdateRunControls() {
    const bool running = sequences_ && sequences_->Running();
    if (running == runControlsRunning_) return;
    runControlsRunning_ = running;
    mnStopTestNode->setEnabled(running);
    scriptingPage->btStopTestNode->setEnabled(running);
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (sequences_ && sequences_->Running()) {
        // A close request from the bus cannot wait for an answer; the node is still named in the log.
        if (closingForBus_)
            sequences_->Stop();
        else if (!sequences_->ConfirmStop()) {
            event->ignore();
            UpdateRunControls();
            return;
        }
    }
    QMainWindow::closeEvent(event);
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // There may be no activation without a window manager: the first show starts the program.
    if (!started_) QTimer::singleShot(0, this, [this] { FormActivate(); });
}

void TForm1::FormActivate() {
    if (started_) return;
    started_ = true;
    logFile_ = std::make_unique<LogFile>();
    logFile_->fileName = "c:\\log.csv";
    logFile_->alert = [this](const std::string& text, const std::string& caption) {
        if (dialogs_.alert) dialogs_.alert(QString::fromStdString(text), QString::fromStdString(caption));
    };
    logFile_->writeFailed = [this](const std::string& line) {
        AddLogLine(QString::fromStdString(line));
        lbLogging->hide();
    };
    comms_.periodicLogStep = [this] { logFile_->LogRowStep(); };
    // Every property gets its column while the configuration loads; none is logged until chosen.
    comms_.Model().SetLogChannelFactory([this](const std::string& name) -> std::unique_ptr<LogChannel> {
        std::unique_ptr<LogItem> item = logFile_->AddItem(name);
        item->enabled = false;
        return item;
    });
    comms_.Start();
    devicePage->BuildGroups();
    devicePage->AddRoot();
    comms_.showBroadcasts = utilityPage->chkReceiveBroadcasts->isChecked();
    sequences_ = std::make_unique<TestSequence>(comms_.Model(), bridge_, bridge_);
    comms_.runnerStep = [this] { sequences_->Step(kTick); };
    comms_.runnerEvent = [this] { sequences_->Resume(); };
    comms_.Model().SetListener(&bridge_);
    loader_ = std::make_unique<ConfigLoader>(comms_.Model(), bridge_, workDir_);
    Guard([this] { loader_->LoadConfiguration(); });
    if (bridge_.EndRequested()) {
        // Without a configuration there is nothing to work with: the program ends, with a failure status.
        dialogs_.requestEnd();
        return;
    }
    Guard([this] { ReloadSequences(); });
    devicePage->cbHideAdvancedClick(utilityPage->cbHideAdvanced->isChecked());
    devicePage->SetAutoGet(utilityPage->chkAutoGet->isChecked());
    // The devices are what the operator came for: they show without a click.
    devicePage->tvDevices->expandItem(devicePage->tvDevices->topLevelItem(0));
    devicePage->tvDevicesUpdate();
    UpdateRunControls();
    SetTicking(true);
}

void TForm1::SetTicking(bool on) {
    ticking_ = on;
    if (on && !tickByHand_)
        timComs.start();
    else
        timComs.stop();
}

void TForm1::WireBridge() {
    CoreBridge* b = &bridge_;
    connect(b, &CoreBridge::logLine, this, [this](const QString& line) { AddLogLine(line); });
    connect(b, &CoreBridge::deviceTreeChanged, this, [this] { panelDirty_ = true; });
    connect(b, &CoreBridge::closeRequested, this, [this] { RequestClose(); });
    connect(b, &CoreBridge::tickingChanged, this, [this](bool on) { SetTicking(on); });
    connect(b, &CoreBridge::deviceAdded, devicePage, &TDevicePage::On_NewKorvaDevice);
    connect(b, &CoreBridge::propertyAdded, devicePage, &TDevicePage::On_NewKorvaProperty);
    connect(b, &CoreBridge::fileLinkAdded, devicePage, &TDevicePage::On_NewKFileLink);
    TScriptingPage* s = scriptingPage;
    connect(b, &CoreBridge::treeReset, s, &TScriptingPage::ResetTree);
    connect(b, &CoreBridge::nodeItemAdded, s, &TScriptingPage::AddNodeItem);
    connect(b, &CoreBridge::actionItemAdded, s, &TScriptingPage::AddActionItem);
    connect(b, &CoreBridge::itemSelected, s, &TScriptingPage::SelectItem);
    connect(b, &CoreBridge::selectedCollapsed, s, &TScriptingPage::CollapseSelected);
    connect(b, &CoreBridge::nodeShown, s, &TScriptingPage::ShowNode);
    connect(b, &CoreBridge::actionShown, s, &TScriptingPage::ShowAction);
    connect(b, &CoreBridge::resultShown, s, &TScriptingPage::ShowResult);
    connect(s, &TScriptingPage::itemChosen, this, [this](ItemId id) {
        if (sequences_) sequences_->tvTestClick(id);
    });
    // The device page decides what the advanced group shows; the group's controls live elsewhere.
    connect(devicePage, &TDevicePage::advancedShown, this, [this](bool shown) {
        for (QWidget* w : std::initializer_list<QWidget*>{tbMode, stMode, utilityPage->btLoadFile,
                                                          utilityPage->btSaveFile, utilityPage->btCancelFile})
            w->setVisible(shown);
    });
    connect(devicePage, &TDevicePage::modeText, this, [this](const QString& text) { SetTextIfChanged(tbMode, text); });
}

void TForm1::OnTimComs() {
    // Ticks never overlap: a box opened inside a tick runs its own event loop, in which the
    // timer may fire again. Re-arming the timer on every tick would cost more than this flag.
    if (inTick_) return;
    inTick_ = true;
    Guard([this] { comms_.Tick(); });
    // However many links changed in this tick, the panel is redrawn once.
    if (panelDirty_) {
        panelDirty_ = false;
        devicePage->tvDevicesUpdate();
    }
    UpdateRunControls();
    inTick_ = false;
}

void TForm1::AddLogLine(const QString& line) { memoLog->AddLogLine(line); }

void TForm1::btClearInLogClick() { memoLog->clear(); }

void TForm1::Exit1Click() { close(); }

void TForm1::MenuItem20Click() { TfrmAbout::ShowAbout(this); }

void TForm1::RequestClose() {
    QTimer::singleShot(0, this, [this] {
        closingForBus_ = true;
        Exit1Click();
        closingForBus_ = false;
    });
}

void TForm1::WireRelay() {
    // The relay shows its state in the hidden boxes of the "Utility" page.
    TcpRelay::Indicators boxes;
    boxes.masterConnect = [this](bool on) { utilityPage->chkMasterConnect->setChecked(on); };
    boxes.slaveConnect = [this](bool on) { utilityPage->chkSlaveConnect->setChecked(on); };
    boxes.waitConnect = [this](bool on) { utilityPage->chkWaitConnect->setChecked(on); };
    // Closed unless config/relay.xml opens it: see korvaconfig(1).
    std::string problem;
    relay_ = std::make_unique<TcpRelay>(comms_, std::move(boxes), TcpRelay::kPort, RelayAccess::Read(workDir_, problem));
    if (!problem.empty()) AddLogLine(QString::fromStdString(problem));
}

void TForm1::ConnectToRemote() { relay_->ConnectToRemote(utilityPage->tbServerIP->text()); }

void TForm1::ListenForRemote() { relay_->ListenForRemote(); }


}  // namespace korva
