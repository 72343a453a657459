#pragma once
// Where the core meets the window: the one object that implements the interfaces the core
// declares. Events become signals that the pages and the main window listen to; what needs an
// answer at once (a modal dialog, opening a port) is asked of the dialogs and the serial commands
// it is given.

#include <string>

#include <QObject>
#include <QString>

#include "model/ConfigLoader.h"
#include "protocol/Comms.h"
#include "sequence/Util.h"
#include "ui/Dialogs.h"

namespace korva {

class LinePorts;

class CoreBridge : public QObject,
                   public CommsHost,
                   public LoaderHost,
                   public RunnerHost,
                   public ModelListener,
                   public SequenceView {
    Q_OBJECT
  public:
    CoreBridge(const UiDialogs& dialogs, QObject* parent = nullptr);

    void SetComPorts(LinePorts* ports) { ports_ = ports; }
    // A failed load asked to end: every message was shown first, the program ends once loading is over.
    bool EndRequested() const { return endRequested_; }
    // Bus errors logged so far: the log's lines in angle brackets (checksum, length, type).
    std::uint64_t BusErrors() const { return busErrors_; }

    // CommsHost
    void AddLogLine(const std::string& line) override;
    void AddPacketLine(const std::string& line) override { emit packetLine(QString::fromStdString(line)); }
    void RefreshDeviceTree() override { emit deviceTreeChanged(); }
    void RequestClose() override { emit closeRequested(); }
    // LoaderHost
    void ShowMessage(const std::string& text) override;
    void ShowFailure(const std::string& message, const std::string& detail) override;
    void RequestEnd() override { endRequested_ = true; }
    // RunnerHost
    bool Confirm(const std::string& text) override;
    void Message(const std::string& text) override { ShowMessage(text); }
    bool AskYesNo(const std::string& text) override;
    void StopTimer() override { emit tickingChanged(false); }
    void StartTimer() override { emit tickingChanged(true); }
    int OpenComPort(int n) override;
    // ModelListener
    void On_NewKorvaDevice(KDevice& device) override { emit deviceAdded(&device); }
    void On_NewKorvaProperty(KDevice& device, KPropertyLink& link) override {
        emit propertyAdded(&device, &link);
    }
    void On_NewKFileLink(KDevice& device, KFileLink& link) override { emit fileLinkAdded(&device, &link); }
    // SequenceView
    void ResetTree(const std::string& rootText) override { emit treeReset(QString::fromStdString(rootText)); }
    void AddNodeItem(ItemId id, const std::string& text) override;
    void AddActionItem(ItemId nodeId, ItemId id, const std::string& label) override;
    void SelectItem(ItemId id) override { emit itemSelected(id); }
    void CollapseSelected() override { emit selectedCollapsed(); }
    void ShowNode(const std::string& itemText, const std::string& status) override;
    void ShowAction(const std::string& label, const std::string& status,
                    const std::string& actualValue) override;
    void ShowResult(ItemId id, std::uint8_t result) override { emit resultShown(id, result); }
    void ShowRunning(ItemId id, const std::string& text) override {
        emit runningShown(id, QString::fromStdString(text));
    }

  signals:
    void logLine(const QString& line);
    void packetLine(const QString& line);
    void deviceTreeChanged();
    void closeRequested();
    void tickingChanged(bool on);
    void deviceAdded(korva::KDevice* device);
    void propertyAdded(korva::KDevice* device, korva::KPropertyLink* link);
    void fileLinkAdded(korva::KDevice* device, korva::KFileLink* link);
    void treeReset(const QString& rootText);
    void nodeItemAdded(korva::ItemId id, const QString& text);
    void actionItemAdded(korva::ItemId nodeId, korva::ItemId id, const QString& label);
    void itemSelected(korva::ItemId id);
    void selectedCollapsed();
    void nodeShown(const QString& text, const QString& status);
    void actionShown(const QString& label, const QString& status, const QString& actualValue);
    void resultShown(korva::ItemId id, std::uint8_t result);
    void runningShown(korva::ItemId id, const QString& text);

  private:
    UiDialogs dialogs_;
    LinePorts* ports_ = nullptr;
    bool endRequested_ = false;
    std::uint64_t busErrors_ = 0;
};

}  // namespace korva
