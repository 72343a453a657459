#include "ui/PlotWindow.h"

#include <QBoxLayout>
#include <QBuffer>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <sstream>

#include "ui/PanelText.h"
#include "xml/SafeFile.h"

namespace korva {

namespace {
constexpr double kSpanSeconds[] = {60.0, 600.0, 0.0};

// What Qt Charts is given of one series: at most the lowest and highest point of each pixel
// column, so a redraw costs the same for an hour as for a minute and no spike is lost. The value
// range of those points is the whole range's.
QList<QPointF> Drawn(const SeriesPoint* b, const SeriesPoint* e, double from, double to, std::size_t columns,
                     double& lo, double& hi) {
    const std::vector<SeriesPoint> kept = ColumnExtremes(b, e, from, to, columns);
    QList<QPointF> out;
    out.reserve(static_cast<qsizetype>(kept.size()));
    for (const SeriesPoint& p : kept) {
        out.append(QPointF(p.t, p.v));
        lo = std::min(lo, p.v);
        hi = std::max(hi, p.v);
    }
    return out;
}

void SetRange(QValueAxis* axis, double lo, double hi) {
    if (lo > hi) {
        lo = 0;
        hi = 1;
    }
    const double pad = hi > lo ? (hi - lo) * 0.05 : std::max(1.0, std::fabs(hi) * 0.05);
    axis->setRange(lo - pad, hi + pad);
    // Round ends and steps: an axis labelled 326.25 and 1123.75 is hard to read off.
    axis->applyNiceNumbers();
}
}  // namespace

TPlotWindow::TPlotWindow(KModel& model, const UiDialogs& dialogs, QWidget* parent, std::size_t capacity)
    : QWidget(parent, Qt::Window), model_(model), dialogs_(dialogs), store_(capacity) {
    setObjectName("frmPlot");
    setWindowTitle("Plot");
    resize(760, 420);
    cbSpan = new QComboBox(this);
    cbSpan->setObjectName("cbSpan");
    cbSpan->addItems({"Last minute", "Last 10 minutes", "All"});
    btPause = new QPushButton("Pause", this);
    btPause->setObjectName("btPause");
    btPause->setCheckable(true);
    btExportPng = new QPushButton("Export PNG\u2026", this);
    btExportPng->setObjectName("btExportPng");
    btExportCsv = new QPushButton("Export CSV\u2026", this);
    btExportCsv->setObjectName("btExportCsv");
    sePoints = new QSpinBox(this);
    sePoints->setObjectName("sePoints");
    sePoints->setRange(static_cast<int>(Series::kMinCapacity), 10000000);
    sePoints->setSingleStep(10000);
    sePoints->setValue(static_cast<int>(std::min<std::size_t>(capacity, 10000000)));
    sePoints->setToolTip("Points kept per series; older points are thinned beyond it");

    chart = new QChart();
    chart->legend()->setAlignment(Qt::AlignBottom);
    axisTime_ = new QValueAxis(chart);
    axisTime_->setTitleText("Time (s)");
    axisTime_->setLabelFormat("%.0f");
    axisLeft_ = new QValueAxis(chart);
    axisRight_ = new QValueAxis(chart);
    axisLeft_->setLabelFormat("%g");
    axisRight_->setLabelFormat("%g");
    chart->addAxis(axisTime_, Qt::AlignBottom);
    chart->addAxis(axisLeft_, Qt::AlignLeft);
    chart->addAxis(axisRight_, Qt::AlignRight);
    axisRight_->hide();
    chartView = new QChartView(chart, this);  // owns the chart
    chartView->setObjectName("chartView");
    chartView->setRenderHint(QPainter::Antialiasing);

    auto* bar = new QHBoxLayout();
    bar->addWidget(cbSpan);
    bar->addWidget(btPause);
    bar->addStretch(1);
    bar->addWidget(new QLabel("Points per series", this));
    bar->addWidget(sePoints);
    bar->addWidget(btExportPng);
    bar->addWidget(btExportCsv);
    auto* page = new QVBoxLayout(this);
    page->addLayout(bar);
    page->addWidget(chartView, 1);

    connect(cbSpan, &QComboBox::currentIndexChanged, this, [this](int i) { SetSpan(static_cast<Span>(i)); });
    connect(btPause, &QPushButton::toggled, this, [this](bool on) { SetPaused(on); });
    connect(sePoints, &QSpinBox::editingFinished, this, [this] { SetCapacity(sePoints->value()); });
    connect(btExportPng, &QPushButton::clicked, this,
            [this] { Export("Export PNG", "PNG images (*.png)", false); });
    connect(btExportCsv, &QPushButton::clicked, this,
            [this] { Export("Export CSV", "CSV files (*.csv)", true); });
}

std::size_t TPlotWindow::AddSeries(KRemoteLink& link) {
    const std::size_t i = store_.Add(link.device->name + "." + link.name);
    plotted_.push_back({&link, link.valueUpdates});
    index_.emplace(&link, i);
    auto* line = new QLineSeries(chart);
    line->setName(QString::fromStdString(store_.At(i).name));
    chart->addSeries(line);
    line->attachAxis(axisTime_);
    line->attachAxis(axisLeft_);
    lines_.push_back(line);
    axisOf_.push_back(0);
    for (QLegendMarker* marker : chart->legend()->markers(line))
        connect(marker, &QLegendMarker::clicked, this, [this, i] { ToggleSeries(i); });
    return i;
}

void TPlotWindow::Sample(double t) {
    // The plant is walked only when a poll or log flag changed: an idle plant of any size costs
    // what its plotted properties cost.
    if (model_.FlagChanges() != flagsSeen_) {
        flagsSeen_ = model_.FlagChanges();
        candidates_.clear();
        for (const auto& [deviceName, device] : model_.devices)
            for (const auto& [linkName, link] : device->links)
                // File handles show an element, not a value of their own: they are not plotted.
                if ((link->poll || link->log) && !link->IsFileHandle()) candidates_.push_back(link);
    }
    for (KRemoteLink* link : candidates_) {
        auto it = index_.find(link);
        const std::size_t i = it != index_.end() ? it->second : AddSeries(*link);
        Plotted& p = plotted_[i];
        if (p.seen == link->valueUpdates) continue;
        p.seen = link->valueUpdates;
        store_.At(i).Append({t, static_cast<double>(PanelNumber(*link))});
        if (!any_) first_ = t;
        any_ = true;
        last_ = std::max(last_, t);
    }
    // The redraw runs after the tick, not inside it.
    if (++sinceRefresh_ >= refreshGap_ && !paused_ && !refreshQueued_ && isVisible()) {
        refreshQueued_ = true;
        QTimer::singleShot(0, this, [this] {
            refreshQueued_ = false;
            Refresh();
        });
    }
}

void TPlotWindow::Refresh() {
    sinceRefresh_ = 0;
    if (paused_) return;
    QElapsedTimer took;
    took.start();
    const double span = kSpanSeconds[span_];
    const double to = any_ ? last_ : 0;
    // A span longer than the run shows the run from its first reading.
    const double start = any_ ? first_ : 0;
    const double from = span > 0 ? std::max(start, to - span) : start;
    const double axisTo = to > from ? to : from + 1;  // the time axis is never of no width
    // Before the chart's first layout its plot area is empty; the view's width stands in for it.
    const double pixels = chart->plotArea().width() > 0 ? chart->plotArea().width() : chartView->width();
    const auto columns =
        static_cast<std::size_t>(std::clamp(std::ceil(pixels * chartView->devicePixelRatioF()), 1.0, 1e5));
    std::vector<double> magnitude(lines_.size(), 0.0);
    std::vector<double> lo(lines_.size(), HUGE_VAL), hi(lines_.size(), -HUGE_VAL);
    std::vector<QList<QPointF>> drawn(lines_.size());
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const auto [b, e] = store_.At(i).Range(from, to);
        drawn[i] = Drawn(b, e, from, axisTo, columns, lo[i], hi[i]);
        if (lines_[i]->isVisible() && b != e) magnitude[i] = std::max(std::fabs(lo[i]), std::fabs(hi[i]));
    }
    // Qt Charts lays out every point of a series again on each change of its axes: the old points
    // go first, so that the new ones are laid out once, against the axes they end with.
    for (QLineSeries* line : lines_) line->clear();
    const std::vector<int> axes = AssignAxes(magnitude);
    double range[2][2] = {{HUGE_VAL, -HUGE_VAL}, {HUGE_VAL, -HUGE_VAL}};
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (axes[i] != axisOf_[i]) {
            lines_[i]->detachAxis(axisOf_[i] ? axisRight_ : axisLeft_);
            lines_[i]->attachAxis(axes[i] ? axisRight_ : axisLeft_);
            axisOf_[i] = axes[i];
        }
        if (!lines_[i]->isVisible()) continue;
        range[axes[i]][0] = std::min(range[axes[i]][0], lo[i]);
        range[axes[i]][1] = std::max(range[axes[i]][1], hi[i]);
    }
    SetRange(axisLeft_, range[0][0], range[0][1]);
    SetRange(axisRight_, range[1][0], range[1][1]);
    axisRight_->setVisible(std::find(axes.begin(), axes.end(), 1) != axes.end());
    axisTime_->setRange(from, axisTo);
    for (std::size_t i = 0; i < lines_.size(); ++i) lines_[i]->replace(drawn[i]);
    shownFrom_ = from;
    shownTo_ = to;
    // A redraw of d ms waits d ticks (10 d ms) for the next: the plot takes at most a tenth of the thread.
    refreshGap_ = std::max<int>(kRefreshTicks, static_cast<int>(took.elapsed()));
}

void TPlotWindow::SetPaused(bool paused) {
    paused_ = paused;
    if (btPause->isChecked() != paused) btPause->setChecked(paused);
    btPause->setText(paused ? "Resume" : "Pause");
    if (!paused) Refresh();
}

void TPlotWindow::SetSpan(Span span) {
    span_ = span;
    if (cbSpan->currentIndex() != span) cbSpan->setCurrentIndex(span);
    Refresh();
}

void TPlotWindow::SetCapacity(int points) {
    store_.SetCapacity(static_cast<std::size_t>(std::max(points, 0)));
    Refresh();
}

void TPlotWindow::ToggleSeries(std::size_t i) {
    QLineSeries* line = lines_.at(i);
    line->setVisible(!line->isVisible());
    // A hidden series keeps its legend entry, dimmed, so that a second click brings it back.
    for (QLegendMarker* marker : chart->legend()->markers(line)) {
        marker->setVisible(true);
        QColor c = marker->labelBrush().color();
        c.setAlphaF(line->isVisible() ? 1.0 : 0.4);
        marker->setLabelBrush(c);
    }
    Refresh();
}

QString TPlotWindow::ExportCsv(const QString& path) {
    Refresh();  // what a running plot shows now; a paused one keeps its view
    std::vector<std::size_t> shown;
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i]->isVisible()) shown.push_back(i);
    std::ostringstream out;
    store_.WriteCsv(out, shown, shownFrom_, shownTo_);
    return Replace(path, out.str());
}

QString TPlotWindow::ExportPng(const QString& path) {
    Refresh();
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !chartView->grab().save(&buffer, "PNG"))
        return "the picture cannot be made";
    return Replace(path, png.toStdString());
}

QString TPlotWindow::Replace(const QString& path, const std::string& content) {
    try {
        ReplaceFileSafely(path.toStdString(), content);
        return {};
    } catch (const FileError& e) {
        return QString::fromStdString(e.Reason());
    }
}

void TPlotWindow::Export(const char* caption, const char* filter, bool csv) {
    const QString path = dialogs_.saveFile ? dialogs_.saveFile(caption, filter, QString()) : QString();
    if (path.isEmpty()) return;
    // The old file stays as it was when the new one cannot be written whole.
    if (const QString why = csv ? ExportCsv(path) : ExportPng(path); !why.isEmpty())
        dialogs_.error(QString("Can't write %1").arg(path) + "\n" + why);
}

void TPlotWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Refresh();
}

}  // namespace korva
