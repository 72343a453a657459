// The window as a daily tool, offscreen: it grows, keeps its place, shows the line's state,
// explains failed opens and configuration faults, maps ports, and answers the keyboard.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QtTest>

#include <cerrno>
#include <filesystem>

#include "support/Pty.h"
#include "support/Window.h"
#include "transport/PortMap.h"
#include "ui/DevicePage.h"
#include "ui/LogPane.h"
#include "ui/PortPicker.h"
#include "ui/ScriptingPage.h"
#include "ui/StatusLine.h"

using namespace korva;

namespace {

const test::Window::Files kPlant{
    {"config/paths.xml", "<p><constantspath>config/c.xml</constantspath><configpath>config/plant.xml</configpath></p>"},
    {"config/c.xml", "<c><s Word=\"0\" SPEED=\"5\"/></c>"},
    {"config/plant.xml",
     "<plant><KDevice Name=\"Pump\" Address=\"35\"><KProperty Name=\"Speed\" Type=\"Word\" Code=\"SPEED\">"
     "<Helptext>Shaft speed</Helptext></KProperty></KDevice></plant>"}};

QAction* MenuItem(QWidget* form, const QString& caption) {
    for (QAction* a : form->findChildren<QAction*>())
        if (test::Window::Caption(a) == caption) return a;
    return nullptr;
}

}  // namespace

class DailyWorkTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::Window> win_;
    TForm1* form_ = nullptr;

    void Start(const test::Window::Files& files = kPlant, bool keepSettings = false) {
        win_.reset();
        win_ = std::make_unique<test::Window>(files, true, keepSettings);
        form_ = win_->form.get();
        win_->emu.AddDevice("Pump", 35).properties.push_back({"Speed", 0, 5, 100, 0});
    }
    // Maps a COM port to a device path in the plant's ports file.
    void MapPort(int n, const std::string& path) {
        std::map<std::string, std::string> ports = ReadPortMap(win_->dir.Path());
        ports["COM" + std::to_string(n)] = path;
        QCOMPARE(QString::fromStdString(WritePortMap(win_->dir.Path(), ports)), QString());
    }
    QString State() const { return form_->statusLine->lbState->text(); }
    QStringList Log() const { return form_->memoLog->Lines(); }

private slots:
    void cleanup() { win_.reset(); }

    // Grown, the tree, the help text and the log pane take the room; the mode box stays out of
    // sight; closed, the window keeps its size and page for the next run.
    void growsAndKeepsItsPlace() {
        Start();
        QVERIFY(!form_->windowIcon().isNull());
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_));
        const QSize start = form_->centralWidget()->size();
        QCOMPARE(start, QSize(839, 341));
        TDevicePage& page = *form_->devicePage;
        QTreeWidgetItem* pump = page.tvDevices->topLevelItem(0)->child(0);
        QVERIFY(pump->isExpanded());
        page.tvDevices->setCurrentItem(pump->child(0));
        const QSize tree = page.tvDevices->size(), help = page.memoHelp->size(), log = form_->memoLog->size();
        form_->resize(form_->size() + QSize(300, 200));
        QTRY_COMPARE(form_->centralWidget()->size(), start + QSize(300, 200));
        QTRY_VERIFY(page.tvDevices->width() >= tree.width() + 290 && page.tvDevices->height() >= tree.height() + 190);
        QTRY_VERIFY(page.memoHelp->height() >= help.height() + 190);
        QCOMPARE(page.memoHelp->width(), help.width());
        QVERIFY(form_->memoLog->height() >= log.height() + 190);
        QVERIFY(form_->tbMode->y() > form_->centralWidget()->height());
        form_->pcInterface->setCurrentIndex(2);
        const QRect grown = form_->geometry();
        QVERIFY(form_->close());

        Start(kPlant, true);
        QCOMPARE(form_->pcInterface->currentIndex(), 2);
        QCOMPARE(form_->geometry().size(), grown.size());
    }

    // The status bar follows the line the moment it changes: none, open, lost, open again, closed.
    void statusBarFollowsTheLine() {
        Start();
        QCOMPARE(form_->statusLine->lbPort->text(), QString("No port open: Coms, Open Com 1 (Ctrl+1)"));
        auto first = std::make_unique<test::Pty>();
        QVERIFY(first->Ok());
        MapPort(1, first->SlavePath());
        MenuItem(form_, "Open Com 1")->trigger();
        QCOMPARE(form_->statusLine->lbPort->text(), QString::fromStdString("COM1  " + first->SlavePath()));
        QCOMPARE(form_->statusLine->lbSpeed->text(), QString("57600 baud"));
        QCOMPARE(State(), QString("open"));
        QCOMPARE(form_->statusLine->lbRelay->text(), QString("relay off"));
        form_->devicePage->tvDevices->setCurrentItem(form_->devicePage->tvDevices->topLevelItem(0)->child(0)->child(0));
        form_->devicePage->tvDevicesClick();  // a read goes out and is answered
        win_->Tick(3);
        QVERIFY(form_->statusLine->lbTraffic->text().startsWith(
            QString("sent %1  replies %2  errors 0").arg(form_->comms().packetsSent).arg(form_->comms().repliesQueued)));
        QVERIFY(form_->comms().packetsSent > 0);

        const std::string firstPath = first->SlavePath();
        first.reset();  // the adapter is pulled
        QTRY_COMPARE(State(), QString("lost, no port open"));
        QVERIFY(Log().contains(QString::fromStdString("Lost COM1 (" + firstPath + ")")));
        QVERIFY(!form_->SerialPortNG1().Active());
        test::Pty second;
        MapPort(1, second.SlavePath());
        form_->OpenPortClick(1);
        QCOMPARE(State(), QString("open"));
        QCOMPARE(form_->statusLine->lbPort->text(), QString::fromStdString("COM1  " + second.SlavePath()));

        MenuItem(form_, "Close Com Port")->trigger();
        QVERIFY(!form_->SerialPortNG1().Active());
        QCOMPARE(State(), QString("closed, no port open"));
        QCOMPARE(Log().last(), QString("Closing COM1"));
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
            const std::string other = win_->dir.Path() + "/ttyOther";
            if (c.err != 0) win_->dir.Write("ttyOther", "");
            MapPort(3, other);
            form_->SerialPortNG1().openDevice = [&](const std::string& path, int flags) {
                if (path == other && c.err != 0) {
                    errno = c.err;
                    return -1;
                }
                return ::open(path.c_str(), flags);
            };
            form_->OpenPortClick(1);
            form_->OpenPortClick(3);
            const QStringList log = Log();
            QVERIFY2(log.size() >= 3, c.what);
            QCOMPARE(log.mid(log.size() - 3, 2),
                     (QStringList{"Can't Open COM3", QString::fromStdString(other) + ": " + c.reason}));
            QVERIFY2(log.last().contains(c.hint), qPrintable(log.last()));
            QVERIFY2(form_->statusLine->currentMessage().contains(c.reason), c.what);
            QCOMPARE(form_->comPorts().OpenPortNumber(), 1);
            QVERIFY(form_->SerialPortNG1().Active());
            QCOMPARE(QString::fromStdString(form_->SerialPortNG1().DevicePath()), QString::fromStdString(line.SlavePath()));
            QCOMPARE(State(), QString("open"));
            // The line still carries the bus.
            QVERIFY(form_->SerialPortNG1().SendString("ping"));
            QCOMPARE(line.Read(4), std::string("ping"));
        }
    }

    // The picker maps ports to found or typed paths and writes the ports file the next open reads.
    void portPickerWritesThePortsFile() {
        Start();
        MapPort(2, "/dev/ttyS1");
        QString typed = "/dev/serial/by-id/usb-Acme_Bus_Adapter_A1-if00-port0";
        win_->onDialog = [&](QDialog& dialog) {
            auto* picker = qobject_cast<TPortPicker*>(&dialog);
            if (picker == nullptr) return false;
            if (picker->Box(2)->currentText() != "/dev/ttyS1") return false;
            picker->Box(2)->setCurrentText("");
            picker->Box(3)->setCurrentText(typed);
            return true;
        };
        MenuItem(form_, QString::fromUtf8("Select Port\u2026"))->trigger();
        QCOMPARE(ReadPortMap(win_->dir.Path()), (std::map<std::string, std::string>{{"COM3", typed.toStdString()}}));
        QCOMPARE(QString::fromStdString(DevicePathForPort(win_->dir.Path(), "COM2")), QString("/dev/ttyUSB1"));
        QVERIFY(win_->errors.isEmpty());
        // A cancelled picker, or a path the file cannot hold, leaves the file alone.
        win_->onDialog = [](QDialog&) { return false; };
        MenuItem(form_, QString::fromUtf8("Select Port\u2026"))->trigger();
        typed = "/dev/ttyUSB0\"/><port name=\"COM2";
        win_->onDialog = [&](QDialog& dialog) {
            qobject_cast<TPortPicker*>(&dialog)->Box(4)->setCurrentText(typed);
            return true;
        };
        MenuItem(form_, QString::fromUtf8("Select Port\u2026"))->trigger();
        QCOMPARE(ReadPortMap(win_->dir.Path()).size(), std::size_t{1});
        QCOMPARE(win_->errors.size(), 1);
        QVERIFY(win_->errors[0].startsWith("'" + typed + "' cannot be kept"));

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
            const char* plant;      // nullptr: no plant file at all
            QStringList wanted;     // the lines after the message, "FILE" standing for the plant's path
        };
        const Case cases[] = {
            {nullptr, {"File: FILE", "cannot open 'FILE': No such file or directory"}},
            {"<plant>\n  <KDevice Name=\"Pump\" Address=\"x\"/>\n</plant>",
             {"File: FILE", "Address of device 'Pump'"}},
            {"<plant>\n<KDevice Name=\"Pump\" Address=\"x\"/>\n  <KDevice Name=Fan/>",
             {"File: FILE", "Line 3, column", "missing value delimiter", "Address of device 'Pump'"}},
        };
        for (const Case& c : cases) {
            test::Window::Files files(kPlant.begin(), kPlant.end() - 1);
            if (c.plant != nullptr) files.push_back({"config/plant.xml", c.plant});
            Start(files);
            QCOMPARE(win_->messages.size(), 1);
            const QStringList lines = win_->messages[0].split('\n');
            QCOMPARE(lines[0], QString("Invalid or missing config data"));
            const QString text = lines.mid(1).join('\n');
            int from = 0;
            for (QString w : c.wanted) {
                w.replace("FILE", QString::fromStdString(win_->dir.Path() + "/config/plant.xml"));
                const int at = text.indexOf(w, from);
                QVERIFY2(at >= 0, qPrintable(w + " in " + text));
                from = at + 1;
            }
            QCOMPARE(win_->endRequests, 1);
        }
    }

    // A sequence file chosen but unreadable is named with the reason; a pipe does not hold the window up.
    void unreadableSequenceFileIsNamed() {
        Start();
        std::filesystem::create_directory(win_->dir.Path() + "/folder.kts");
        QCOMPARE(mkfifo((win_->dir.Path() + "/pipe.kts").c_str(), 0600), 0);
        const std::pair<const char*, QString> cases[] = {
            {"gone.kts", ": No such file or directory"},
            {"folder.kts", ": Is a directory"},
            {"pipe.kts", "pipe.kts: not a regular file"},
        };
        for (const auto& [name, wanted] : cases) {
            win_->errors.clear();
            win_->chosenFile = QString::fromStdString(win_->dir.Path() + "/" + name);
            form_->scriptingPage->btOpenSequence->click();
            QCOMPARE(win_->errors.size(), 1);
            QVERIFY2(win_->errors[0].endsWith(wanted), qPrintable(win_->errors[0]));
        }
    }

    // Enter in "New Value" sets; the keys act only where their buttons are offered.
    void keyboard() {
        Start();
        TDevicePage& page = *form_->devicePage;
        QTreeWidgetItem* speed = page.tvDevices->topLevelItem(0)->child(0)->child(0);
        page.tvDevices->setCurrentItem(speed);
        page.tvDevicesClick();
        win_->Tick(3);
        page.tbSetVal->setText("1450");
        QTest::keyClick(page.tbSetVal, Qt::Key_Return);
        win_->Tick(4);
        QCOMPARE(win_->emu.FindDevice(35)->properties[0].word, 1450);
        page.tbSetVal->setText("1460");
        form_->findChild<QAction*>("acSet")->trigger();
        win_->Tick(4);
        QCOMPARE(win_->emu.FindDevice(35)->properties[0].word, 1460);
        QCOMPARE(form_->findChild<QAction*>("acRefresh")->shortcut(), QKeySequence(Qt::Key_F5));
        QCOMPARE(MenuItem(form_, "Open Com 2")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_2));
        for (QAction* menu : form_->menuBar()->actions())
            if (menu->isVisible()) QVERIFY2(menu->text().contains('&'), qPrintable(menu->text()));
    }
};

QTEST_MAIN(DailyWorkTest)
#include "DailyWorkTest.moc"
