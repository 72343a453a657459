#include "ui/PlotWindow.h"

#include <QBoxLayout>
#include <QBuffer>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGraphicsItem>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QPolygonF>
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

// The lowest and highest value of the drawn points, which are the whole range's.
void Extent(const std::vector<SeriesPoint>& points, double& lo, double& hi) {
    for (const SeriesPoint& p : points) {
        lo = std::min(lo, p.v);
        hi = std::max(hi, p.v);
    }
}

// "Boiler.FlowTemp [°C]"
std::string SeriesName(const KRemoteLink& link) {
    const std::string& unit = link.Engineering().Unit();
    return link.FullName() + (unit.empty() ? "" : " [" + unit + "]");
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

// One series' line in the chart, its points already in the chart's pixels. Qt Charts' own line
// item makes a stroked outline of every point on each change, for mouse hits the plot does not
// take, and that cost more than all the rest of a redraw. This one only clips to the plot area and
// draws segment by segment, as Qt Charts does for a solid pen: one path of a thousand joined
// segments, dense and crossing itself, costs the painter many times more.
class TPlotWindow::Trace : public QGraphicsItem {
  public:
    explicit Trace(QGraphicsItem* parent) : QGraphicsItem(parent) {}
    void Set(QPolygonF points, const QRectF& area, const QPen& pen) {
        prepareGeometryChange();
        points_ = std::move(points);
        area_ = area;
        pen_ = pen;
        update();
    }
    const QPolygonF& Points() const { return points_; }
    QRectF boundingRect() const override { return area_; }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override {
        painter->setClipRect(area_);
        painter->setPen(pen_);
        for (qsizetype k = 1; k < points_.size(); ++k) painter->drawLine(points_[k - 1], points_[k]);
    }

  private:
    QPolygonF points_;
    QRectF area_;
    QPen pen_;
};

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
    // A new size moves the lines with the axes; the next redraw takes the new width's columns.
    connect(chart, &QChart::plotAreaChanged, this, [this] { LayOut(); });

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

TPlotWindow::~TPlotWindow() {
    // The chart, a child widget's, goes after the members: nothing it signals may reach them.
    disconnect(chart, nullptr, this, nullptr);
}

std::size_t TPlotWindow::AddSeries(KRemoteLink& link) {
    const std::size_t i = store_.Add(SeriesName(link));
    plotted_.push_back({&link, link.valueUpdates, link.Engineering()});
    index_.emplace(&link, i);
    auto* line = new QLineSeries(chart);
    line->setName(QString::fromStdString(store_.At(i).name));
    chart->addSeries(line);
    line->attachAxis(axisTime_);
    line->attachAxis(axisLeft_);
    lines_.push_back(line);  // the legend entry, its colour and its axes; the points are the trace's
    auto* trace = new Trace(chart);
    trace->setZValue(kTraceZ);
    traces_.push_back(trace);
    drawn_.emplace_back();
    axisOf_.push_back(0);
    for (QLegendMarker* marker : chart->legend()->markers(line))
        connect(marker, &QLegendMarker::clicked, this, [this, i] { ToggleSeries(i); });
    return i;
}

void TPlotWindow::ShowUnits() {
    for (std::size_t i = 0; i < plotted_.size(); ++i) {
        Plotted& p = plotted_[i];
        const EngineeringValue& now = p.link->Engineering();
        if (now.Plain()) continue;
        store_.At(i).MapValues([&](double v) { return now.Shown(p.units.RawOfShown(v)); });
        p.units = now;
        store_.At(i).name = SeriesName(*p.link);
        lines_[i]->setName(QString::fromStdString(store_.At(i).name));
    }
    Refresh();
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
        store_.At(i).Append({t, PanelNumber(*link)});
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
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const auto [b, e] = store_.At(i).Range(from, to);
        drawn_[i] = ColumnExtremes(b, e, from, axisTo, columns);
        Extent(drawn_[i], lo[i], hi[i]);
        if (lines_[i]->isVisible() && b != e) magnitude[i] = std::max(std::fabs(lo[i]), std::fabs(hi[i]));
    }
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
    // Each value axis names the units of the series it carries.
    QStringList units[2];
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const QString unit = QString::fromStdString(plotted_[i].link->Engineering().Unit());
        if (lines_[i]->isVisible() && !unit.isEmpty() && !units[axes[i]].contains(unit))
            units[axes[i]] << unit;
    }
    for (int a = 0; a < 2; ++a) {
        QValueAxis* axis = a ? axisRight_ : axisLeft_;
        if (axis->titleText() != units[a].join(", ")) axis->setTitleText(units[a].join(", "));
    }
    SetRange(axisLeft_, range[0][0], range[0][1]);
    SetRange(axisRight_, range[1][0], range[1][1]);
    axisRight_->setVisible(std::find(axes.begin(), axes.end(), 1) != axes.end());
    axisTime_->setRange(from, axisTo);
    LayOut();
    shownFrom_ = from;
    shownTo_ = to;
    // A redraw of d ms waits d ticks (10 d ms) for the next: the plot takes at most a tenth of the thread.
    refreshGap_ = std::max<int>(kRefreshTicks, static_cast<int>(took.elapsed()));
}

void TPlotWindow::LayOut() {
    const QRectF area = chart->plotArea();
    // The axes' ranges are never empty (SetRange pads them), so the scales are finite.
    const double t0 = axisTime_->min();
    const double tScale = area.width() / (axisTime_->max() - t0);
    for (std::size_t i = 0; i < traces_.size(); ++i) {
        const QValueAxis* axis = axisOf_[i] ? axisRight_ : axisLeft_;
        const double v0 = axis->min();
        const double vScale = area.height() / (axis->max() - v0);
        QPolygonF points;
        points.reserve(static_cast<qsizetype>(drawn_[i].size()));
        for (const SeriesPoint& p : drawn_[i])
            points.append({area.left() + (p.t - t0) * tScale, area.bottom() - (p.v - v0) * vScale});
        traces_[i]->Set(std::move(points), area, lines_[i]->pen());
        traces_[i]->setVisible(lines_[i]->isVisible());
    }
}

QPolygonF TPlotWindow::DrawnLine(std::size_t i) const {
    const Trace* trace = traces_.at(i);
    return trace->isVisible() ? trace->Points() : QPolygonF();
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
