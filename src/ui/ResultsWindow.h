#pragma once
// The "Results" window: the runs the results store keeps, filtered by DUT, date and verdict; the
// steps of the chosen run; first-pass and final yield per day and the failing steps by count.
// Every query runs on a worker thread with a store of its own, so the window never waits on the
// file or the server.

#include <QFutureWatcher>
#include <QWidget>

#include <string>
#include <vector>

#include "results/ResultsStore.h"

class QChartView;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QTableWidget;

namespace korva {

class TResultsWindow : public QWidget {
    Q_OBJECT

  public:
    // location: the SQLite file or server URL runs are kept in.
    explicit TResultsWindow(std::string location, QWidget* parent = nullptr);
    ~TResultsWindow() override;

    // Asks the store again with the filters as they stand.
    void Refresh();
    // A query is under way.
    bool Busy() const { return overview_.isRunning() || steps_.isRunning(); }

    QLineEdit* dutFilter;
    QDateEdit* fromDate;
    QComboBox* verdictFilter;
    QTableWidget* runsTable;
    QTableWidget* stepsTable;
    QChartView* yieldChart;
    QChartView* paretoChart;
    QLabel* status;

  signals:
    // The runs, yield and failing steps are shown (or the reason they could not be read).
    void overviewShown();
    void stepsShown();

  public:
    struct Overview {
        std::vector<results::RunRow> runs;
        std::vector<results::YieldRow> yield;
        std::vector<results::ParetoRow> pareto;
        std::string error;
    };
    struct RunSteps {
        std::vector<results::StepRow> steps;
        std::string error;
    };

  private:
    void ShowOverview();
    void ShowRun(int row);
    void ShowSteps();

    std::string location_;
    std::vector<results::RunRow> runs_;
    QFutureWatcher<Overview> overview_;
    QFutureWatcher<RunSteps> steps_;
    bool again_ = false;   // the filters changed while a query ran
    int pendingRow_ = -1;  // a run chosen while another's steps were read
};

}  // namespace korva
