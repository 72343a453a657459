#pragma once
// The window's serial ports, one per line of the plant. A plant whose devices all stand on COM1 has
// one port, which every "Open Com n" switches over to COMn; once a device names another line, each
// line has a port of its own and "Open Com n" opens line COMn's without closing the others.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "protocol/Comms.h"
#include "transport/ComPortCommands.h"
#include "transport/Serialng.h"

class QAction;
class QMenu;
class QObject;

namespace korva {

class TStatusLine;

class LinePorts {
  public:
    // The bus errors logged so far, all lines together: what a plant on one line shows. A plant on
    // several shows each line's own count, kept by its bus.
    using ErrorCount = std::function<std::uint64_t()>;

    struct Port {
        std::string name;  // the line, "COM2"
        std::unique_ptr<TSerialPortNG> serial;
        std::unique_ptr<ComPortCommands> coms;
        bool everOpened = false;
    };

    LinePorts(Engine& engine, CommsHost& log, std::string workDir, TSerialPortNG::Poster post,
              ErrorCount errors);
    ~LinePorts();
    LinePorts(const LinePorts&) = delete;
    LinePorts& operator=(const LinePorts&) = delete;

    // After the configuration loaded: a port for every line its devices name.
    void TakePlant();
    bool Several() const { return several_; }
    // COM1's port, which is the only one of a plant on one line.
    Port& First() { return *ports_.front(); }
    const std::vector<std::unique_ptr<Port>>& All() const { return ports_; }
    // The port that carries line COMn: COM1's one for a plant on one line; nullptr when none was made.
    Port* Find(int n) const;

    // "Open Com n"; the commands that tried, whose LastFailure() says why it failed.
    ComPortCommands& Open(int n);
    void Close(int n);
    // The runner's "opencom n": n when line n's port is open on COMn now, 0 otherwise.
    int OpenForRunner(int n);
    // A new speed for every line whose port number is set; false when the text is no integer.
    bool ChangeBaudRate(const std::string& text);

    // "Close Com n" after `common` ("Close Com Port") for each open line of a plant on several lines;
    // `common` only for a plant on one line.
    void AddCloseEntries(QMenu& coms, QAction* common, QObject* context, std::function<void(int)> close);
    // The line's state and the traffic, on one line as they always were, or one field per line.
    void ShowLines(TStatusLine& status);
    void ShowTraffic(TStatusLine& status);

    // Runs after every change of a line, after the menu and the status have followed.
    std::function<void()> lineChanged;

  private:
    Port& Make(const std::string& name);
    Port* Named(const std::string& name) const;
    void Changed();
    void ShowCloseEntries();

    Engine& engine_;
    CommsHost& log_;
    std::string workDir_;
    TSerialPortNG::Poster post_;
    ErrorCount errorsSoFar_;
    std::vector<std::unique_ptr<Port>> ports_;  // in line order
    QMenu* menu_ = nullptr;
    QAction* common_ = nullptr;
    QAction* follower_ = nullptr;  // what stood after "Close Com Port"
    QObject* context_ = nullptr;
    std::function<void(int)> close_;
    std::array<QAction*, 6> closeEntries_{};  // "Close Com n", shown while line n is open
    bool several_ = false;
};

}  // namespace korva
