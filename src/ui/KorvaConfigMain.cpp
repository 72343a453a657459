#include "ui/KorvaConfigMain.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QIcon>
#include <QKeySequence>
#include <QSettings>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>

#include <algorithm>

#include "transport/PortMap.h"
#include "ui/Aboutform.h"
#include "ui/DevicePage.h"
#include "ui/LogPane.h"
#include "ui/PlotWindow.h"
#include "ui/PortPicker.h"
#include "ui/ScriptingPage.h"
#include "ui/TraceWindow.h"
#include "ui/UtilityPage.h"
#include "ui/Widgets.h"

namespace korva {

namespace {
constexpr int kClientWidth = 839;
constexpr int kClientHeight = 341;
constexpr int kModeBoxBelow = 11;  // how far below the client area the mode box stands

QIcon AppIcon() {
    // Rendered from the packaging icon at build time; an installed theme icon otherwise.
    const QString built = ":/icons/korvaconfig.png";
    return QFile::exists(built) ? QIcon(built) : QIcon::fromTheme("korvaconfig");
}
}  // namespace

TForm1::TForm1(std::string workDir, Wiring wiring)
    : workDir_(std::move(workDir)),
      dialogs_(wiring.dialogs ? *wiring.dialogs : UiDialogs::Standard(this)),
      bridge_(dialogs_),
      engine_(bridge_),
      // Clusters reach this thread as queued calls; a call that arrives after the window is gone is dropped.
      ports_(
          engine_, bridge_, workDir_,
          [this](std::function<void()> f) {
              QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
          },
          [this] { return bridge_.BusErrors(); }),
      logging_(engine_, dialogs_),
      tickByHand_(wiring.tickByHand) {
    if (wiring.line != nullptr) engine_.Line().AttachSerial(wiring.line);
    bridge_.SetComPorts(&ports_);
    setWindowTitle(QString::fromUtf8(kCaption));
    setWindowIcon(AppIcon());
    auto* client = new QWidget(this);
    client->setObjectName("client");
    // The form's size is the smallest: the pages keep their controls where they stand.
    client->setMinimumSize(kClientWidth, kClientHeight);
    client->setAutoFillBackground(true);
    QPalette pal = client->palette();
    pal.setColor(QPalette::Window, QColor(215, 215, 215));
    client->setPalette(pal);
    QFont font("MS Sans Serif");
    font.setPixelSize(11);
    client->setFont(font);
    setCentralWidget(client);

    pcInterface = new QTabWidget(client);
    pcInterface->setObjectName("pcInterface");
    devicePage = new TDevicePage(nullptr, dialogs_);
    scriptingPage = new TScriptingPage(dialogs_, workDir_);
    utilityPage = new TUtilityPage(UtilityTargets{&engine_, &ports_, &logging_, &dialogs_});
    pcInterface->addTab(devicePage, "Device Manager");
    pcInterface->addTab(scriptingPage, "Scripting");
    pcInterface->addTab(utilityPage, "Utility");
    pcInterface->setCurrentIndex(0);

    memoLog = new TLogPane(client);
    memoLog->setFixedWidth(185);
    QFont logFont("Arial");
    logFont.setPixelSize(11);
    memoLog->setFont(logFont);
    btClearInLog = new QPushButton("Clear Log", client);
    btClearInLog->setObjectName("btClearInLog");
    btClearInLog->setFixedSize(73, 25);
    lbLogging = new QLabel("Logging", client);
    lbLogging->setObjectName("lbLogging");
    lbLogging->setStyleSheet("background: red;");
    lbLogging->hide();
    // The page control takes the room the window gains; the log pane keeps its width and grows down.
    auto* columns = new QHBoxLayout(client);
    columns->setContentsMargins(6, 0, 6, 4);
    columns->setSpacing(7);
    auto* left = new QVBoxLayout();
    left->addSpacing(8);
    left->addWidget(pcInterface, 1);
    columns->addLayout(left, 1);
    auto* right = new QVBoxLayout();
    right->addWidget(memoLog, 1);
    auto* bottom = new QHBoxLayout();
    bottom->addSpacing(16);
    bottom->addWidget(lbLogging);
    bottom->addStretch(1);
    bottom->addWidget(btClearInLog);
    right->addLayout(bottom);
    columns->addLayout(right);
    // The mode box stands below the client area: it belongs to the advanced group but never shows.
    stMode = MakeLabel(client, "stMode", "Mode", 384, 352);
    tbMode = MakeEdit(client, "tbMode", "", 424, 352, 81);
    statusLine = new TStatusLine(this);
    setStatusBar(statusLine);
    traceWindow = new TTraceWindow(engine_.Model(), dialogs_, this);
    engine_.SetPacketObserver(traceWindow);
    plotWindow = new TPlotWindow(engine_.Model(), dialogs_, this);
    plotClock_.start();

    BuildMenu();
    WireBridge();
    WireUtility();
    WireRelay();
    WireKeys();
    connect(btClearInLog, &QPushButton::clicked, this, [this] { btClearInLogClick(); });
    ports_.lineChanged = [this] { ports_.ShowLines(*statusLine); };

    timComs.setObjectName("timComs");
    timComs.setInterval(10);
    connect(&timComs, &QTimer::timeout, this, [this] { OnTimComs(); });
    RestoreSettings();
}

TForm1::~TForm1() {
    engine_.SetPacketObserver(nullptr);
    timComs.stop();
    delete plotWindow;  // before the model it reads from
    // The pages, with the sequence store and the relay they own, before the engine they act on.
    delete pcInterface;
}

TestSequence* TForm1::Sequences() {
    return scriptingPage->Sequences();
}

void TForm1::BuildMenu() {
    QMenuBar* bar = menuBar();
    QMenu* file = bar->addMenu("&File");
    file->addAction("E&xit", this, [this] { Exit1Click(); })->setShortcut(QKeySequence::Quit);

    QMenu* coms = bar->addMenu("&Coms");
    for (int n = 1; n <= 6; ++n) {
        QAction* open = coms->addAction(QString("Open Com &%1").arg(n), this,
                                        [this, n] { Guarded(dialogs_, [&] { OpenPortClick(n); }); });
        open->setShortcut(QKeySequence(Qt::CTRL | static_cast<Qt::Key>(Qt::Key_0 + n)));
    }
    QAction* close = coms->addAction("&Close Com Port", this,
                                     [this] { Guarded(dialogs_, [this] { comPorts().ClosePort(); }); });
    ports_.AddCloseEntries(*coms, close, this,
                           [this](int n) { Guarded(dialogs_, [&] { ports_.Close(n); }); });
    // The relay's commands are wired but not offered: their items stay greyed.
    coms->addAction("Connect to &Remote", this, [this] { utilityPage->ConnectToRemote(); })
        ->setEnabled(false);
    coms->addAction("&Listen for Remote", this, [this] { utilityPage->ListenForRemote(); })
        ->setEnabled(false);
    coms->addSeparator();
    coms->addAction("Select &Port\u2026", this, [this] { Guarded(dialogs_, [this] { SelectPortClick(); }); })
        ->setObjectName("mnSelectPort");
    coms->addSeparator();
    QAction* trace = coms->addAction("Packet &Trace", this, [this] { traceWindow->ShowWindow(); });
    trace->setObjectName("mnTrace");
    trace->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    mnMonitor = coms->addAction("&Monitor Only", this, [this](bool on) { MonitorClick(on); });
    mnMonitor->setObjectName("mnMonitor");
    mnMonitor->setCheckable(true);

    QMenu* logging = bar->addMenu("&Logging");
    logging->setObjectName("mnLogging");
    TUtilityPage* u = utilityPage;
    logging->addAction("&Start Logging", this,
                       [this, u] { Guarded(dialogs_, [u] { u->btStartLoggingClick(); }); });
    logging->addAction("S&top Logging", this,
                       [this, u] { Guarded(dialogs_, [u] { u->btStopLoggingClick(); }); });
    logging->addSeparator();
    logging->addAction("&Plot\u2026", this, [this] { ShowPlotClick(); })->setObjectName("mnPlot");
    // A menu that stays hidden for the whole run, with nothing behind it.
    QMenu* setup = bar->addMenu("Setup");
    setup->setObjectName("mnSetup");
    for (const char* item : {"Logging", "Comms", "Controller"}) setup->addAction(item)->setEnabled(false);
    setup->addAction("Show Proto-Interface")->setVisible(false);
    setup->menuAction()->setVisible(false);

    const ToolsMenu tools = scriptingPage->BuildToolsMenu(*bar);
    mnTools = tools.tools;
    mnStandardConfig = tools.standard;
    mnCustomConfig = tools.custom;
    mnStopTestNode = tools.stop;

    QMenu* help = bar->addMenu("&Help");
    help->addAction("&About", this, [this] { MenuItem20Click(); });
}

void TForm1::WireUtility() {
    TUtilityPage* u = utilityPage;
    // The switches and file buttons that act on the device page.
    connect(u->chkAutoGet, &QCheckBox::toggled, devicePage, &TDevicePage::SetAutoGet);
    connect(u->cbHideAdvanced, &QCheckBox::clicked, devicePage, &TDevicePage::cbHideAdvancedClick);
    connect(u->btLoadFile, &QPushButton::clicked, devicePage, &TDevicePage::btLoadFileClick);
    connect(u->btSaveFile, &QPushButton::clicked, devicePage, &TDevicePage::btSaveFileClick);
    connect(u->btCancelFile, &QPushButton::clicked, devicePage, &TDevicePage::btCancelFileClick);
    connect(u, &TUtilityPage::loggingShown, this, [this](bool active) {
        lbLogging->setVisible(active);
        UpdateLogStatus();
    });
}

void TForm1::closeEvent(QCloseEvent* event) {
    TestSequence* sequences = Sequences();
    if (sequences && sequences->Running()) {
        // A close request from the bus cannot wait for an answer; the node is still named in the log.
        if (closingForBus_)
            sequences->Stop();
        else if (!sequences->ConfirmStop()) {
            event->ignore();
            scriptingPage->UpdateRunControls();
            return;
        }
    }
    SaveSettings();
    QMainWindow::closeEvent(event);
}

void TForm1::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    const int below = std::max(kClientHeight, centralWidget()->height()) + kModeBoxBelow;
    stMode->move(stMode->x(), below);
    tbMode->move(tbMode->x(), below);
}

void TForm1::RestoreSettings() {
    QSettings settings(kSettingsOwner, kSettingsName);
    if (!restoreGeometry(settings.value("window/geometry").toByteArray()))
        resize(kClientWidth,
               kClientHeight + menuBar()->sizeHint().height() + statusLine->sizeHint().height());
    const int page = settings.value("window/page", 0).toInt();
    if (page >= 0 && page < pcInterface->count()) pcInterface->setCurrentIndex(page);
}

void TForm1::SaveSettings() {
    QSettings settings(kSettingsOwner, kSettingsName);
    settings.setValue("window/geometry", saveGeometry());
    settings.setValue("window/page", pcInterface->currentIndex());
}

void TForm1::WireKeys() {
    // Each key acts as a click on its button would, and only where the button is offered.
    const auto key = [this](const char* name, const QKeySequence& sequence, QPushButton* button) {
        auto* action = new QAction(this);
        action->setObjectName(name);
        action->setShortcut(sequence);
        connect(action, &QAction::triggered, this, [button] {
            if (!button->isHidden() && button->isEnabled()) button->click();
        });
        addAction(action);
    };
    key("acRefresh", QKeySequence(Qt::Key_F5), devicePage->btGetVal);
    key("acSet", QKeySequence(Qt::CTRL | Qt::Key_Return), devicePage->btSetVal);
    key("acRunTestNode", QKeySequence(Qt::Key_F9), scriptingPage->btRunTestNode);
}

void TForm1::OpenPortClick(int n) {
    const ComPortCommands& coms = ports_.Open(n);
    if (coms.LastFailure().empty()) return;
    QStringList lines{QString("Can't Open COM%1").arg(n)};
    for (const std::string& line : coms.LastFailure()) lines << QString::fromStdString(line);
    statusLine->showMessage(lines.join("  "), 20000);
}

void TForm1::SelectPortClick() {
    TPortPicker picker(this, FindSerialPorts(), ReadPortMap(workDir_));
    if (!dialogs_.runDialog || !dialogs_.runDialog(picker)) return;
    const std::string why = WritePortMap(workDir_, picker.Devices());
    if (!why.empty()) dialogs_.error(QString::fromStdString(why));
}

void TForm1::MonitorClick(bool on) {
    for (const auto& bus : engine_.Buses()) bus->SetListenOnly(on);
    for (QWidget* w : std::initializer_list<QWidget*>{
             devicePage->btGetVal, devicePage->btSetVal, scriptingPage->btRunTestNode,
             utilityPage->btRunBootLoader, utilityPage->btLoadFile, utilityPage->btSaveFile})
        w->setEnabled(!on);
    AddLogLine(on ? "Monitor only: listening, nothing is sent" : "Monitor off: requests are sent again");
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // There may be no activation without a window manager: the first show starts the program.
    if (!started_) QTimer::singleShot(0, this, [this] { FormActivate(); });
}

void TForm1::FormActivate() {
    if (started_) return;
    started_ = true;
    logging_.Start([this](const std::string& line) {
        AddLogLine(QString::fromStdString(line));
        lbLogging->hide();
    });
    engine_.Start();
    devicePage->BuildGroups();
    devicePage->AddRoot();
    scriptingPage->TakeSequences(std::make_unique<TestSequence>(engine_.Model(), bridge_, bridge_));
    engine_.runnerStep = [this] { Sequences()->Step(kTick); };
    engine_.runnerEvent = [this] { Sequences()->Resume(); };
    engine_.Model().SetListener(&bridge_);
    loader_ = std::make_unique<ConfigLoader>(engine_.Model(), bridge_, workDir_);
    Guarded(dialogs_, [this] { loader_->LoadConfiguration(); });
    if (bridge_.EndRequested()) {
        // Without a configuration there is nothing to work with: the program ends, with a failure status.
        dialogs_.requestEnd();
        return;
    }
    ports_.TakePlant();
    utilityPage->chkReceiveBroadcastsClick();
    Guarded(dialogs_, [this] { scriptingPage->ReloadSequences(); });
    devicePage->cbHideAdvancedClick(utilityPage->cbHideAdvanced->isChecked());
    devicePage->SetAutoGet(utilityPage->chkAutoGet->isChecked());
    // The devices and their properties are what the operator came for: they show without a click,
    // unless there are more than anybody scrolls through.
    std::size_t links = 0;
    for (const auto& entry : engine_.Model().devices) links += entry.second->ownedLinks.size();
    devicePage->OpenDevices(links <= kExpandAllLimit);
    devicePage->tvDevicesUpdate();
    scriptingPage->UpdateRunControls();
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
    // The device page decides what the advanced group shows; the group's controls live elsewhere.
    connect(devicePage, &TDevicePage::advancedShown, this, [this](bool shown) {
        for (QWidget* w : std::initializer_list<QWidget*>{tbMode, stMode, utilityPage->btLoadFile,
                                                          utilityPage->btSaveFile, utilityPage->btCancelFile})
            w->setVisible(shown);
    });
    connect(devicePage, &TDevicePage::modeText, this,
            [this](const QString& text) { SetTextIfChanged(tbMode, text); });
}

void TForm1::OnTimComs() {
    // Ticks never overlap: a box opened inside a tick runs its own event loop, in which the
    // timer may fire again. Re-arming the timer on every tick would cost more than this flag.
    if (inTick_) return;
    inTick_ = true;
    Guarded(dialogs_, [this] { engine_.Tick(); });
    traceWindow->AppendBatch();
    ++ticks_;
    const double seconds = static_cast<double>(plotClock_.elapsed()) / 1000.0;
    plotWindow->Sample(tickByHand_ ? static_cast<double>(ticks_) * 0.01 : seconds);
    UpdateLogStatus();
    // However many links changed in this tick, the panel is redrawn once.
    if (panelDirty_) {
        panelDirty_ = false;
        devicePage->tvDevicesUpdate();
    }
    scriptingPage->UpdateRunControls();
    ports_.ShowTraffic(*statusLine);
    inTick_ = false;
}

void TForm1::AddLogLine(const QString& line) {
    memoLog->AddLogLine(line);
}

void TForm1::btClearInLogClick() {
    memoLog->Clear();
}

void TForm1::Exit1Click() {
    close();
}

void TForm1::MenuItem20Click() {
    TfrmAbout::ShowAbout(this);
}

void TForm1::RequestClose() {
    QTimer::singleShot(0, this, [this] {
        closingForBus_ = true;
        Exit1Click();
        closingForBus_ = false;
    });
}

void TForm1::WireRelay() {
    connect(utilityPage, &TUtilityPage::relayShown, statusLine, &TStatusLine::ShowRelay);
    const std::string problem = utilityPage->OpenRelay(workDir_);
    if (!problem.empty()) AddLogLine(QString::fromStdString(problem));
}

void TForm1::UpdateLogStatus() {
    statusLine->ShowLogging(logging_.StatusText());
}

void TForm1::ShowPlotClick() {
    plotWindow->show();
    plotWindow->raise();
    plotWindow->activateWindow();
}

}  // namespace korva
