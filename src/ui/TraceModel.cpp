#include "ui/TraceModel.h"

#include <QBrush>
#include <QColor>

namespace korva {

namespace {
QString Q(const std::string& s) {
    return QString::fromStdString(s);
}
}  // namespace

TTraceModel::TTraceModel(const TraceBuffer& buffer, const TraceDecoder& decoder, QObject* parent)
    : QAbstractTableModel(parent), buffer_(buffer), decoder_(decoder) {
    Reload();
}

void TTraceModel::SetFilter(const TraceFilter& filter) {
    filter_ = filter;
    Reload();
}

void TTraceModel::SetSeveralLines(bool on) {
    if (on == severalLines_) return;
    beginResetModel();
    severalLines_ = on;
    endResetModel();
}

void TTraceModel::Reload() {
    beginResetModel();
    rows_.clear();
    first_ = buffer_.First();
    count_ = 0;
    if (!filter_.Empty()) {
        const std::vector<std::uint64_t> rows = FilterTrace(buffer_, filter_, decoder_);
        rows_.assign(rows.begin(), rows.end());
    } else {
        count_ = buffer_.Size();
    }
    seen_ = buffer_.End();
    endResetModel();
}

void TTraceModel::Refresh() {
    const std::uint64_t held = buffer_.First();
    const bool filtered = !filter_.Empty();
    // What the ring let go leaves the top.
    std::uint64_t gone = 0;
    if (filtered) {
        while (gone < rows_.size() && rows_[gone] < held) ++gone;
    } else if (held > first_) {
        gone = std::min(held - first_, count_);
    }
    if (gone > 0) {
        beginRemoveRows(QModelIndex(), 0, static_cast<int>(gone) - 1);
        if (filtered)
            rows_.erase(rows_.begin(), rows_.begin() + static_cast<std::ptrdiff_t>(gone));
        else
            count_ -= gone;
        endRemoveRows();
    }
    if (!filtered) first_ = held;
    // What came since goes to the bottom.
    std::vector<std::uint64_t> added;
    for (std::uint64_t n = std::max(seen_, held); n < buffer_.End(); ++n)
        if (!filtered || filter_.Matches(buffer_.At(n), decoder_)) added.push_back(n);
    seen_ = buffer_.End();
    if (added.empty()) return;
    const int at = rowCount();
    beginInsertRows(QModelIndex(), at, at + static_cast<int>(added.size()) - 1);
    if (filtered)
        rows_.insert(rows_.end(), added.begin(), added.end());
    else
        count_ += added.size();
    endInsertRows();
}

std::vector<std::uint64_t> TTraceModel::ShownRecords() const {
    if (!filter_.Empty()) return {rows_.begin(), rows_.end()};
    std::vector<std::uint64_t> rows(count_);
    for (std::uint64_t i = 0; i < count_; ++i) rows[i] = first_ + i;
    return rows;
}

std::uint64_t TTraceModel::RecordAt(int row) const {
    return filter_.Empty() ? first_ + static_cast<std::uint64_t>(row) : rows_[static_cast<std::size_t>(row)];
}

int TTraceModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    return static_cast<int>(filter_.Empty() ? count_ : rows_.size());
}

int TTraceModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(TraceViewColumns(severalLines_).size());
}

QVariant TTraceModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
    const std::uint64_t n = RecordAt(index.row());
    if (!buffer_.Holds(n)) return {};
    const TraceRecord& r = buffer_.At(n);
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        // "Since" counts from the row shown above, whichever record that is.
        std::int64_t beforeUs = -1;
        if (index.row() > 0) {
            const std::uint64_t before = RecordAt(index.row() - 1);
            if (buffer_.Holds(before)) beforeUs = buffer_.At(before).timeUs;
        }
        const TraceRow row(r, decoder_, beforeUs);
        return Q(TraceViewColumns(severalLines_)[static_cast<std::size_t>(index.column())]->ViewText(row));
    }
    if (role == Qt::BackgroundRole || role == Qt::ForegroundRole) {
        const BusPacket p = r.Packet();
        const bool crc = r.path == PacketPath::ChecksumError;
        const bool refused = (p.code & code::kRefused) && !(p.code & code::kAck);
        if (!crc && !refused) return {};
        if (role == Qt::ForegroundRole) return QBrush(QColor(110, 0, 0));
        return QBrush(crc ? QColor(255, 190, 190) : QColor(255, 225, 170));
    }
    return {};
}

QVariant TTraceModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return {};
    return QString(TraceViewColumns(severalLines_)[static_cast<std::size_t>(section)]->header);
}

}  // namespace korva
