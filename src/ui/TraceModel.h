#pragma once
// The packet trace as a table: every held record, or those the filter lets through, oldest first.
// Its columns are the view's of the trace's table of columns (trace/TraceColumns.h), with their headers
// and view texts.

#include <cstdint>
#include <deque>
#include <vector>

#include <QAbstractTableModel>

#include "trace/TraceColumns.h"
#include "trace/TraceFilter.h"

namespace korva {

class TTraceModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    TTraceModel(const TraceBuffer& buffer, const TraceDecoder& decoder, QObject* parent = nullptr);

    // Shows the records that match from now on, the held ones included.
    void SetFilter(const TraceFilter& filter);
    const TraceFilter& Filter() const { return filter_; }
    // With the line's column after the others, for a plant on several lines.
    void SetSeveralLines(bool on);
    bool SeveralLines() const { return severalLines_; }
    // Rows of records appended since the last refresh come in; rows of records the ring dropped leave.
    void Refresh();
    // Every row again, as after a change of the buffer's content or of the model's names.
    void Reload();
    // The numbers of the records shown, for saving what the view shows.
    std::vector<std::uint64_t> ShownRecords() const;
    std::uint64_t RecordAt(int row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  private:
    const TraceBuffer& buffer_;
    const TraceDecoder& decoder_;
    TraceFilter filter_;
    bool severalLines_ = false;
    std::string foldedText_;
    // Unfiltered, row r shows record first_ + r; filtered, record rows_[r].
    std::uint64_t first_ = 0;
    std::uint64_t count_ = 0;
    std::deque<std::uint64_t> rows_;
    std::uint64_t seen_ = 0;  // records up to here have been looked at
};

}  // namespace korva
