#pragma once
// The "Scripting" page: the test tree, the sequence file box and the state of the running test; it
// owns the sequence store, runs its nodes and fills the "Tools" menu with the nodes the folders name.

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <QWidget>

#include "sequence/Util.h"
#include "ui/Dialogs.h"

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace korva {

// The "Tools" menu: the entries of the configuration folders' nodes go on top, stopping stays at the bottom.
struct ToolsMenu {
    QMenu* tools = nullptr;
    QMenu* standard = nullptr;
    QMenu* custom = nullptr;
    QAction* stop = nullptr;  // offered while a node runs
};

// The page shows the sequence store, drawn from the store's events: the test tree, whose items
// carry the numbers the store gave them, and the status boxes.
class TScriptingPage : public QWidget {
    Q_OBJECT
  public:
    // workDir is the folder that holds config/; relative sequence files are found from there.
    TScriptingPage(const UiDialogs& dialogs, std::string workDir, QWidget* parent = nullptr);
    ~TScriptingPage() override;

    // Adds the "Tools" menu to the bar; its entries follow the store.
    ToolsMenu BuildToolsMenu(QMenuBar& bar);
    // The store the page acts on, from the start on; it outlives the page.
    void UseSequences(TestSequence& sequences) { sequences_ = &sequences; }
    TestSequence* Sequences() { return sequences_; }

    // "..." beside the file box: choose a file, then load the file the box names.
    void btOpenSequenceClick();
    void btRunTestNodeClick();
    void btStopTestNodeClick();
    void btClearAllTSClick();
    // Loads the three configuration folders and rebuilds the menu entries they give.
    void ReloadSequences();
    // Stop is offered while a node runs.
    void UpdateRunControls();

    void ResetTree(const QString& rootText);
    void AddNodeItem(ItemId id, const QString& text);
    void AddActionItem(ItemId nodeId, ItemId id, const QString& label);
    void SelectItem(ItemId id);
    void CollapseSelected();
    void ShowNode(const QString& itemText, const QString& status);
    void ShowAction(const QString& label, const QString& status, const QString& actualValue);
    void ShowResult(ItemId id, std::uint8_t result);
    void ShowRunning(ItemId id, const QString& text);

    QTreeWidget* tvTest;
    QLineEdit* tbTSFilename;
    QPushButton* btOpenSequence;
    QLabel* StaticText73;
    QLineEdit* tbActiveTestNode;
    QLabel* StaticText75;
    QLineEdit* tbTestNodeStatus;
    QPushButton* btRunTestNode;
    QPushButton* btStopTestNode;
    QLabel* StaticText74;
    QLineEdit* tbActiveTestAction;
    QLabel* StaticText76;
    QLineEdit* tbTestActionStatus;
    QLabel* StaticText77;
    QLineEdit* tbTestActionActVal;
    QLabel* lbDut;
    QLineEdit* tbDut;
    QPushButton* btRemoveTS;
    QPushButton* btClearAllTS;

  protected:
    // The tree takes the room the page gains; the boxes beside it keep their order to its right.
    void resizeEvent(QResizeEvent* event) override;

  signals:
    // The operator clicked the item of this node or action.
    void itemChosen(korva::ItemId id);

  private:
    void AddMenuEntries(QMenu* menu, const std::vector<std::string>& names);

    const UiDialogs& dialogs_;
    std::string workDir_;
    TestSequence* sequences_ = nullptr;
    ToolsMenu menu_;
    std::vector<QAction*> generatedEntries_;
    bool runControlsRunning_ = true;  // forces the first update
    std::unordered_map<ItemId, QTreeWidgetItem*> items_;
    std::vector<std::pair<QWidget*, QPoint>>
        besideTree_;  // the controls right of the tree, at the form's places
};

}  // namespace korva
