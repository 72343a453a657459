#include "ui/KorvaConfigMain.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <filesystem>

#include "transport/PortMap.h"
#include "ui/Aboutform.h"
#include "ui/DevicePage.h"
#include "ui/LogPane.h"
#include "ui/MainMenu.h"
#include "ui/PlotWindow.h"
#include "ui/PortPicker.h"
#include "ui/ResultsRecorder.h"
#include "ui/ResultsWindow.h"
#include "results/ResultsConfig.h"
#include "ui/ScriptingPage.h"
#include "ui/TraceWindow.h"
#include "ui/UtilityPage.h"
#include "ui/WindowLayout.h"
#include "ui/Widgets.h"

namespace korva {

namespace {
QIcon AppIcon() {
    // Rendered from the packaging icon at build time; an installed theme icon otherwise.
    const QString built = ":/icons/korvaconfig.png";
    return QFile::exists(built) ? QIcon(built) : QIcon::fromTheme("korvaconfig");
}
}  // namespace

TForm1::TForm1(std::string workDir, Wiring wiring)
    : workDir_(std::move(workDir)),
      dialogs_(wiring.dialogs ? *wiring.dialogs
                              : UiDialogs::Standard(this, QString::fromStdString(workDir_))),
      bridge_(dialogs_),
      // Clusters reach this thread as queued calls; a call that arrives after the window is gone is dropped.
      core_(workDir_, {bridge_, bridge_, bridge_, bridge_,
                       [this](std::function<void()> f) {
                           QMetaObject::invokeMethod(this, std::move(f), Qt::QueuedConnection);
                       }}),
      portsMenu_(core_.ports(), core_.engine(), [this] { return bridge_.BusErrors(); }),
      logging_(core_.engine(), core_.log(), dialogs_),
      clock_(core_.engine(), [this] { OnTimComs(); }),
      tickByHand_(wiring.tickByHand) {
    // Every error and warning box is an event of the day too: the log keeps it after the box is gone.
    dialogs_.error = [this, box = dialogs_.error](const QString& text) {
        AddLogLine("Error: " + text);
        if (box) box(text);
    };
    dialogs_.alert = [this, box = dialogs_.alert](const QString& text, const QString& caption) {
        AddLogLine(caption + ": " + QString(text).replace('\n', ' '));
        if (box) box(text, caption);
    };
    if (wiring.line != nullptr) engine().Line().AttachSerial(wiring.line);
    logging_.lineBaud = [this] { return SerialPortNG1().BaudRate(); };
    bridge_.SetComPorts(&core_.ports());
    setWindowTitle(QString::fromUtf8(kCaption));
    setWindowIcon(AppIcon());
    BuildClientArea(*this);
    devicePage = new TDevicePage(nullptr, dialogs_, engine());
    scriptingPage = new TScriptingPage(dialogs_, workDir_);
    utilityPage = new TUtilityPage(UtilityTargets{&engine(), &core_.ports(), &logging_, &dialogs_, workDir_});
    pcInterface->addTab(devicePage, "Device Manager");
    pcInterface->addTab(scriptingPage, "Scripting");
    pcInterface->addTab(utilityPage, "Utility");
    pcInterface->setCurrentIndex(0);

    statusLine = new TStatusLine(this);
    setStatusBar(statusLine);
    traceWindow = new TTraceWindow(engine().Model(), dialogs_, this);
    engine().SetPacketObserver(traceWindow);
    traceWindow->lineLive = [this] {
        for (const auto& bus : engine().Buses())
            if (bus->SerialUp() || (bus->Relay() != nullptr && bus->Relay()->Up())) return true;
        return false;
    };
    plotWindow = new TPlotWindow(engine().Model(), dialogs_, this);
    plotClock_.start();

    BuildMainMenu(*this, portsMenu_, dialogs_);
    WireBridge();
    WireUtility();
    WireRelay();
    AddButtonKeys(*this);
    connect(btClearInLog, &QPushButton::clicked, this, [this] { btClearInLogClick(); });
    core_.ports().lineChanged = [this] {
        portsMenu_.ShowCloseEntries();
        portsMenu_.ShowLines(*statusLine);
        FollowLostLine();
    };
    lostWatch_ = new QTimer(this);
    lostWatch_->setInterval(kLostWatchMs);
    connect(lostWatch_, &QTimer::timeout, this, [this] { WatchLostLine(); });
    connect(statusLine, &TStatusLine::reconnectClicked, this, [this] { ReconnectClick(); });

    RestoreWindowSettings(*this);
}

TForm1::~TForm1() {
    engine().SetPacketObserver(nullptr);
    clock_.SetRunning(false);
    delete plotWindow;  // before the model it reads from
    // The pages, with the relay they own, before the engine and the store they act on.
    delete pcInterface;
}

TestSequence* TForm1::Sequences() {
    return scriptingPage->Sequences();
}

void TForm1::WireUtility() {
    TUtilityPage* u = utilityPage;
    // The switches and file buttons that act on the device page.
    connect(u->chkAutoGet, &QCheckBox::toggled, devicePage, &TDevicePage::SetAutoGet);
    connect(u->cbHideAdvanced, &QCheckBox::clicked, devicePage, &TDevicePage::cbHideAdvancedClick);
    connect(u->btLoadFile, &QPushButton::clicked, devicePage, &TDevicePage::btLoadFileClick);
    connect(u->btSaveFile, &QPushButton::clicked, devicePage, &TDevicePage::btSaveFileClick);
    connect(u->btCancelFile, &QPushButton::clicked, devicePage, &TDevicePage::btCancelFileClick);
    connect(u, &TUtilityPage::unitSchemeChosen, this, [this](const QString& scheme) {
        UseUnitScheme(scheme.toStdString());
        SaveUnitScheme(scheme);
    });
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
    SaveWindowSettings(*this);
    QMainWindow::closeEvent(event);
}

void TForm1::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    PlaceModeBox(*this);
}

void TForm1::OpenPortClick(int n) {
    const ComPortCommands& coms = core_.ports().Open(n);
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
    for (const auto& bus : engine().Buses()) bus->SetListenOnly(on);
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
    engine().Start();
    devicePage->BuildGroups();
    devicePage->AddRoot();
    scriptingPage->UseSequences(core_.sequences());
    // Each run of a node is kept where korvarun keeps its runs; a folder whose results.xml cannot
    // be used is said, and its runs are not kept.
    const results::ResultsPlace place = results::FindResults(workDir_, "");
    if (!place.error.empty()) AddLogLine("Results are not kept: " + QString::fromStdString(place.error));
    recorder_ = std::make_unique<ResultsRecorder>(
        place, [this] { return scriptingPage->tbDut->text().trimmed().toStdString(); },
        [this](const QString& line) { AddLogLine(line); });
    recorder_->Watch(core_.sequences());
    engine().Model().SetListener(&bridge_);
    Guarded(dialogs_, [this] { core_.loader().LoadConfiguration(); });
    if (bridge_.EndRequested()) {
        // Without a configuration there is nothing to work with: the program ends, with a failure status.
        dialogs_.requestEnd();
        return;
    }
    ShowConfigurationProblems();
    if (const UnitCatalog* units = engine().Model().Units()) {
        const std::string scheme = RestoredUnitScheme().toStdString();
        UseUnitScheme(scheme);
        utilityPage->ShowUnitSchemes(units->SchemeNames(), engine().Model().UnitScheme());
    }
    core_.ports().TakePlant();
    portsMenu_.ShowCloseEntries();
    utilityPage->chkReceiveBroadcastsClick();
    Guarded(dialogs_, [this] { scriptingPage->ReloadSequences(); });
    devicePage->cbHideAdvancedClick(utilityPage->cbHideAdvanced->isChecked());
    devicePage->SetAutoGet(utilityPage->chkAutoGet->isChecked());
    // The devices and their properties are what the operator came for: they show without a click,
    // unless there are more than anybody scrolls through.
    std::size_t links = 0;
    for (const auto& entry : engine().Model().devices) links += entry.second->ownedLinks.size();
    devicePage->OpenDevices(links <= kExpandAllLimit);
    devicePage->tvDevicesUpdate();
    scriptingPage->UpdateRunControls();
    SetTicking(true);
}

namespace {
// The first lost line's port, if any.
LinePorts::Port* LostPort(LinePorts& ports) {
    for (const auto& port : ports.All())
        if (port->coms->LineState() == ComPortCommands::Line::Lost) return port.get();
    return nullptr;
}
// "COM3" is 3; 0 for anything else.
int PortNumber(const std::string& name) {
    return name.size() == 4 && name.rfind("COM", 0) == 0 && name[3] >= '1' && name[3] <= '6' ? name[3] - '0'
                                                                                             : 0;
}
}  // namespace

void TForm1::FollowLostLine() {
    LinePorts::Port* lost = LostPort(core_.ports());
    statusLine->ShowLost(lost ? QString::fromStdString(lost->serial->CommPort()) : QString());
    if (lost == nullptr) {
        lostWatch_->stop();
        offered_ = false;
    } else if (!lostWatch_->isActive() && !offered_) {
        lostWatch_->start();
    }
}

void TForm1::WatchLostLine() {
    LinePorts::Port* lost = LostPort(core_.ports());
    if (lost == nullptr || offered_) return lostWatch_->stop();
    const std::string path = lost->serial->DevicePath();
    std::error_code ec;
    if (path.empty() || !std::filesystem::exists(path, ec)) return;
    // Asked once: a No leaves the status bar's offer standing.
    offered_ = true;
    lostWatch_->stop();
    const QString name = QString::fromStdString(lost->serial->CommPort());
    if (dialogs_.question &&
        dialogs_.question(QString("%1 (%2) is back. Reopen it?").arg(name, QString::fromStdString(path))))
        ReconnectClick();
}

void TForm1::ReconnectClick() {
    if (LinePorts::Port* lost = LostPort(core_.ports())) {
        const int n = PortNumber(lost->serial->CommPort());
        if (n > 0) OpenPortClick(n);
    }
}

void TForm1::ShowConfigurationProblems() {
    const std::vector<std::string>& problems = core_.loader().Problems();
    if (problems.empty()) return;
    QStringList lines;
    for (const std::string& p : problems) {
        lines << QString::fromStdString(p);
        AddLogLine("Configuration: " + lines.back());
    }
    // The window comes up first; the box names what the plant lacks for it.
    QTimer::singleShot(0, this, [this, text = lines.join('\n')] {
        if (dialogs_.alert)
            dialogs_.alert("The configuration loaded as far as it could:\n\n" + text, kProblemsCaption);
    });
}

void TForm1::SetTicking(bool on) {
    ticking_ = on;
    clock_.SetRunning(on && !tickByHand_);
}

void TForm1::WireBridge() {
    CoreBridge* b = &bridge_;
    connect(b, &CoreBridge::logLine, this, [this](const QString& line) { AddLogLine(line); });
    connect(b, &CoreBridge::packetLine, this, [this](const QString& line) { AddPacketLine(line); });
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
    connect(b, &CoreBridge::runningShown, s, &TScriptingPage::ShowRunning);
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
    Guarded(dialogs_, [this] { engine().Tick(); });
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
    portsMenu_.ShowTraffic(*statusLine);
    inTick_ = false;
    if (!tickByHand_) clock_.TickDone();
}

void TForm1::AddLogLine(const QString& line) {
    if (memoLog != nullptr) memoLog->AddLogLine(line);
}

void TForm1::AddPacketLine(const QString& line) {
    memoPackets->AddLogLine(line);
}

void TForm1::btClearInLogClick() {
    memoLog->Clear();
    memoPackets->Clear();
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

void TForm1::UseUnitScheme(const std::string& scheme) {
    // A trace being saved reads the units of the properties: it finishes first.
    traceWindow->WaitForSave();
    engine().Model().UseUnitScheme(scheme);
    devicePage->ShowUnits();
    plotWindow->ShowUnits();
    traceWindow->ShowUnits();
}

void TForm1::ShowResultsClick() {
    if (resultsWindow == nullptr) {
        const results::ResultsPlace place = results::FindResults(workDir_, "");
        if (!place.error.empty() || place.location.empty()) {
            bridge_.ShowMessage(place.error.empty() ? "No results are kept in this working folder"
                                                    : place.error);
            return;
        }
        resultsWindow = new TResultsWindow(place.location, this);
    }
    resultsWindow->show();
    resultsWindow->raise();
    resultsWindow->activateWindow();
    resultsWindow->Refresh();
}

void TForm1::ShowPlotClick() {
    plotWindow->show();
    plotWindow->raise();
    plotWindow->activateWindow();
}

}  // namespace korva
