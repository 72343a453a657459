#include "ui/LogPane.h"

#include <QTextBlock>
#include <QTextCursor>

namespace korva {

TLogPane::TLogPane(QWidget* parent) : QPlainTextEdit(parent) {
    setObjectName("memoLog");
    setLineWrapMode(QPlainTextEdit::NoWrap);
    // The document drops the oldest blocks itself, so the pane never grows past 17 lines.
    setMaximumBlockCount(kMaxLines);
}

void TLogPane::AddLogLine(const QString& line) {
    // An empty pane holds one empty block: the first line replaces it.
    if (document()->blockCount() == 1 && document()->firstBlock().text().isEmpty())
        setPlainText(line);
    else
        appendPlainText(line);
}

QStringList TLogPane::Lines() const {
    QStringList lines;
    for (QTextBlock b = document()->firstBlock(); b.isValid(); b = b.next()) lines << b.text();
    if (lines.size() == 1 && lines[0].isEmpty()) lines.clear();
    return lines;
}

}  // namespace korva
