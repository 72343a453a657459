#pragma once
// Values over time for the plot: one bounded series per property, thinned as it fills so that a
// run left going overnight keeps the same memory as one of a few minutes.

#include <cstddef>
#include <limits>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace korva {

struct SeriesPoint {
    double t = 0;  // seconds since the plot started
    double v = 0;
    bool operator==(const SeriesPoint&) const = default;
};

// Times arrive in order. When the series is full, the older half keeps every second point: recent
// data stays at full detail and the oldest grows coarser, never longer.
class Series {
  public:
    static constexpr std::size_t kMinCapacity = 16;

    Series(std::string seriesName, std::size_t capacity);

    void Append(SeriesPoint p);
    // A smaller capacity thins the points at once.
    void SetCapacity(std::size_t capacity);
    // The points with from <= t <= to; times are ascending, so the range is found by halving.
    std::pair<const SeriesPoint*, const SeriesPoint*> Range(double from, double to) const;
    const std::vector<SeriesPoint>& Points() const { return points_; }
    // Every value through f, for a change of unit.
    template <class F>
    void MapValues(F f) {
        for (SeriesPoint& p : points_) p.v = f(p.v);
    }
    std::size_t Capacity() const { return capacity_; }
    // Heap held by the points, reserved room included.
    std::size_t Bytes() const { return points_.capacity() * sizeof(SeriesPoint); }

    std::string name;

  private:
    void Thin();

    std::size_t capacity_;
    std::vector<SeriesPoint> points_;
};

class SeriesStore {
  public:
    static constexpr std::size_t kDefaultCapacity = 100000;
    static constexpr double kAll = -std::numeric_limits<double>::infinity();

    explicit SeriesStore(std::size_t capacity = kDefaultCapacity) : capacity_(capacity) {}

    // A new, empty series; its index stays valid for the store's life.
    std::size_t Add(const std::string& name);
    Series& At(std::size_t i) { return series_.at(i); }
    const Series& At(std::size_t i) const { return series_.at(i); }
    std::size_t Count() const { return series_.size(); }
    std::size_t Bytes() const;
    // For every series, present and to come.
    void SetCapacity(std::size_t capacity);

    // "Series,Time (s),Value", then one row per point of the chosen series with from <= t <= to.
    // Numbers are written in their shortest exact form, so the file reads back to the same points.
    void WriteCsv(std::ostream& out, const std::vector<std::size_t>& chosen, double from, double to) const;

  private:
    std::size_t capacity_;
    std::vector<Series> series_;
};

// Which value axis each series goes on, from the largest magnitude each shows: 0 the left axis,
// 1 the right. A second axis is taken only when the magnitudes span more than `decades` powers of
// ten; the small ones then go right, split where the gap between neighbours is widest.
std::vector<int> AssignAxes(const std::vector<double>& magnitudes, double decades = 2.0);

// The points of [b, e), times ascending, as the plot draws them `columns` pixels wide over the span
// from..to: the lowest and the highest value of each column, in time order, so that a spike one
// sample wide stays on the line; a column of one value keeps its first point. A point without a
// number (NaN) is left out, and a time outside the span goes to the column at its edge.
std::vector<SeriesPoint> ColumnExtremes(const SeriesPoint* b, const SeriesPoint* e, double from, double to,
                                        std::size_t columns);

}  // namespace korva
