#include "ui/DeviceTable.h"

#include <QBoxLayout>
#include <QDateTime>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>

#include <sstream>

#include "model/TextConvert.h"
#include "protocol/Engine.h"
#include "ui/PanelText.h"
#include "xml/SafeFile.h"

namespace korva {

namespace {
QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

const Bus::DeviceHealth Health(Engine& engine, const KDevice& device) {
    const Bus* bus = engine.FindLine(device.port);
    return bus != nullptr ? bus->Health(device) : Bus::DeviceHealth{};
}
}  // namespace

TDeviceTable::TDeviceTable(Engine& engine, const UiDialogs& dialogs, QWidget* parent)
    : QWidget(parent), engine_(engine), dialogs_(dialogs) {
    setObjectName("pnTable");
    lbTitle = new QLabel(this);
    lbTitle->setObjectName("lbTable");
    QFont bold = lbTitle->font();
    bold.setBold(true);
    lbTitle->setFont(bold);
    const auto button = [this](const char* name, const char* text) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(name);
        return b;
    };
    btReadAll = button("btReadAll", "Read All");
    btScanBus = button("btScanBus", "Scan Bus");
    btLoad = button("btTableLoad", "Load");
    btSave = button("btTableSave", "Save");
    btCancel = button("btTableCancel", "Cancel");
    btExport = button("btExport", "Export\u2026");
    btImport = button("btImport", "Import\u2026");
    pbTransfer = new QProgressBar(this);
    pbTransfer->setObjectName("pbTransfer");
    pbTransfer->setMaximumWidth(160);
    table = new TValueTable(this);
    table->setObjectName("tblDevice");
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 8);
    table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                           QAbstractItemView::AnyKeyPressed);
    auto* row = new QHBoxLayout();
    row->addWidget(lbTitle, 1);
    for (QWidget* w : std::initializer_list<QWidget*>{pbTransfer, btLoad, btSave, btCancel, btExport,
                                                      btImport, btReadAll, btScanBus})
        row->addWidget(w);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(4, 0, 0, 4);
    column->addLayout(row);
    column->addWidget(table, 1);

    connect(btReadAll, &QPushButton::clicked, this, [this] { ReadAll(); });
    connect(btScanBus, &QPushButton::clicked, this, [this] { ScanBus(); });
    connect(btLoad, &QPushButton::clicked, this, [this] {
        if (file_) file_->StartTransfer(TransferOp::Load);
    });
    connect(btSave, &QPushButton::clicked, this, [this] {
        if (file_) file_->StartTransfer(TransferOp::Save);
    });
    connect(btCancel, &QPushButton::clicked, this, [this] {
        if (file_) file_->CancelTransfer();
    });
    connect(btExport, &QPushButton::clicked, this, [this] { ExportElements(); });
    connect(btImport, &QPushButton::clicked, this, [this] { ImportElements(); });
    connect(table, &QTableWidget::cellChanged, this, [this](int r, int c) { CellEdited(r, c); });
    connect(table, &QTableWidget::cellClicked, this, [this](int r, int) {
        if (mode_ == Mode::Device && r >= 0 && static_cast<std::size_t>(r) < links_.size())
            emit linkChosen(links_[static_cast<std::size_t>(r)]);
    });
    ShowNothing();
}

void TDeviceTable::ShowNothing() {
    mode_ = Mode::None;
    device_ = nullptr;
    file_ = nullptr;
    Fill();
}

void TDeviceTable::ShowOverview(std::vector<KDevice*> devices, const QString& title) {
    if (mode_ == Mode::Overview && devices == devices_) return Refresh();
    mode_ = Mode::Overview;
    devices_ = std::move(devices);
    device_ = nullptr;
    file_ = nullptr;
    lbTitle->setText(title);
    Fill();
}

void TDeviceTable::ShowDevice(KDevice& device, const KRemoteLink* selected) {
    if (mode_ != Mode::Device || device_ != &device) {
        mode_ = Mode::Device;
        device_ = &device;
        file_ = nullptr;
        links_.clear();
        for (const auto& link : device.ownedLinks)
            if (link->basic) links_.push_back(link.get());
        lbTitle->setText(Q(DeviceNodeText(device)));
        Fill();
    } else {
        Refresh();
    }
    for (std::size_t i = 0; i < links_.size(); ++i)
        if (links_[i] == selected && table->currentRow() != static_cast<int>(i))
            table->selectRow(static_cast<int>(i));
}

void TDeviceTable::ShowFile(KFileLink& file) {
    if (mode_ == Mode::File && file_ == &file) return Refresh();
    mode_ = Mode::File;
    file_ = &file;
    device_ = nullptr;
    lbTitle->setText(Q(file.FullName()));
    Fill();
}

void TDeviceTable::ShowButtons() {
    const bool file = mode_ == Mode::File;
    for (QWidget* w :
         std::initializer_list<QWidget*>{btLoad, btSave, btCancel, btExport, btImport, pbTransfer})
        w->setVisible(file);
    btReadAll->setVisible(mode_ == Mode::Device);
    btScanBus->setVisible(mode_ == Mode::Overview);
    table->setVisible(mode_ != Mode::None);
}

void TDeviceTable::Fill() {
    filling_ = true;
    table->clear();
    table->setRowCount(0);
    QStringList headings;
    int rows = 0;
    switch (mode_) {
        case Mode::Overview:
            headings = {"Address", "Device", "Line", "Answers", "Last reply", "Unanswered"};
            rows = static_cast<int>(devices_.size());
            break;
        case Mode::Device:
            headings = {"Property", "Value", "Status", "Poll", "Log"};
            rows = static_cast<int>(links_.size());
            break;
        case Mode::File:
            headings = {"Index", "Value"};
            rows = file_ != nullptr ? std::max(0, static_cast<int>(file_->size)) : 0;
            break;
        case Mode::None:
            lbTitle->clear();
            break;
    }
    table->setColumnCount(static_cast<int>(headings.size()));
    table->setHorizontalHeaderLabels(headings);
    table->setRowCount(rows);
    if (mode_ == Mode::Device) {
        for (int r = 0; r < rows; ++r) {
            const KRemoteLink& link = *links_[static_cast<std::size_t>(r)];
            // The help text is the name's tooltip; the name itself is not edited.
            SetCell(r, kName, Q(LinkNodeText(link)),
                    QString::fromUtf8(link.helpText.data(), static_cast<qsizetype>(link.helpText.size())));
        }
    }
    filling_ = false;
    Refresh();
    // The value takes the room in a device's table; the small columns keep to their contents.
    QHeaderView* header = table->horizontalHeader();
    header->setStretchLastSection(mode_ != Mode::Device);
    for (int c = 0; c < table->columnCount(); ++c)
        header->setSectionResizeMode(c, mode_ == Mode::Device && c == kValue ? QHeaderView::Stretch
                                        : mode_ == Mode::Overview            ? QHeaderView::ResizeToContents
                                                                             : QHeaderView::Interactive);
    table->resizeColumnsToContents();
    if (mode_ == Mode::Device) table->setColumnWidth(kStatus, std::max(table->columnWidth(kStatus), 70));
    ShowButtons();
}

void TDeviceTable::SetCell(int row, int column, const QString& text, const QString& tip) {
    QTableWidgetItem* item = table->item(row, column);
    if (item == nullptr) {
        item = new QTableWidgetItem(text);
        // Only values are typed into: a device's value cells and a file's element values.
        const bool editable =
            (mode_ == Mode::Device && column == kValue) || (mode_ == Mode::File && column == 1);
        if (!editable) item->setFlags(item->flags() & ~Qt::ItemIsEditable);
        table->setItem(row, column, item);
    } else if (item->text() != text &&
               !(table->Editing() && table->currentRow() == row && table->currentColumn() == column)) {
        // A cell being typed into keeps the operator's text until Enter.
        item->setText(text);
    }
    if (!tip.isEmpty() && item->toolTip() != tip) item->setToolTip(tip);
}

void TDeviceTable::SetCheck(int row, int column, bool on) {
    QTableWidgetItem* item = table->item(row, column);
    if (item == nullptr) {
        item = new QTableWidgetItem();
        item->setFlags((item->flags() | Qt::ItemIsUserCheckable) & ~Qt::ItemIsEditable);
        // The box shows only once its state is set.
        item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
        table->setItem(row, column, item);
    }
    const Qt::CheckState state = on ? Qt::Checked : Qt::Unchecked;
    if (item->checkState() != state) item->setCheckState(state);
}

QString TDeviceTable::AnswerText(const KDevice& device) const {
    const Bus::DeviceHealth h = Health(engine_, device);
    const auto scanned = scan_.find(&device);
    if (scanned != scan_.end()) {
        if (h.replies > scanned->second.replies) return "yes";
        if (h.unanswered > scanned->second.unanswered) return "NO ANSWER";
        return "asking\u2026";
    }
    if (h.silent) return "NO ANSWER";
    return h.replies > 0 ? "yes" : "not asked";
}

void TDeviceTable::Refresh() {
    filling_ = true;
    if (mode_ == Mode::Overview) {
        for (int r = 0; r < table->rowCount(); ++r) {
            const KDevice& d = *devices_[static_cast<std::size_t>(r)];
            const Bus::DeviceHealth h = Health(engine_, d);
            SetCell(r, kAddress, QString::number(d.address));
            SetCell(r, kDevice, Q(d.name));
            SetCell(r, kLine, Q(d.port));
            const QString answers = AnswerText(d);
            SetCell(r, kAnswers, answers);
            table->item(r, kAnswers)
                ->setForeground(answers == "NO ANSWER" ? QColor(200, 0, 0) : QColor(Qt::black));
            SetCell(r, kLastReply,
                    h.replies == 0 ? QString("never")
                                   : QDateTime::fromMSecsSinceEpoch(
                                         std::chrono::duration_cast<std::chrono::milliseconds>(
                                             h.lastReply.time_since_epoch())
                                             .count())
                                         .toString("hh:mm:ss"));
            SetCell(r, kUnanswered, QString::number(h.unanswered));
        }
    } else if (mode_ == Mode::Device) {
        for (int r = 0; r < table->rowCount(); ++r) {
            const KRemoteLink& link = *links_[static_cast<std::size_t>(r)];
            SetCell(r, kValue,
                    Q(link.IsFileHandle() ? FileValueText(*link.AsFile()) : ValueText(link, false)));
            SetCell(r, kStatus, Q(LinkStateName(link.state)));
            SetCheck(r, kPoll, link.poll);
            SetCheck(r, kLog, link.log);
        }
    } else if (mode_ == Mode::File && file_ != nullptr) {
        for (int r = 0; r < table->rowCount(); ++r) {
            SetCell(r, 0, QString::number(r));
            // A value waiting to be saved shows with a mark; one never read shows "??".
            const std::uint8_t state = file_->ElementState(r);
            SetCell(r, 1,
                    state == LinkState::KNOWN ? QString::number(file_->ElementValue(r))
                    : state == LinkState::SET ? QString::number(file_->ElementValue(r)) + " *"
                                              : "??");
        }
        const int size = std::max(1, static_cast<int>(file_->size));
        int known = 0;
        for (int i = 0; i < file_->size; ++i) known += file_->ElementState(i) == LinkState::KNOWN ? 1 : 0;
        pbTransfer->setRange(0, size);
        pbTransfer->setValue(std::min(known, size));
        const bool moving = file_->Operation() != TransferOp::None;
        btCancel->setEnabled(moving);
        btLoad->setEnabled(!moving);
        btSave->setEnabled(!moving);
    }
    filling_ = false;
}

void TDeviceTable::CellEdited(int row, int column) {
    if (filling_) return;
    QTableWidgetItem* item = table->item(row, column);
    if (item == nullptr) return;
    const QString text = item->text().trimmed();
    if (mode_ == Mode::Device && column == kValue && static_cast<std::size_t>(row) < links_.size()) {
        if (writeValue) writeValue(*links_[static_cast<std::size_t>(row)], text);
    } else if (mode_ == Mode::Device && (column == kPoll || column == kLog) &&
               static_cast<std::size_t>(row) < links_.size()) {
        KRemoteLink& link = *links_[static_cast<std::size_t>(row)];
        const bool on = item->checkState() == Qt::Checked;
        if (column == kPoll) {
            link.SetPoll(on);
        } else if (!link.IsFileHandle()) {
            link.SetLog(on);
            link.SetPoll(true);  // a logged value is always polled
        }
    } else if (mode_ == Mode::File && column == 1 && file_ != nullptr) {
        const auto value = ParseInt(text.toStdString());
        if (!value) {
            dialogs_.error(QString("'%1' is not a valid integer value").arg(text));
        } else if (file_->WriteElement(row, *value) == ElementFault::ValueTooWide) {
            dialogs_.error(QString("%1 does not fit an element of this file: %2 to %3")
                               .arg(*value)
                               .arg(file_->ElementRange().min)
                               .arg(file_->ElementRange().max));
        }
    }
    Refresh();
}

void TDeviceTable::ReadAll() {
    if (mode_ != Mode::Device) return;
    // A file is read by its own Load: asking for its one element would say little.
    for (KRemoteLink* link : links_)
        if (!link->IsFileHandle()) link->RequestRead();
    Refresh();
}

void TDeviceTable::ScanBus() {
    if (mode_ != Mode::Overview) return;
    scan_.clear();
    for (KDevice* device : devices_) {
        KRemoteLink* ask = nullptr;
        for (const auto& link : device->ownedLinks)
            if (!link->IsFileHandle()) {
                ask = link.get();
                break;
            }
        if (ask == nullptr) continue;  // nothing to ask it; it stays as it was
        const Bus::DeviceHealth h = Health(engine_, *device);
        scan_[device] = {h.replies, h.unanswered};
        ask->RequestRead();
    }
    Refresh();
}

std::string TDeviceTable::ExportCsv(const KFileLink& file) {
    std::string text = "Index,Value\n";
    for (int i = 0; i < file.size; ++i)
        text += std::to_string(i) + "," +
                (file.ElementState(i) == LinkState::KNOWN ? std::to_string(file.ElementValue(i)) : "") + "\n";
    return text;
}

std::string TDeviceTable::ImportCsv(KFileLink& file, const std::string& text) {
    std::vector<std::pair<int, std::int32_t>> rows;
    std::istringstream in(text);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || (number == 1 && line.rfind("Index", 0) == 0)) continue;
        const std::size_t comma = line.find(',');
        const auto index = ParseInt(line.substr(0, comma));
        const auto value = comma == std::string::npos ? std::nullopt : ParseInt(line.substr(comma + 1));
        const std::string where = "line " + std::to_string(number) + ": ";
        if (!index || !value) return where + "'" + line + "' is not \"index,value\"";
        if (!file.Writable(*index))
            return where + "element " + std::to_string(*index) + " is outside the file: 0 to " +
                   std::to_string(file.size - 1);
        if (file.CheckWrite(*index, *value) != ElementFault::None)
            return where + std::to_string(*value) + " does not fit an element of this file";
        rows.emplace_back(*index, *value);
    }
    // All or nothing: a file half imported would be saved half old.
    // Stored, not sent: they stand as values to set until a Save sends them.
    for (const auto& [index, value] : rows)
        if (file.StoreElement(index, value)) file.SetElement(index, file.ElementValue(index), LinkState::SET);
    return {};
}

void TDeviceTable::ExportElements() {
    if (file_ == nullptr || !dialogs_.saveFile) return;
    const QString path = dialogs_.saveFile("Export Elements", "CSV files (*.csv)", Q(file_->name) + ".csv");
    if (path.isEmpty()) return;
    try {
        ReplaceFileSafely(path.toStdString(), ExportCsv(*file_));
    } catch (const FileError& e) {
        dialogs_.error(QString("Can't export %1: %2").arg(Q(file_->FullName()), Q(e.what())));
    }
}

void TDeviceTable::ImportElements() {
    if (file_ == nullptr || !dialogs_.openFile) return;
    const QString path = dialogs_.openFile("Import Elements", "CSV files (*.csv)");
    if (path.isEmpty()) return;
    std::string why;
    try {
        why = ImportCsv(*file_, ReadRegularFile(path.toStdString()));
    } catch (const FileError& e) {
        why = e.what();
    }
    if (!why.empty()) dialogs_.error(QString("Can't import %1: %2").arg(path, Q(why)));
    Refresh();
}

}  // namespace korva
