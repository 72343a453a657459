#pragma once
// The main window for widget tests: a plant of its own in a temporary folder, every dialog
// recorded, ticks given by hand, and a device emulation answering on its serial line.

#include <QAction>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sim/BusEmulator.h"
#include "support/FakePort.h"
#include "support/TempDir.h"
#include "ui/KorvaConfigMain.h"
#include "xml/SafeFile.h"

namespace korva::test {

class Window {
public:
    // Paths below the folder and their contents, written before the window starts.
    using Files = std::vector<std::pair<std::string, std::string>>;

    // The window's settings live in Qt's test folder, emptied first unless kept from the window before.
    explicit Window(const Files& files, bool start = true, bool keepSettings = false) {
        QStandardPaths::setTestModeEnabled(true);
        if (!keepSettings) QSettings(TForm1::kSettingsOwner, TForm1::kSettingsName).clear();
        for (const auto& [path, text] : files) dir.Write(path, text);
        dialogs.message = [this](const QString& t) {
            messages << t;
            if (onMessage) onMessage();
        };
        dialogs.error = [this](const QString& t) { errors << t; };
        dialogs.confirm = [this](const QString& t) {
            messages << "confirm: " + t;
            return confirmAnswer;
        };
        dialogs.question = [this](const QString& t) {
            questions << t;
            return yes;
        };
        dialogs.alert = [this](const QString& text, const QString& caption) { alerts << caption + "|" + text; };
        dialogs.openSequence = [this] { return chosenFile; };
        dialogs.saveFile = [this](const QString&, const QString&, const QString&) { return savedFile; };
        dialogs.requestEnd = [this] { ++endRequests; };
        dialogs.runDialog = [this](QDialog& d) { return onDialog && onDialog(d); };
        line.sink = [this](const std::string& text) { emu.Feed(text); };
        form = std::make_unique<TForm1>(dir.Path(), WindowWiring{&dialogs, &line, true});
        if (start) form->FormActivate();
    }

    // A plant's paths, constants and plant files as found in its folder.
    static Files PlantOf(const std::string& folder) {
        Files files;
        for (const char* name : {"config/paths.xml", "config/constants.xml", "config/plant.xml"})
            files.emplace_back(name, ReadRegularFile(folder + "/" + name));
        return files;
    }

    // A menu item as the operator reads it: without its mnemonic marks.
    static QString Caption(const QAction* a) {
        QString out;
        const QString t = a->text();
        for (qsizetype i = 0; i < t.size(); ++i) {
            if (t[i] == '&' && i + 1 < t.size()) ++i;
            out += t[i];
        }
        return out;
    }

    // One communications tick, then the devices' answers reach the window.
    void Tick(int n = 1) {
        for (int i = 0; i < n; ++i) {
            form->OnTimComs();
            emu.Tick();
            for (const std::string& piece : emu.TakeOutput()) form->comms().TakeCluster(piece);
        }
    }

    TempDir dir;
    UiDialogs dialogs;
    sim::BusEmulator emu;
    FakePort line{BusPort::Hold::Master};
    QStringList messages, errors, questions, alerts;
    int endRequests = 0;
    bool confirmAnswer = true, yes = false;
    QString chosenFile, savedFile;
    std::function<void()> onMessage;  // what happens while a message box is open
    std::function<bool(QDialog&)> onDialog;  // fills a dialog the window runs; true accepts it
    std::unique_ptr<TForm1> form;
};

}  // namespace korva::test
