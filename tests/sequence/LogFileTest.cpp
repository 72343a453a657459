// The CSV logger against the core and the device emulation, with a clock the test moves by hand.
#include <gtest/gtest.h>

#include <csignal>
#include <ctime>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <filesystem>

#include "sequence/Util.h"
#include "support/BusHarness.h"
#include "support/Deadline.h"
#include "support/TempDir.h"
#include "xml/SafeFile.h"

using namespace korva;
using namespace std::chrono_literals;

namespace {

using TimePoint = LogFile::TimePoint;

std::string Stamp(TimePoint t) {
    return "D" + std::to_string(
                     std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count());
}

class LogFileTest : public ::testing::Test {
  protected:
    LogFileTest() {
        log.now = [this] { return clock; };
        log.formatDateTime = &Stamp;
        log.alert = [this](const std::string& text, const std::string& caption) {
            alerts.push_back(caption + "|" + text);
        };
        log.writeFailed = [this](const std::string& line) { reports.push_back(line); };
        log.fileName = Path("log.csv");
        log.isoColumn = false;  // shown by the first test; the others look at the values
        bus.comms.periodicLogStep = [this] { log.LogRowStep(); };
        bus.comms.Model().SetLogChannelFactory(
            [this](const std::string& name) -> std::unique_ptr<LogChannel> {
                auto item = log.AddItem(name);
                item->enabled = false;
                return item;
            });
        pump = &bus.AddDevice("Pump", 34);
    }
    std::string Path(const std::string& name) const { return dir.Path() + "/" + name; }
    // The file's lines; every one must end in CR LF, with no bare LF anywhere.
    std::vector<std::string> Lines(const std::string& path) const {
        const std::string text = ReadRegularFile(path);
        std::vector<std::string> out;
        std::size_t from = 0;
        for (std::size_t at; (at = text.find("\r\n", from)) != std::string::npos; from = at + 2)
            out.push_back(text.substr(from, at - from));
        EXPECT_EQ(from, text.size()) << "text after the last line end";
        for (const std::string& line : out) EXPECT_EQ(line.find('\n'), std::string::npos) << line;
        return out;
    }
    KPropertyLink& Logged(const std::string& name, int type, int code, int value = 0, KDevice* d = nullptr) {
        KPropertyLink& link = bus.AddProperty(d ? *d : *pump, name, type, code, value);
        link.logChannel->enabled = true;
        return link;
    }
    void Read(KRemoteLink& link) {
        link.RequestRead();
        ASSERT_TRUE(bus.RunUntil([&] { return link.state == LinkState::KNOWN; }, 50));
    }

    test::TempDir dir;
    TimePoint clock = TimePoint{} + 1000h;
    std::vector<std::string> alerts, reports;
    LogFile log;  // goes after the model, whose properties own its items
    test::BusHarness bus;
    KDevice* pump = nullptr;
};

// The ISO column carries the zone's offset, whatever the zone; TZ rules need no zone database.
TEST(LogFileTimes, IsoTimesCarryTheirOffsetAndDefaultNamesTheirTime) {
    const char* before = std::getenv("TZ");
    const std::string saved = before ? before : "";
    const TimePoint t = TimePoint{} + 1000h + 12005ms;
    const struct {
        const char* zone;
        const char* iso;
        const char* name;
    } cases[] = {
        {"UTC0", "1970-02-11T16:00:12.005+00:00", "logs/korva-19700211-160012.csv"},
        {"IST-5:30", "1970-02-11T21:30:12.005+05:30", "logs/korva-19700211-213012.csv"},
        {"EST5", "1970-02-11T11:00:12.005-05:00", "logs/korva-19700211-110012.csv"},
    };
    for (const auto& c : cases) {
        setenv("TZ", c.zone, 1);
        tzset();
        EXPECT_EQ(LogFile::IsoDateTime(t), c.iso) << c.zone;
        EXPECT_EQ(LogFile::DefaultFileName(t), c.name) << c.zone;
    }
    if (before)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST_F(LogFileTest, HeaderThenRowsWithTimeElapsedAndOneColumnPerEnabledItem) {
    Logged("Speed", 0, 5, 1200);
    bus.AddProperty(*pump, "Hidden", 0, 6);
    Logged("Mode", 1, 7, 3);
    log.isoColumn = true;
    bool lost = false;
    log.lineLost = [&] { return lost; };
    ASSERT_EQ(log.StartLogging(), 0);  // started
    EXPECT_TRUE(log.Active());
    const std::string start = Stamp(clock);
    clock += 12005ms;
    log.LogRowStep();
    clock += 3600s - 12005ms;
    lost = true;  // the row still comes, and says that its values are old
    log.LogRowStep();
    std::vector<std::string> expected{
        "KorvaConfig Log File,", ",", ",", "Start Time:,", start + ",", ",", ","};
    const auto iso = [](TimePoint t) { return LogFile::IsoDateTime(t); };
    expected.insert(expected.end(), {"Time,Time Elapsed,ISO Time,Line,Pump.Speed,Pump.Mode,",
                                     Stamp(clock - 3600s + 12005ms) + ",12.005," +
                                         iso(clock - 3600s + 12005ms) + ",open,0,0,",
                                     Stamp(clock) + ",3600.000," + iso(clock) + ",lost,0,0,"});
    EXPECT_EQ(Lines(log.fileName), expected);
    EXPECT_EQ(log.StopLogging(), LogFile::kStopped);
    EXPECT_FALSE(log.Active());
    EXPECT_EQ(log.StopLogging(), LogFile::kNotOpen);
    EXPECT_TRUE(alerts.empty());
}

TEST_F(LogFileTest, RowsFollowTheTickDivider) {
    Logged("Speed", 0, 5);
    const struct {
        float seconds;
        int ticks;
        std::size_t rows;
    } cases[] = {{4.0f, 401, 1}, {4.0f, 802, 2}, {4.0f, 803, 3},
                 {0.0f, 25, 25}, {0.29f, 58, 2}, {0.29f, 59, 3}};
    for (const auto& c : cases) {
        ASSERT_TRUE(bus.comms.SetPeriodSeconds(c.seconds));
        ASSERT_EQ(log.StartLogging(), LogFile::kStarted);
        bus.Run(c.ticks);
        log.StopLogging();
        EXPECT_EQ(Lines(log.fileName).size(), 8 + c.rows) << c.seconds << " s, " << c.ticks << " ticks";
    }
}

TEST_F(LogFileTest, ValuesComeFromReadRepliesAsSignedWordsOrBytes) {
    KDevice& tank = bus.AddDevice("Tank", 36);
    KPropertyLink& word = Logged("Level", 0, 5, 0xFFFB);
    KPropertyLink& byte = Logged("Mode", 1, 6, 250);
    KPropertyLink& limit = Logged("Limit", 3, 7, 0xFFFB);
    Logged("Unread", 2, 8, 99);
    KPropertyLink& other = Logged("Level", 0, 5, 321, &tank);
    for (KRemoteLink* link : {static_cast<KRemoteLink*>(&word), static_cast<KRemoteLink*>(&byte),
                              static_cast<KRemoteLink*>(&limit), static_cast<KRemoteLink*>(&other)})
        Read(*link);
    ASSERT_EQ(log.StartLogging(), LogFile::kStarted);
    log.LogRowStep();
    const auto lines = Lines(log.fileName);
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[7], "Time,Time Elapsed,Pump.Level,Pump.Mode,Pump.Limit,Pump.Unread,Tank.Level,");
    EXPECT_EQ(lines[8], Stamp(clock) + ",0.000,-5,250,-5,0,321,");
}

// An engineering value is logged as shown, with its decimals, and its unit heads the column; a
// scheme chosen while the log runs changes the next log's units, never a column's midway.
TEST_F(LogFileTest, EngineeringValuesAreLoggedInTheUnitsTheirColumnStartedWith) {
    auto units = std::make_shared<UnitCatalog>();
    units->AddUnit({"degC", "°C", KDimensions::FromName("Temperature"), 1, 0});
    units->AddUnit({"degF", "°F", KDimensions::FromName("Temperature"), 1.8, 32});
    units->AddScheme("US", {"degF"});
    bus.comms.Model().SetUnitCatalog(units);
    ValueFormat tenths;
    tenths.given = tenths.isSigned = true;
    tenths.unit = "degC";
    tenths.scale = 0.1;
    KPropertyLink& temp = bus.AddProperty(*pump, "Temp", 2, 5, 0xFFE7, tenths);
    temp.logChannel->enabled = true;
    Read(temp);
    ASSERT_EQ(log.StartLogging(), LogFile::kStarted);
    log.LogRowStep();
    ASSERT_TRUE(bus.comms.Model().UseUnitScheme("US"));
    log.LogRowStep();
    auto lines = Lines(log.fileName);
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[7], "Time,Time Elapsed,Pump.Temp [°C],");
    EXPECT_EQ(lines[8], Stamp(clock) + ",0.000,-2.5,");
    EXPECT_EQ(lines[9], Stamp(clock) + ",0.000,-2.5,");
    ASSERT_EQ(log.StartLogging(), LogFile::kStarted);
    log.LogRowStep();
    lines = Lines(log.fileName);
    EXPECT_EQ(lines[7], "Time,Time Elapsed,Pump.Temp [°F],");
    EXPECT_EQ(lines[8], Stamp(clock) + ",0.000,27.5,");
}

TEST_F(LogFileTest, AnItemSwitchedOnWhileLoggingAddsAColumnToLaterRowsOnly) {
    Logged("Speed", 0, 5);
    KPropertyLink& late = bus.AddProperty(*pump, "Late", 0, 6);
    ASSERT_EQ(log.StartLogging(), LogFile::kStarted);
    log.LogRowStep();
    late.logChannel->enabled = true;
    log.LogRowStep();
    const auto lines = Lines(log.fileName);
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[7], "Time,Time Elapsed,Pump.Speed,");
    EXPECT_EQ(lines[8], Stamp(clock) + ",0.000,0,");
    EXPECT_EQ(lines[9], Stamp(clock) + ",0.000,0,0,");
}

TEST_F(LogFileTest, StartErrorsShowTheirBoxAndLeaveLoggingOff) {
    const struct {
        std::string file;
        int result;  // the numbers callers are given: 3 no file name, 4 cannot open
        std::string alert;
        long fileLimit = 0;  // RLIMIT_FSIZE for the start, in bytes; 0 for none
    } cases[] = {{"", 3, "ERROR|No Output Filename Selected"},
                 {Path("missing/log.csv"), 4,
                  "ERROR|Can't Open Log File\ncannot write '" + Path("missing/log.csv") + "': No such file"},
                 {Path("pipe"), 4, "ERROR|Can't Open Log File\n'" + Path("pipe") + "' is a pipe, not a file"},
                 {Path("device"), 4, "ERROR|Can't Open Log File\n'" + Path("device") + "' is a device"},
                 {dir.Path(), 4, "ERROR|Can't Open Log File\n'" + dir.Path() + "' is a folder"},
                 // A header that does not fit on the disk: the log from before stays as it was.
                 {Path("old.csv"), 4,
                  "ERROR|Can't Open Log File\ncannot write '" + Path("old.csv") + "': File too large", 40}};
    ASSERT_EQ(::mkfifo(Path("pipe").c_str(), 0600), 0);
    dir.Write("old.csv", "old,\r\n");
    // A device of the test's own (as root), never one of the system's: a writer gone wrong replaces it.
    const bool device = ::mknod(Path("device").c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0;
    for (const auto& c : cases) {
        if (c.file == Path("device") && !device) continue;
        SCOPED_TRACE(c.file);
        // In a child with a time limit: a pipe must not block the start.
        const std::string got = test::InChild([&] {
            if (c.fileLimit > 0) {
                ::signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{static_cast<rlim_t>(c.fileLimit), static_cast<rlim_t>(c.fileLimit)};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            }
            alerts.clear();
            log.fileName = c.file;
            std::string out = std::to_string(log.StartLogging());
            for (const std::string& a : alerts) out += " " + a;
            return out + (log.Active() ? " active" : "") + " " + std::to_string(log.StopLogging());
        });
        EXPECT_EQ(got.rfind(std::to_string(c.result) + " " + c.alert, 0), 0u) << got;
        EXPECT_EQ(got.substr(got.size() - 2), " " + std::to_string(LogFile::kNotOpen)) << got;
    }
    EXPECT_EQ(ReadRegularFile(Path("old.csv")), "old,\r\n");
    // A failed open leaves nothing behind: the next start with a good name works.
    log.fileName = Path("log.csv");
    EXPECT_EQ(log.StartLogging(), LogFile::kStarted);
    log.LogRowStep();
    EXPECT_EQ(Lines(log.fileName).size(), 9u);
}

TEST_F(LogFileTest, StartingAgainWhileLoggingClosesTheFirstLogAndBeginsAfresh) {
    const std::string first = log.fileName;
    ASSERT_EQ(log.StartLogging(), LogFile::kStarted);
    log.LogRowStep();
    log.fileName = Path("second.csv");
    ASSERT_EQ(log.StartLogging(), LogFile::kStarted);
    log.LogRowStep();
    log.LogRowStep();
    EXPECT_TRUE(alerts.empty());
    EXPECT_EQ(Lines(first).size(), 9u);
    EXPECT_EQ(Lines(log.fileName).size(), 10u);
    // The same name again starts the file over.
    ASSERT_EQ(log.StartLogging(), LogFile::kStarted);
    EXPECT_EQ(log.StopLogging(), LogFile::kStopped);
    EXPECT_EQ(Lines(log.fileName).size(), 8u);
}

// A full disk, played by a file size limit in a child: the file ends on a whole row, and the
// failure is reported once on the log pane and once in a box.
TEST_F(LogFileTest, AWriteFailureLeavesWholeRowsAndIsReportedOnce) {
    Logged("Speed", 0, 5);
    ASSERT_TRUE(bus.comms.SetPeriodSeconds(0));
    for (const bool append : {false, true}) {
        SCOPED_TRACE(append);
        dir.Write("log.csv", "old,\r\n");
        log.append = append;
        const std::string got = test::InChild([&] {
            ::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG, as with ENOSPC on a full disk
            const rlimit limit{1001, 1001};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            if (log.StartLogging() != LogFile::kStarted) return std::string("not started");
            bus.Run(100);
            std::string out = log.Active() ? "active" : "stopped";
            for (const std::string& r : reports) out += " | " + r;
            for (const std::string& a : alerts) out += " | " + a;
            return out;
        });
        // The line and the box name the file and the reason.
        const std::string line =
            std::string(LogFile::kWriteFailedText) + " ('" + log.fileName + "': File too large)";
        EXPECT_EQ(got, "stopped | " + line + " | ERROR|" + line);
        const std::vector<std::string> lines = Lines(log.fileName);  // fails on a partial row
        EXPECT_GT(lines.size(), 20u);
        EXPECT_EQ(lines.front(),
                  append ? "old," : "KorvaConfig Log File,");  // appending leaves out the title
        EXPECT_EQ(lines[3], "Start Time:,");
        EXPECT_LE(std::filesystem::file_size(log.fileName), 1001u);
    }
    // The next start works as ever.
    log.append = false;
    ASSERT_EQ(log.StartLogging(), LogFile::kStarted);
    bus.Run(2);
    EXPECT_EQ(log.StopLogging(), LogFile::kStopped);
    EXPECT_EQ(Lines(log.fileName).size(), 10u);
}

TEST(LogItemLifetime, EitherSideMayGoFirst) {
    auto early = std::make_unique<LogFile>();
    std::unique_ptr<LogItem> gone = early->AddItem("A");
    std::unique_ptr<LogItem> kept = early->AddItem("B");
    EXPECT_TRUE(kept->enabled);
    gone.reset();
    ASSERT_EQ(early->Items().size(), 1u);
    EXPECT_EQ(early->Items().front()->name, "B");
    early.reset();
    kept->UpdateValue(-5);
    EXPECT_EQ(kept->Number(), -5);
    kept.reset();  // must not reach for the logger that has gone
}

TEST(LogFileText, ElapsedTimeReadsAsATimeOfDay) {
    const struct {
        std::chrono::milliseconds elapsed;
        const char* text;
    } cases[] = {{0ms, "0.000"},          {12005ms, "12.005"}, {3600s, "3600.000"}, {86399999ms, "86399.999"},
                 {24h + 1500ms, "1.500"}, {-3s, "0.000"}};
    for (const auto& c : cases) EXPECT_EQ(LogFile::ElapsedText(c.elapsed), c.text) << c.elapsed.count();
}

TEST(LogFileText, LocalDateTimeDropsTheTimeAtMidnightOnly) {
    std::tm day{};
    day.tm_year = 124;
    day.tm_mon = 2;
    day.tm_mday = 5;
    day.tm_isdst = -1;
    const TimePoint midnight = LogFile::Clock::from_time_t(std::mktime(&day));
    // The C library's default "C" locale: month/day/year and a 24-hour clock.
    EXPECT_EQ(LogFile::LocalDateTime(midnight), "03/05/24");
    EXPECT_EQ(LogFile::LocalDateTime(midnight + 500ms), "03/05/24 00:00:00");
    EXPECT_EQ(LogFile::LocalDateTime(midnight + 13h + 7min + 9s), "03/05/24 13:07:09");
}

TEST(LogFileText, IntervalIsASingleDecimalNumber) {
    const struct {
        const char* text;
        std::optional<float> value;
    } cases[] = {{"4", 4.0f},           {" 0.29 ", 0.29f},     {"+2.5", 2.5f},        {"-1", -1.0f},
                 {"1e2", 100.0f},       {"", std::nullopt},    {"abc", std::nullopt}, {"4s", std::nullopt},
                 {"+-1", std::nullopt}, {"inf", std::nullopt}, {"nan", std::nullopt}, {"1e60", std::nullopt}};
    for (const auto& c : cases) EXPECT_EQ(ParseLogInterval(c.text), c.value) << '"' << c.text << '"';
}

}  // namespace
