#pragma once
// The serial ports of a plant, one per line. A plant whose devices all stand on COM1 has
// one port, which every "Open Com n" switches over to COMn; once a device names another line, each
// line has a port of its own and "Open Com n" opens line COMn's without closing the others.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "protocol/Comms.h"
#include "transport/ComPortCommands.h"
#include "transport/Serialng.h"

namespace korva {

class LinePorts {
  public:
    struct Port {
        std::string name;  // the line, "COM2"
        std::unique_ptr<TSerialPortNG> serial;
        std::unique_ptr<ComPortCommands> coms;
        bool everOpened = false;
    };

    LinePorts(Engine& engine, CommsHost& log, std::string workDir, TSerialPortNG::Poster post);
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

    // A line whose port was pulled or hung up and is not open again.
    bool AnyLost() const;
    // Runs after every change of a line.
    std::function<void()> lineChanged;

  private:
    Port& Make(const std::string& name);
    Port* Named(const std::string& name) const;
    Engine& engine_;
    CommsHost& log_;
    std::string workDir_;
    TSerialPortNG::Poster post_;
    std::vector<std::unique_ptr<Port>> ports_;  // in line order
    bool several_ = false;
};

}  // namespace korva
