#pragma once
// The log pane: the packet trace and the messages of the bus, the 17 newest lines.

#include <QPlainTextEdit>

namespace korva {

class TLogPane : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr int kMaxLines = 17;
    explicit TLogPane(QWidget* parent = nullptr);
    void AddLogLine(const QString& line);
    QStringList Lines() const;
};

}  // namespace korva
