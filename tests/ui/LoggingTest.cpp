// The hidden logging controls of the "Utility" page, clicked by the test, offscreen.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include <filesystem>

#include "support/Window.h"
#include "ui/KorvaConfigMain.h"
#include "ui/LogPane.h"
#include "ui/DevicePage.h"
#include "ui/StatusLine.h"
#include "ui/UtilityPage.h"
#include "xml/SafeFile.h"

using namespace korva;

class LoggingTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::Window> win_;
    TForm1* form_ = nullptr;

    void Start() {
        win_ = std::make_unique<test::Window>(test::Window::Files{
            {"config/paths.xml",
             "<p><constantspath>config/c.xml</constantspath><configpath>config/plant.xml</configpath></p>"},
            {"config/c.xml", "<c><s Word=\"0\" SPEED=\"5\" MODE=\"6\"/></c>"},
            {"config/plant.xml", "<plant><KDevice Name=\"Pump\" Address=\"34\"><KProperty Name=\"Speed\" Type=\"Word\" "
                                 "Code=\"SPEED\"/><KProperty Name=\"Mode\" Type=\"Word\" Code=\"MODE\"/></KDevice></plant>"}});
        form_ = win_->form.get();
    }
    TUtilityPage& util() { return *form_->utilityPage; }
    void Tick(int n) { win_->Tick(n); }
    QAction* Menu(const QString& caption) {
        for (QAction* a : form_->findChildren<QAction*>())
            if (test::Window::Caption(a) == caption) return a;
        return nullptr;
    }
    void StartLog(const QString& interval, const std::string& file) {
        util().tbLogInterval->setText(interval);
        util().tbLogFileName->setText(QString::fromStdString(file));
        util().btStartLogging->click();
    }
    static int LineCount(const std::string& path) {
        const std::string text = ReadRegularFile(path);
        int n = 0;
        for (std::size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos; at += 2) ++n;
        return n;
    }

private slots:
    void cleanup() {
        win_.reset();
    }

    void everyPropertyHasAColumnSwitchedOffAfterLoading() {
        Start();
        const LogFile* log = form_->Logger();
        QVERIFY(log != nullptr);
        QCOMPARE(log->fileName, std::string("c:\\log.csv"));
        QCOMPARE(log->Items().size(), std::size_t{2});
        for (const LogItem* item : log->Items()) QVERIFY(!item->enabled);
        QCOMPARE(form_->comms().Model().FindLink("Pump", "Mode")->logChannel.get(),
                 static_cast<LogChannel*>(log->Items()[1]));
    }

    void labelShowsWhileLoggingAndRowsFollowTheTick() {
        Start();
        const std::string file = win_->dir.Path() + "/run.csv";
        StartLog(" 0 ", file);
        QVERIFY(win_->errors.isEmpty());
        QVERIFY(!form_->lbLogging->isHidden());
        QVERIFY(form_->Logger()->Active());
        QCOMPARE(form_->comms().Period(), 0);
        Tick(3);
        util().btStopLogging->click();
        QVERIFY(form_->lbLogging->isHidden());
        QVERIFY(!form_->Logger()->Active());
        QCOMPARE(LineCount(file), 8 + 3);
        // Stopping again only hides the label.
        util().btStopLogging->click();
        QVERIFY(form_->lbLogging->isHidden());
        QVERIFY(win_->alerts.isEmpty());
    }

    // The interval's own checks are LogFile's; the page shows their text and starts nothing.
    void badIntervalShowsTheConversionErrorAndChangesNothing() {
        Start();
        const std::string file = win_->dir.Path() + "/never.csv";
        StartLog("4,5", file);
        StartLog("-1", file);
        QCOMPARE(win_->errors, (QStringList{"'4,5' is not a valid floating point value", "'-1' is not a valid log interval"}));
        QCOMPARE(form_->comms().Period(), 400);
        QVERIFY(!form_->Logger()->Active());
        QVERIFY(form_->lbLogging->isHidden());
        QVERIFY(!std::filesystem::exists(file));
    }

    void missingFileNameShowsTheErrorBox() {
        Start();
        StartLog("4", "");
        QCOMPARE(win_->alerts, QStringList{"ERROR|No Output Filename Selected"});
        QVERIFY(form_->lbLogging->isHidden());
    }

    void appendBoxSetsTheAppendFlagOnly() {
        Start();
        form_->comms().showBroadcasts = false;  // differs from its box, so re-applying the box would show
        util().chkAppend->click();
        QVERIFY(form_->Logger()->append);
        QVERIFY(!form_->comms().showBroadcasts);
        util().chkAppend->click();
        QVERIFY(!form_->Logger()->append);
    }

    // From the panel's Log box to the file, through the Logging menu: the header names the logged
    // property, every row carries its value, and the status bar counts the rows while the log runs.
    void logTickedInThePanelIsWrittenAndCounted() {
        Start();
        win_->emu.AddDevice("Pump", 34).properties.push_back({"Speed", 0, 5, 0xFFFB, 0});
        QTreeWidget* tree = form_->devicePage->tvDevices;
        tree->setCurrentItem(tree->findItems("Speed", Qt::MatchExactly | Qt::MatchRecursive).first());
        QVERIFY(!form_->devicePage->chkLog->isHidden());
        form_->devicePage->chkLog->click();
        QVERIFY(form_->devicePage->chkPoll->isChecked());
        win_->savedFile = QString::fromStdString(win_->dir.Path() + "/chosen.csv");
        util().btLogFileName->click();
        QCOMPARE(util().tbLogFileName->text(), win_->savedFile);
        util().tbLogInterval->setText("0");
        Menu("Start Logging")->trigger();
        Tick(4);
        QCOMPARE(form_->statusLine->lbLog->text(), QString("Logging to chosen.csv: 4 rows"));
        Menu("Stop Logging")->trigger();
        QVERIFY(form_->statusLine->lbLog->isHidden());
        std::ifstream in(win_->savedFile.toStdString(), std::ios::binary);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        QCOMPARE(lines.size(), std::size_t{8 + 4});
        QCOMPARE(lines[7], std::string("Time,Time Elapsed,Speed,\r"));
        // The first row is written before the first reply; every later one has the polled value.
        for (std::size_t row = 9; row < lines.size(); ++row) QVERIFY(lines[row].ends_with(",-5,\r"));
    }

    // Apply makes the interval the poll period without a log; a bad interval changes nothing.
    void applySetsThePollPeriodOnly() {
        Start();
        for (const auto& [text, period] : {std::pair{"0.29", 28}, {"x", 28}, {"-1", 28}, {"4", 400}}) {
            util().tbLogInterval->setText(text);
            util().btApplyInterval->click();
            QCOMPARE(form_->comms().Period(), period);
        }
        QCOMPARE(win_->errors.size(), qsizetype{2});
        QVERIFY(!form_->Logger()->Active());
    }
};

QTEST_MAIN(LoggingTest)
#include "LoggingTest.moc"
