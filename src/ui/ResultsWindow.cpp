#include "ResultsWindow.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateEdit>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHorizontalBarSeries>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QValueAxis>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace korva {

namespace {

using namespace results;

constexpr int kParetoBars = 10;

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

QString Number(const std::optional<double>& v) {
    return v ? QString::number(*v, 'g', 10) : QString();
}

void Fill(QTableWidget& table, const std::vector<QStringList>& rows) {
    table.setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < table.rowCount(); ++r)
        for (int c = 0; c < rows[static_cast<std::size_t>(r)].size() && c < table.columnCount(); ++c)
            table.setItem(r, c, new QTableWidgetItem(rows[static_cast<std::size_t>(r)][c]));
    table.resizeColumnsToContents();
}

QTableWidget* Table(const QStringList& headings, QWidget* parent) {
    auto* t = new QTableWidget(0, static_cast<int>(headings.size()), parent);
    t->setHorizontalHeaderLabels(headings);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->verticalHeader()->hide();
    t->setWordWrap(false);
    t->horizontalHeader()->setStretchLastSection(true);
    return t;
}

// A bar chart of named values, with its axes; the old chart goes with the view's.
// horizontal: the categories down the left, where long step names have room.
void Bars(QChartView& view, const QString& title, const QStringList& categories,
          const std::vector<std::pair<QString, QList<qreal>>>& sets, qreal top, bool horizontal = false) {
    auto* chart = new QChart;
    chart->setTitle(title);
    QAbstractBarSeries* series = horizontal ? static_cast<QAbstractBarSeries*>(new QHorizontalBarSeries)
                                            : static_cast<QAbstractBarSeries*>(new QBarSeries);
    for (const auto& [name, values] : sets) {
        auto* set = new QBarSet(name);
        set->append(values);
        series->append(set);
    }
    chart->addSeries(series);
    auto* x = new QBarCategoryAxis;
    x->append(categories);
    chart->addAxis(x, horizontal ? Qt::AlignLeft : Qt::AlignBottom);
    series->attachAxis(x);
    auto* y = new QValueAxis;
    y->setRange(0, std::max<qreal>(top, 1));
    y->setLabelFormat("%d");
    if (horizontal) y->applyNiceNumbers();  // counts; a percentage keeps 0 to 100
    chart->addAxis(y, horizontal ? Qt::AlignBottom : Qt::AlignLeft);
    series->attachAxis(y);
    chart->legend()->setVisible(sets.size() > 1);
    QChart* old = view.chart();
    view.setChart(chart);
    delete old;
}

}  // namespace

TResultsWindow::TResultsWindow(std::string location, QWidget* parent)
    : QWidget(parent, Qt::Window), location_(std::move(location)) {
    setWindowTitle("Results");
    resize(1200, 760);
    dutFilter = new QLineEdit(this);
    dutFilter->setPlaceholderText("any");
    fromDate = new QDateEdit(QDate::currentDate().addDays(-30), this);
    fromDate->setCalendarPopup(true);
    fromDate->setDisplayFormat("yyyy-MM-dd");
    verdictFilter = new QComboBox(this);
    verdictFilter->addItems({"All", "PASSED", "FAILED", "ERROR", "INCOMPLETE"});
    auto* refresh = new QPushButton("Refresh", this);
    status = new QLabel(this);
    auto* filters = new QHBoxLayout;
    filters->addWidget(new QLabel("DUT", this));
    filters->addWidget(dutFilter);
    filters->addWidget(new QLabel("From", this));
    filters->addWidget(fromDate);
    filters->addWidget(new QLabel("Verdict", this));
    filters->addWidget(verdictFilter);
    filters->addWidget(refresh);
    filters->addWidget(status, 1);

    runsTable =
        Table({"Started", "DUT", "Attempt", "Verdict", "Station", "Operator", "Part", "Reason"}, this);
    stepsTable = Table({"Node", "Action", "Value", "Unit", "Low", "High", "Result", "Reason"}, this);
    yieldChart = new QChartView(this);
    paretoChart = new QChartView(this);
    for (QChartView* v : {yieldChart, paretoChart}) {
        v->setRenderHint(QPainter::Antialiasing);
        v->setMinimumHeight(220);
    }
    auto* tables = new QSplitter(Qt::Horizontal, this);
    tables->addWidget(runsTable);
    tables->addWidget(stepsTable);
    auto* charts = new QSplitter(Qt::Horizontal, this);
    charts->addWidget(yieldChart);
    charts->addWidget(paretoChart);
    auto* all = new QSplitter(Qt::Vertical, this);
    all->addWidget(tables);
    all->addWidget(charts);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(all, 1);

    connect(refresh, &QPushButton::clicked, this, &TResultsWindow::Refresh);
    connect(dutFilter, &QLineEdit::returnPressed, this, &TResultsWindow::Refresh);
    connect(verdictFilter, &QComboBox::currentIndexChanged, this, &TResultsWindow::Refresh);
    connect(fromDate, &QDateEdit::dateChanged, this, &TResultsWindow::Refresh);
    connect(runsTable, &QTableWidget::currentCellChanged, this, [this](int row) { ShowRun(row); });
    connect(&overview_, &QFutureWatcher<Overview>::finished, this, &TResultsWindow::ShowOverview);
    connect(&steps_, &QFutureWatcher<RunSteps>::finished, this, &TResultsWindow::ShowSteps);
}

TResultsWindow::~TResultsWindow() {
    // The workers hold no pointer into the window, but their stores must close before it goes.
    overview_.waitForFinished();
    steps_.waitForFinished();
}

void TResultsWindow::Refresh() {
    if (overview_.isRunning()) {
        again_ = true;
        return;
    }
    RunFilter filter;
    filter.dut = dutFilter->text().trimmed().toStdString();
    filter.from = fromDate->date().toString("yyyy-MM-dd").toStdString();
    if (verdictFilter->currentIndex() > 0) filter.verdict = verdictFilter->currentText().toStdString();
    status->setText("Reading " + Q(location_) + "\u2026");
    overview_.setFuture(QtConcurrent::run([location = location_, filter] {
        Overview o;
        // Looking must not leave an empty store behind where there was none.
        if (!IsServerLocation(location) && !QFileInfo::exists(Q(location))) {
            o.error = "No runs are kept yet: there is no " + location;
            return o;
        }
        try {
            const auto store = OpenStore(location);
            o.runs = store->Runs(filter);
            o.yield = store->Yield(filter.from, "day");
            o.pareto = store->Pareto(filter.from);
        } catch (const StoreError& e) {
            o.error = e.what();
        }
        return o;
    }));
}

void TResultsWindow::ShowOverview() {
    const Overview o = overview_.result();
    if (again_) {
        again_ = false;
        Refresh();
        return;
    }
    if (!o.error.empty()) {
        status->setText(Q(o.error));
        emit overviewShown();
        return;
    }
    runs_ = o.runs;
    std::vector<QStringList> rows;
    for (const RunRow& r : runs_)
        rows.push_back({Q(r.started), Q(r.dut), QString::number(r.attempt),
                        r.incomplete ? QString("INCOMPLETE") : Q(r.verdict), Q(r.station), Q(r.operatorName),
                        Q(r.part), Q(r.reason)});
    Fill(*runsTable, rows);
    stepsTable->setRowCount(0);
    status->setText(QString("%1 run(s) in %2").arg(runs_.size()).arg(Q(location_)));

    QStringList days;
    QList<qreal> first, final;
    for (const YieldRow& y : o.yield) {
        days << Q(y.group).mid(5);  // the month and day: the year is the filter's
        first << (y.units ? 100.0 * y.firstPass / y.units : 0);
        final << (y.units ? 100.0 * y.finalPass / y.units : 0);
    }
    Bars(*yieldChart, "Yield per day (%)", days, {{"First pass", first}, {"Final", final}}, 100);
    QStringList steps;
    QList<qreal> counts;
    for (std::size_t i = 0; i < o.pareto.size() && i < kParetoBars; ++i) {
        steps << Q(o.pareto[i].action);
        counts << o.pareto[i].failures;
    }
    // The most frequent at the top.
    std::reverse(steps.begin(), steps.end());
    std::reverse(counts.begin(), counts.end());
    Bars(*paretoChart, "Failing steps", steps, {{"Failures", counts}}, counts.isEmpty() ? 1 : counts.back(),
         true);
    emit overviewShown();
}

void TResultsWindow::ShowRun(int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= runs_.size()) return;
    // One run's steps at a time: a row chosen meanwhile is read when this one is done.
    if (steps_.isRunning()) {
        pendingRow_ = row;
        return;
    }
    pendingRow_ = -1;
    steps_.setFuture(QtConcurrent::run([location = location_, id = runs_[static_cast<std::size_t>(row)].id] {
        RunSteps s;
        try {
            s.steps = OpenStore(location)->Steps(id);
        } catch (const StoreError& e) {
            s.error = e.what();
        }
        return s;
    }));
}

void TResultsWindow::ShowSteps() {
    const RunSteps s = steps_.result();
    if (pendingRow_ >= 0) {
        ShowRun(pendingRow_);
        return;
    }
    if (!s.error.empty()) status->setText(Q(s.error));
    std::vector<QStringList> rows;
    for (const StepRow& r : s.steps)
        rows.push_back({Q(r.node), Q(r.action),
                        r.shown ? Number(r.shown)
                        : r.raw ? QString::number(*r.raw)
                                : "",
                        Q(r.unit), Number(r.low), Number(r.high), Q(r.result), Q(r.reason)});
    Fill(*stepsTable, rows);
    emit stepsShown();
}

}  // namespace korva
