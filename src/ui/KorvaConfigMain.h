#pragma once
// The main window: pages, menu, log pane, the communications timer and the start-up sequence.

#include <memory>
#include <string>

#include <QElapsedTimer>
#include <QMainWindow>

#include "compose/Composition.h"
#include "sequence/Util.h"
#include "transport/Relay.h"
#include "ui/CoreBridge.h"
#include "ui/Dialogs.h"
#include "ui/PortsMenu.h"
#include "ui/Logging.h"
#include "ui/StatusLine.h"
#include "ui/TickTimer.h"

class QAction;
class QDockWidget;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTabWidget;
class QTimer;

namespace korva {

class TDevicePage;
class TLogPane;
class TPlotWindow;
class TResultsWindow;
class ResultsRecorder;
class TScriptingPage;
class TTraceWindow;
class TUtilityPage;

// What the window can be given instead of its own: the dialogs (Qt's boxes otherwise), a line that
// carries the serial traffic instead of the serial port, and ticks driven from outside (OnTimComs)
// instead of the 10 ms timer.
struct WindowWiring {
    const UiDialogs* dialogs = nullptr;
    BusPort* line = nullptr;
    bool tickByHand = false;
};

// The main window composes the pages and wires them to the core through one bridge.
class TForm1 : public QMainWindow {
    Q_OBJECT
  public:
    static constexpr const char* kCaption = "Brenlow Korva\u2122 Config v 1.53";
    // Where the window keeps its geometry and last page between runs (QSettings), nothing else.
    static constexpr const char* kSettingsOwner = "korvaconfig";
    static constexpr const char* kSettingsName = "korvaconfig";
    static constexpr const char* kProblemsCaption = "Configuration problems";
    static constexpr int kLostWatchMs = 1000;
    // Plants with more links than this start with their devices closed.
    static constexpr std::size_t kExpandAllLimit = 5000;

    using Wiring = WindowWiring;

    // workDir is the folder that holds config/.
    explicit TForm1(std::string workDir = ".", Wiring wiring = {});
    ~TForm1() override;

    // The start-up sequence; runs once, on the first show.
    void FormActivate();
    bool Started() const { return started_; }
    // What the configuration's reader skipped or found suspicious at start-up.
    const std::vector<std::string>& ConfigurationProblems() { return core_.loader().Problems(); }

    void AddLogLine(const QString& line);
    void AddPacketLine(const QString& line);
    void btClearInLogClick();
    void Exit1Click();
    void MenuItem20Click();
    // "Coms": open port n, of line n when the plant has several (a failure also shows in the status
    // bar); map the ports to devices.
    void OpenPortClick(int n);
    void SelectPortClick();
    // "Coms", "Monitor Only": the port listens; nothing is sent and the sending controls are off.
    void MonitorClick(bool on);
    void OnTimComs();

    void ShowPlotClick();
    // Tools > Results: the runs kept in the working folder's results store.
    void ShowResultsClick();
    // Shows every value in the scheme's units ("" for each property's own) everywhere.
    void UseUnitScheme(const std::string& scheme);

    Engine& engine() { return core_.engine(); }
    TestSequence* Sequences();
    // COM1's port, the only one of a plant on one line.
    ComPortCommands& comPorts() { return *core_.ports().First().coms; }
    LogFile* Logger() { return logging_.File(); }
    TSerialPortNG& SerialPortNG1() { return *core_.ports().First().serial; }
    LinePorts& linePorts() { return core_.ports(); }

    QTabWidget* pcInterface;
    TDevicePage* devicePage;
    TScriptingPage* scriptingPage;
    TUtilityPage* utilityPage;
    TLogPane* memoLog = nullptr;  // the program's events
    TLogPane* memoPackets;        // the packet lines of the bus
    QTabWidget* logTabs;
    QDockWidget* dockLog;
    QPushButton* btClearInLog;
    QLabel* lbLogging;
    QLineEdit* tbMode;
    QLabel* stMode;
    TStatusLine* statusLine;
    TTraceWindow* traceWindow;  // "Coms", "Packet Trace"
    QAction* mnMonitor;
    TPlotWindow* plotWindow;
    TResultsWindow* resultsWindow = nullptr;  // made when first shown
    // The runs of the window in the results store.
    std::unique_ptr<ResultsRecorder> recorder_;
    // The communications timer runs, or would run when ticks are driven from outside.
    bool Ticking() const { return ticking_; }
    const TickTimer& Clock() const { return clock_; }

    QMenu* mnTools;
    QMenu* mnStandardConfig;
    QMenu* mnCustomConfig;
    QAction* mnStopTestNode;

  protected:
    void showEvent(QShowEvent* event) override;
    // A running test node is stopped only when the operator agrees.
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void SetTicking(bool on);
    // A close request from the bus: the window closes as its exit command does.
    void RequestClose();
    void WireBridge();
    void WireUtility();
    void WireRelay();
    void UpdateLogStatus();
    void ShowConfigurationProblems();
    // A lost line: the status bar offers to reconnect, and once its device is back the program asks.
    void FollowLostLine();
    void ReconnectClick();
    void WatchLostLine();

    std::string workDir_;
    UiDialogs dialogs_;
    CoreBridge bridge_;
    Composition core_;
    PortsMenu portsMenu_;
    Logging logging_;
    TickTimer clock_;  // the communications timer
    // The plot's time axis: the wall clock, or the ticks when they are given by hand.
    QElapsedTimer plotClock_;
    std::uint64_t ticks_ = 0;
    bool tickByHand_ = false;
    bool ticking_ = false;
    bool started_ = false;
    bool panelDirty_ = false;
    bool inTick_ = false;
    bool closingForBus_ = false;
    QTimer* lostWatch_ = nullptr;  // looks for a lost line's device while it is away
    bool offered_ = false;         // the program asked once since the line was lost
};

}  // namespace korva
