#include "ui/TraceModel.h"

#include <QBrush>
#include <QColor>
#include <QDateTime>

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
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TTraceModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const std::uint64_t n = RecordAt(index.row());
    if (!buffer_.Holds(n)) return {};
    const TraceRecord& r = buffer_.At(n);
    const BusPacket p = r.Packet();
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        const auto node = [this](std::uint8_t address) {
            const KDevice* d = decoder_.Device(address);
            return d != nullptr ? QString("%1 %2").arg(address).arg(Q(d->name)) : QString::number(address);
        };
        switch (index.column()) {
            case Time:
                return r.timeUs < 0
                           ? QString()
                           : QDateTime::fromMSecsSinceEpoch(r.timeUs / 1000).toString("HH:mm:ss.zzz");
            case Since: {
                if (index.row() == 0 || r.timeUs < 0) return QString();
                const std::uint64_t before = RecordAt(index.row() - 1);
                if (!buffer_.Holds(before) || buffer_.At(before).timeUs < 0) return QString();
                return QString("+%1 ms").arg(
                    static_cast<double>(r.timeUs - buffer_.At(before).timeUs) / 1000.0, 0, 'f', 1);
            }
            case Direction:
                return QString(PathWords(r.path));
            case From:
                return node(p.source);
            case To:
                return node(p.dest);
            case Bytes: {
                std::string bytes = TraceBytes(p);
                bytes.pop_back();
                return Q(bytes);
            }
            default:
                break;
        }
        const DecodedPacket d = decoder_.Decode(p, r.path);
        switch (index.column()) {
            case Property:
                return Q(d.property);
            case Value:
                return Q(d.value);
            case Kind:
                return Q(d.kind);
            default:
                return {};
        }
    }
    if (role == Qt::BackgroundRole || role == Qt::ForegroundRole) {
        const bool crc = r.path == PacketPath::ChecksumError;
        const bool refused = (p.code & code::kRefused) && !(p.code & code::kAck);
        if (!crc && !refused) return {};
        if (role == Qt::ForegroundRole) return QBrush(QColor(110, 0, 0));
        return QBrush(crc ? QColor(255, 190, 190) : QColor(255, 225, 170));
    }
    return {};
}

QVariant TTraceModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
    static const char* const kNames[ColumnCount] = {"Time",  "Since",    "Direction", "From", "To",
                                                    "Class", "Property", "Value",     "Bytes"};
    return section >= 0 && section < ColumnCount ? QString(kNames[section]) : QVariant();
}

}  // namespace korva
