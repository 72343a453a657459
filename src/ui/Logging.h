#pragma once
// The window's side of the CSV log: its alerts, the interval typed as the engine's poll period,
// and what the status bar says of it.

#include <functional>
#include <string>

#include <QString>

#include "protocol/Engine.h"
#include "sequence/Util.h"
#include "ui/Dialogs.h"

namespace korva {

class Logging {
  public:
    Logging(Engine& engine, LogFile& file, const UiDialogs& dialogs)
        : engine_(engine), dialogs_(dialogs), file_(file) {}

    // The log's alerts become boxes; writeFailed hears the line of a write that stopped the log.
    void Start(std::function<void(const std::string&)> writeFailed);
    LogFile* File() { return &file_; }
    // The interval as the divider period; false, with the box's error shown, when it is no period.
    bool ApplyInterval(const QString& text);
    // What the status bar says of the log: its file and rows while it runs, nothing otherwise.
    QString StatusText() const;
    // The shortest interval in which the line can read every logged property once: a request and
    // its reply each, ten bits a byte, at the line's speed. 0 when nothing is logged.
    double ShortestInterval() const;

    // The speed of the line the logged properties are read on.
    std::function<int()> lineBaud;

  private:
    Engine& engine_;
    const UiDialogs& dialogs_;
    LogFile& file_;
};

}  // namespace korva
