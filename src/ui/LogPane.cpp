#include "ui/LogPane.h"

#include <QTextBlock>
#include <QTime>
#include <QTextCursor>

namespace korva {

TLogPane::TLogPane(QWidget* parent, bool stamped, int maxLines)
    : QPlainTextEdit(parent), stamped_(stamped), maxLines_(maxLines) {
    setLineWrapMode(QPlainTextEdit::NoWrap);
    // The program writes here; a click may still select lines to copy.
    setReadOnly(true);
    // The document drops the oldest blocks itself, so the pane never grows past its limit.
    setMaximumBlockCount(maxLines_);
    show_.setSingleShot(true);
    show_.setInterval(kShowEveryMs);
    connect(&show_, &QTimer::timeout, this, [this] { Show(); });
}

void TLogPane::AddLogLine(const QString& line) {
    waiting_.append(stamped_ ? QTime::currentTime().toString("hh:mm:ss") + "  " + line : line);
    if (waiting_.size() > maxLines_) waiting_.removeFirst();
    if (!show_.isActive()) show_.start();
}

void TLogPane::Show() {
    show_.stop();
    if (waiting_.isEmpty()) return;
    const QString text = waiting_.join('\n');
    waiting_.clear();
    // An empty pane holds one empty block: the first lines replace it.
    if (document()->blockCount() == 1 && document()->firstBlock().text().isEmpty())
        setPlainText(text);
    else
        appendPlainText(text);
}

void TLogPane::Clear() {
    waiting_.clear();
    show_.stop();
    clear();
}

QStringList TLogPane::Lines() {
    Show();
    QStringList lines;
    for (QTextBlock b = document()->firstBlock(); b.isValid(); b = b.next())
        lines << (stamped_ ? b.text().mid(kStampWidth) : b.text());
    if (lines.size() == 1 && lines[0].isEmpty()) lines.clear();
    return lines;
}

}  // namespace korva
