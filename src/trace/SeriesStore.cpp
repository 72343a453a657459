#include "trace/SeriesStore.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace korva {

Series::Series(std::string seriesName, std::size_t capacity)
    : name(std::move(seriesName)), capacity_(std::max(capacity, kMinCapacity)) {}

void Series::Append(SeriesPoint p) {
    if (points_.size() >= capacity_) Thin();
    points_.push_back(p);
}

void Series::SetCapacity(std::size_t capacity) {
    capacity_ = std::max(capacity, kMinCapacity);
    while (points_.size() > capacity_) Thin();
}

void Series::Thin() {
    // Each pass halves the older half, so a full series costs a few moves per point appended.
    const std::size_t older = points_.size() / 2;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < older; i += 2) points_[kept++] = points_[i];
    const auto tail = points_.begin() + static_cast<std::ptrdiff_t>(older);
    std::move(tail, points_.end(), points_.begin() + static_cast<std::ptrdiff_t>(kept));
    points_.resize(kept + (points_.size() - older));
}

std::pair<const SeriesPoint*, const SeriesPoint*> Series::Range(double from, double to) const {
    const SeriesPoint* b = points_.data();
    const SeriesPoint* e = b + points_.size();
    const SeriesPoint* lo =
        std::lower_bound(b, e, from, [](const SeriesPoint& p, double t) { return p.t < t; });
    const SeriesPoint* hi =
        std::upper_bound(lo, e, to, [](double t, const SeriesPoint& p) { return t < p.t; });
    return {lo, hi};
}

std::size_t SeriesStore::Add(const std::string& name) {
    series_.emplace_back(name, capacity_);
    return series_.size() - 1;
}

void SeriesStore::SetCapacity(std::size_t capacity) {
    capacity_ = capacity;
    for (Series& s : series_) s.SetCapacity(capacity);
}

std::size_t SeriesStore::Bytes() const {
    std::size_t n = series_.capacity() * sizeof(Series);
    for (const Series& s : series_) n += s.Bytes() + s.name.capacity();
    return n;
}

namespace {
std::string Number(double v) {
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, v);
    return ec == std::errc() ? std::string(text, end) : std::string("nan");
}

// A name with a comma, a quote or a line break is quoted, its quotes doubled.
std::string Field(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}
}  // namespace

void SeriesStore::WriteCsv(std::ostream& out, const std::vector<std::size_t>& chosen, double from,
                           double to) const {
    out << "Series,Time (s),Value\n";
    for (std::size_t i : chosen) {
        if (i >= series_.size()) continue;
        const std::string name = Field(series_[i].name);
        const auto [b, e] = series_[i].Range(from, to);
        for (const SeriesPoint* p = b; p != e; ++p)
            out << name << ',' << Number(p->t) << ',' << Number(p->v) << '\n';
    }
}

std::vector<int> AssignAxes(const std::vector<double>& magnitudes, double decades) {
    std::vector<int> axis(magnitudes.size(), 0);
    // Zero and empty series sit on the left; the rest are compared by their power of ten.
    std::vector<std::pair<double, std::size_t>> logs;
    for (std::size_t i = 0; i < magnitudes.size(); ++i)
        if (std::isfinite(magnitudes[i]) && magnitudes[i] > 0)
            logs.emplace_back(std::log10(magnitudes[i]), i);
    if (logs.size() < 2) return axis;
    std::sort(logs.begin(), logs.end());
    if (logs.back().first - logs.front().first <= decades) return axis;
    std::size_t split = 1;
    for (std::size_t k = 1; k < logs.size(); ++k)
        if (logs[k].first - logs[k - 1].first > logs[split].first - logs[split - 1].first) split = k;
    for (std::size_t k = 0; k < split; ++k) axis[logs[k].second] = 1;
    return axis;
}

std::vector<SeriesPoint> ColumnExtremes(const SeriesPoint* b, const SeriesPoint* e, double from, double to,
                                        std::size_t columns) {
    std::vector<SeriesPoint> out;
    if (columns == 0 || b == nullptr || e <= b) return out;
    out.reserve(std::min(static_cast<std::size_t>(e - b), 2 * columns));
    // A span of no width, or an unbounded one, is a single column.
    const double width = to - from;
    const double scale = std::isfinite(width) && width > 0 ? static_cast<double>(columns) / width : 0;
    const auto last = static_cast<double>(columns - 1);
    const auto columnOf = [&](const SeriesPoint& p) {
        // Clamped while still a double: a NaN, an infinity or a far time never reaches the conversion.
        const double x = std::min((p.t - from) * scale, last);
        return x > 0 ? static_cast<std::size_t>(x) : std::size_t{0};
    };
    for (const SeriesPoint* p = b; p != e;) {
        // Times ascend, so a column ends where steps that double from p first pass it, found then
        // by halving: a long span costs a comparison of values per point, and the steps stay near p
        // in memory. The end lies past p, as p is in its own column.
        const std::size_t column = columnOf(*p);
        const auto inColumn = [&](const SeriesPoint& q) { return columnOf(q) <= column; };
        std::ptrdiff_t step = 1;
        while (step < e - p && inColumn(p[step])) step *= 2;
        const SeriesPoint* end = std::partition_point(p + step / 2, p + std::min(step, e - p), inColumn);
        const SeriesPoint* lo = nullptr;
        const SeriesPoint* hi = nullptr;
        double low = 0, high = 0;  // lo's and hi's values, kept out of memory
        for (; p != end; ++p) {
            const double v = p->v;
            if (std::isnan(v) || std::isnan(p->t)) continue;
            if (lo == nullptr || v < low) {
                low = v;
                lo = p;
            }
            if (hi == nullptr || v > high) {
                high = v;
                hi = p;
            }
        }
        if (lo == nullptr) continue;
        out.push_back(*std::min(lo, hi));  // the earlier of the two first
        if (lo != hi) out.push_back(*std::max(lo, hi));
    }
    return out;
}

}  // namespace korva
