#pragma once
// The CSV data logger: one column per logged property, one row each time the tick divider fires.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/Kobjects.h"
#include "xml/SafeFile.h"

namespace korva {

class LogFile;

// A property's column. The property owns it; the logger only points at it, and each side tells the
// other when it goes, so neither ever reaches for the other after its end.
class LogItem : public LogChannel {
  public:
    LogItem(std::string itemName, LogFile& owner);
    ~LogItem() override;
    LogItem(const LogItem&) = delete;
    LogItem& operator=(const LogItem&) = delete;

    // The link passes its raw value: for a plain value the signed 16-bit word or the byte.
    void UpdateValue(double v) override;
    int Number() const { return number_; }
    // A log that starts takes the property's units as they are now; a column keeps them for the
    // whole log, whatever scheme is chosen meanwhile, so that its heading holds for every row.
    void Pin();
    // "Device.Property [unit]"
    std::string Heading() const;
    // The value in the column's units, with their decimals.
    std::string Text() const;

  private:
    friend class LogFile;
    LogFile* owner_;
    int number_ = 0;
    std::unique_ptr<const EngineeringValue> units_;  // none for a plain value
};

class LogFile {
  public:
    using Clock = std::chrono::system_clock;
    using TimePoint = Clock::time_point;

    // Results of StartLogging and StopLogging.
    static constexpr int kStarted = 0;
    static constexpr int kNoFileName = 3;
    static constexpr int kCannotOpen = 4;
    static constexpr int kStopped = 1;
    static constexpr int kNotOpen = 5;

    static constexpr const char* kErrorCaption = "ERROR";
    static constexpr const char* kNoFileNameText = "No Output Filename Selected";
    static constexpr const char* kCannotOpenText = "Can't Open Log File";
    static constexpr const char* kWriteFailedText = "Log file write failed: logging stopped";

    LogFile();
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // A new column, logged until the caller switches it off; the caller owns it.
    std::unique_ptr<LogItem> AddItem(const std::string& name);

    // kStarted, kNoFileName or kCannotOpen; a log already running is closed first.
    int StartLogging();
    // kStopped, or kNotOpen when no log is open.
    int StopLogging();
    // One row, while a log is open.
    void LogRowStep();

    bool Active() const { return active_; }
    // Rows written since the log started.
    std::uint64_t Rows() const { return rows_; }
    TimePoint StartTime() const { return startTime_; }
    const std::vector<LogItem*>& Items() const { return items_; }

    // "<whole seconds>.<three-digit milliseconds>" of the elapsed time taken as a time of day.
    static std::string ElapsedText(Clock::duration elapsed);
    // Local date and time in the C library's current locale; only the date at exactly midnight.
    static std::string LocalDateTime(TimePoint t);

    // A fresh name for each log below the working folder: "logs/korva-20261208-091500.csv".
    static std::string DefaultFileName(TimePoint t);
    // The time as ISO 8601 with its offset from UTC: "2026-12-08T09:15:00.250+01:00".
    static std::string IsoDateTime(TimePoint t);

    std::string fileName = DefaultFileName(Clock::now());
    bool timeColumn = true;
    bool elapsedColumn = true;
    bool isoColumn = true;  // the time in a column that any tool reads the same everywhere
    bool append = false;

    // Injected so that rows can be checked without waiting for the wall clock.
    std::function<TimePoint()> now = [] { return Clock::now(); };
    std::function<std::string(TimePoint)> formatDateTime = &LocalDateTime;
    // A modal box with an exclamation icon and an OK button: text, caption.
    std::function<void(const std::string&, const std::string&)> alert;
    // Told for each row whether the line it was read from is lost; with it set, the rows say so in a
    // column "Line" of their own ("open" or "lost").
    std::function<bool()> lineLost;
    // One line for the log pane when the file stops taking rows; the box says it as well, once, so
    // that the line cannot scroll away unseen.
    std::function<void(const std::string&)> writeFailed;

  private:
    friend class LogItem;
    void Forget(const LogItem* item);
    void Alert(const char* text) const;
    std::string Header() const;
    // The text goes out in one call or not at all: a failed write cuts the file back to the last whole
    // row, closes the log and is reported once.
    void Write(const std::string& text);

    std::vector<LogItem*> items_;
    UniqueFd file_;
    long long kept_ = 0;    // the file's size up to the end of the last whole row
    std::string openName_;  // the name the open log was started with, for the message of a failure
    bool active_ = false;
    std::uint64_t rows_ = 0;
    TimePoint startTime_{};
};

// The log interval as typed: a decimal number in single precision, blanks around it allowed.
std::optional<float> ParseLogInterval(std::string_view text);

}  // namespace korva
