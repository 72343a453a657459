// The main window, offscreen: start-up, the device tree, the property panel and the log pane.
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTabWidget>
#include <QtTest>

#include "support/Window.h"

using namespace korva;

class MainWindowTest : public QObject, test::WindowFixture {
    Q_OBJECT

    TDevicePage& page() { return win->Page(); }
    KRemoteLink* Link(const char* name) { return form->engine().Model().FindLink("Pump", name); }

  private slots:
    void init() {
        Start();
        win->EmulatePump();
    }
    void cleanup() { win.reset(); }

    void startUpFillsTheTreeOnce() {
        QCOMPARE(form->windowTitle(), QString::fromUtf8("Brenlow Korva\u2122 Config v 1.53"));
        QCOMPARE(page().tvDevices->topLevelItemCount(), 1);
        QTreeWidgetItem* root = page().tvDevices->topLevelItem(0);
        QCOMPARE(root->text(0), QString("Configuration Devices"));
        QCOMPARE(root->childCount(), 2);
        QCOMPARE(root->child(0)->text(0), QString("35  Pump"));
        QCOMPARE(root->child(1)->text(0), QString("42  Fan"));
        QStringList children;
        for (int i = 0; i < root->child(0)->childCount(); ++i) children << root->child(0)->child(i)->text(0);
        QCOMPARE(children, (QStringList{"Speed", "Mode", "Limit", "Curve", "Log"}));  // Secret is advanced
        QTreeWidgetItem* curve = win->Node("35  Pump/Curve");
        QCOMPARE(curve->childCount(), 4);
        QCOMPARE(curve->child(3)->child(0)->text(0), QString("??? ??? ???"));
        QVERIFY(win->messages.isEmpty());
        // Started once: a second activation changes nothing.
        form->FormActivate();
        QCOMPARE(page().tvDevices->topLevelItemCount(), 1);
        QCOMPARE(root->childCount(), 2);
        QVERIFY(page().tbSetVal->isHidden());
        QVERIFY(page().tbselected->isVisibleTo(&page()));
        // A device not expanded yet has no link nodes; its first expansion makes them in the order made.
        KModel& model = form->engine().Model();
        KDevice& late = model.MakeDevice("Late", 50);
        model.MakeProperty(late, LinkSpec("Alpha", 0, 1));
        model.MakeFileHandle(late, LinkSpec("Table", 4, 2), 3);
        QTreeWidgetItem* lateNode = root->child(2);
        QCOMPARE(lateNode->childCount(), 0);
        QCOMPARE(lateNode->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
        for (const bool open : {true, false, true}) lateNode->setExpanded(open);
        QCOMPARE(lateNode->childCount(), 2);
        QCOMPARE(lateNode->child(1)->childCount(), 4);
        model.MakeProperty(late, LinkSpec("Beta", 0, 3));  // once expanded, at once
        QCOMPARE(lateNode->child(2)->text(0), QString("Beta"));
    }

    // Before anything is connected the relay's items are greyed, and so are the sequence menus.
    void greyedMenus() {
        QStringList disabled;
        for (QAction* a : form->menuBar()->actions()[1]->menu()->actions())
            if (!a->isEnabled()) disabled << test::Window::Caption(a);
        QCOMPARE(disabled, (QStringList{"Connect to Remote", "Listen for Remote"}));
        QVERIFY(!form->mnStandardConfig->isEnabled());
        QVERIFY(!form->mnCustomConfig->isEnabled());
    }

    void selectionTexts() {
        win->Click("");
        QCOMPARE(page().tbselected->text(), QString("Configuration Devices"));
        QVERIFY(page().tbSetVal->isHidden());
        QVERIFY(page().tbOptions->isHidden());
        QVERIFY(page().tbFilePos->isHidden());
        page().tbSetVal->setText("77");
        win->Click("35  Pump");
        QCOMPARE(page().tbselected->text(), QString("35  Pump"));
        QCOMPARE(page().tbSetVal->text(), QString());
        QCOMPARE(page().lbActVal->text(), QString());
        win->Click("35  Pump/Speed");
        QCOMPARE(page().tbselected->text(), QString("5  Speed"));
        QCOMPARE(page().lbActVal->text(), QString("???"));
        QCOMPARE(page().tbStatus->text(), QString("GET"));
        QCOMPARE(page().memoHelp->toPlainText(), QString("Shaft speed\nin rpm"));
        QVERIFY(!page().tbSetVal->isHidden());
        QVERIFY(form->tbMode->isHidden());  // advanced settings hidden
        win->Tick(2);                       // request out, reply in: the panel redraws by itself
        QCOMPARE(page().lbActVal->text(), QString("-32768"));
        QCOMPARE(page().tbStatus->text(), QString("KNOWN"));
        page().tbSetVal->setText("abc");  // refused: nothing is written
        page().btSetVal->click();
        QCOMPARE(win->errors, QStringList{"'abc' is not a valid integer value"});
        QCOMPARE(Link("Speed")->state, LinkState::KNOWN);
        win->Click("35  Pump/Limit");
        QVERIFY(!page().tbOptions->isHidden());
        win->Tick(2);
        page().chkShowBin->setChecked(true);
        page().tvDevicesUpdate();
        QCOMPARE(page().lbActVal->text(), QString("00110100"));
    }

    void autoGetOffAndRefresh() {
        form->utilityPage->chkAutoGet->setChecked(false);
        win->Click("35  Pump/Speed");
        QCOMPARE(page().lbActVal->text(), QString("???"));
        QCOMPARE(page().tbStatus->text(), QString("UNKNOWN"));
        page().btGetVal->click();
        page().tvDevicesUpdate();
        QCOMPARE(page().tbStatus->text(), QString("GET"));
    }

    // A number the wire cannot carry is refused in the error box and sends nothing.
    void valuesOutsideTheWireAreRefused() {
        const struct {
            const char* name;
            const char* value;
            const char* option;
            const char* error;
        } cases[] = {
            {"Speed", "70000", "", "70000 is outside what the value can carry: -32768 to 65535"},
            {"Mode", "300", "", "300 is outside what the value can carry: -128 to 255"},
            {"Limit", "10", "300", "300 is outside what the option byte can carry: -128 to 255"},
            {"Limit", "-40000", "1", "-40000 is outside what the value can carry: -32768 to 65535"},
        };
        for (const auto& c : cases) {
            win->errors.clear();
            win->Click(QString("35  Pump/") + c.name);
            win->Tick(4);
            const std::uint8_t before = Link(c.name)->state;
            page().tbSetVal->setText(c.value);
            page().tbOptions->setText(c.option);
            page().btSetVal->click();
            QCOMPARE(win->errors, QStringList{c.error});
            QCOMPARE(Link(c.name)->state, before);
        }
    }

    // The mode's name is the model's; the box shows it.
    void updateModeTexts() {
        form->utilityPage->cbHideAdvanced->click();  // show advanced settings
        win->Click("35  Pump/Speed");
        QVERIFY(!form->tbMode->isHidden());
        QVERIFY(!form->utilityPage->btLoadFile->isHidden());
        Link("Speed")->updateMode = 21;
        page().tvDevicesUpdate();
        QCOMPARE(form->tbMode->text(), QString("Sync on Change"));
        form->utilityPage->cbHideAdvanced->click();
        page().tvDevicesUpdate();
        QVERIFY(form->tbMode->isHidden());
    }

    void fileHandleNodesAndLoad() {
        QTreeWidgetItem* curve = win->Click("35  Pump/Curve");
        QCOMPARE(Link("Curve")->state, LinkState::UNKNOWN);  // never marked by a click
        QCOMPARE(curve->child(0)->text(0), QString("Status = 10"));
        QCOMPARE(curve->child(2)->text(0), QString("Checksum = 0"));
        QCOMPARE(curve->child(3)->child(0)->text(0), QString("?? ?? ?? "));
        QVERIFY(!page().tbFilePos->isHidden());
        page().btLoadFileClick();
        win->Tick(12);
        QCOMPARE(curve->child(0)->text(0), QString("Status = 11"));
        QCOMPARE(curve->child(3)->child(0)->text(0), QString("1 2 3 "));
        // The option box is the operator's alone: a transfer's position is never the option byte of
        // the next write.
        win->Click("35  Pump/Limit");
        page().tbSetVal->setText("650");
        page().btSetVal->click();
        win->Tick(2);
        QCOMPARE(win->emu.FindDevice(35)->properties[2].byte, std::uint8_t{0});
        QCOMPARE(win->emu.FindDevice(35)->properties[2].word, 650);
        // A file on a 16-bit index is a file handle in the window too.
        QCOMPARE(win->Click("35  Pump/Log")->child(1)->text(0), QString("Size = 4"));
        QVERIFY(!page().tbFilePos->isHidden());
        page().tbFilePos->setText("1");
        for (const char* value : {"300", "77"}) {
            page().tbSetVal->setText(value);
            page().btSetVal->click();
        }
        QCOMPARE(win->errors, QStringList{"300 does not fit an element of this file: -128 to 255"});
        win->Tick(2);
        QCOMPARE(win->emu.FindDevice(35)->files[1].elements, (std::vector<std::int16_t>{7, 77, 9, 10}));
        page().tbFilePos->setText("-2");  // the size element may be read, never written
        page().btGetVal->click();
        win->Tick(2);
        QCOMPARE(page().lbActVal->text(), QString("4"));
        page().btSetVal->click();
        QVERIFY(win->errors.last().startsWith("Position -2 is outside the file: elements 0 to 3"));
    }

    // Whenever a selection has an option byte or a position, its box shows below the help text and
    // Tab reaches it; the help text itself is passed by.
    void optionAndPositionBoxesStayReachable() {
        for (const char* path : {"35  Pump/Limit", "35  Pump/Curve", "35  Pump/Speed"}) {
            win->Click(path);
            const bool boxes = !page().tbOptions->isHidden();
            QCOMPARE(boxes, QString(path) != "35  Pump/Speed");
            if (boxes) QVERIFY(page().memoHelp->geometry().bottom() < page().tbOptions->geometry().top());
            QVERIFY(page().memoHelp->geometry().bottom() < page().chkLog->geometry().top());
        }
        QVERIFY(!(page().memoHelp->focusPolicy() & Qt::TabFocus));
        QVERIFY(page().tbOptions->focusPolicy() & Qt::TabFocus);
    }

    // The events keep their time and a working day's worth of lines; the packet lines of the bus
    // go to a pane of their own; Clear Log empties both.
    void logKeepsEventsTimedAndPacketsApart() {
        const int most = TLogPane::kMaxLines;
        for (int i = 1; i <= most + 1; ++i) form->AddLogLine(QString("line %1").arg(i));
        const QStringList lines = form->memoLog->Lines();
        QCOMPARE(lines.size(), most);
        QCOMPARE(lines.first(), QString("line 2"));
        QCOMPARE(lines.last(), QString("line %1").arg(most + 1));
        const QString shown = form->memoLog->document()->lastBlock().text();
        QVERIFY2(QRegularExpression(QString("^\\d\\d:\\d\\d:\\d\\d  line %1$").arg(most + 1))
                     .match(shown)
                     .hasMatch(),
                 qPrintable(shown));
        QVERIFY(form->memoLog->isReadOnly());
        win->EmulatePump();
        win->Click("35  Pump/Speed");
        win->Tick(3);
        const QStringList packets = form->memoPackets->Lines();
        QVERIFY(!packets.isEmpty() && packets.first().startsWith("tx: ("));
        QVERIFY(!form->memoLog->Lines().join('\n').contains("tx: ("));
        form->btClearInLog->click();
        QVERIFY(form->memoLog->Lines().isEmpty());
        QVERIFY(form->memoPackets->Lines().isEmpty());
    }

    // Each message of a failed start waits for OK; then the program ends with a failure status.
    void missingConfigurationEndsAfterEveryMessage() {
        win.reset();  // this window's dialogs are the real ones
        auto dir = std::make_unique<test::TempDir>();
        UiDialogs d = UiDialogs::Standard(nullptr);
        QStringList answered;
        QTimer okPresser;
        connect(&okPresser, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                answered << box->text().section('\n', 0, 0);  // the message; what is known follows it
                box->button(QMessageBox::Ok)->click();
            }
        });
        okPresser.start(20);
        TForm1 bare(dir->Path(), WindowWiring{&d, nullptr, true});
        bare.FormActivate();
        QCOMPARE(answered,
                 (QStringList{"Invalid or missing path specification data",
                              "Invalid or missing constants data", "Invalid or missing config data"}));
        QCOMPARE(bare.devicePage->tvDevices->topLevelItemCount(), 1);
        QEventLoop loop;
        QTimer::singleShot(2000, &loop, [&] { loop.exit(99); });
        QCOMPARE(loop.exec(), 1);
    }

    // Idle, the communications clock sleeps; a key, or work for a link, wakes it.
    void theClockSleepsWhileIdle() {
        TForm1 own(win->dir.Path(), WindowWiring{&win->dialogs, &win->line, false});
        own.show();
        QTRY_VERIFY(own.Started());
        QTRY_VERIFY(own.Clock().Asleep());
        QTest::keyClick(&own, Qt::Key_Shift);
        QVERIFY(own.Clock().Running() && !own.Clock().Asleep());
        QTRY_VERIFY(own.Clock().Asleep());
        own.engine().Model().FindLink("Pump", "Speed")->RequestRead();
        QVERIFY(!own.Clock().Asleep());
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
