#pragma once
// The main window for widget tests: a plant of its own in a temporary folder, every dialog
// recorded, ticks given by hand, and a device emulation answering on its serial line. The window's
// parts the tests reach come with it.

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QStringList>
#include <QTreeWidget>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "sim/BusEmulator.h"
#include "support/FakePort.h"
#include "support/TempDir.h"
#include "ui/DevicePage.h"
#include "ui/DeviceTable.h"
#include "ui/KorvaConfigMain.h"
#include "ui/LogPane.h"
#include "ui/ScriptingPage.h"
#include "ui/StatusLine.h"
#include "ui/UtilityPage.h"
#include "xml/SafeFile.h"

namespace korva::test {

class Window {
  public:
    // Paths below the folder and their contents, written before the window starts.
    using Files = std::vector<std::pair<std::string, std::string>>;

    // The window's settings live in a folder of this test program's own, so that programs run side
    // by side never share them; emptied first unless kept from the window before.
    explicit Window(const Files& files, bool start = true, bool keepSettings = false) {
        static const TempDir settingsDir;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(settingsDir.Path()));
        if (!keepSettings) QSettings(TForm1::kSettingsOwner, TForm1::kSettingsName).clear();
        for (const auto& [path, text] : files) dir.Write(path, text);
        dialogs.message = [this](const QString& t) {
            messages << t;
            if (onMessage) onMessage();
        };
        dialogs.error = [this](const QString& t) { errors << t; };
        dialogs.confirm = [this](const QString& t) {
            messages << "confirm: " + t;
            return true;
        };
        dialogs.question = [this](const QString& t) {
            questions << t;
            return yes;
        };
        dialogs.alert = [this](const QString& text, const QString& caption) {
            alerts << caption + "|" + text;
        };
        dialogs.openSequence = [this] { return chosenFile; };
        dialogs.saveFile = [this](const QString&, const QString&, const QString&) { return savedFile; };
        dialogs.openFile = [this](const QString&, const QString&) { return openedFile; };
        dialogs.requestEnd = [this] { ++endRequests; };
        dialogs.runDialog = [this](QDialog& d) { return onDialog && onDialog(d); };
        line.sink = [this](const std::string& text) { emu.Feed(text); };
        form = std::make_unique<TForm1>(dir.Path(), WindowWiring{&dialogs, &line, true});
        if (start) form->FormActivate();
    }

    // A plant's paths, constants and plant files as found in its folder.
    static Files PlantOf(const std::string& folder) {
        Files files;
        for (const char* name :
             {"config/paths.xml", "config/constants.xml", "config/units.xml", "config/plant.xml"})
            files.emplace_back(name, ReadRegularFile(folder + "/" + name));
        return files;
    }

    // A small plant: a pump with a word, a byte, an option, an advanced word, a file on an 8-bit and one
    // on a 16-bit index, and a fan with nothing on it.
    static Files SmallPlant() {
        return {
            {"config/paths.xml",
             "<p><constantspath>config/c.xml</constantspath><configpath>config/plant.xml</configpath></p>"},
            {"config/c.xml",
             "<c><s Word=\"0\" Byte=\"1\" Opt=\"3\" File8=\"4\" File16=\"5\" SPEED=\"5\" MODE=\"6\" "
             "LIMIT=\"7\" HIDDEN=\"8\" CURVE=\"40\" LOG=\"41\"/></c>"},
            {"config/plant.xml",
             "<plant><KDevice Name=\"Pump\" Address=\"35\">"
             "<KProperty Name=\"Speed\" Type=\"Word\" Code=\"SPEED\"><Helptext>Shaft speed\nin rpm</Helptext>"
             "</KProperty><KProperty Name=\"Mode\" Type=\"Byte\" Code=\"MODE\"/>"
             "<KProperty Name=\"Limit\" Type=\"Opt\" Code=\"LIMIT\"/>"
             "<KProperty Name=\"Secret\" Type=\"Word\" Code=\"HIDDEN\"><Display "
             "Level=\"Advanced\"/></KProperty>"
             "<KFileHandle Name=\"Curve\" Type=\"File8\" Code=\"CURVE\" Length=\"3\"/>"
             "<KFileHandle Name=\"Log\" Type=\"File16\" Code=\"LOG\" Length=\"4\"/>"
             "</KDevice><KDevice Name=\"Fan\" Address=\"42\"/></plant>"}};
    }

    // The small plant's pump on the line: speed -32768, mode 200, limit 0x1234 with option 2, the
    // curve 1 2 3 and the log 7 8 9 10.
    sim::SimDevice& EmulatePump() {
        sim::SimDevice& pump = emu.AddDevice("Pump", 35);
        pump.properties.push_back({"Speed", 0, 5, 0x8000, 0});
        pump.properties.push_back({"Mode", 1, 6, 0, 200});
        pump.properties.push_back({"Limit", 3, 7, 0x1234, 2});
        pump.files.push_back({"Curve", 4, 40, 0, {1, 2, 3}});
        pump.files.push_back({"Log", 5, 41, 0, {7, 8, 9, 10}});
        return pump;
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

    // The menu item with this caption, wherever it stands; null when there is none.
    QAction* Menu(const QString& caption) const {
        for (QAction* a : form->findChildren<QAction*>())
            if (Caption(a) == caption) return a;
        return nullptr;
    }

    static QStringList Captions(const QMenu* menu) {
        QStringList out;
        for (const QAction* a : menu->actions()) out << Caption(a);
        return out;
    }

    TDevicePage& Page() const { return *form->devicePage; }

    // A node of the device tree by its captions below the root, joined by "/"; null when there is none.
    // A property's node is found by its name; the unit that follows it is left out of the path.
    QTreeWidgetItem* Node(const QString& path) const {
        QTreeWidgetItem* node = Page().tvDevices->topLevelItem(0);
        for (const QString& part : path.split('/', Qt::SkipEmptyParts)) {
            QTreeWidgetItem* next = nullptr;
            for (int i = 0; node && i < node->childCount() && !next; ++i)
                if (const QString text = node->child(i)->text(0);
                    text == part || text.startsWith(part + " ["))
                    next = node->child(i);
            node = next;
        }
        return node;
    }

    // The operator clicks a node: the tree's change handler, then the click.
    QTreeWidgetItem* Click(const QString& path) {
        QTreeWidgetItem* node = Node(path);
        if (node == nullptr) throw std::invalid_argument("no node " + path.toStdString());
        Page().tvDevices->setCurrentItem(node);
        Page().tvDevicesClick();
        return node;
    }

    // One communications tick, then the devices' answers reach the window.
    void Tick(int n = 1) {
        for (int i = 0; i < n; ++i) {
            form->OnTimComs();
            emu.Tick();
            for (const std::string& piece : emu.TakeOutput()) form->engine().Line().TakeCluster(piece);
        }
    }

    TempDir dir;
    UiDialogs dialogs;
    sim::BusEmulator emu;
    FakePort line{BusPort::Hold::Master};
    QStringList messages, errors, questions, alerts;
    int endRequests = 0;
    bool yes = false;
    QString chosenFile, savedFile, openedFile;
    std::function<void()> onMessage;         // what happens while a message box is open
    std::function<bool(QDialog&)> onDialog;  // fills a dialog the window runs; true accepts it
    std::unique_ptr<TForm1> form;
};

// A widget test's window, made anew by each test function that starts it.
struct WindowFixture {
    void Start(const Window::Files& files = Window::SmallPlant(), bool start = true,
               bool keepSettings = false) {
        win.reset();  // the window before keeps its settings first
        win = std::make_unique<Window>(files, start, keepSettings);
        form = win->form.get();
    }

    std::unique_ptr<Window> win;
    TForm1* form = nullptr;
};

}  // namespace korva::test
