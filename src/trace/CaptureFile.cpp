#include "trace/CaptureFile.h"

#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "trace/Pcapng.h"
#include "trace/TraceColumns.h"

namespace korva {

namespace {
constexpr std::size_t kMaxCaptureBytes = std::size_t{512} << 20;

// The highest n of the files base-n.ext that are there already; 0 when there are none.
int HighestNumber(const std::string& base, const std::string& ext) {
    namespace fs = std::filesystem;
    const fs::path b(base);
    const std::string prefix = b.filename().string() + "-";
    std::error_code ec;
    int highest = 0;
    for (fs::directory_iterator it(b.has_parent_path() ? b.parent_path() : fs::path("."), ec), end;
         !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= prefix.size() + ext.size() || name.compare(0, prefix.size(), prefix) != 0 ||
            name.compare(name.size() - ext.size(), ext.size(), ext) != 0)
            continue;
        const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - ext.size());
        int n = 0;
        const auto [stop, bad] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
        // Far beyond any recording, and room left to count on without overflow.
        if (bad == std::errc() && stop == digits.data() + digits.size() && n > highest && n < 1'000'000'000)
            highest = n;
    }
    return highest;
}

const char* Extension(CaptureFormat f) {
    return f == CaptureFormat::Pcapng ? ".pcapng" : ".kcap";
}

// The size of the line or block that text starts with; the recorder only ever holds whole ones.
std::size_t FirstUnit(std::string_view text, CaptureFormat f) {
    if (f == CaptureFormat::Lines) {
        const std::size_t end = text.find('\n');
        return end == std::string_view::npos ? text.size() : end + 1;
    }
    if (text.size() < 8) return text.size();
    std::uint32_t length = 0;
    for (int i = 3; i >= 0; --i) length = (length << 8) | static_cast<unsigned char>(text[4 + i]);
    return length < 12 || length > text.size() ? text.size() : length;
}

// Every held record, or those named.
template <typename F>
void ForRows(const TraceBuffer& buffer, const std::vector<std::uint64_t>* rows, F&& f) {
    if (rows == nullptr) {
        for (std::uint64_t n = buffer.First(); n < buffer.End(); ++n) f(buffer.At(n));
        return;
    }
    for (std::uint64_t n : *rows)
        if (buffer.Holds(n)) f(buffer.At(n));
}

// A CSV field: quoted when it holds a comma, a quote or a line break.
std::string CsvField(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string out = "\"";
    for (char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}
}  // namespace

std::size_t CaptureReport::Skipped() const {
    std::size_t n = 0;
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (i != static_cast<std::size_t>(CaptureFault::None) &&
            i != static_cast<std::size_t>(CaptureFault::Comment))
            n += lines[i];
    return n;
}

std::string CaptureReport::Summary() const {
    std::string text = std::to_string(taken) + (taken == 1 ? " packet" : " packets");
    const std::size_t skipped = Skipped();
    if (skipped == 0) return text;
    text += "; " + std::to_string(skipped) + (skipped == 1 ? " line" : " lines") + " skipped (";
    bool first = true;
    for (std::size_t i = static_cast<std::size_t>(CaptureFault::BadTime); i < lines.size(); ++i) {
        if (lines[i] == 0) continue;
        text += (first ? "" : ", ") + std::to_string(lines[i]) + " " +
                CaptureFaultText(static_cast<CaptureFault>(i));
        first = false;
    }
    return text + "), the first at line " + std::to_string(firstSkippedLine);
}

namespace {
// The lines of a capture, one after the other, wherever the text came from.
struct CaptureLines {
    explicit CaptureLines(TraceBuffer& buffer) : into(buffer) {}
    void Line(std::string_view line) {
        ++lineNo;
        CapturedPacket p;
        const CaptureFault fault = ParseCaptureLine(line, p);
        ++report.lines[static_cast<std::size_t>(fault)];
        if (fault == CaptureFault::None) {
            if (p.timeUs >= 0) lastTime = p.timeUs;
            into.Append(TraceRecord::From(p.timeUs >= 0 ? p.timeUs : lastTime, p.path, p.packet, p.line));
            ++report.taken;
        } else if (fault != CaptureFault::Comment && report.firstSkippedLine == 0) {
            report.firstSkippedLine = lineNo;
        }
    }
    // Every whole line of text; what follows the last line end is left in it.
    void Lines(std::string_view& text) {
        for (std::size_t eol; (eol = text.find('\n')) != std::string_view::npos;) {
            Line(text.substr(0, eol));
            text.remove_prefix(eol + 1);
        }
    }
    TraceBuffer& into;
    CaptureReport report;
    std::int64_t lastTime = -1;
    std::size_t lineNo = 0;
};

// Editors on other systems start a UTF-8 file with a byte-order mark; it belongs to no line.
void SkipByteOrderMark(std::string_view& text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
}
}  // namespace

CaptureReport ReadCapture(std::string_view text, TraceBuffer& into) {
    CaptureLines lines(into);
    SkipByteOrderMark(text);
    lines.Lines(text);
    if (!text.empty()) lines.Line(text);
    return lines.report;
}

CaptureReport LoadCaptureFile(const std::string& path, TraceBuffer& into, const std::atomic<bool>* cancel) {
    constexpr std::size_t kPiece = std::size_t{1} << 20;
    CaptureLines lines(into);
    std::string carry;  // a line cut by the end of a piece
    bool first = true;
    const auto stop = [cancel] { return cancel != nullptr && cancel->load(std::memory_order_relaxed); };
    ReadRegularFileInPieces(path, kMaxCaptureBytes, kPiece, [&](std::string_view piece) {
        if (stop()) return false;
        carry.append(piece);
        std::string_view rest = carry;
        if (first) SkipByteOrderMark(rest);
        first = false;
        lines.Lines(rest);
        carry.erase(0, carry.size() - rest.size());
        return true;
    });
    lines.report.cancelled = stop();
    if (!carry.empty() && !lines.report.cancelled) lines.Line(carry);
    return lines.report;
}

std::string CaptureText(const TraceBuffer& buffer, const std::vector<std::uint64_t>* rows,
                        bool severalLines) {
    std::string text = std::string(severalLines ? kCaptureHeaderLines : kCaptureHeader) + "\n";
    ForRows(buffer, rows, [&](const TraceRecord& r) {
        text += FormatCaptureLine(r.timeUs, r.path, r.Packet(), severalLines ? r.line : 0);
        text += '\n';
    });
    return text;
}

std::string CsvText(const TraceBuffer& buffer, const std::vector<std::uint64_t>* rows,
                    const TraceDecoder& decoder, bool severalLines) {
    std::string text;
    // One line of the CSV's fields, each by the quoting rule.
    const auto line = [&text, severalLines](auto&& field) {
        const char* comma = "";
        for (const TraceColumnInfo* c : TraceCsvColumns(severalLines)) {
            text += comma;
            text += CsvField(field(*c));
            comma = ",";
        }
        text += '\n';
    };
    line([](const TraceColumnInfo& c) { return std::string(c.header); });
    ForRows(buffer, rows, [&](const TraceRecord& r) {
        const TraceRow row(r, decoder);
        line([&row](const TraceColumnInfo& c) { return c.Text(row); });
    });
    return text;
}

CaptureRecorder::CaptureRecorder(std::string base, std::uint64_t limitBytes, bool severalLines,
                                 CaptureFormat format)
    : base_(std::move(base)),
      limit_(limitBytes < 4096 ? 4096 : limitBytes),
      lines_(severalLines),
      format_(format) {
    thread_ = std::thread([this] { Run(); });
}

CaptureRecorder::~CaptureRecorder() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void CaptureRecorder::Add(const TraceRecord& r) {
    const std::string line =
        format_ == CaptureFormat::Pcapng
            ? PcapngPacket(r)
            : FormatCaptureLine(r.timeUs, r.path, r.Packet(), lines_ ? r.line : 0) + '\n';
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!error_.empty()) return;
    pending_ += line;
    ++added_;
}

void CaptureRecorder::Flush() {
    std::unique_lock<std::mutex> lock(mutex_);
    const std::uint64_t target = added_;
    wake_.notify_one();
    written_.wait(lock, [&] { return done_ >= target || !error_.empty(); });
}

std::string CaptureRecorder::Error() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

std::string CaptureRecorder::CurrentFile() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return current_;
}

int CaptureRecorder::Files() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return files_;
}

void CaptureRecorder::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        // A batch every fifth of a second at most, or at once when asked to flush or stop.
        wake_.wait_for(lock, std::chrono::milliseconds(200));
        std::string text;
        text.swap(pending_);
        const std::uint64_t upTo = added_;
        const bool last = stop_;
        if (error_.empty()) {
            lock.unlock();
            std::string why;
            try {
                Write(std::move(text));
            } catch (const FileError& e) {
                why = e.what();
            }
            lock.lock();
            if (!why.empty()) error_ = why;
        }
        done_ = upTo;
        written_.notify_all();
        if (last) return;
    }
}

void CaptureRecorder::StartFile() {
    if (number_ == 0) number_ = HighestNumber(base_, Extension(format_));
    UniqueFd fd;
    std::string name;
    // A name taken meanwhile (by another recorder on the same base) is passed over, never reused.
    for (int attempt = 0; attempt < 1000 && !fd; ++attempt) {
        char number[32];
        std::snprintf(number, sizeof number, "-%03d%s", ++number_, Extension(format_));
        name = base_ + number;
        fd = CreateNewFile(name);
    }
    if (!fd)
        throw FileError("cannot write '" + name + "': every name near it is taken",
                        "every name near it is taken");
    fd_ = std::move(fd);
    const std::string head = format_ == CaptureFormat::Pcapng
                                 ? PcapngHead()
                                 : std::string(lines_ ? kCaptureHeaderLines : kCaptureHeader) + "\n";
    WriteAll(fd_, head, name);
    inFile_ = headSize_ = head.size();
    const std::lock_guard<std::mutex> lock(mutex_);
    ++files_;
    current_ = name;
}

void CaptureRecorder::Write(std::string text) {
    if (!fd_) StartFile();
    std::string_view rest = text;
    while (!rest.empty()) {
        // The lines or blocks that fit; one that does not starts the next file, unless this one
        // holds nothing yet, which takes it whatever its size.
        std::size_t take = 0;
        while (take < rest.size()) {
            const std::size_t next = take + FirstUnit(rest.substr(take), format_);
            if (inFile_ + next > limit_ && (take > 0 || inFile_ > headSize_)) break;
            take = next;
        }
        if (take == 0) {
            StartFile();
            continue;
        }
        WriteAll(fd_, rest.substr(0, take), current_);
        rest.remove_prefix(take);
        inFile_ += take;
    }
}

}  // namespace korva
