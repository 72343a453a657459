// The window as a daily tool, offscreen: it grows, keeps its place, shows the line's state,
// explains failed opens and configuration faults, maps ports, and answers the keyboard.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QComboBox>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTabWidget>
#include <QtTest>

#include <cerrno>
#include <filesystem>

#include "support/Pty.h"
#include "support/Window.h"
#include "transport/PortMap.h"
#include "ui/PortPicker.h"

using namespace korva;

class DailyWorkTest : public QObject, test::WindowFixture {
    Q_OBJECT

    // Maps a COM port to a device path in the plant's ports file.
    void MapPort(int n, const std::string& path) {
        std::map<std::string, std::string> ports = ReadPortMap(win->dir.Path());
        ports["COM" + std::to_string(n)] = path;
        QCOMPARE(QString::fromStdString(WritePortMap(win->dir.Path(), ports)), QString());
    }
    QString State() const { return form->statusLine->lbState->text(); }
    QStringList Log() const { return form->memoLog->Lines(); }

  private slots:
    void cleanup() { win.reset(); }

    // A first start opens at a size to work in, most of the screen; grown, the tree, the table and
    // the log take the room; the mode box stays out of sight; closed, the window keeps its size,
    // page and docks for the next run.
    void growsAndKeepsItsPlace() {
        Start();
        QVERIFY(!form->windowIcon().isNull());
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form));
        const QSize room = form->screen()->availableSize();
        QCOMPARE(form->size(),
                 QSize(1200, 760).expandedTo(room * 0.8).boundedTo(room).expandedTo(form->minimumSizeHint()));
        form->resize(900, 500);
        QTRY_COMPARE(form->size(), QSize(900, 500));
        TDevicePage& page = win->Page();
        QVERIFY(win->Node("35  Pump")->isExpanded());
        page.tvDevices->setCurrentItem(win->Node("35  Pump/Speed"));
        const QSize tree = page.tvDevices->size(), table = page.deviceTable->size(),
                    log = form->memoLog->size();
        form->resize(form->size() + QSize(300, 200));
        QTRY_VERIFY(page.deviceTable->width() >= table.width() + 200 &&
                    page.deviceTable->height() >= table.height() + 190);
        QVERIFY(page.tvDevices->height() >= tree.height() + 190);
        QVERIFY(form->memoLog->height() >= log.height() + 190);
        QVERIFY(form->tbMode->y() > form->centralWidget()->height());
        form->pcInterface->setCurrentIndex(2);
        const QRect grown = form->geometry();
        QVERIFY(form->close());

        Start(test::Window::SmallPlant(), true, true);
        QCOMPARE(form->pcInterface->currentIndex(), 2);
        QCOMPARE(form->geometry().size(), grown.size());
    }

    // The status bar follows the line the moment it changes: none, open, lost, open again, closed.
    void statusBarFollowsTheLine() {
        Start();
        win->EmulatePump();
        QCOMPARE(form->statusLine->lbPort->text(), QString("No port open: Coms, Open Com 1 (Ctrl+1)"));
        auto first = std::make_unique<test::Pty>();
        QVERIFY(first->Ok());
        MapPort(1, first->SlavePath());
        win->Menu("Open Com 1")->trigger();
        QCOMPARE(form->statusLine->lbPort->text(), QString::fromStdString("COM1  " + first->SlavePath()));
        QCOMPARE(form->statusLine->lbSpeed->text(), QString("57600 baud"));
        QCOMPARE(State(), QString("open"));
        QCOMPARE(form->statusLine->lbRelay->text(), QString("relay off"));
        win->Click("35  Pump/Speed");  // a read goes out and is answered
        win->Tick(3);
        QVERIFY(
            form->statusLine->lbTraffic->text().startsWith(QString("sent %1  replies %2  errors 0")
                                                               .arg(form->engine().Line().packetsSent)
                                                               .arg(form->engine().Line().repliesQueued)));
        QVERIFY(form->engine().Line().packetsSent > 0);

        const std::string firstPath = first->SlavePath();
        first.reset();  // the adapter is pulled
        QTRY_COMPARE(State(), QString("lost, no port open"));
        QVERIFY(Log().contains(QString::fromStdString("Lost COM1 (" + firstPath + ")")));
        QVERIFY(!form->SerialPortNG1().Active());
        test::Pty second;
        MapPort(1, second.SlavePath());
        form->OpenPortClick(1);
        QCOMPARE(State(), QString("open"));
        QCOMPARE(form->statusLine->lbPort->text(), QString::fromStdString("COM1  " + second.SlavePath()));

        win->Menu("Close Com Port")->trigger();
        QCOMPARE(State(), QString("closed, no port open"));
        QCOMPARE(Log().last(), QString("Closing COM1"));
    }

    // A plant on two lines: a port for each, open at once; a device's request goes out on its own
    // line only; the status bar names both with their own traffic; the tree groups by line; the
    // runner's "opencom 2" and "Close Com 2" act on that line alone.
    void twoLinesOpenAtOnce() {
        test::Window::Files files = test::Window::SmallPlant();
        files[2].second.insert(files[2].second.find("</plant>"),
                               "<KDevice Name=\"Valve\" Address=\"36\" Port=\"COM2\">"
                               "<KProperty Name=\"Travel\" Type=\"Word\" Code=\"SPEED\"/></KDevice>");
        files.push_back({"config/tools/reopen.kts", "displaytestnode Reopen;\nopencom 2;\nendnode;\n"});
        Start(files);
        form->engine().Line().AttachSerial(
            &form->comPorts());  // COM1 on its own terminal, not the test's line
        test::Pty one, two;
        MapPort(1, one.SlavePath());
        MapPort(2, two.SlavePath());
        win->Menu("Open Com 1")->trigger();
        win->Menu("Open Com 2")->trigger();
        const Bus* com2 = form->engine().FindLine("COM2");
        QVERIFY(com2 != nullptr && com2->SerialUp() && form->SerialPortNG1().Active());
        const auto children = [this](const QString& path) {
            QStringList out;
            for (int i = 0; i < win->Node(path)->childCount(); ++i) out << win->Node(path)->child(i)->text(0);
            return out;
        };
        QCOMPARE(children(""), (QStringList{"COM1", "COM2"}));
        QCOMPARE(children("COM1"), (QStringList{"35  Pump", "42  Fan"}));
        QCOMPARE(children("COM2/36  Valve"), QStringList{"Travel"});

        win->Click("COM2/36  Valve/Travel");
        std::string heard;
        for (int i = 0; i < 50 && heard.find(')') == std::string::npos; ++i) heard += two.Read(1, 20);
        QVERIFY2(heard.find(')') != std::string::npos, heard.c_str());
        QCOMPARE(one.Read(1, 100), std::string());
        sim::BusEmulator valve;
        valve.AddDevice("Valve", 36).properties.push_back({"Travel", 0, 5, 1234, 0});
        valve.Feed(heard);
        std::string reply;
        for (int i = 0; i < 20 && reply.empty(); ++i) {
            valve.Tick();
            for (const std::string& piece : valve.TakeOutput()) reply += piece;
        }
        std::string corrupt = reply;  // the same reply with a checksum that does not fit
        corrupt[corrupt.size() - 2] = corrupt[corrupt.size() - 2] == '0' ? '1' : '0';
        QVERIFY(two.Write(reply + corrupt));
        const auto statusText = [this] {
            QStringList texts;
            for (const QLabel* l : form->statusLine->findChildren<QLabel*>())
                if (l->isVisibleTo(form->statusLine)) texts << l->text();
            return texts.join(" | ");
        };
        const QString com1 = QString::fromStdString("COM1  " + one.SlavePath()) +
                             "  57600 baud  open  sent 0  replies 0  errors 0";
        const QString com2Open = QString::fromStdString("COM2  " + two.SlavePath()) + "  57600 baud  open";
        QTRY_VERIFY2((win->Tick(), statusText().contains(com2Open + "  sent 1  replies 1  errors 1")),
                     qPrintable(statusText()));
        QVERIFY2(statusText().contains(com1), qPrintable(statusText()));
        QCOMPARE(win->Page().lbActVal->text(), QString("1234"));

        win->Menu("Close Com 2")->trigger();
        QVERIFY(!com2->SerialUp() && form->SerialPortNG1().Active());
        QVERIFY(!win->Menu("Close Com 2")->isVisible() && win->Menu("Close Com 1")->isVisible());
        QVERIFY(!win->Menu("Close Com Port")->isVisible());
        QVERIFY2(!statusText().contains("COM2") && statusText().contains(com1), qPrintable(statusText()));
        win->Menu("Reopen")->trigger();
        win->Tick(3);
        QVERIFY(com2->SerialUp() && form->SerialPortNG1().Active());
    }

    // A port that cannot be opened is named with its device and the system's reason (and what to
    // do about it), and the port that was open stays open under its number.
    void failedOpensExplainAndKeepThePreviousPort() {
        struct Case {
            const char* what;
            int err;  // 0: the device is really missing
            QString reason, hint;
        };
        const Case cases[] = {
            {"missing", 0, "No such file or directory", "Is the adapter plugged in?"},
            {"busy", EBUSY, "Device or resource busy", "Another program holds the port"},
            {"refused", EACCES, "Permission denied", "sudo adduser $USER "},
        };
        for (const Case& c : cases) {
            Start();
            test::Pty line;
            MapPort(1, line.SlavePath());
            const std::string other = win->dir.Path() + "/ttyOther";
            if (c.err != 0) win->dir.Write("ttyOther", "");
            MapPort(3, other);
            form->SerialPortNG1().openDevice = [&](const std::string& path, int flags) {
                if (path == other && c.err != 0) {
                    errno = c.err;
                    return -1;
                }
                return ::open(path.c_str(), flags);
            };
            form->OpenPortClick(1);
            form->OpenPortClick(3);
            const QStringList log = Log();
            QVERIFY2(log.size() >= 3, c.what);
            QCOMPARE(log.mid(log.size() - 3, 2),
                     (QStringList{"Can't Open COM3", QString::fromStdString(other) + ": " + c.reason}));
            QVERIFY2(log.last().contains(c.hint), qPrintable(log.last()));
            QVERIFY2(form->statusLine->currentMessage().contains(c.reason), c.what);
            QCOMPARE(form->comPorts().OpenPortNumber(), 1);
            QCOMPARE(State(), QString("open"));
            // The line before still carries the bus.
            QVERIFY(form->SerialPortNG1().SendString("ping"));
            QCOMPARE(line.Read(4), std::string("ping"));
        }
    }

    // The picker maps ports to found or typed paths and writes the ports file the next open reads.
    void portPickerWritesThePortsFile() {
        Start();
        MapPort(2, "/dev/ttyS1");
        QString typed = "/dev/serial/by-id/usb-Acme_Bus_Adapter_A1-if00-port0";
        win->onDialog = [&](QDialog& dialog) {
            auto* picker = qobject_cast<TPortPicker*>(&dialog);
            if (picker == nullptr) return false;
            if (picker->Box(2)->currentText() != "/dev/ttyS1") return false;
            picker->Box(2)->setCurrentText("");
            picker->Box(3)->setCurrentText(typed);
            return true;
        };
        win->Menu(QString::fromUtf8("Select Port\u2026"))->trigger();
        QCOMPARE(ReadPortMap(win->dir.Path()),
                 (std::map<std::string, std::string>{{"COM3", typed.toStdString()}}));
        QVERIFY(win->errors.isEmpty());
        // A cancelled picker, or a path the file cannot hold, leaves the file alone.
        win->onDialog = [](QDialog&) { return false; };
        win->Menu(QString::fromUtf8("Select Port\u2026"))->trigger();
        typed = "/dev/ttyUSB0\"/><port name=\"COM2";
        win->onDialog = [&](QDialog& dialog) {
            qobject_cast<TPortPicker*>(&dialog)->Box(4)->setCurrentText(typed);
            return true;
        };
        win->Menu(QString::fromUtf8("Select Port\u2026"))->trigger();
        QCOMPARE(ReadPortMap(win->dir.Path()).size(), std::size_t{1});
        QCOMPARE(win->errors.size(), 1);
        QVERIFY(win->errors[0].startsWith("'" + typed + "' cannot be kept"));

        // Adapters are offered by their stable names.
        test::TempDir dev;
        dev.Write("ttyACM7", "");
        std::filesystem::create_directories(dev.Path() + "/by-id");
        std::filesystem::create_symlink(dev.Path() + "/ttyACM7", dev.Path() + "/by-id/usb-Acme-if00");
        const QString byId = QString::fromStdString(dev.Path() + "/by-id");
        QCOMPARE(StableName(QString::fromStdString(dev.Path() + "/ttyACM7"), byId), byId + "/usb-Acme-if00");
        QCOMPARE(StableName("/dev/nothing-here", byId), QString("/dev/nothing-here"));
    }

    // Configuration faults: the message first, then the file, where the reader stopped, and why.
    void configurationErrorsSayWhereAndWhy() {
        struct Case {
            const char* plant;   // nullptr: no plant file at all
            QStringList wanted;  // the lines after the message, "FILE" standing for the plant's path
        };
        const Case cases[] = {
            {nullptr, {"File: FILE", "cannot open 'FILE': No such file or directory"}},
            {"<plant>\n<KDevice Name=\"Pump\" Address=\"x\"/>\n  <KDevice Name=Fan/>",
             {"File: FILE", "Line 3, column", "missing value delimiter", "Address of device 'Pump'"}},
        };
        for (const Case& c : cases) {
            test::Window::Files files = test::Window::SmallPlant();
            files.pop_back();
            if (c.plant != nullptr) files.push_back({"config/plant.xml", c.plant});
            Start(files);
            QCOMPARE(win->messages.size(), 1);
            const QStringList lines = win->messages[0].split('\n');
            QCOMPARE(lines[0], QString("Invalid or missing config data"));
            const QString text = lines.mid(1).join('\n');
            int from = 0;
            for (QString w : c.wanted) {
                w.replace("FILE", QString::fromStdString(win->dir.Path() + "/config/plant.xml"));
                const int at = text.indexOf(w, from);
                QVERIFY2(at >= 0, qPrintable(w + " in " + text));
                from = at + 1;
            }
            QCOMPARE(win->endRequests, 1);
        }
    }

    // A sequence file chosen but unreadable is named with the reason; a pipe does not hold the window up.
    void unreadableSequenceFileIsNamed() {
        Start();
        std::filesystem::create_directory(win->dir.Path() + "/folder.kts");
        QCOMPARE(mkfifo((win->dir.Path() + "/pipe.kts").c_str(), 0600), 0);
        const std::pair<const char*, QString> cases[] = {
            {"gone.kts", ": No such file or directory"},
            {"folder.kts", ": Is a directory"},
            {"pipe.kts", "pipe.kts: not a regular file"},
        };
        for (const auto& [name, wanted] : cases) {
            win->errors.clear();
            win->chosenFile = QString::fromStdString(win->dir.Path() + "/" + name);
            form->scriptingPage->btOpenSequence->click();
            QCOMPARE(win->errors.size(), 1);
            QVERIFY2(win->errors[0].endsWith(wanted), qPrintable(win->errors[0]));
        }
    }

    // Enter in "New Value" sets; the keys act only where their buttons are offered.
    void keyboard() {
        Start();
        win->EmulatePump();
        TDevicePage& page = win->Page();
        win->Click("35  Pump/Speed");
        win->Tick(3);
        page.tbSetVal->setText("1450");
        QTest::keyClick(page.tbSetVal, Qt::Key_Return);
        win->Tick(4);
        QCOMPARE(win->emu.FindDevice(35)->properties[0].word, 1450);
        page.tbSetVal->setText("1460");
        form->findChild<QAction*>("acSet")->trigger();
        win->Tick(4);
        QCOMPARE(win->emu.FindDevice(35)->properties[0].word, 1460);
        QCOMPARE(form->findChild<QAction*>("acRefresh")->shortcut(), QKeySequence(Qt::Key_F5));
        QCOMPARE(win->Menu("Open Com 2")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_2));
        for (QAction* menu : form->menuBar()->actions())
            if (menu->isVisible()) QVERIFY2(menu->text().contains('&'), qPrintable(menu->text()));
    }
};

QTEST_MAIN(DailyWorkTest)
#include "DailyWorkTest.moc"
