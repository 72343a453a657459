// The plot's store: bounded series that thin their older half, time ranges, CSV, axis choice.
#include "trace/SeriesStore.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

namespace korva {
void PrintTo(const SeriesPoint& p, std::ostream* out) {
    *out << "{" << p.t << ", " << p.v << "}";
}

namespace {

TEST(SeriesStore, FullSeriesThinsOlderPointsAndKeepsTheNewestWhole) {
    Series s("Pump.Speed", 16);
    std::size_t bytesAfterFirstThin = 0;
    for (int i = 0; i < 100000; ++i) {
        s.Append({static_cast<double>(i), static_cast<double>(-i)});
        ASSERT_LE(s.Points().size(), 16u);
        if (i == 16) bytesAfterFirstThin = s.Bytes();
    }
    // Memory stays what it was when the series first filled.
    EXPECT_EQ(s.Bytes(), bytesAfterFirstThin);
    const auto& p = s.Points();
    EXPECT_EQ(p.front(), (SeriesPoint{0, 0}));  // the start of the run stays on the plot
    for (std::size_t k = 1; k < p.size(); ++k) EXPECT_LT(p[k - 1].t, p[k].t);
    // The newer half is still at full detail.
    for (std::size_t k = p.size() - 8; k < p.size(); ++k)
        EXPECT_EQ(p[k].t, 99999.0 - static_cast<double>(p.size() - 1 - k));
    s.SetCapacity(4);  // below the least: raised to it, and nothing is lost that it could keep
    EXPECT_EQ(s.Capacity(), Series::kMinCapacity);
    EXPECT_EQ(s.Points().size(), 16u);
}

TEST(SeriesStore, SmallerCapacityThinsAtOnce) {
    SeriesStore store(1000);
    const std::size_t i = store.Add("A.B");
    for (int t = 0; t < 1000; ++t) store.At(i).Append({static_cast<double>(t), 1});
    store.SetCapacity(100);
    EXPECT_LE(store.At(i).Points().size(), 100u);
    EXPECT_EQ(store.At(i).Points().back().t, 999.0);
    EXPECT_EQ(store.At(store.Add("C.D")).Capacity(), 100u);
}

TEST(SeriesStore, RangeTakesBothEnds) {
    Series s("x", 100);
    for (int t = 0; t < 10; ++t) s.Append({static_cast<double>(t), 0});
    const struct {
        double from, to;
        std::ptrdiff_t count;
        double first;
    } cases[] = {{0, 9, 10, 0}, {2, 4, 3, 2},  {2.5, 4.5, 2, 3}, {SeriesStore::kAll, 1, 2, 0},
                 {9, 20, 1, 9}, {10, 20, 0, 0}};
    for (const auto& c : cases) {
        const auto [b, e] = s.Range(c.from, c.to);
        EXPECT_EQ(e - b, c.count) << c.from << ".." << c.to;
        if (b != e) EXPECT_EQ(b->t, c.first);
    }
}

TEST(SeriesStore, CsvQuotesNamesAndWritesExactNumbers) {
    SeriesStore store;
    store.At(store.Add("Pump.Speed")).Append({0.1, -5});
    const std::size_t odd = store.Add("Unit \"A\",2.Flow");
    store.At(odd).Append({1e-7, 1450});
    store.At(odd).Append({3, 7});
    std::ostringstream out;
    store.WriteCsv(out, {1, 0, 7}, 0, 2);  // an index that is no series is passed by
    EXPECT_EQ(out.str(), "Series,Time (s),Value\n\"Unit \"\"A\"\",2.Flow\",1e-07,1450\nPump.Speed,0.1,-5\n");
}

TEST(SeriesStore, SecondAxisOnlyForValuesOrdersOfMagnitudeApart) {
    const struct {
        std::vector<double> magnitudes;
        std::vector<int> axes;
    } cases[] = {
        {{}, {}},
        {{1450}, {0}},
        {{1450, 52}, {0, 0}},  // 1.4 decades apart: one axis does
        {{100, 1}, {0, 0}},    // exactly two decades: still one
        {{1450, 2}, {0, 1}},
        {{0.5, 1000, 900, 0.2}, {1, 0, 0, 1}},
        {{0, 5000, 3}, {0, 0, 1}},                     // a series at zero stays left
        {{1, 10, 100, 1000, 10000}, {1, 0, 0, 0, 0}},  // even steps: the first of the widest gaps splits
    };
    for (const auto& c : cases) EXPECT_EQ(AssignAxes(c.magnitudes), c.axes) << c.magnitudes.size();
}

TEST(SeriesStore, ColumnExtremesKeepTheLowestAndHighestOfEachColumnInTimeOrder) {
    const double nan = std::nan("");
    using P = std::vector<SeriesPoint>;
    const struct {
        const char* name;
        P points;
        double from, to;
        std::size_t columns;
        P drawn;
    } cases[] = {
        {"empty", {}, 0, 10, 4, {}},
        {"no columns", {{1, 1}}, 0, 10, 0, {}},
        {"fewer samples than columns", {{0, 3}, {1, 1}, {2, 4}}, 0, 2, 10, {{0, 3}, {1, 1}, {2, 4}}},
        {"a spike kept", {{0, 5}, {1, 5}, {2, 90}, {3, 5}, {4, 4}, {5, 5}}, 0, 10, 1, {{2, 90}, {4, 4}}},
        {"the low before the high", {{0, 2}, {1, 0}, {2, 7}, {3, 1}}, 0, 4, 1, {{1, 0}, {2, 7}}},
        {"a flat column keeps its first", {{0, 3}, {1, 3}, {2, 3}}, 0, 4, 1, {{0, 3}}},
        {"two columns", {{0, 1}, {1, 9}, {2, 5}, {5, 2}, {7, 8}}, 0, 8, 2, {{0, 1}, {1, 9}, {5, 2}, {7, 8}}},
        {"the end, last column", {{0, 1}, {6, 5}, {9.9, 2}, {10, 3}}, 0, 10, 2, {{0, 1}, {6, 5}, {9.9, 2}}},
        {"outside the span", {{-5, 1}, {9, 3}, {20, 9}, {1e300, 4}}, 0, 10, 2, {{-5, 1}, {9, 3}, {20, 9}}},
        {"an unbounded span", {{0, 1}, {5, 9}, {9, 3}}, SeriesStore::kAll, 9, 4, {{0, 1}, {5, 9}}},
        {"a span of no width", {{3, 1}, {3, 2}, {3, 0}}, 3, 3, 4, {{3, 2}, {3, 0}}},
        {"NaN gaps left out", {{0, nan}, {1, 4}, {2, nan}, {3, -1}, {nan, 100}}, 0, 10, 1, {{1, 4}, {3, -1}}},
    };
    for (const auto& c : cases) {
        const SeriesPoint* b = c.points.data();
        EXPECT_EQ(ColumnExtremes(b, b + c.points.size(), c.from, c.to, c.columns), c.drawn) << c.name;
    }
}

}  // namespace
}  // namespace korva
