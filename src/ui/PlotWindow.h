#pragma once
// The live plot: every polled or logged property as a series "Device.Property" over time, in a
// window of its own. Points are taken once per tick; the chart redraws a few times a second.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include <QPolygonF>
#include <QWidget>

#include "model/Kobjects.h"
#include "trace/SeriesStore.h"
#include "ui/Dialogs.h"

class QChart;
class QChartView;
class QComboBox;
class QLineSeries;
class QPushButton;
class QSpinBox;
class QValueAxis;

namespace korva {

class TPlotWindow : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kRefreshTicks = 20;  // a redraw every 200 ms at the 10 ms tick, or rarer
    enum Span { LastMinute, LastTenMinutes, All };

    TPlotWindow(KModel& model, const UiDialogs& dialogs, QWidget* parent = nullptr,
                std::size_t capacity = SeriesStore::kDefaultCapacity);
    ~TPlotWindow() override;

    // Once per tick, t in seconds: a point for each plotted property with a new reading.
    void Sample(double t);
    // The unit scheme changed: the points taken so far are converted, the names and axes retitled.
    void ShowUnits();
    // Redraws the shown span from the store; nothing changes the view while paused.
    void Refresh();
    void SetPaused(bool paused);
    bool Paused() const { return paused_; }
    void SetSpan(Span span);
    void SetCapacity(int points);
    // The shown points of the shown series; why the file cannot be written, empty when it was.
    QString ExportCsv(const QString& path);
    QString ExportPng(const QString& path);
    void ToggleSeries(std::size_t i);

    const SeriesStore& Store() const { return store_; }
    QLineSeries* ChartSeries(std::size_t i) const { return lines_.at(i); }
    // The points drawn of a series: at most two for each pixel column of the plot.
    const std::vector<SeriesPoint>& Drawn(std::size_t i) const { return drawn_.at(i); }
    // Those points as the chart draws them, in its pixels; empty while the series is hidden.
    QPolygonF DrawnLine(std::size_t i) const;
    // The value axis a series is drawn on: 0 left, 1 right.
    int AxisOf(std::size_t i) const { return axisOf_.at(i); }

    QComboBox* cbSpan;
    QPushButton* btPause;
    QPushButton* btExportPng;
    QPushButton* btExportCsv;
    QSpinBox* sePoints;
    QChart* chart;
    QChartView* chartView;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    class Trace;
    static constexpr double kTraceZ = 4;  // over the grid and the axes, under the legend

    std::size_t AddSeries(KRemoteLink& link);
    // The drawn points into the chart's pixels, against the axes as they are.
    void LayOut();
    void Export(const char* caption, const char* filter, bool csv);
    // The file replaced whole (a new file renamed over it); why not, empty when it was.
    static QString Replace(const QString& path, const std::string& content);

    KModel& model_;
    UiDialogs dialogs_;
    SeriesStore store_;
    struct Plotted {
        KRemoteLink* link;
        std::uint32_t seen;
        EngineeringValue units;  // how the stored points were converted
    };
    std::vector<Plotted> plotted_;          // by series index
    std::vector<KRemoteLink*> candidates_;  // polled or logged properties, in plant order
    std::uint64_t flagsSeen_ = ~std::uint64_t{0};
    std::unordered_map<const KRemoteLink*, std::size_t> index_;
    std::vector<QLineSeries*> lines_;
    std::vector<Trace*> traces_;  // the chart owns them
    std::vector<std::vector<SeriesPoint>> drawn_;
    std::vector<int> axisOf_;
    QValueAxis* axisTime_;
    QValueAxis* axisLeft_;
    QValueAxis* axisRight_;
    Span span_ = LastMinute;
    bool paused_ = false;
    int sinceRefresh_ = 0;
    int refreshGap_ = kRefreshTicks;  // ticks between redraws: a slow redraw takes at most a tenth
    bool refreshQueued_ = false;
    double first_ = 0, last_ = 0;
    bool any_ = false;
    double shownFrom_ = 0, shownTo_ = -1;  // the span drawn last; exports take it
};

}  // namespace korva
