#include "ui/MainMenu.h"

#include <QAction>
#include <QKeySequence>
#include <QMenuBar>
#include <QPushButton>

#include "ui/DevicePage.h"
#include "ui/KorvaConfigMain.h"
#include "ui/ScriptingPage.h"
#include "ui/TraceWindow.h"
#include "ui/UtilityPage.h"

namespace korva {

void BuildMainMenu(TForm1& form, PortsMenu& ports, const UiDialogs& dialogs) {
    TForm1* f = &form;
    QMenuBar* bar = form.menuBar();
    QMenu* file = bar->addMenu("&File");
    file->addAction("E&xit", f, [f] { f->Exit1Click(); })->setShortcut(QKeySequence::Quit);

    QMenu* coms = bar->addMenu("&Coms");
    for (int n = 1; n <= 6; ++n) {
        QAction* open = coms->addAction(QString("Open Com &%1").arg(n), f,
                                        [f, n, &dialogs] { Guarded(dialogs, [&] { f->OpenPortClick(n); }); });
        open->setShortcut(QKeySequence(Qt::CTRL | static_cast<Qt::Key>(Qt::Key_0 + n)));
    }
    QAction* close = coms->addAction("&Close Com Port", f,
                                     [f, &dialogs] { Guarded(dialogs, [f] { f->comPorts().ClosePort(); }); });
    ports.AddCloseEntries(*coms, close, f,
                          [f, &dialogs](int n) { Guarded(dialogs, [&] { f->linePorts().Close(n); }); });
    // The relay's commands are wired but not offered: their items stay greyed.
    coms->addAction("Connect to &Remote", f, [f] { f->utilityPage->ConnectToRemote(); })->setEnabled(false);
    coms->addAction("&Listen for Remote", f, [f] { f->utilityPage->ListenForRemote(); })->setEnabled(false);
    coms->addSeparator();
    coms->addAction("Select &Port\u2026", f,
                    [f, &dialogs] { Guarded(dialogs, [f] { f->SelectPortClick(); }); })
        ->setObjectName("mnSelectPort");
    coms->addSeparator();
    QAction* trace = coms->addAction("Packet &Trace", f, [f] { f->traceWindow->ShowWindow(); });
    trace->setObjectName("mnTrace");
    trace->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    QAction* monitor = coms->addAction("&Monitor Only", f, [f](bool on) { f->MonitorClick(on); });
    monitor->setObjectName("mnMonitor");
    monitor->setCheckable(true);
    form.mnMonitor = monitor;

    QMenu* logging = bar->addMenu("&Logging");
    logging->setObjectName("mnLogging");
    TUtilityPage* u = form.utilityPage;
    logging->addAction("&Start Logging", f,
                       [u, &dialogs] { Guarded(dialogs, [u] { u->btStartLoggingClick(); }); });
    logging->addAction("S&top Logging", f,
                       [u, &dialogs] { Guarded(dialogs, [u] { u->btStopLoggingClick(); }); });
    logging->addSeparator();
    logging->addAction("&Plot\u2026", f, [f] { f->ShowPlotClick(); })->setObjectName("mnPlot");
    logging->addAction("&Results\u2026", f, [f] { f->ShowResultsClick(); })->setObjectName("mnResults");
    // A menu that stays hidden for the whole run, with nothing behind it.
    QMenu* setup = bar->addMenu("Setup");
    setup->setObjectName("mnSetup");
    for (const char* item : {"Logging", "Comms", "Controller"}) setup->addAction(item)->setEnabled(false);
    setup->addAction("Show Proto-Interface")->setVisible(false);
    setup->menuAction()->setVisible(false);

    const ToolsMenu tools = form.scriptingPage->BuildToolsMenu(*bar);
    form.mnTools = tools.tools;
    form.mnStandardConfig = tools.standard;
    form.mnCustomConfig = tools.custom;
    form.mnStopTestNode = tools.stop;

    QMenu* help = bar->addMenu("&Help");
    help->addAction("&About", f, [f] { f->MenuItem20Click(); });
}

void AddButtonKeys(TForm1& form) {
    // Each key acts as a click on its button would, and only where the button is offered.
    const auto key = [&form](const char* name, const QKeySequence& sequence, QPushButton* button) {
        auto* action = new QAction(&form);
        action->setObjectName(name);
        action->setShortcut(sequence);
        QObject::connect(action, &QAction::triggered, &form, [button] {
            if (!button->isHidden() && button->isEnabled()) button->click();
        });
        form.addAction(action);
    };
    key("acRefresh", QKeySequence(Qt::Key_F5), form.devicePage->btGetVal);
    key("acSet", QKeySequence(Qt::CTRL | Qt::Key_Return), form.devicePage->btSetVal);
    key("acRunTestNode", QKeySequence(Qt::Key_F9), form.scriptingPage->btRunTestNode);
}

}  // namespace korva
