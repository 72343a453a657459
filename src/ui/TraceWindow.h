#pragma once
// The packet trace window: every packet the protocol reports, decoded by the configuration, with
// filters, pause, follow-newest, recording to capture files, saving, and viewing a capture file.

#include <functional>
#include <memory>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include "protocol/Comms.h"
#include "trace/CaptureFile.h"
#include "ui/Dialogs.h"
#include "ui/TraceModel.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace korva {

// A file name typed without an ending gets that of the file type chosen in the dialog's filter
// ("pcapng files (*.pcapng)"); a name with one keeps it.
QString WithChosenSuffix(const QString& path, const QString& filter);

class TTraceWindow : public QWidget, public PacketObserver {
    Q_OBJECT
  public:
    // A recording starts a new file when one reaches this size.
    static constexpr std::uint64_t kRecordFileLimit = std::uint64_t{64} << 20;
    // The status line and a recording's health are looked at this often.
    static constexpr int kStatusMs = 250;

    TTraceWindow(const KModel& model, const UiDialogs& dialogs, QWidget* parent = nullptr,
                 std::size_t capacity = TraceBuffer::kDefaultCapacity);
    // A save under way is finished first.
    ~TTraceWindow() override;

    // PacketObserver: only stamps and keeps the packet.
    void OnPacket(const std::string& line, PacketPath path, const BusPacket& packet) override;
    // Once per tick: the packets since the last batch go into the ring and the recording. The table
    // shows them at once when asked, else at most every kViewMs, and not while it is paused.
    void AppendBatch(bool showNow = false);
    static constexpr int kViewMs = 50;

    // Shows the window, with the device and property lists as the configuration has them now.
    void ShowWindow();
    // Reads a capture file on a thread, then shows it in place of the trace held; what could not be
    // read is told. WaitForOpen waits for the reading under way (its result comes as an event).
    void OpenCapture(const QString& path);
    void WaitForOpen();
    // "Open Capture…" while the line is live: the file opens in a view of its own, so that the live
    // history stays and no live packet is added under the file's name. Returns that view.
    TTraceWindow* OpenInOwnView(const QString& path);
    // Whether live packets are coming in (a port or the relay is up); the live window is told.
    std::function<bool()> lineLive;
    // What the table shows is copied at once, then written on a thread of its own; a failure is told
    // when it is known. WaitForSave waits for the save under way.
    void SaveCsv(const QString& path);
    void SaveCapture(const QString& path);
    void WaitForSave();
    // The Value column is decoded as it is drawn: a change of units only draws it again.
    void ShowUnits();
    // A base name; files base-001.kcap, base-002.kcap, ... follow. Empty stops.
    void StartRecording(const QString& base);
    void StopRecording();
    void ApplyFilters();
    // Whether the trace names lines: the plant has several, or the capture viewed names them.
    bool SeveralLines() const;

    // Asks for a file name; tests answer without a dialog. save: a file to write.
    std::function<QString(bool save, const QString& caption, const QString& filter)> chooseFile;

    const TraceBuffer& Buffer() const { return buffer_; }
    TTraceModel* Model() { return table_; }
    QTableView* tvTrace;
    QPushButton* btPause;
    QCheckBox* chkFollow;
    QPushButton* btRecord;
    QPushButton* btSaveCsv;
    QPushButton* btSaveCapture;
    QPushButton* btOpenCapture;
    QPushButton* btClear;
    QComboBox* cbDevice;
    QComboBox* cbProperty;
    QComboBox* cbDirection;
    QComboBox* cbClass;
    QComboBox* cbLine;  // shown for several lines only
    QLineEdit* tbFind;
    QLabel* lbStatus;

  private:
    void FillDevices();
    void FillProperties();
    // The line's column and filter follow SeveralLines; the filter offers the lines known so far.
    void ShowLines();
    void ShowStatus();
    void Save(bool csv);
    void SaveInBackground(const QString& path, bool csv);
    void Opened(const QString& path, TraceBuffer& loaded, const CaptureReport& report,
                const std::string& failure);
    QString Choose(bool save, const QString& caption, const QString& filter);

    const KModel& config_;
    UiDialogs dialogs_;
    TraceBuffer buffer_;
    TraceDecoder decoder_;
    TTraceModel* table_ = nullptr;
    std::vector<TraceRecord> pending_;
    std::unique_ptr<CaptureRecorder> recorder_;
    QString viewing_;            // the capture file shown, when one was opened
    bool captureLines_ = false;  // the capture shown names lines
    unsigned linesHeard_ = 0;    // bit n: a record of line COMn came
    unsigned linesOffered_ = 0;  // the lines the filter offers, as bits
    QTimer status_;
    QElapsedTimer shown_;
    std::thread saver_;
    std::thread opener_;  // reads a capture file; its buffer replaces the trace once read
    // Set to end the load under way: a second "Open Capture…" never waits for the first.
    std::shared_ptr<std::atomic<bool>> openCancel_;
};

}  // namespace korva
