// The main window, offscreen: start-up, the device tree, the property panel and the log pane.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QtTest>

#include "sim/BusEmulator.h"
#include "support/Window.h"
#include "ui/DevicePage.h"
#include "ui/KorvaConfigMain.h"
#include "ui/LogPane.h"
#include "ui/UtilityPage.h"

using namespace korva;

namespace {

const char* kConstants =
    "<c><s Word=\"0\" Byte=\"1\" Opt=\"3\" File8=\"4\" File16=\"5\" SPEED=\"5\" MODE=\"6\" LIMIT=\"7\" HIDDEN=\"8\""
    " CURVE=\"40\" LOG=\"41\"/></c>";
const char* kPlant =
    "<plant><KDevice Name=\"Pump\" Address=\"35\">"
    "<KProperty Name=\"Speed\" Type=\"Word\" Code=\"SPEED\"><Helptext>Shaft speed\nin rpm</Helptext></KProperty>"
    "<KProperty Name=\"Mode\" Type=\"Byte\" Code=\"MODE\"/>"
    "<KProperty Name=\"Limit\" Type=\"Opt\" Code=\"LIMIT\"/>"
    "<KProperty Name=\"Secret\" Type=\"Word\" Code=\"HIDDEN\"><Display Level=\"Advanced\"/></KProperty>"
    "<KFileHandle Name=\"Curve\" Type=\"File8\" Code=\"CURVE\" Length=\"3\"/>"
    "<KFileHandle Name=\"Log\" Type=\"File16\" Code=\"LOG\" Length=\"4\"/>"
    "</KDevice><KDevice Name=\"Fan\" Address=\"42\"/></plant>";

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::Window> win_;
    TForm1* form_ = nullptr;
    test::Window* rec_ = nullptr;  // what the dialogs were shown
    sim::BusEmulator* emu_ = nullptr;

    void Start() {
        win_ = std::make_unique<test::Window>(test::Window::Files{
            {"config/paths.xml",
             "<p><constantspath>config/c.xml</constantspath><configpath>config/plant.xml</configpath></p>"},
            {"config/c.xml", kConstants},
            {"config/plant.xml", kPlant}});
        form_ = win_->form.get();
        rec_ = win_.get();
        emu_ = &win_->emu;
        sim::SimDevice& pump = emu_->AddDevice("Pump", 35);
        pump.properties.push_back({"Speed", 0, 5, 0x8000, 0});
        pump.properties.push_back({"Mode", 1, 6, 0, 200});
        pump.properties.push_back({"Limit", 3, 7, 0x1234, 2});
        pump.files.push_back({"Curve", 4, 40, 0, {1, 2, 3}});
        pump.files.push_back({"Log", 5, 41, 0, {7, 8, 9, 10}});
    }
    void Tick(int n = 1) { win_->Tick(n); }
    TDevicePage& page() { return *form_->devicePage; }
    QTreeWidgetItem* Node(const QString& path) {
        QTreeWidgetItem* node = page().tvDevices->topLevelItem(0);
        for (const QString& part : path.split('/', Qt::SkipEmptyParts)) {
            QTreeWidgetItem* next = nullptr;
            for (int i = 0; node && i < node->childCount() && !next; ++i)
                if (node->child(i)->text(0) == part) next = node->child(i);
            node = next;
        }
        return node;
    }
    void Click(const QString& path) {
        QTreeWidgetItem* node = Node(path);
        QVERIFY2(node != nullptr, qPrintable(path));
        page().tvDevices->setCurrentItem(node);  // the change handler
        page().tvDevicesClick();                 // and the click
    }
    KRemoteLink* Link(const char* name) { return form_->comms().Model().FindLink("Pump", name); }

private slots:
    void cleanup() { win_.reset(); }

    void startUpFillsTheTreeOnce() {
        Start();
        QCOMPARE(form_->windowTitle(), QString::fromUtf8("Brenlow Korva\u2122 Config v 1.53"));
        QCOMPARE(page().tvDevices->topLevelItemCount(), 1);
        QTreeWidgetItem* root = page().tvDevices->topLevelItem(0);
        QCOMPARE(root->text(0), QString("Configuration Devices"));
        QCOMPARE(root->childCount(), 2);
        QCOMPARE(root->child(0)->text(0), QString("35  Pump"));
        QCOMPARE(root->child(1)->text(0), QString("42  Fan"));
        QStringList children;
        for (int i = 0; i < root->child(0)->childCount(); ++i) children << root->child(0)->child(i)->text(0);
        QCOMPARE(children, (QStringList{"Speed", "Mode", "Limit", "Curve", "Log"}));  // Secret is advanced
        QTreeWidgetItem* curve = Node("35  Pump/Curve");
        QCOMPARE(curve->childCount(), 4);
        QCOMPARE(curve->child(3)->child(0)->text(0), QString("??? ??? ???"));
        QVERIFY(rec_->messages.isEmpty());
        // Started once: a second activation changes nothing.
        form_->FormActivate();
        QCOMPARE(page().tvDevices->topLevelItemCount(), 1);
        QCOMPARE(root->childCount(), 2);
        QVERIFY(page().tbSetVal->isHidden());
        QVERIFY(page().tbselected->isVisibleTo(&page()));
        // A device not expanded yet has no link nodes; its first expansion makes them in the order made.
        KModel& model = form_->comms().Model();
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
        Start();
        QStringList disabled;
        for (QAction* a : form_->menuBar()->actions()[1]->menu()->actions())
            if (!a->isEnabled()) disabled << test::Window::Caption(a);
        QCOMPARE(disabled, (QStringList{"Connect to Remote", "Listen for Remote"}));
        QVERIFY(!form_->mnStandardConfig->isEnabled());
        QVERIFY(!form_->mnCustomConfig->isEnabled());
    }

    void selectionTexts() {
        Start();
        Click("");
        QCOMPARE(page().tbselected->text(), QString("Configuration Devices"));
        QVERIFY(page().tbSetVal->isHidden());
        QVERIFY(page().tbOptions->isHidden());
        QVERIFY(page().tbFilePos->isHidden());
        page().tbSetVal->setText("77");
        Click("35  Pump");
        QCOMPARE(page().tbselected->text(), QString("35  Pump"));
        QCOMPARE(page().tbSetVal->text(), QString());
        QCOMPARE(page().lbActVal->text(), QString());
        QCOMPARE(page().selectedType, TDevicePage::kNoSelection);
        Click("35  Pump/Speed");
        QCOMPARE(page().tbselected->text(), QString("5  Speed"));
        QCOMPARE(page().lbActVal->text(), QString("???"));
        QCOMPARE(page().tbStatus->text(), QString("GET"));
        QCOMPARE(page().memoHelp->toPlainText(), QString("Shaft speed\nin rpm"));
        QVERIFY(!page().tbSetVal->isHidden());
        QVERIFY(page().tbOptions->isHidden());
        QVERIFY(form_->tbMode->isHidden());  // advanced settings hidden
        Tick(2);                             // request out, reply in: the panel redraws by itself
        QCOMPARE(page().lbActVal->text(), QString("-32768"));
        QCOMPARE(page().tbStatus->text(), QString("KNOWN"));
        Click("35  Pump/Mode");
        Tick(2);
        QCOMPARE(page().lbActVal->text(), QString("200"));
        Click("35  Pump/Limit");
        QVERIFY(!page().tbOptions->isHidden());
        Tick(2);
        page().chkShowBin->setChecked(true);
        page().tvDevicesUpdate();
        QCOMPARE(page().lbActVal->text(), QString("00110100"));
    }

    void autoGetOffAndRefresh() {
        Start();
        form_->utilityPage->chkAutoGet->setChecked(false);
        Click("35  Pump/Speed");
        QCOMPARE(page().lbActVal->text(), QString("???"));
        QCOMPARE(page().tbStatus->text(), QString("UNKNOWN"));
        page().btGetVal->click();
        page().tvDevicesUpdate();
        QCOMPARE(page().tbStatus->text(), QString("GET"));
    }

    void updateModeTexts() {
        Start();
        const std::pair<int, const char*> modes[] = {{20, "Dont Care"}, {21, "Sync on Change"}, {0, "Poll"}, {22, "Poll"}};
        form_->utilityPage->cbHideAdvanced->click();  // show advanced settings
        Click("35  Pump/Speed");
        QVERIFY(!form_->tbMode->isHidden());
        QVERIFY(!form_->utilityPage->btLoadFile->isHidden());
        for (const auto& [mode, text] : modes) {
            Link("Speed")->updateMode = static_cast<std::uint8_t>(mode);
            page().tvDevicesUpdate();
            QCOMPARE(form_->tbMode->text(), QString(text));
        }
        form_->utilityPage->cbHideAdvanced->click();
        page().tvDevicesUpdate();
        QVERIFY(form_->tbMode->isHidden());
    }

    void fileHandleNodesAndLoad() {
        Start();
        Click("35  Pump/Curve");
        QCOMPARE(Link("Curve")->state, LinkState::UNKNOWN);  // never marked by a click
        QTreeWidgetItem* curve = Node("35  Pump/Curve");
        QCOMPARE(curve->child(0)->text(0), QString("Status = 10"));
        QCOMPARE(curve->child(1)->text(0), QString("Size = 3"));
        QCOMPARE(curve->child(2)->text(0), QString("Checksum = 0"));
        QCOMPARE(curve->child(3)->child(0)->text(0), QString("?? ?? ?? "));
        QVERIFY(!page().tbFilePos->isHidden());
        auto* file = dynamic_cast<KFileLink*>(Link("Curve"));
        file->SetElement(0, 1, LinkState::KNOWN);
        file->SetElement(2, 3, LinkState::KNOWN);
        page().tvDevicesUpdate();
        QCOMPARE(curve->child(3)->child(0)->text(0), QString("1 ?? 3 "));
        page().btLoadFileClick();
        Tick(12);
        QCOMPARE(curve->child(0)->text(0), QString("Status = 11"));
        QCOMPARE(curve->child(3)->child(0)->text(0), QString("1 2 3 "));
        // The option box is the operator's alone: a transfer's position never lands in it.
        QCOMPARE(page().tbOptions->text(), QString("0"));
        // A file on a 16-bit index is a file handle in the window too.
        Click("35  Pump/Log");
        QCOMPARE(Link("Log")->state, LinkState::UNKNOWN);
        QCOMPARE(Node("35  Pump/Log")->child(1)->text(0), QString("Size = 4"));
        QVERIFY(!page().tbFilePos->isHidden());
        page().btLoadFileClick();
        Tick(14);
        QCOMPARE(Node("35  Pump/Log")->child(3)->child(0)->text(0), QString("7 8 9 10 "));
        page().tbFilePos->setText("1");
        for (const char* value : {"300", "-129", "77"}) {
            page().tbSetVal->setText(value);
            page().btSetVal->click();
        }
        QCOMPARE(rec_->errors, (QStringList{"300 does not fit an element of this file: -128 to 255",
                                           "-129 does not fit an element of this file: -128 to 255"}));
        Tick(2);
        QCOMPARE(emu_->FindDevice(35)->files[1].elements, (std::vector<std::int16_t>{7, 77, 9, 10}));
        page().tbFilePos->setText("-2");  // the size element may be read, never written
        page().btGetVal->click();
        Tick(2);
        QCOMPARE(page().lbActVal->text(), QString("4"));
        page().btSetVal->click();
        QVERIFY(rec_->errors.last().startsWith("Position -2 is outside the file: elements 0 to 3"));
    }

    // Whenever a selection has an option byte or a position, its box shows below the help text and
    // Tab reaches it; the help text itself is passed by.
    void optionAndPositionBoxesStayReachable() {
        Start();
        for (const char* path : {"35  Pump/Limit", "35  Pump/Curve", "35  Pump/Speed"}) {
            Click(path);
            const bool boxes = !page().tbOptions->isHidden();
            QCOMPARE(boxes, QString(path) != "35  Pump/Speed");
            if (boxes) QVERIFY(page().memoHelp->geometry().bottom() < page().tbOptions->geometry().top());
            QVERIFY(page().memoHelp->geometry().bottom() < page().chkLog->geometry().top());
        }
        QVERIFY(!(page().memoHelp->focusPolicy() & Qt::TabFocus));
        QVERIFY(page().tbOptions->focusPolicy() & Qt::TabFocus);
        // A position shown once is never the option byte of the next write.
        Click("35  Pump/Curve");
        page().btLoadFileClick();
        Tick(12);
        Click("35  Pump/Limit");
        page().tbSetVal->setText("650");
        page().btSetVal->click();
        Tick(2);
        QCOMPARE(emu_->FindDevice(35)->properties[2].byte, std::uint8_t{0});
        QCOMPARE(emu_->FindDevice(35)->properties[2].word, 650);
    }

    void integerErrorsAndPositions() {
        Start();
        Click("35  Pump/Speed");
        Tick(2);
        page().tbSetVal->setText("abc");
        page().btSetVal->click();
        QCOMPARE(rec_->errors, QStringList{"'abc' is not a valid integer value"});
        QCOMPARE(Link("Speed")->state, LinkState::KNOWN);
        Click("35  Pump");
        Click("35  Pump/Speed");
        page().btSetVal->click();  // the box was emptied by the device node
        QCOMPARE(rec_->errors.last(), QString("'' is not a valid integer value"));
        Click("35  Pump/Curve");
        page().tbSetVal->setText("9");
        page().tbFilePos->setText("3");
        page().btSetVal->click();
        QVERIFY(rec_->errors.last().startsWith("Position 3 is outside the file"));
        QCOMPARE(Link("Curve")->state, LinkState::UNKNOWN);
        page().tbFilePos->setText("2");
        page().btSetVal->click();
        auto* file = dynamic_cast<KFileLink*>(Link("Curve"));
        QCOMPARE(file->state, LinkState::SET);
        QCOMPARE(file->ElementValue(2), 9);
        Tick(2);
        QCOMPARE(emu_->FindDevice(35)->files[0].elements[2], std::int16_t{9});
    }

    void logPaneKeepsSeventeenLines() {
        Start();
        for (int i = 1; i <= 18; ++i) form_->AddLogLine(QString("line %1").arg(i));
        const QStringList lines = form_->memoLog->Lines();
        QCOMPARE(lines.size(), 17);
        QCOMPARE(lines.first(), QString("line 2"));
        QCOMPARE(lines.last(), QString("line 18"));
        form_->btClearInLog->click();
        QVERIFY(form_->memoLog->Lines().isEmpty());
        form_->btClearInLog->click();
        QVERIFY(form_->memoLog->Lines().isEmpty());
    }

    // Each message of a failed start waits for OK; then the program ends with a failure status.
    void missingConfigurationEndsAfterEveryMessage() {
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
        TForm1 form(dir->Path(), WindowWiring{&d, nullptr, true});
        form.FormActivate();
        QCOMPARE(answered, (QStringList{"Invalid or missing path specification data",
                                        "Invalid or missing constants data", "Invalid or missing config data"}));
        QCOMPARE(form.devicePage->tvDevices->topLevelItemCount(), 1);
        QEventLoop loop;
        QTimer::singleShot(2000, &loop, [&] { loop.exit(99); });
        QCOMPARE(loop.exec(), 1);
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
