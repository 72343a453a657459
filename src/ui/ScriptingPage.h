#pragma once
// The "Scripting" page: the test tree, the sequence file box and the state of the running test.

#include <unordered_map>

#include <QWidget>

#include "sequence/Util.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace korva {

// The page shows the sequence store, drawn from the store's events: the test tree, whose items
// carry the numbers the store gave them, and the status boxes.
class TScriptingPage : public QWidget {
    Q_OBJECT
  public:
    explicit TScriptingPage(QWidget* parent = nullptr);

    void ResetTree(const QString& rootText);
    void AddNodeItem(ItemId id, const QString& text);
    void AddActionItem(ItemId nodeId, ItemId id, const QString& label);
    void SelectItem(ItemId id);
    void CollapseSelected();
    void ShowNode(const QString& itemText, const QString& status);
    void ShowAction(const QString& label, const QString& status, const QString& actualValue);
    void ShowResult(ItemId id, std::uint8_t result);

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
    QPushButton* btRemoveTS;
    QPushButton* btClearAllTS;

  signals:
    // The operator clicked the item of this node or action.
    void itemChosen(korva::ItemId id);

  private:
    std::unordered_map<ItemId, QTreeWidgetItem*> items_;
};

}  // namespace korva
