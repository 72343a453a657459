#pragma once
// The "Scripting" page: the test tree, the sequence file box and the state of the running test.

#include <QWidget>

#include "sequence/Util.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace korva {

// The page is the sequence store's view: the tree and the status boxes.
class TScriptingPage : public QWidget, public SequenceView {
    Q_OBJECT
public:
    explicit TScriptingPage(QWidget* parent = nullptr);

    void ResetTree(const std::string& rootText) override;
    TreeItem AddNodeItem(const std::string& text, _TestNode& node) override;
    TreeItem AddActionItem(TreeItem nodeItem, const std::string& label, TestAction& action) override;
    void SelectItem(TreeItem item) override;
    void CollapseSelected() override;
    void ShowNode(const std::string& itemText, const std::string& status) override;
    void ShowAction(const std::string& label, const std::string& status, const std::string& actualValue) override;
    void ShowResult(TreeItem item, std::uint8_t result) override;

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
};

}  // namespace korva
