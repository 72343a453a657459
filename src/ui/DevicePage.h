#pragma once
// The "Device Manager" page: the device tree and the property panel of the selected object.

#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <QWidget>

#include "model/Kobjects.h"
#include "ui/Dialogs.h"

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace korva {

class Engine;
class TDeviceTable;

// Controls shown and hidden together.
class ControlGroup {
  public:
    void Add(QWidget* w) { controls_.push_back(w); }
    void Show();
    void Hide();

  private:
    std::vector<QWidget*> controls_;
};

// The page knows only its own controls: the switches of other pages reach it through its slots,
// and what it decides for controls elsewhere (the advanced group, the mode box) leaves as signals.
class TDevicePage : public QWidget {
    Q_OBJECT
  public:
    static constexpr std::uint8_t kNoSelection = 255;
    // The help text's height alone, and with the option and position boxes below it.
    static constexpr int kHelpFull = 89, kHelpShort = 57;
    // The property panel at the form's size, and the top of its option row.
    static constexpr int kPanelWidth = 320, kPanelHeight = 240, kOptionsTop = 216;

    TDevicePage(QWidget* parent, const UiDialogs& dialogs, Engine& engine);

    void BuildGroups();
    void AddRoot();
    // Opens the root and the line nodes; withLinks: the devices too, so their properties show.
    void OpenDevices(bool withLinks);

    void On_NewKorvaDevice(KDevice* device);
    void On_NewKorvaProperty(KDevice* device, KPropertyLink* link);
    void On_NewKFileLink(KDevice* device, KFileLink* link);

    void tvDevicesClick();
    void tvDevicesChange();
    void tvDevicesUpdate();
    void ShowPropBoxes();
    // The unit scheme changed: the tree's units and the panel are written again.
    void ShowUnits();
    void btGetValClick();
    void btSetValClick();
    void chkPollClick();
    void chkLogClick();
    // "Auto Get Properties On Click" and "Hide Advanced Settings" of the Utility page.
    void SetAutoGet(bool on) { autoGet_ = on; }
    void cbHideAdvancedClick(bool hidden) { showAdvanced = !hidden; }
    void btLoadFileClick();
    void btSaveFileClick();
    void btCancelFileClick();

    // The object behind a tree node, if any.
    KObject* ObjectOf(const QTreeWidgetItem* node) const;

    std::uint8_t selectedType = kNoSelection;
    KRemoteLink* selectedObject = nullptr;
    bool showAdvanced = false;

    QLabel* banner;
    QTreeWidget* tvDevices;
    QLabel* StName;
    QLineEdit* tbselected;
    QFrame* Bevel8;
    QLabel* stActVal;
    QLabel* lbActVal;
    QPushButton* btGetVal;
    QCheckBox* chkShowBin;
    QLabel* stSetVal;
    QLineEdit* tbSetVal;
    QPushButton* btSetVal;
    QCheckBox* chkPoll;
    QLabel* stStatus;
    QLineEdit* tbStatus;
    QLabel* lbInfo;
    QPlainTextEdit* memoHelp;
    QLabel* lbOptions;
    QLineEdit* tbOptions;
    QLineEdit* tbFilePos;
    QCheckBox* chkLog;
    // Every device, every property of the device, or the file's elements, for the node selected.
    TDeviceTable* deviceTable;

    // Selects the node of a link, its device opened first; false when the link has no node.
    bool SelectLink(const KRemoteLink& link);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  signals:
    // The advanced group: the mode box of the window and the device-file buttons of the Utility page.
    void advancedShown(bool shown);
    void modeText(const QString& text);

  private:
    // The file handle selected, of either index width, or nullptr.
    KFileLink* SelectedFile() const;
    bool ReadInteger(const QLineEdit* box, int& out);
    // The position box as an element to read (status, size and checksum included) or to write.
    bool ReadPosition(const KFileLink& file, bool write, int& out);
    // Help text height and option row position for the panel's height.
    void FitPanel();
    // The unit beside "New Value" and the range it takes.
    void ShowUnitHints(const KRemoteLink& link);
    QTreeWidgetItem* AddChild(QTreeWidgetItem* parent, const QString& text, KObject* object);
    // Where a device's node goes: the root, or once a device names a line other than COM1, the
    // node of its line (the devices before it move under "COM1").
    QTreeWidgetItem* ParentFor(const KDevice& device);
    QTreeWidgetItem* LineNode(const std::string& line);
    void LinkArrived(KDevice* device, KRemoteLink* link);
    // Gives a device node the nodes of its links, once.
    void Fill(QTreeWidgetItem* node);
    void AddLinkNode(QTreeWidgetItem* deviceNode, KRemoteLink* link);
    // The table follows the node: the root or a line overviews its devices.
    void ShowTable(QTreeWidgetItem* node, KObject* object);

    UiDialogs dialogs_;
    QWidget* panel_ = nullptr;
    bool autoGet_ = true;
    ControlGroup basic_;
    QTreeWidgetItem* root_ = nullptr;
    std::vector<QTreeWidgetItem*> lineNodes_;  // in line order; none while the plant has one line
    // The device's node is found directly, not by scanning the tree: start-up stays linear.
    std::unordered_map<const KDevice*, QTreeWidgetItem*> deviceNodes_;
    std::unordered_set<const KDevice*> filled_;  // device nodes that hold their links' nodes
    std::unordered_map<const QTreeWidgetItem*, KObject*> objects_;
    // The node the table overviews (null: none selected), and whether its device list is current.
    const QTreeWidgetItem* overviewNode_ = nullptr;
    bool overviewFresh_ = false;
};

}  // namespace korva
