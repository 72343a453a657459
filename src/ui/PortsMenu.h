#pragma once
// What the window shows of the lines' ports: the Coms menu's "Close Com n" entries and the status
// bar's fields.

#include <array>
#include <cstdint>
#include <functional>

#include "compose/LinePorts.h"

class QAction;
class QMenu;
class QObject;

namespace korva {

class TStatusLine;

class PortsMenu {
  public:
    // The bus errors logged so far, all lines together: what a plant on one line shows. A plant on
    // several shows each line's own count, kept by its bus.
    using ErrorCount = std::function<std::uint64_t()>;

    PortsMenu(LinePorts& ports, Engine& engine, ErrorCount errors);

    // "Close Com n" after `common` ("Close Com Port") for each open line of a plant on several lines;
    // `common` only for a plant on one line.
    void AddCloseEntries(QMenu& coms, QAction* common, QObject* context, std::function<void(int)> close);
    // The entries follow the lines: after the plant loaded, and after every change of a line.
    void ShowCloseEntries();
    // The line's state and the traffic, on one line as they always were, or one field per line.
    void ShowLines(TStatusLine& status);
    void ShowTraffic(TStatusLine& status);

  private:
    LinePorts& ports_;
    Engine& engine_;
    ErrorCount errorsSoFar_;
    QMenu* menu_ = nullptr;
    QAction* common_ = nullptr;
    QAction* follower_ = nullptr;  // what stood after "Close Com Port"
    QObject* context_ = nullptr;
    std::function<void(int)> close_;
    std::array<QAction*, 6> closeEntries_{};  // "Close Com n", shown while line n is open
};

}  // namespace korva
