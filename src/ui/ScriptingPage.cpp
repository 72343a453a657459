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
    connect(tvTest, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) {
        for (const auto& [id, known] : items_)
            if (known == item) emit itemChosen(id);
    });
}

void TScriptingPage::ResetTree(const QString& rootText) {
    items_.clear();
    tvTest->clear();
    new QTreeWidgetItem(tvTest, QStringList{rootText});
}

void TScriptingPage::AddNodeItem(ItemId id, const QString& text) {
    items_[id] = new QTreeWidgetItem(tvTest->topLevelItem(0), QStringList{text});
}

void TScriptingPage::AddActionItem(ItemId nodeId, ItemId id, const QString& label) {
    const auto parent = items_.find(nodeId);
    if (parent != items_.end()) items_[id] = new QTreeWidgetItem(parent->second, QStringList{label});
}

void TScriptingPage::SelectItem(ItemId id) {
    if (const auto it = items_.find(id); it != items_.end()) tvTest->setCurrentItem(it->second);
}

void TScriptingPage::CollapseSelected() {
    if (QTreeWidgetItem* item = tvTest->currentItem()) tvTest->collapseItem(item);
}

void TScriptingPage::ShowNode(const QString& itemText, const QString& status) {
    tbActiveTestNode->setText(itemText);
    tbTestNodeStatus->setText(status);
}

void TScriptingPage::ShowAction(const QString& label, const QString& status, const QString& actualValue) {
    tbActiveTestAction->setText(label);
    tbTestActionStatus->setText(status);
    tbTestActionActVal->setText(actualValue);
}

void TScriptingPage::ShowResult(ItemId id, std::uint8_t result) {
    const auto found = items_.find(id);
    if (found == items_.end()) return;
    QTreeWidgetItem* it = found->second;
    // Colour helps the eye; the word says it for everyone.
    static const QColor colours[] = {QColor(96, 96, 96), QColor(200, 0, 0), QColor(190, 90, 0),
                                     QColor(0, 128, 0)};
    it->setText(1, result == TestState::UNTESTED ? QString() : QString::fromStdString(TestStateName(result)));
    it->setForeground(1, result < 4 ? colours[result] : QColor(Qt::black));
    QFont bold = it->font(1);
    bold.setBold(result == TestState::FAILED || result == TestState::ERROR);
    it->setFont(1, bold);
}

}  // namespace korva
