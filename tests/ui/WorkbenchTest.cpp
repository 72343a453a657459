// The window as a service engineer meets it on the first day, offscreen: what it shows is read,
// never edited; nothing typed for one property reaches another; nothing drastic goes out unasked;
// a damaged configuration says what it lost.
#include <QLineEdit>
#include <QPushButton>
#include <QPlainTextEdit>
#include <QtTest>

#include <filesystem>

#include "support/Pty.h"
#include "support/Window.h"
#include "transport/PortMap.h"
#include "xml/SafeFile.h"

using namespace korva;

class WorkbenchTest : public QObject, test::WindowFixture {
    Q_OBJECT

  private slots:
    void cleanup() { win.reset(); }

    // A value typed for one property and left there would go to the next one with a stray Enter.
    void newValueNeverCarriesOverToAnotherProperty() {
        Start();
        win->EmulatePump();
        TDevicePage& page = win->Page();
        win->Click("35  Pump/Speed");
        page.tbSetVal->setText("1200");
        win->Click("35  Pump/Mode");
        QCOMPARE(page.tbSetVal->text(), QString());
        const std::uint8_t before = form->engine().Model().FindLink("Pump", "Mode")->state;
        QTest::keyClick(page.tbSetVal, Qt::Key_Return);
        QCOMPARE(win->errors, QStringList{"'' is not a valid integer value"});
        QCOMPARE(form->memoLog->Lines().last(), QString("Error: '' is not a valid integer value"));
        QCOMPARE(form->engine().Model().FindLink("Pump", "Mode")->state, before);
        // A click on the property already selected keeps what was typed.
        page.tbSetVal->setText("7");
        win->Click("35  Pump/Mode");
        QCOMPARE(page.tbSetVal->text(), QString("7"));
    }

    void whatTheWindowShowsIsReadOnly() {
        Start();
        TDevicePage& page = win->Page();
        TScriptingPage& s = *form->scriptingPage;
        for (QLineEdit* shown : {page.tbselected, page.tbStatus, s.tbActiveTestNode, s.tbTestNodeStatus,
                                 s.tbActiveTestAction, s.tbTestActionStatus, s.tbTestActionActVal}) {
            QVERIFY2(shown->isReadOnly(), qPrintable(shown->objectName()));
            shown->setFocus();
            const QString text = shown->text();
            QTest::keyClicks(shown, "typed");
            QCOMPARE(shown->text(), text);
        }
        QVERIFY(form->memoLog->isReadOnly());
        // The boxes the operator types into stay open to typing.
        for (QLineEdit* typed : {page.tbSetVal, page.tbOptions, page.tbFilePos, s.tbDut})
            QVERIFY2(!typed->isReadOnly(), qPrintable(typed->objectName()));
    }

    // The boot loader command stops whatever device answers its address: the operator is asked
    // first, with the address and the line, and a No sends nothing.
    void theBootLoaderGoesOutOnlyWhenConfirmed() {
        Start();
        const struct {
            bool yes;
            std::size_t sent;
        } cases[] = {{false, 0}, {true, 1}};
        for (const auto& c : cases) {
            win->questions.clear();
            win->yes = c.yes;
            win->line.sent.clear();
            form->utilityPage->btRunBootLoader->click();
            win->Tick(2);
            QCOMPARE(win->questions.size(), 1);
            QVERIFY2(win->questions[0].contains("address 22 on COM1"), qPrintable(win->questions[0]));
            QCOMPARE(win->line.sent.size(), c.sent);
        }
    }

    // The reader's tolerance loads what it can; the operator learns what it skipped, and where.
    void aBrokenTagIsListedWithItsPlace() {
        struct Case {
            const char* name;
            const char* plant;
            int devices;         // that still load
            QStringList wanted;  // in the box, in this order
        };
        const Case cases[] = {
            {"lost >",
             "<plant>\n<KDevice Name=\"A\" Address=\"1\"/>\n<KDevice Name=\"B\" Address=\"2\"\n"
             "<KDevice Name=\"C\" Address=\"3\"/>\n<KDevice Name=\"D\" Address=\"4\"/>\n</plant>",
             3,
             {"plant.xml, line 4, column 1: a tag seems to lack its '>' (attribute '<KDevice Name')"}},
            {"reader stops",
             "<plant>\n<KDevice Name=\"A\" Address=\"1\"/>\n<KDevice Name=\"B\" Address=\"2\"/>\n"
             "<KDevice Name=\"C\" Address=\"3\"",
             2,
             {"plant.xml, line 4, column 1: Missing >", "the rest of the file is not read"}},
            {"sound", "<plant>\n<KDevice Name=\"A\" Address=\"1\"/>\n</plant>", 1, {}},
        };
        for (const Case& c : cases) {
            test::Window::Files files = test::Window::SmallPlant();
            files.pop_back();
            files.push_back({"config/plant.xml", c.plant});
            Start(files);
            QCOMPARE(int(form->engine().Model().devices.Count()), c.devices);
            QTRY_COMPARE(win->alerts.size(), c.wanted.isEmpty() ? 0 : 1);
            if (c.wanted.isEmpty()) continue;
            QVERIFY(win->alerts[0].startsWith("Configuration problems|"));
            int from = 0;
            for (const QString& w : c.wanted) {
                const int at = win->alerts[0].indexOf(w, from);
                QVERIFY2(at >= 0, qPrintable(QString(c.name) + ": " + w + " in " + win->alerts[0]));
                from = at + 1;
            }
            QVERIFY(form->memoLog->Lines().join('\n').contains("Configuration: plant.xml, line"));
        }
    }

    // The adapter is pulled while a log runs: the status bar offers to reconnect, the log's rows say
    // the line is lost, and once the device is back the program offers to reopen it.
    void aPulledAdapterIsOfferedBackWhenItReturns() {
        Start();
        win->EmulatePump();
        const std::string link = win->dir.Path() + "/ttyKORVA";
        auto first = std::make_unique<test::Pty>();
        std::filesystem::create_symlink(first->SlavePath(), link);
        std::map<std::string, std::string> ports{{"COM1", link}};
        QCOMPARE(QString::fromStdString(WritePortMap(win->dir.Path(), ports)), QString());
        win->Menu("Open Com 1")->trigger();
        QVERIFY(form->SerialPortNG1().Active());
        QVERIFY(form->statusLine->btReconnect->isHidden());
        const std::string csv = win->dir.Path() + "/lost.csv";
        form->utilityPage->tbLogFileName->setText(QString::fromStdString(csv));
        form->utilityPage->tbLogInterval->setText("0");
        form->utilityPage->btStartLogging->click();
        win->Tick();

        std::filesystem::remove(link);
        first.reset();  // pulled
        QTRY_VERIFY(!form->statusLine->btReconnect->isHidden());
        QCOMPARE(form->statusLine->btReconnect->text(), QString("Lost COM1 \u2014 reconnect?"));
        win->Tick(3);
        form->utilityPage->btStopLogging->click();
        const std::string rows = ReadRegularFile(csv);
        QVERIFY2(rows.find(",open,\r\n") != std::string::npos && rows.find(",lost,\r\n") != std::string::npos,
                 rows.c_str());

        win->yes = true;
        test::Pty second;
        std::filesystem::create_symlink(second.SlavePath(), link);
        QTRY_VERIFY(form->SerialPortNG1().Active());
        QCOMPARE(win->questions,
                 QStringList{QString::fromStdString("COM1 (" + link + ") is back. Reopen it?")});
        QVERIFY(form->statusLine->btReconnect->isHidden());
    }
};

QTEST_MAIN(WorkbenchTest)
#include "WorkbenchTest.moc"
