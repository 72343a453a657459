// The Results window, offscreen, on a store filled here: its filters, a run's steps, and the
// yield and failing-step charts; a folder with no store yet is said and left without one.
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateEdit>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTableWidget>
#include <QtTest>

#include "results/ResultsStore.h"
#include "support/TempDir.h"
#include "ui/ResultsWindow.h"

using namespace korva;

class ResultsWindowTest : public QObject {
    Q_OBJECT

    static void Wait(TResultsWindow& w, void (TResultsWindow::*shown)()) {
        QSignalSpy spy(&w, shown);
        QVERIFY(spy.wait(10000));
    }

  private slots:
    void FiltersRunsShowsStepsAndCharts() {
        test::TempDir dir;
        const std::string path = dir.Path() + "/results.sqlite";
        {
            results::SqliteStore store(path);
            const struct {
                const char *dut, *day, *verdict;
            } runs[] = {{"SN-1", "2026-12-05", "FAILED"},
                        {"SN-1", "2026-12-06", "PASSED"},
                        {"SN-2", "2026-12-06", "PASSED"}};
            for (const auto& r : runs) {
                const std::string started = std::string(r.day) + "T08:00:00.000Z";
                const std::string id = store.BeginRun({started, "s1", "ann", r.dut, "P-1", "1", "", ""});
                results::StepRow step;
                step.node = "heat";
                step.action = "test Boiler FlowTemp 0 950";
                step.raw = 650;
                step.shown = 65.0;
                step.unit = "°C";
                step.result = std::string(r.verdict) == "PASSED" ? "PASSED" : "FAILED";
                store.AddSteps(id, {step});
                store.EndRun(id, started, r.verdict, "");
            }
        }
        TResultsWindow w(path);
        w.fromDate->setDate(QDate(2026, 12, 1));
        w.Refresh();
        Wait(w, &TResultsWindow::overviewShown);
        QCOMPARE(w.runsTable->rowCount(), 3);
        QCOMPARE(w.runsTable->item(0, 0)->text(), QString("2026-12-06T08:00:00.000Z"));  // newest first

        const struct {
            const char* dut;
            const char* verdict;
            int rows;
        } filters[] = {{"SN-1", "All", 2}, {"", "FAILED", 1}, {"SN-2", "FAILED", 0}, {"", "All", 3}};
        for (const auto& f : filters) {
            w.dutFilter->setText(f.dut);
            w.verdictFilter->setCurrentText(f.verdict);
            w.Refresh();
            Wait(w, &TResultsWindow::overviewShown);
            QCOMPARE(w.runsTable->rowCount(), f.rows);
        }
        w.runsTable->setCurrentCell(2, 0);
        Wait(w, &TResultsWindow::stepsShown);
        QCOMPARE(w.stepsTable->rowCount(), 1);
        QCOMPARE(w.stepsTable->item(0, 2)->text(), QString("65"));
        QCOMPARE(w.stepsTable->item(0, 3)->text(), QString("°C"));

        // SN-1 failed first and passed on the 6th; SN-2 passed: by its first day, the 5th has no first pass.
        auto* yield = qobject_cast<QBarSeries*>(w.yieldChart->chart()->series().at(0));
        QVERIFY(yield != nullptr);
        QCOMPARE(yield->barSets().at(0)->at(0), 0.0);    // first pass on the 5th
        QCOMPARE(yield->barSets().at(1)->at(0), 100.0);  // final on the 5th
        QCOMPARE(yield->barSets().at(0)->at(1), 100.0);  // SN-2 on the 6th
        auto* pareto = qobject_cast<QAbstractBarSeries*>(w.paretoChart->chart()->series().at(0));
        QCOMPARE(pareto->barSets().at(0)->at(0), 1.0);
    }

    void AFolderWithoutAStoreIsSaidAndLeftAlone() {
        test::TempDir dir;
        const std::string path = dir.Path() + "/results.sqlite";
        TResultsWindow w(path);
        w.Refresh();
        Wait(w, &TResultsWindow::overviewShown);
        QVERIFY(w.status->text().startsWith("No runs are kept yet"));
        QVERIFY(!QFileInfo::exists(QString::fromStdString(path)));
    }
};

QTEST_MAIN(ResultsWindowTest)
#include "ResultsWindowTest.moc"
