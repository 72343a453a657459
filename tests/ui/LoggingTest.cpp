// The hidden logging controls of the "Utility" page, clicked by the test, offscreen.
#include <QtTest>

#include <filesystem>

#include "support/Window.h"
#include "xml/SafeFile.h"

using namespace korva;

class LoggingTest : public QObject, test::WindowFixture {
    Q_OBJECT

    TUtilityPage& util() { return *form->utilityPage; }

  private slots:
    void init() {
        Start();
        win->EmulatePump();
    }
    void cleanup() { win.reset(); }

    // The interval's own checks are LogFile's and the period's are the engine's: the page passes their
    // verdict on in its own words, a refused start starts nothing, and the label shows while a log runs.
    void startStopAndTheirErrors() {
        const std::string never = win->dir.Path() + "/never.csv", run = win->dir.Path() + "/run.csv";
        const struct {
            QPushButton* button;
            const char* interval;
            std::string file;
            QString shown;  // the error, or the alert as caption|text
            int period;
            bool logging;
        } cases[] = {
            {util().btApplyInterval, "0.29", never, "", 28, false},
            {util().btStartLogging, "4,5", never, "'4,5' is not a valid floating point value", 28, false},
            {util().btApplyInterval, "-1", never, "'-1' is not a valid log interval", 28, false},
            {util().btStartLogging, "4", "", "ERROR|No Output Filename Selected", 400, false},
            {util().btStartLogging, " 0 ", run, "", 0, true},
            {util().btStopLogging, "4", run, "", 0, false},
        };
        for (const auto& c : cases) {
            win->errors.clear();
            win->alerts.clear();
            util().tbLogInterval->setText(c.interval);
            util().tbLogFileName->setText(QString::fromStdString(c.file));
            c.button->click();
            QCOMPARE((win->errors + win->alerts).join('\n'), c.shown);
            QCOMPARE(form->engine().Period(), c.period);
            QCOMPARE(form->Logger()->Active(), c.logging);
            QCOMPARE(form->lbLogging->isHidden(), !c.logging);
        }
        QVERIFY(!std::filesystem::exists(never));
    }

    // Left as the program gives it, the name is a fresh file below the working folder's logs/ for
    // each log, so that no log overwrites the one before.
    void anUntouchedNameGivesEachLogItsOwnFile() {
        const QString given = util().tbLogFileName->text();
        QVERIFY2(QRegularExpression("^logs/korva-\\d{8}-\\d{6}\\.csv$").match(given).hasMatch(),
                 qPrintable(given));
        util().btStartLogging->click();
        QVERIFY(form->Logger()->Active());
        const std::filesystem::path first = form->Logger()->fileName;
        QCOMPARE(first.parent_path(), std::filesystem::path(win->dir.Path()) / "logs");
        QVERIFY(std::filesystem::exists(first));
        util().btStopLogging->click();
        QTest::qWait(1100);  // the name carries the second
        util().btStartLogging->click();
        QVERIFY(form->Logger()->fileName != first.string());
        QVERIFY(std::filesystem::exists(first));
        util().btStopLogging->click();
    }

    // A row on every tick would outrun the line with three properties to read at 57600 baud: rows
    // would repeat old values as new ones.
    void anIntervalTheLineCannotServeIsRefused() {
        for (const char* name : {"Speed", "Mode", "Limit"})
            form->engine().Model().FindLink("Pump", name)->SetLog(true);
        const struct {
            const char* interval;
            bool starts;
        } cases[] = {{"0", false}, {"0.01", false}, {"0.02", true}};
        for (const auto& c : cases) {
            win->errors.clear();
            util().tbLogInterval->setText(c.interval);
            util().btStartLogging->click();
            QCOMPARE(form->Logger()->Active(), c.starts);
            QCOMPARE(win->errors.isEmpty(), c.starts);
            if (!c.starts)
                QCOMPARE(win->errors[0],
                         QString("A log interval of %1 s is shorter than the line can serve: 3 logged "
                                 "properties need at least 0.02 s at 57600 baud")
                             .arg(c.interval));
        }
        util().btStopLogging->click();
    }

    void appendBoxSetsTheAppendFlagOnly() {
        form->engine().Line().showBroadcasts =
            false;  // differs from its box, so re-applying the box would show
        util().chkAppend->click();
        QVERIFY(form->Logger()->append);
        QVERIFY(!form->engine().Line().showBroadcasts);
        util().chkAppend->click();
        QVERIFY(!form->Logger()->append);
    }

    // Every property has a column from the start, switched off. From the panel's Log box to the file,
    // through the Logging menu: the header names the logged property only, every row carries its
    // value, and the status bar counts the rows while the log runs.
    void logTickedInThePanelIsWrittenAndCounted() {
        QCOMPARE(form->Logger()->Items().size(), std::size_t{4});  // the files have none
        win->Click("35  Pump/Speed");
        QVERIFY(!form->devicePage->chkLog->isHidden());
        form->devicePage->chkLog->click();
        QVERIFY(form->devicePage->chkPoll->isChecked());
        win->savedFile = QString::fromStdString(win->dir.Path() + "/chosen.csv");
        util().btLogFileName->click();
        QCOMPARE(util().tbLogFileName->text(), win->savedFile);
        util().tbLogInterval->setText("0");
        win->Menu("Start Logging")->trigger();
        win->Tick(4);
        QCOMPARE(form->statusLine->lbLog->text(), QString("Logging to chosen.csv: 4 rows"));
        win->Menu("Stop Logging")->trigger();
        QVERIFY(form->statusLine->lbLog->isHidden());
        const QStringList lines =
            QString::fromStdString(ReadRegularFile(win->savedFile.toStdString())).split("\r\n");
        QCOMPARE(lines.size(), 8 + 4 + 1);  // and the empty rest after the last line end
        QCOMPARE(lines[7], QString("Time,Time Elapsed,ISO Time,Line,Pump.Speed,"));
        // The first row is written before the first reply; every later one has the polled value.
        for (qsizetype row = 9; row < lines.size() - 1; ++row) QVERIFY(lines[row].endsWith(",-32768,"));
    }
};

QTEST_MAIN(LoggingTest)
#include "LoggingTest.moc"
