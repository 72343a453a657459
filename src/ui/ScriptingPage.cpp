#include "ui/ScriptingPage.h"

#include <QHeaderView>
#include <QResizeEvent>
#include <QMenu>
#include <QMenuBar>
#include <QTreeWidget>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "model/Enums.h"

#include "ui/Widgets.h"

namespace korva {

namespace {
// Why a file cannot be read, empty when it can. Only a regular file is opened, and without
// waiting: a named pipe in its place must not hold up the window.
std::string UnreadableReason(const std::filesystem::path& path) {
    std::error_code ec;
    const std::filesystem::file_status st = std::filesystem::status(path, ec);
    if (ec) return ec.message();
    if (std::filesystem::is_directory(st)) return std::generic_category().message(EISDIR);
    if (!std::filesystem::is_regular_file(st)) return "not a regular file";
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::generic_category().message(errno);
    ::close(fd);
    return {};
}
}  // namespace

TScriptingPage::TScriptingPage(const UiDialogs& dialogs, std::string workDir, QWidget* parent)
    : QWidget(parent), dialogs_(dialogs), workDir_(std::move(workDir)) {
    setObjectName("tsTrial");
    tvTest = Place(new QTreeWidget(this), "tvTest", 0, 16, 289, 233);
    tvTest->setHeaderHidden(true);
    tvTest->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The second column carries the last result of each node and action.
    tvTest->setColumnCount(2);
    tvTest->header()->setStretchLastSection(false);
    // Whole action texts: the tree scrolls sideways rather than cut them short.
    tvTest->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    tvTest->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    tvTest->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
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
    // The unit under test, for the results the runs of this page are kept in.
    lbDut = MakeLabel(this, "lbDut", "DUT", 296, 160);
    tbDut = MakeEdit(this, "tbDut", "", 296, 176, 157);
    tbDut->setPlaceholderText("serial number");
    for (QLineEdit* shown :
         {tbActiveTestNode, tbTestNodeStatus, tbActiveTestAction, tbTestActionStatus, tbTestActionActVal})
        shown->setReadOnly(true);
    btRemoveTS = MakeButton(this, "btRemoveTS", "Remove Sequence", 432, 216, 105, 25);
    btClearAllTS = MakeButton(this, "btClearAllTS", "Clear All", 544, 216, 75, 25);
    for (QObject* child : children())
        if (auto* w = qobject_cast<QWidget*>(child); w != nullptr && w != tvTest)
            besideTree_.emplace_back(w, w->pos());
    connect(tvTest, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) {
        for (const auto& [id, known] : items_)
            if (known == item) emit itemChosen(id);
    });
    connect(this, &TScriptingPage::itemChosen, this, [this](ItemId id) {
        if (sequences_) sequences_->tvTestClick(id);
    });
    connect(btOpenSequence, &QPushButton::clicked, this,
            [this] { Guarded(dialogs_, [this] { btOpenSequenceClick(); }); });
    connect(btRunTestNode, &QPushButton::clicked, this,
            [this] { Guarded(dialogs_, [this] { btRunTestNodeClick(); }); });
    connect(btClearAllTS, &QPushButton::clicked, this,
            [this] { Guarded(dialogs_, [this] { btClearAllTSClick(); }); });
    connect(btStopTestNode, &QPushButton::clicked, this, [this] { btStopTestNodeClick(); });
}

TScriptingPage::~TScriptingPage() = default;

ToolsMenu TScriptingPage::BuildToolsMenu(QMenuBar& bar) {
    menu_.tools = bar.addMenu("&Tools");
    menu_.tools->setObjectName("mnTools");
    menu_.standard = menu_.tools->addMenu("&Standard Config");
    menu_.standard->setObjectName("mnStandardConfig");
    menu_.custom = menu_.tools->addMenu("C&ustom Config");
    menu_.custom->setObjectName("mnCustomConfig");
    menu_.standard->setEnabled(false);
    menu_.custom->setEnabled(false);
    // Generated entries go on top; stopping stays at the bottom.
    menu_.tools->addSeparator();
    menu_.stop = menu_.tools->addAction("Sto&p Test Node", this, [this] { btStopTestNodeClick(); });
    menu_.stop->setObjectName("mnStopTestNode");
    return menu_;
}

void TScriptingPage::AddMenuEntries(QMenu* menu, const std::vector<std::string>& names) {
    QAction* before = nullptr;
    for (const std::string& name : names) {
        // The caption is the node's name as written: an "&" in it is no hot key.
        auto* entry = new QAction(QString::fromStdString(name).replace("&", "&&"), menu);
        connect(entry, &QAction::triggered, this, [this, name] {
            Guarded(dialogs_, [&] {
                if (sequences_ && sequences_->ConfirmStop()) sequences_->RunNodeByName(name);
                UpdateRunControls();
            });
        });
        // Each entry goes on top, so the last one loaded stands first.
        menu->insertAction(before ? before : (menu->actions().isEmpty() ? nullptr : menu->actions().first()),
                           entry);
        before = entry;
        generatedEntries_.push_back(entry);
        menu->setEnabled(true);
    }
}

void TScriptingPage::ReloadSequences() {
    for (QAction* a : generatedEntries_) delete a;
    generatedEntries_.clear();
    menu_.tools->setEnabled(true);
    menu_.standard->setEnabled(false);
    menu_.custom->setEnabled(false);
    const SequenceMenus menus = sequences_->ReloadSequences(workDir_);
    AddMenuEntries(menu_.standard, menus.standard);
    AddMenuEntries(menu_.custom, menus.custom);
    AddMenuEntries(menu_.tools, menus.tools);
}

void TScriptingPage::btOpenSequenceClick() {
    const QString chosen = dialogs_.openSequence ? dialogs_.openSequence() : QString();
    if (!chosen.isEmpty()) tbTSFilename->setText(chosen);
    std::filesystem::path path = tbTSFilename->text().toStdString();
    if (path.is_relative()) path = std::filesystem::path(workDir_) / path;
    // A chosen file that cannot be read is named with the reason; a cancel stays silent.
    const std::string why = chosen.isEmpty() ? std::string() : UnreadableReason(path);
    if (!why.empty()) {
        dialogs_.error(QString::fromStdString("Can't read the sequence file " + path.string() + ": " + why));
        return;
    }
    sequences_->LoadSequenceFile(path);
}

void TScriptingPage::btRunTestNodeClick() {
    if (sequences_ && sequences_->CurrentNode() && sequences_->ConfirmStop()) sequences_->RunNode();
    UpdateRunControls();
}

void TScriptingPage::btStopTestNodeClick() {
    if (sequences_) sequences_->Stop();
    UpdateRunControls();
}

void TScriptingPage::btClearAllTSClick() {
    if (sequences_ && !sequences_->ConfirmStop()) return;
    ReloadSequences();
    UpdateRunControls();
}

void TScriptingPage::UpdateRunControls() {
    const bool running = sequences_ && sequences_->Running();
    if (running == runControlsRunning_) return;
    runControlsRunning_ = running;
    if (menu_.stop) menu_.stop->setEnabled(running);
    btStopTestNode->setEnabled(running);
}

void TScriptingPage::ResetTree(const QString& rootText) {
    items_.clear();
    tvTest->clear();
    new QTreeWidgetItem(tvTest, QStringList{rootText});
}

void TScriptingPage::AddNodeItem(ItemId id, const QString& text) {
    items_[id] = new QTreeWidgetItem(tvTest->topLevelItem(0), QStringList{text});
    items_[id]->setToolTip(0, text);
}

void TScriptingPage::AddActionItem(ItemId nodeId, ItemId id, const QString& label) {
    const auto parent = items_.find(nodeId);
    if (parent == items_.end()) return;
    items_[id] = new QTreeWidgetItem(parent->second, QStringList{label});
    items_[id]->setToolTip(0, label);
}

void TScriptingPage::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The boxes need 340 pixels beside the tree, as on the form; the tree gets the rest.
    constexpr int kTreeX = 0, kTreeY = 16, kTreeWidth = 289, kTreeHeight = 233, kBeside = 340;
    const int treeWidth = std::max(kTreeWidth, width() - kBeside);
    const int dx = treeWidth - kTreeWidth;
    tvTest->setGeometry(kTreeX, kTreeY, treeWidth, std::max(kTreeHeight, height() - kTreeY - 8));
    for (const auto& [w, at] : besideTree_) w->move(at.x() + dx, at.y());
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

void TScriptingPage::ShowRunning(ItemId id, const QString& text) {
    const auto found = items_.find(id);
    if (found == items_.end()) return;
    found->second->setText(1, text);
    found->second->setForeground(1, QColor(0, 70, 170));
    QFont plain = found->second->font(1);
    plain.setBold(false);
    found->second->setFont(1, plain);
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
