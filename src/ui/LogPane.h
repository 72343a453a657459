#pragma once
// A log pane: the program's events, each with its time, or the packet lines of the bus; the newest
// lines, up to a limit.

#include <QPlainTextEdit>
#include <QStringList>
#include <QTimer>

namespace korva {

class TLogPane : public QPlainTextEdit {
    Q_OBJECT
  public:
    // The events of a working day stay in view; older ones are in the trace and the log file.
    static constexpr int kMaxLines = 2000;
    // A busy bus traces thousands of lines a second; the pane shows them at most this often.
    static constexpr int kShowEveryMs = 50;
    // "hh:mm:ss  " before each line of a stamped pane.
    static constexpr int kStampWidth = 10;
    explicit TLogPane(QWidget* parent = nullptr, bool stamped = true, int maxLines = kMaxLines);
    void AddLogLine(const QString& line);
    // The lines as the pane holds them, without their times, those still waiting to be shown included.
    QStringList Lines();
    void Clear();

  private:
    void Show();

    bool stamped_;
    int maxLines_;
    QStringList waiting_;  // at most maxLines_: older ones would scroll away unseen
    QTimer show_;
};

}  // namespace korva
