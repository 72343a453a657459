#pragma once
// Capture files: the trace as lines of text (see CaptureLine.h), written as packets arrive or saved
// at once, and read back for viewing without a port. Also the trace as CSV.

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "trace/TraceDecoder.h"
#include "xml/SafeFile.h"

namespace korva {

inline constexpr const char* kCaptureHeader =
    "# KorvaConfig packet capture: time, direction (tx rx relay crc bus), bytes";
// The header of a capture of several lines.
inline constexpr const char* kCaptureHeaderLines =
    "# KorvaConfig packet capture: time, direction (tx rx relay crc bus), line (COM1 to COM6), bytes";

// What reading a capture made of its lines.
struct CaptureReport {
    std::size_t taken = 0;
    std::array<std::size_t, kCaptureFaults> lines{};  // by fault; Comment lines are not counted as skipped
    std::size_t firstSkippedLine = 0;                 // 1-based; 0 when none was skipped
    bool cancelled = false;                           // the read stopped when asked to
    std::size_t Skipped() const;
    // "12 packets; 2 lines skipped (1 time not understood, 1 ...), the first at line 4".
    std::string Summary() const;
};

// Every packet of the text goes into the buffer; a line without a time gets the one before it.
CaptureReport ReadCapture(std::string_view text, TraceBuffer& into);
// Read piece by piece, never whole; stops between pieces once cancel is set. Throws FileError.
CaptureReport LoadCaptureFile(const std::string& path, TraceBuffer& into,
                              const std::atomic<bool>* cancel = nullptr);

// The held records, or those numbered in rows, as a capture or as CSV with a header row; with each
// record's line for a plant on several lines.
std::string CaptureText(const TraceBuffer& buffer, const std::vector<std::uint64_t>* rows,
                        bool severalLines = false);
std::string CsvText(const TraceBuffer& buffer, const std::vector<std::uint64_t>* rows,
                    const TraceDecoder& decoder, bool severalLines = false);

// Writes packets to files as they come, on a thread of its own so that neither the tick nor the
// window waits for the disk: Add only formats under a lock. A file that reaches the size limit is
// closed and the next one started: base-001.kcap, base-002.kcap, ... (or .pcapng). Numbering goes
// on after the highest file of that base already there; a file is always a new one, so nothing
// earlier is touched. A file holds whole lines or blocks only.
enum class CaptureFormat { Lines, Pcapng };

class CaptureRecorder {
  public:
    // severalLines: each line names the packet's line (a pcapng block always does).
    CaptureRecorder(std::string base, std::uint64_t limitBytes, bool severalLines = false,
                    CaptureFormat format = CaptureFormat::Lines);
    // Writes what was added and ends the thread.
    ~CaptureRecorder();
    CaptureRecorder(const CaptureRecorder&) = delete;
    CaptureRecorder& operator=(const CaptureRecorder&) = delete;

    void Add(const TraceRecord& r);
    // Waits until everything added so far is written (or writing failed).
    void Flush();
    // Why writing stopped; empty while it goes on. Nothing is written after a failure.
    std::string Error() const;
    std::string CurrentFile() const;
    int Files() const;

  private:
    void Run();
    void Write(std::string text);  // on the writer thread
    void StartFile();

    const std::string base_;
    const std::uint64_t limit_;
    const bool lines_;
    const CaptureFormat format_;
    mutable std::mutex mutex_;
    std::condition_variable wake_, written_;
    std::string pending_;
    std::uint64_t added_ = 0, done_ = 0;  // lines added and lines written or given up
    bool stop_ = false;
    std::string error_;
    std::string current_;
    int files_ = 0;
    int number_ = 0;  // of the newest file; the writer thread's
    // The writer thread's own.
    UniqueFd fd_;
    std::uint64_t inFile_ = 0, headSize_ = 0;
    std::thread thread_;
};

}  // namespace korva
