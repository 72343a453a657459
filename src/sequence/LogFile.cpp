#include "sequence/LogFile.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <ctime>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

namespace korva {

namespace {
constexpr const char* kLineEnd = "\r\n";  // written as bytes: the file is opened in binary mode
}  // namespace

LogItem::LogItem(std::string itemName, LogFile& owner) : LogChannel(std::move(itemName)), owner_(&owner) {}

LogItem::~LogItem() {
    if (owner_) owner_->Forget(this);
}

void LogItem::UpdateValue(double v) {
    LogChannel::UpdateValue(v);
    number_ = std::isfinite(v) ? static_cast<int>(std::clamp(v, -2147483648.0, 2147483647.0)) : 0;
}

void LogItem::Pin() {
    units_.reset();
    if (link != nullptr && !link->Engineering().Plain())
        units_ = std::make_unique<const EngineeringValue>(link->Engineering());
}

std::string LogItem::Heading() const {
    const std::string column = link != nullptr ? link->FullName() : name;
    return units_ && !units_->Unit().empty() ? column + " [" + units_->Unit() + "]" : column;
}

std::string LogItem::Text() const {
    return units_ ? units_->Number(value) : std::to_string(number_);
}

LogFile::LogFile() = default;

LogFile::~LogFile() {
    // Only items still alive are in the list: each one that went took itself out.
    for (LogItem* item : items_) item->owner_ = nullptr;
}

std::unique_ptr<LogItem> LogFile::AddItem(const std::string& name) {
    auto item = std::make_unique<LogItem>(name, *this);
    item->enabled = true;
    items_.push_back(item.get());
    return item;
}

void LogFile::Forget(const LogItem* item) {
    std::erase(items_, item);
}

void LogFile::Alert(const char* text) const {
    if (alert) alert(text, kErrorCaption);
}

int LogFile::StartLogging() {
    // Without a name nothing new can start, so a log that is running goes on.
    if (fileName.empty()) {
        Alert(kNoFileNameText);
        return kNoFileName;
    }
    // A second start begins a new log rather than failing against the open one.
    if (file_) StopLogging();
    startTime_ = now();
    rows_ = 0;
    for (LogItem* item : items_) item->Pin();
    // Only a regular file: a pipe or a device would block the window or swallow the rows. A new log
    // takes the old file's place only once its header is written whole; a full disk leaves the old one.
    try {
        if (append) {
            file_ = OpenRegularForWriting(fileName);
            struct stat st {};
            if (::fstat(file_.Get(), &st) != 0 || ::lseek(file_.Get(), 0, SEEK_END) < 0)
                throw FileError("cannot open '" + fileName + "'");
            kept_ = st.st_size;
        } else {
            FileReplacement replacement(fileName);
            const std::string header = Header();
            replacement.Write(header);
            file_ = replacement.Commit();
            kept_ = static_cast<long long>(header.size());
        }
    } catch (const FileError& e) {
        file_.Reset();
        if (alert) alert(std::string(kCannotOpenText) + "\n" + e.what(), kErrorCaption);
        return kCannotOpen;
    }
    active_ = true;
    openName_ = fileName;
    if (append) Write(Header());
    return kStarted;
}

int LogFile::StopLogging() {
    if (!file_) return kNotOpen;
    file_.Reset();
    active_ = false;
    return kStopped;
}

std::string LogFile::Header() const {
    std::string h;
    if (!append) h += std::string("KorvaConfig Log File,") + kLineEnd;
    for (const char* line : {",", ",", "Start Time:,"}) h += std::string(line) + kLineEnd;
    h += formatDateTime(startTime_) + "," + kLineEnd;
    for (const char* line : {",", ","}) h += std::string(line) + kLineEnd;
    if (timeColumn) h += "Time,";
    if (elapsedColumn) h += "Time Elapsed,";
    if (isoColumn) h += "ISO Time,";
    if (lineLost) h += "Line,";
    for (const LogItem* item : items_)
        if (item->enabled) h += item->Heading() + ",";
    return h + kLineEnd;
}

void LogFile::LogRowStep() {
    if (!active_) return;
    const TimePoint t = now();
    std::string row;
    if (timeColumn) row += formatDateTime(t) + ",";
    if (elapsedColumn) row += ElapsedText(t - startTime_) + ",";
    if (isoColumn) row += IsoDateTime(t) + ",";
    // Values of a lost line are the last ones read before it went: the row says so.
    if (lineLost) row += lineLost() ? "lost," : "open,";
    for (const LogItem* item : items_)
        if (item->enabled) row += item->Text() + ",";
    row += kLineEnd;
    Write(row);
    if (active_) ++rows_;
}

void LogFile::Write(const std::string& text) {
    std::size_t done = 0;
    int code = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(file_.Get(), text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            code = n < 0 ? errno : ENOSPC;
            break;
        }
    }
    if (done == text.size()) {
        kept_ += static_cast<long long>(done);
        return;
    }
    // A full disk or a lost drive: rows would be dropped unseen, so the log ends here and says so
    // once. What went out of the row is taken back, so that the file ends on a whole row.
    // Should the cut fail as well, nothing more can be done: the message goes out all the same.
    [[maybe_unused]] const bool cut = ::ftruncate(file_.Get(), static_cast<off_t>(kept_)) == 0;
    file_.Reset();
    active_ = false;
    const std::string line = std::string(kWriteFailedText) + " ('" + openName_ +
                             "': " + std::generic_category().message(code) + ")";
    if (writeFailed) writeFailed(line);
    if (alert) alert(line, kErrorCaption);
}

std::string LogFile::ElapsedText(Clock::duration elapsed) {
    using std::chrono::milliseconds;
    constexpr long long kDay = 24LL * 60 * 60 * 1000;
    // Read as a time of day, so it starts again from 0 after 24 hours; a clock set back gives 0.
    const long long ms =
        std::max<long long>(std::chrono::duration_cast<milliseconds>(elapsed).count(), 0) % kDay;
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%03lld", ms / 1000, ms % 1000);
    return text;
}

std::string LogFile::LocalDateTime(TimePoint t) {
    const auto whole = std::chrono::floor<std::chrono::seconds>(t);
    const std::time_t seconds = Clock::to_time_t(whole);
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr) return {};
    const bool midnight = local.tm_hour == 0 && local.tm_min == 0 && local.tm_sec == 0 &&
                          t - whole < std::chrono::milliseconds(1);
    char text[128];
    const std::size_t n = std::strftime(text, sizeof text, midnight ? "%x" : "%x %X", &local);
    return std::string(text, n);
}

std::string LogFile::IsoDateTime(TimePoint t) {
    const auto whole = std::chrono::floor<std::chrono::seconds>(t);
    const std::time_t seconds = Clock::to_time_t(whole);
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr) return {};
    char text[64];
    std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t - whole).count();
    const long offset = local.tm_gmtoff / 60;  // minutes east of UTC
    n += static_cast<std::size_t>(std::snprintf(text + n, sizeof text - n, ".%03d%c%02ld:%02ld",
                                                static_cast<int>(ms), offset < 0 ? '-' : '+',
                                                std::labs(offset) / 60, std::labs(offset) % 60));
    return std::string(text, std::min(n, sizeof text - 1));
}

std::string LogFile::DefaultFileName(TimePoint t) {
    const std::time_t seconds = Clock::to_time_t(t);
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr) return "logs/korva.csv";
    char text[64];
    const std::size_t n = std::strftime(text, sizeof text, "logs/korva-%Y%m%d-%H%M%S.csv", &local);
    return std::string(text, n);
}

std::optional<float> ParseLogInterval(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    // from_chars takes a minus but no plus.
    if (text.size() > 1 && text.front() == '+' && text[1] != '-' && text[1] != '+') text.remove_prefix(1);
    float v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

}  // namespace korva
