#pragma once
// The window's CSV log: every property gets its column while the configuration loads, the log
// interval is the engine's poll period.

#include <functional>
#include <memory>
#include <string>

#include <QString>

#include "protocol/Engine.h"
#include "sequence/Util.h"
#include "ui/Dialogs.h"

namespace korva {

class Logging {
  public:
    Logging(Engine& engine, const UiDialogs& dialogs) : engine_(engine), dialogs_(dialogs) {}

    // Makes the log and hooks it into the engine and the model, before the configuration loads;
    // writeFailed hears the line of a write that stopped the log.
    void Start(std::function<void(const std::string&)> writeFailed);
    // nullptr until the start.
    LogFile* File() { return file_.get(); }
    // The interval as the divider period; false, with the box's error shown, when it is no period.
    bool ApplyInterval(const QString& text);
    // What the status bar says of the log: its file and rows while it runs, nothing otherwise.
    QString StatusText() const;

  private:
    Engine& engine_;
    const UiDialogs& dialogs_;
    std::unique_ptr<LogFile> file_;
};

}  // namespace korva
