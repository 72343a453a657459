#include "ui/TraceWindow.h"

#include "trace/Pcapng.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>

#include <chrono>

#include "model/TextConvert.h"
#include "ui/PanelText.h"

namespace korva {

namespace {
QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// Room for a column's usual text, in pixels.
int ColumnWidth(TraceColumn c) {
    switch (c) {
        case TraceColumn::Time:
            return 90;
        case TraceColumn::Value:  // an engineering value with its unit and the raw number beside
            return 150;
        case TraceColumn::Since:
            return 70;
        case TraceColumn::Direction:
            return 95;
        case TraceColumn::From:
        case TraceColumn::To:
        case TraceColumn::Device:
            return 110;
        case TraceColumn::Property:
            return 130;
        case TraceColumn::Kind:
            return 170;
        case TraceColumn::Bytes:
            return 180;
        case TraceColumn::Line:
            return 60;
    }
    return 100;
}

std::int64_t NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}
}  // namespace

TTraceWindow::TTraceWindow(const KModel& model, const UiDialogs& dialogs, QWidget* parent,
                           std::size_t capacity)
    : QWidget(parent, Qt::Window), config_(model), dialogs_(dialogs), buffer_(capacity), decoder_(model) {
    setObjectName("frmTrace");
    setWindowTitle("Packet Trace");
    resize(900, 480);
    table_ = new TTraceModel(buffer_, decoder_, this);

    const auto button = [this](const char* name, const QString& text, bool checkable = false) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(name);
        b->setCheckable(checkable);
        return b;
    };
    btPause = button("btPause", "&Pause", true);
    chkFollow = new QCheckBox("&Follow newest", this);
    chkFollow->setObjectName("chkFollow");
    chkFollow->setChecked(true);
    btRecord = button("btRecord", "&Record\u2026", true);
    btSaveCsv = button("btSaveCsv", "Save &CSV\u2026");
    btSaveCapture = button("btSaveCapture", "&Save Capture\u2026");
    btOpenCapture = button("btOpenCapture", "&Open Capture\u2026");
    btClear = button("btClear", "C&lear");
    auto* actions = new QHBoxLayout();
    for (QWidget* w : std::initializer_list<QWidget*>{btPause, chkFollow, btRecord, btSaveCsv, btSaveCapture,
                                                      btOpenCapture, btClear})
        actions->addWidget(w);
    actions->addStretch(1);

    const auto combo = [this](const char* name) {
        auto* c = new QComboBox(this);
        c->setObjectName(name);
        c->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        return c;
    };
    cbDevice = combo("cbDevice");
    cbProperty = combo("cbProperty");
    cbDirection = combo("cbDirection");
    cbDirection->addItem("All directions", TraceFilter::kAllPaths);
    for (int i = 0; i < kPacketPaths; ++i)
        cbDirection->addItem(PathWords(static_cast<PacketPath>(i)), 1u << i);
    cbClass = combo("cbClass");
    cbClass->addItem("All classes", -1);
    cbClass->addItem("read", code::kReadClass);
    cbClass->addItem("write", code::kWriteClass);
    cbClass->addItem("boot", code::kBootClass);
    cbClass->addItem("close", code::kCloseClass);
    cbLine = combo("cbLine");
    cbLine->addItem("All lines", -1);
    cbLine->hide();
    tbFind = new QLineEdit(this);
    tbFind->setObjectName("tbFind");
    tbFind->setPlaceholderText("Find text in any column");
    tbFind->setClearButtonEnabled(true);
    auto* filters = new QHBoxLayout();
    for (QWidget* w : std::initializer_list<QWidget*>{cbDevice, cbProperty, cbDirection, cbClass, cbLine})
        filters->addWidget(w);
    filters->addWidget(tbFind, 1);

    tvTrace = new QTableView(this);
    tvTrace->setObjectName("tvTrace");
    tvTrace->setModel(table_);
    tvTrace->setSelectionBehavior(QAbstractItemView::SelectRows);
    tvTrace->setWordWrap(false);
    tvTrace->verticalHeader()->hide();
    // Rows of one height: the view never measures a million of them.
    tvTrace->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    tvTrace->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    tvTrace->horizontalHeader()->setStretchLastSection(true);
    for (std::size_t c = 0; c < TraceViewColumns().size(); ++c)
        tvTrace->setColumnWidth(static_cast<int>(c), ColumnWidth(TraceViewColumns()[c]->id));
    lbStatus = new QLabel(this);
    lbStatus->setObjectName("lbTraceStatus");

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(actions);
    layout->addLayout(filters);
    layout->addWidget(tvTrace, 1);
    layout->addWidget(lbStatus);

    connect(btPause, &QPushButton::toggled, this, [this](bool paused) {
        btPause->setText(paused ? "&Resume" : "&Pause");
        if (!paused) AppendBatch(true);
    });
    // Scrolling away from the bottom stops following; scrolling back to it follows again.
    QScrollBar* bar = tvTrace->verticalScrollBar();
    connect(bar, &QScrollBar::actionTriggered, this, [this, bar](int) {
        QTimer::singleShot(0, this, [this, bar] { chkFollow->setChecked(bar->value() >= bar->maximum()); });
    });
    connect(btRecord, &QPushButton::clicked, this, [this](bool on) {
        if (!on) return StopRecording();
        const QString base =
            Choose(true, "Record to capture files", "Capture files (*.kcap);;pcapng files (*.pcapng)");
        if (base.isEmpty())
            btRecord->setChecked(false);
        else
            StartRecording(base);
    });
    connect(btSaveCsv, &QPushButton::clicked, this, [this] { Save(true); });
    connect(btSaveCapture, &QPushButton::clicked, this, [this] { Save(false); });
    connect(btOpenCapture, &QPushButton::clicked, this, [this] {
        const QString path =
            Choose(false, "Open capture file", "Capture files (*.kcap *.txt *.log);;All files (*)");
        if (path.isEmpty()) return;
        if (lineLive && lineLive())
            OpenInOwnView(path);
        else
            OpenCapture(path);
    });
    connect(btClear, &QPushButton::clicked, this, [this] {
        buffer_.Clear();
        viewing_.clear();
        captureLines_ = false;
        linesHeard_ = 0;
        ShowLines();
        table_->Reload();
        ShowStatus();
    });
    connect(cbDevice, &QComboBox::currentIndexChanged, this, [this] {
        FillProperties();
        ApplyFilters();
    });
    for (QComboBox* c : {cbProperty, cbDirection, cbClass, cbLine})
        connect(c, &QComboBox::currentIndexChanged, this, [this] { ApplyFilters(); });
    connect(tbFind, &QLineEdit::textChanged, this, [this] { ApplyFilters(); });

    // Also while the ticks stand still (a box is open, or a capture is viewed without a port).
    status_.setInterval(kStatusMs);
    connect(&status_, &QTimer::timeout, this, [this] {
        AppendBatch(true);
        if (recorder_ && !recorder_->Error().empty()) {
            const QString why = Q(recorder_->Error());
            recorder_.reset();
            btRecord->setChecked(false);
            if (dialogs_.error) dialogs_.error("Recording stopped: " + why);
        }
        if (isVisible()) ShowStatus();
        // Nothing to show, record or hand on: the timer waits for the next packet or showing.
        if (!isVisible() && !recorder_ && pending_.empty()) status_.stop();
    });
    status_.start();
    FillDevices();
    ShowLines();
    ShowStatus();
}

void TTraceWindow::OnPacket(const std::string& line, PacketPath path, const BusPacket& packet) {
    pending_.push_back(TraceRecord::From(NowUs(), path, packet, LineNumber(line)));
    if (!status_.isActive()) status_.start();
}

void TTraceWindow::AppendBatch(bool showNow) {
    const unsigned heard = linesHeard_;
    for (const TraceRecord& r : pending_) {
        buffer_.Append(r);
        if (recorder_) recorder_->Add(r);
        linesHeard_ |= 1u << r.line;
    }
    pending_.clear();
    if (linesHeard_ != heard) ShowLines();
    // Paused or hidden, the table stands still; the ring and the recording go on. Under a flood the
    // table catches up twenty times a second, not on every tick: the eye reads no faster.
    if (btPause->isChecked() || !isVisible()) return;
    if (!showNow && shown_.isValid() && shown_.elapsed() < kViewMs) return;
    shown_.start();
    table_->Refresh();
    if (chkFollow->isChecked()) tvTrace->scrollToBottom();
}

void TTraceWindow::ShowUnits() {
    tvTrace->viewport()->update();
}

void TTraceWindow::ShowWindow() {
    decoder_.Rebuild();
    FillDevices();
    ShowLines();
    table_->Reload();
    show();
    status_.start();
    raise();
    activateWindow();
    AppendBatch(true);
}

void TTraceWindow::FillDevices() {
    const QSignalBlocker block(cbDevice);
    const int keep = cbDevice->currentData().isValid() ? cbDevice->currentData().toInt() : -1;
    cbDevice->clear();
    cbDevice->addItem("All devices", -1);
    for (const auto& [name, device] : config_.devices)
        cbDevice->addItem(Q(DeviceNodeText(*device)), device->address);
    const int at = cbDevice->findData(keep);
    cbDevice->setCurrentIndex(at < 0 ? 0 : at);
    FillProperties();
}

void TTraceWindow::FillProperties() {
    const QSignalBlocker block(cbProperty);
    cbProperty->clear();
    cbProperty->addItem("All properties", -1);
    const int address = cbDevice->currentData().toInt();
    for (const auto& [name, device] : config_.devices) {
        if (device->address != address) continue;
        for (const auto& [linkName, link] : device->links)
            cbProperty->addItem(Q(LinkTitleText(*link)), link->code);
        break;
    }
    cbProperty->setEnabled(cbProperty->count() > 1);
}

bool TTraceWindow::SeveralLines() const {
    if (captureLines_) return true;
    for (const auto& [name, device] : config_.devices)
        if (!SameIgnoringCase(device->port, "COM1")) return true;
    return false;
}

void TTraceWindow::ShowLines() {
    const bool several = SeveralLines();
    if (several != table_->SeveralLines()) {
        table_->SetSeveralLines(several);
        const auto columns = TraceViewColumns(several);
        for (std::size_t c = 0; c < columns.size(); ++c)
            tvTrace->setColumnWidth(static_cast<int>(c), ColumnWidth(columns[c]->id));
    }
    cbLine->setVisible(several);
    // The plant's lines, and those the trace has heard or the capture named.
    unsigned lines = several ? linesHeard_ | 2u : 0u;
    if (several)
        for (const auto& [name, device] : config_.devices) lines |= 1u << LineNumber(device->port);
    lines &= ~1u;  // a record of no known line
    if (lines == linesOffered_) return;
    linesOffered_ = lines;
    const int keep = cbLine->currentData().toInt();
    {
        const QSignalBlocker block(cbLine);
        cbLine->clear();
        cbLine->addItem("All lines", -1);
        for (std::uint8_t n = 1; n <= kMaxLine; ++n)
            if (lines & (1u << n)) cbLine->addItem(Q(LineWord(n)), n);
        const int at = cbLine->findData(keep);
        cbLine->setCurrentIndex(at < 0 ? 0 : at);
    }
    if (cbLine->currentData().toInt() != keep) ApplyFilters();
}

void TTraceWindow::ApplyFilters() {
    TraceFilter f;
    f.device = cbDevice->currentData().toInt();
    f.propertyCode = cbProperty->currentData().toInt();
    f.paths = cbDirection->currentData().toUInt();
    f.commandClass = cbClass->currentData().toInt();
    f.text = tbFind->text().toStdString();
    f.line = cbLine->currentData().toInt();
    table_->SetFilter(f);
    if (chkFollow->isChecked()) tvTrace->scrollToBottom();
    ShowStatus();
}

void TTraceWindow::ShowStatus() {
    QString text = QString("%1 of %2 packets shown").arg(table_->rowCount()).arg(buffer_.Size());
    if (buffer_.Dropped() > 0) text += QString(", %1 older ones dropped").arg(buffer_.Dropped());
    if (!viewing_.isEmpty()) text += ", from " + viewing_;
    if (recorder_) text += ", recording to " + Q(recorder_->CurrentFile());
    lbStatus->setText(text);
}

QString WithChosenSuffix(const QString& path, const QString& filter) {
    // "pcapng files (*.pcapng)": the first pattern's ending, for a name typed without one.
    const qsizetype star = filter.indexOf("*.");
    if (path.isEmpty() || star < 0 || QFileInfo(path).fileName().contains('.')) return path;
    qsizetype end = star + 2;
    while (end < filter.size() && filter[end].isLetterOrNumber()) ++end;
    return path + filter.mid(star + 1, end - star - 1);
}

QString TTraceWindow::Choose(bool save, const QString& caption, const QString& filter) {
    if (chooseFile) return chooseFile(save, caption, filter);
    if (!save) return QFileDialog::getOpenFileName(this, caption, QString(), filter);
    // The type chosen in the dialog decides the format of a name typed without an ending.
    QString chosen;
    return WithChosenSuffix(QFileDialog::getSaveFileName(this, caption, QString(), filter, &chosen), chosen);
}

void TTraceWindow::Save(bool csv) {
    const QString path =
        Choose(true, csv ? "Save trace as CSV" : "Save trace as capture",
               csv ? "CSV files (*.csv)" : "Capture files (*.kcap);;pcapng files (*.pcapng)");
    if (path.isEmpty()) return;
    csv ? SaveCsv(path) : SaveCapture(path);
}

void TTraceWindow::SaveCsv(const QString& path) {
    SaveInBackground(path, true);
}

void TTraceWindow::SaveCapture(const QString& path) {
    SaveInBackground(path, false);
}

void TTraceWindow::WaitForSave() {
    if (saver_.joinable()) saver_.join();
}

TTraceWindow::~TTraceWindow() {
    WaitForSave();
    if (openCancel_) openCancel_->store(true);
    WaitForOpen();
}

void TTraceWindow::SaveInBackground(const QString& path, bool csv) {
    AppendBatch();
    WaitForSave();
    // A copy of what the table shows, all of it or what the filters let through: the ring goes on
    // filling while the file is written.
    auto shown = std::make_shared<TraceBuffer>(std::max<std::size_t>(1, table_->rowCount()));
    for (std::uint64_t n : table_->ShownRecords())
        if (buffer_.Holds(n)) shown->Append(buffer_.At(n));
    // The decoder reads names, codes and types, which stay as loaded, and the units, which a change
    // of scheme leaves alone until this save is done.
    // A name ending in .pcapng is written for the packet analyzers.
    const bool pcapng = !csv && path.endsWith(".pcapng", Qt::CaseInsensitive);
    saver_ = std::thread([this, shown, csv, pcapng, lines = SeveralLines(), file = path.toStdString()] {
        std::string failure;
        try {
            ReplaceFileSafely(file, csv      ? CsvText(*shown, nullptr, decoder_, lines)
                                    : pcapng ? PcapngText(*shown)
                                             : CaptureText(*shown, nullptr, lines));
        } catch (const FileError& e) {
            failure = e.what();
        }
        if (failure.empty()) return;
        QMetaObject::invokeMethod(
            this,
            [this, failure] {
                if (dialogs_.error) dialogs_.error(Q(failure));
            },
            Qt::QueuedConnection);
    });
}

void TTraceWindow::OpenCapture(const QString& path) {
    // A load under way is given up, not waited for: it stops at its next piece.
    if (openCancel_) openCancel_->store(true);
    WaitForOpen();
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    openCancel_ = cancel;
    // A capture may be hundreds of megabytes: it is read beside the window, which goes on showing
    // the live trace until the file is in.
    auto loaded = std::make_shared<TraceBuffer>(buffer_.Capacity());
    lbStatus->setText("Opening " + QFileInfo(path).fileName() + "\u2026");
    opener_ = std::thread([this, loaded, path, cancel, file = path.toStdString()] {
        CaptureReport report;
        std::string failure;
        try {
            report = LoadCaptureFile(file, *loaded, cancel.get());
        } catch (const FileError& e) {
            failure = e.what();
        }
        if (report.cancelled) return;
        QMetaObject::invokeMethod(
            this,
            [this, loaded, path, report, failure, cancel] {
                // A load given up after its last piece still must not replace the newer one.
                if (!cancel->load()) Opened(path, *loaded, report, failure);
            },
            Qt::QueuedConnection);
    });
}

TTraceWindow* TTraceWindow::OpenInOwnView(const QString& path) {
    // Its own ring and table; nothing feeds it live packets. It goes when closed, or with this window.
    auto* view = new TTraceWindow(config_, dialogs_, this, buffer_.Capacity());
    view->setObjectName("frmCaptureView");
    view->setAttribute(Qt::WA_DeleteOnClose);
    view->setWindowTitle("Packet Trace \u2014 " + QFileInfo(path).fileName());
    view->chooseFile = chooseFile;
    view->ShowWindow();
    view->OpenCapture(path);
    return view;
}

void TTraceWindow::WaitForOpen() {
    if (opener_.joinable()) opener_.join();
}

void TTraceWindow::Opened(const QString& path, TraceBuffer& loaded, const CaptureReport& report,
                          const std::string& failure) {
    WaitForOpen();
    if (!failure.empty()) {
        if (dialogs_.error) dialogs_.error(Q(failure));
        ShowStatus();
        return;
    }
    AppendBatch();
    if (report.Skipped() > 0 && dialogs_.message)
        dialogs_.message(QFileInfo(path).fileName() + ": " + Q(report.Summary()));
    buffer_.Clear();
    linesHeard_ = 0;
    for (std::uint64_t n = loaded.First(); n < loaded.End(); ++n) {
        buffer_.Append(loaded.At(n));
        linesHeard_ |= 1u << loaded.At(n).line;
    }
    viewing_ = QFileInfo(path).fileName();
    captureLines_ = (linesHeard_ & ~1u) != 0;
    ShowLines();
    table_->Reload();
    ShowStatus();
}

void TTraceWindow::StartRecording(const QString& base) {
    QString stem = base;
    const bool pcapng = stem.endsWith(".pcapng", Qt::CaseInsensitive);
    if (stem.endsWith(".kcap", Qt::CaseInsensitive) || pcapng) stem.chop(pcapng ? 7 : 5);
    recorder_ = std::make_unique<CaptureRecorder>(stem.toStdString(), kRecordFileLimit, SeveralLines(),
                                                  pcapng ? CaptureFormat::Pcapng : CaptureFormat::Lines);
    status_.start();  // it watches the recorder's errors
    btRecord->setChecked(true);
    ShowStatus();
}

void TTraceWindow::StopRecording() {
    // The writer finishes what it was given before it ends.
    recorder_.reset();
    btRecord->setChecked(false);
    ShowStatus();
}

}  // namespace korva
