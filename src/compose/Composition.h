#pragma once
// What the window and korvarun are built from, wired to each other in one place: the engine with a
// serial port per line, the configuration's loader, the sequence store and its runner, and the CSV
// log whose columns the properties get while the configuration loads.

#include <memory>
#include <string>

#include "compose/LinePorts.h"
#include "model/ConfigLoader.h"
#include "protocol/Engine.h"
#include "sequence/LogFile.h"
#include "sequence/TestSequence.h"

namespace korva {

// Who hears the parts: the bus's and the ports' lines, the loader's messages, the runner's
// dialogs and the test tree; post carries a serial port's clusters to the thread that ticks.
struct CompositionHosts {
    CommsHost& comms;
    LoaderHost& loader;
    RunnerHost& runner;
    SequenceView& view;
    TSerialPortNG::Poster post;
};

class Composition {
  public:
    // workDir is the folder that holds config/.
    Composition(const std::string& workDir, CompositionHosts hosts);
    ~Composition();
    Composition(const Composition&) = delete;
    Composition& operator=(const Composition&) = delete;

    Engine& engine() { return engine_; }
    LinePorts& ports() { return ports_; }
    ConfigLoader& loader() { return loader_; }
    TestSequence& sequences() { return *sequences_; }
    LogFile& log() { return *log_; }

  private:
    Engine engine_;
    LinePorts ports_;  // after the engine: its workers stop before the buses go
    ConfigLoader loader_;
    // After the engine: the log and the runner go before the model whose properties own the log's
    // columns and whose links the runner points at.
    std::unique_ptr<LogFile> log_;
    std::unique_ptr<TestSequence> sequences_;
};

}  // namespace korva
