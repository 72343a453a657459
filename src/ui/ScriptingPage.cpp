#include "ui/ScriptingPage.h"

#include <QHeaderView>
#include <QTreeWidget>

#include "model/Enums.h"

#include "ui/Widgets.h"

namespace korva {

TScriptingPage::TScriptingPage(QWidget* parent) : QWidget(parent) {
    setObjectName("tsTrial");
    tvTest = Place(new QTreeWidget(this), "tvTest", 0, 16, 289, 233);
    tvTest->setHeaderHidden(true);
    tvTest->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The second column carries the last result of each node and action.
    tvTest->setColumnCount(2);
    tvTest->header()->setStretchLastSection(false);
    tvTest->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    tvTest->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    tbTSFilename = MakeEdit(this, "tbTSFilename", ".kts", 296, 16, 201);
    btOpenSequence = MakeButton(this, "btOpenSequence", "...", 504, 16, 33, 21);
    // The status boxes are wide enough for the longest result, "UNTESTED".
    StaticText73 = MakeLabel(this, "StaticText73", "Current Test Node", 296, 56);
    tbActiveTestNode = MakeEdit(this, "tbActiveTestNode", "", 296, 72, 157);
    StaticText75 = MakeLabel(this, "StaticText75", "Status", 460, 56);
    tbTestNodeStatus = MakeEdit(this, "tbTestNodeStatus", "", 460, 72, 72);
    btRunTestNode = MakeButton(this, "btRunTestNode", "Run Test Node", 536, 70, 81, 25);
    btStopTestNode = MakeButton(this, "btStopTestNode", "Stop", 536, 100, 81, 25);
    StaticText74 = MakeLabel(this, "StaticText74", "Current Test Action", 296, 112);
    tbActiveTestAction = MakeEdit(this, "tbActiveTestAction", "", 296, 128, 157);
    StaticText76 = MakeLabel(this, "StaticText76", "Status", 460, 112);
    tbTestActionStatus = MakeEdit(this, "tbTestActionStatus", "", 460, 128, 72);
    StaticText77 = MakeLabel(this, "StaticText77", "Actual Value", 460, 160);
    tbTestActionActVal = MakeEdit(this, "tbTestActionActVal", "", 460, 176, 72);
    btRemoveTS = MakeButton(this, "btRemoveTS", "Remove Sequence", 432, 216, 105, 25);
    btClearAllTS = MakeButton(this, "btClearAllTS", "Clear All", 544, 216, 75, 25);
}

void TScriptingPage::ResetTree(const std::string& rootText) {
    tvTest->clear();
    new QTreeWidgetItem(tvTest, QStringList{QString::fromStdString(rootText)});
}

TreeItem TScriptingPage::AddNodeItem(const std::string& text, _TestNode&) {
    auto* item = new QTreeWidgetItem(tvTest->topLevelItem(0), QStringList{QString::fromStdString(text)});
    return item;
}

TreeItem TScriptingPage::AddActionItem(TreeItem nodeItem, const std::string& label, TestAction&) {
    auto* parent = static_cast<QTreeWidgetItem*>(nodeItem);
    return new QTreeWidgetItem(parent, QStringList{QString::fromStdString(label)});
}

void TScriptingPage::SelectItem(TreeItem item) {
    if (item != nullptr) tvTest->setCurrentItem(static_cast<QTreeWidgetItem*>(item));
}

void TScriptingPage::CollapseSelected() {
    if (QTreeWidgetItem* item = tvTest->currentItem()) tvTest->collapseItem(item);
}

void TScriptingPage::ShowNode(const std::string& itemText, const std::string& status) {
    tbActiveTestNode->setText(QString::fromStdString(itemText));
    tbTestNodeStatus->setText(QString::fromStdString(status));
}

void TScriptingPage::ShowAction(const std::string& label, const std::string& status, const std::string& actualValue) {
    tbActiveTestAction->setText(QString::fromStdString(label));
    tbTestActionStatus->setText(QString::fromStdString(status));
    tbTestActionActVal->setText(QString::fromStdString(actualValue));
}

}  // namespace korva

namespace korva {

void TScriptingPage::ShowResult(TreeItem item, std::uint8_t result) {
    auto* it = static_cast<QTreeWidgetItem*>(item);
    if (it == nullptr) return;
    // Colour helps the eye; the word says it for everyone.
    static const QColor colours[] = {QColor(96, 96, 96), QColor(200, 0, 0), QColor(190, 90, 0), QColor(0, 128, 0)};
    it->setText(1, result == TestState::UNTESTED ? QString() : QString::fromStdString(TestStateName(result)));
    it->setForeground(1, result < 4 ? colours[result] : QColor(Qt::black));
    QFont bold = it->font(1);
    bold.setBold(result == TestState::FAILED || result == TestState::ERROR);
    it->setFont(1, bold);
}

}  // namespace korva
