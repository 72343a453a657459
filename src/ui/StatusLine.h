#pragma once
// The window's status bar: the serial line (name, device, speed, state), the relay and the
// traffic counters. It is told every change; it reads nothing itself.

#include <cstdint>
#include <vector>

#include <QStatusBar>

class QLabel;
class QPushButton;

namespace korva {

class TStatusLine : public QStatusBar {
    Q_OBJECT
  public:
    enum class Line { None, Open, Closed, Lost };
    struct Traffic {
        std::uint64_t sent = 0, replies = 0, errors = 0;
        bool operator==(const Traffic&) const = default;
    };

    struct LineField {
        QString name, path;
        int baud = 0;
        Line state = Line::None;
        Traffic traffic;
    };

    explicit TStatusLine(QWidget* parent = nullptr);

    void ShowLine(Line state, const QString& name, const QString& path, int baud);
    // A plant on several lines: a field for each line open or lost, with its own traffic, in place
    // of the one line's fields; while none is, what ShowLine says of no port.
    void ShowLines(const std::vector<LineField>& lines);
    void ShowRelay(const QString& state);
    void ShowTraffic(const Traffic& traffic);
    // While a log is written: its file and rows; an empty text hides the field.
    void ShowLogging(const QString& text);
    // A line whose adapter was pulled: "Lost COM1 — reconnect?" in red, a click reopens it; an empty
    // name hides it.
    void ShowLost(const QString& name);

    QLabel* lbPort;
    QLabel* lbSpeed;
    QLabel* lbState;
    QLabel* lbRelay;
    QLabel* lbTraffic;
    QLabel* lbLog;
    QPushButton* btReconnect;

  signals:
    void reconnectClicked();

  private:
    Traffic shown_{~0ull, 0, 0};  // forces the first update
    std::vector<QLabel*> lineFields_;
};

}  // namespace korva
