#pragma once
// The log pane: the packet trace and the messages of the bus, the 17 newest lines.

#include <QPlainTextEdit>
#include <QStringList>
#include <QTimer>

namespace korva {

class TLogPane : public QPlainTextEdit {
    Q_OBJECT
  public:
    static constexpr int kMaxLines = 17;
    // A busy bus traces thousands of lines a second; the pane shows them at most this often.
    static constexpr int kShowEveryMs = 50;
    explicit TLogPane(QWidget* parent = nullptr);
    void AddLogLine(const QString& line);
    // The lines as the pane holds them, those still waiting to be shown included.
    QStringList Lines();
    void Clear();

  private:
    void Show();

    QStringList waiting_;  // at most kMaxLines: older ones would scroll away unseen
    QTimer show_;
};

}  // namespace korva
