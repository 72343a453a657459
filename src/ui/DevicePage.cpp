#include "ui/DevicePage.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <algorithm>

#include "model/TextConvert.h"
#include "ui/DeviceTable.h"
#include "ui/PanelText.h"
#include "ui/Widgets.h"

namespace korva {

namespace {
QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

void SetNodeText(QTreeWidgetItem* item, const QString& text) {
    if (item->text(0) != text) item->setText(0, text);
}

QPixmap Banner(int w, int h) {
    QPixmap pm(w, h);
    pm.fill(QColor(28, 58, 94));
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(120, 170, 220), 2));
    for (int x = 330; x < w - 20; x += 48) {  // a bus line with drops to its devices
        p.drawLine(x, h / 2, x + 48, h / 2);
        p.drawLine(x + 24, h / 2, x + 24, h / 2 + 10);
        p.fillRect(x + 18, h / 2 + 10, 12, 8, QColor(120, 170, 220));
    }
    QFont f("Arial");
    f.setPixelSize(20);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRect(12, 0, 320, h), Qt::AlignVCenter | Qt::AlignLeft,
               QString::fromUtf8("Brenlow Korva\u2122 Config"));
    return pm;
}
}  // namespace

void ControlGroup::Show() {
    for (QWidget* w : controls_) w->show();
}

void ControlGroup::Hide() {
    for (QWidget* w : controls_) w->hide();
}

TDevicePage::TDevicePage(QWidget* parent, const UiDialogs& dialogs, Engine& engine)
    : QWidget(parent), dialogs_(dialogs) {
    setObjectName("tsDevices");
    banner = Place(new QLabel(this), "Image2", 8, 8, 585, 44);
    banner->setPixmap(Banner(585, 44));
    banner->setFixedSize(585, 44);
    tvDevices = new QTreeWidget(this);
    tvDevices->setObjectName("tvDevices");
    tvDevices->setHeaderHidden(true);
    tvDevices->setIndentation(19);
    tvDevices->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The property panel keeps its width; its controls stand where the form has them, relative to
    // the panel's corner (300, 56), and the help text takes whatever height the page gains.
    panel_ = new QWidget(this);
    panel_->setObjectName("pnProperty");
    panel_->setFixedWidth(kPanelWidth);
    panel_->setMinimumHeight(kPanelHeight);
    QWidget* p = panel_;
    constexpr int x0 = 300, y0 = 56;
    StName = Place(new QLabel("Property Name", p), "StName", 300 - x0, 64 - y0, 88, 21);
    StName->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    tbselected = MakeEdit(p, "tbselected", "", 392 - x0, 64 - y0, 217);
    auto* bevel = new QFrame(p);
    bevel->setFrameShape(QFrame::Box);
    bevel->setFrameShadow(QFrame::Sunken);
    Bevel8 = Place(bevel, "Bevel8", 392 - x0, 96 - y0, 217, 33);
    stActVal = MakeLabel(p, "stActVal", "Value", 344 - x0, 104 - y0);
    lbActVal = MakeLabel(p, "lbActVal", "", 400 - x0, 104 - y0);
    // A flag word's bit names take two lines; all of them show in the tooltip.
    lbActVal->setFixedSize(84, 36);
    lbActVal->setWordWrap(true);
    lbActVal->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    btGetVal = MakeButton(p, "btGetVal", "Refresh", 488 - x0, 104 - y0, 57, 17);
    chkShowBin = MakeCheck(p, "chkShowBin", "Binary", 552 - x0, 104 - y0, false);
    stSetVal = MakeLabel(p, "stSetVal", "New Value", 320 - x0, 144 - y0);
    tbSetVal = MakeEdit(p, "tbSetVal", "0", 392 - x0, 144 - y0, 81);
    btSetVal = MakeButton(p, "btSetVal", "Set", 488 - x0, 144 - y0, 57, 17);
    chkPoll = MakeCheck(p, "chkPoll", "Poll", 560 - x0, 144 - y0, false);
    stStatus = MakeLabel(p, "stStatus", "Status", 344 - x0, 176 - y0);
    tbStatus = MakeEdit(p, "tbStatus", "", 392 - x0, 176 - y0, 81);
    lbInfo = MakeLabel(p, "lbInfo", "Info", 352 - x0, 208 - y0);
    memoHelp = Place(new QPlainTextEdit(p), "memoHelp", 392 - x0, 208 - y0, 225, kHelpFull);
    memoHelp->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The help is read, not typed into: Tab passes it by, and a click may still select text to copy.
    memoHelp->setReadOnly(true);
    memoHelp->setFocusPolicy(Qt::ClickFocus);
    memoHelp->setTabChangesFocus(true);
    lbOptions = MakeLabel(p, "lbOptions", "Options", 336 - x0, kOptionsTop);
    tbOptions = MakeEdit(p, "tbOptions", "0", 392 - x0, kOptionsTop, 81);
    tbFilePos = MakeEdit(p, "tbFilePos", "0", 480 - x0, kOptionsTop, 73);
    chkLog = MakeCheck(p, "chkLog", "Log", 568 - x0, kOptionsTop, false);
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(8, 8, 4, 4);
    page->setSpacing(4);
    page->addWidget(banner, 0, Qt::AlignLeft);
    deviceTable = new TDeviceTable(engine, dialogs_, this);
    deviceTable->writeValue = [this](KRemoteLink& link, const QString& text) {
        if (!SelectLink(link)) return;
        tbSetVal->setText(text);
        btSetValClick();
    };
    connect(deviceTable, &TDeviceTable::linkChosen, this, [this](KRemoteLink* link) { SelectLink(*link); });
    // The tree on the left; the table takes the room, the panel of the selected row below it.
    panel_->setFixedHeight(kPanelHeight);
    auto* row = new QHBoxLayout();
    row->setSpacing(0);
    row->addWidget(tvDevices, 0);
    tvDevices->setMinimumWidth(297);
    auto* right = new QVBoxLayout();
    right->addWidget(deviceTable, 1);
    right->addWidget(panel_, 0, Qt::AlignLeft);
    row->addLayout(right, 1);
    page->addLayout(row, 1);
    panel_->installEventFilter(this);
    // What the panel shows is read, never typed into.
    for (QLineEdit* shown : {tbselected, tbStatus}) shown->setReadOnly(true);
    // Nothing shows the binary box; its state is still read.
    chkShowBin->hide();

    connect(tvDevices, &QTreeWidget::itemClicked, this, [this] { tvDevicesClick(); });
    connect(tvDevices, &QTreeWidget::currentItemChanged, this, [this] {
        // A value typed for one object must never go to the next one with a stray Enter.
        tbSetVal->clear();
        tvDevicesChange();
    });
    connect(tvDevices, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* node) { Fill(node); });
    connect(btGetVal, &QPushButton::clicked, this, [this] { btGetValClick(); });
    connect(btSetVal, &QPushButton::clicked, this, [this] { btSetValClick(); });
    // Enter in "New Value" sets, as the button beside it does.
    connect(tbSetVal, &QLineEdit::returnPressed, this, [this] { btSetValClick(); });
    connect(chkPoll, &QCheckBox::clicked, this, [this] { chkPollClick(); });
    connect(chkLog, &QCheckBox::clicked, this, [this] { chkLogClick(); });
}

void TDevicePage::BuildGroups() {
    for (QWidget* w : std::initializer_list<QWidget*>{lbActVal, tbSetVal, tbStatus, stActVal, stSetVal,
                                                      stStatus, Bevel8, btSetVal, btGetVal, memoHelp, lbInfo})
        basic_.Add(w);
}

void TDevicePage::AddRoot() {
    root_ = new QTreeWidgetItem(tvDevices, QStringList{"Configuration Devices"});
}

QTreeWidgetItem* TDevicePage::AddChild(QTreeWidgetItem* parent, const QString& text, KObject* object) {
    auto* item = new QTreeWidgetItem(parent, QStringList{text});
    if (object) objects_[item] = object;
    return item;
}

void TDevicePage::OpenDevices(bool withLinks) {
    if (root_ == nullptr) return;
    tvDevices->expandItem(root_);
    for (int i = 0; i < root_->childCount(); ++i) {
        QTreeWidgetItem* child = root_->child(i);
        if (ObjectOf(child) != nullptr) {
            if (withLinks) tvDevices->expandItem(child);
            continue;
        }
        tvDevices->expandItem(child);
        for (int j = 0; withLinks && j < child->childCount(); ++j) tvDevices->expandItem(child->child(j));
    }
}

QTreeWidgetItem* TDevicePage::LineNode(const std::string& line) {
    for (QTreeWidgetItem* node : lineNodes_)
        if (SameIgnoringCase(node->text(0).toStdString(), line)) return node;
    const auto at = std::find_if(lineNodes_.begin(), lineNodes_.end(), [&](const QTreeWidgetItem* node) {
        return LineBefore(line, node->text(0).toStdString());
    });
    auto* node = new QTreeWidgetItem(QStringList{Q(line)});
    root_->insertChild(static_cast<int>(at - lineNodes_.begin()), node);
    lineNodes_.insert(at, node);
    return node;
}

QTreeWidgetItem* TDevicePage::ParentFor(const KDevice& device) {
    const bool firstLine = SameIgnoringCase(device.port, KDevice::kDefaultPort);
    if (lineNodes_.empty() && firstLine) return root_;
    if (lineNodes_.empty()) {
        // Until now every device stood on COM1.
        const QList<QTreeWidgetItem*> before = root_->takeChildren();
        if (!before.isEmpty()) LineNode(KDevice::kDefaultPort)->addChildren(before);
    }
    return LineNode(device.port);
}

void TDevicePage::On_NewKorvaDevice(KDevice* device) {
    if (root_ == nullptr) AddRoot();
    QTreeWidgetItem* node = AddChild(ParentFor(*device), Q(DeviceNodeText(*device)), device);
    deviceNodes_[device] = node;
    overviewFresh_ = false;  // the overview lists it from its next redraw
}

void TDevicePage::On_NewKorvaProperty(KDevice* device, KPropertyLink* link) {
    LinkArrived(device, link);
}

void TDevicePage::On_NewKFileLink(KDevice* device, KFileLink* link) {
    LinkArrived(device, link);
}

// A device's links get their nodes when it is first expanded: a plant of many thousand links
// costs no tree nodes for devices nobody opens.
void TDevicePage::LinkArrived(KDevice* device, KRemoteLink* link) {
    if (!link->basic) return;
    auto it = deviceNodes_.find(device);
    if (it == deviceNodes_.end()) return;
    if (filled_.count(device) != 0)
        AddLinkNode(it->second, link);
    else
        it->second->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
}

void TDevicePage::Fill(QTreeWidgetItem* node) {
    auto* device = dynamic_cast<KDevice*>(ObjectOf(node));
    if (device == nullptr || !filled_.insert(device).second) return;
    // Every link made, in the order made, as if each had been added on arrival.
    for (const auto& link : device->ownedLinks)
        if (link->basic) AddLinkNode(node, link.get());
}

void TDevicePage::AddLinkNode(QTreeWidgetItem* deviceNode, KRemoteLink* link) {
    QTreeWidgetItem* node = AddChild(deviceNode, Q(LinkNodeText(*link)), link);
    if (!link->IsFileHandle()) return;
    for (const char* child : {"Status", "Size", "CheckSum"}) AddChild(node, child, nullptr);
    AddChild(AddChild(node, "Data", nullptr), "??? ??? ???", nullptr);
}

KObject* TDevicePage::ObjectOf(const QTreeWidgetItem* node) const {
    auto it = objects_.find(node);
    return it == objects_.end() ? nullptr : it->second;
}

void TDevicePage::tvDevicesClick() {
    if (auto* link = dynamic_cast<KRemoteLink*>(ObjectOf(tvDevices->currentItem()))) {
        selectedObject = link;
        // File handles are never marked by a click.
        if (autoGet_ && !link->IsFileHandle()) link->RequestRead();
    }
    tvDevicesUpdate();
}

void TDevicePage::tvDevicesChange() {
    tvDevicesClick();
}

bool TDevicePage::SelectLink(const KRemoteLink& link) {
    const auto device = deviceNodes_.find(link.device);
    if (device == deviceNodes_.end()) return false;
    Fill(device->second);
    for (int i = 0; i < device->second->childCount(); ++i) {
        QTreeWidgetItem* node = device->second->child(i);
        if (ObjectOf(node) != &link) continue;
        if (tvDevices->currentItem() != node) tvDevices->setCurrentItem(node);
        return true;
    }
    return false;
}

void TDevicePage::ShowTable(QTreeWidgetItem* node, KObject* object) {
    if (auto* device = dynamic_cast<KDevice*>(object)) return deviceTable->ShowDevice(*device, nullptr);
    if (auto* link = dynamic_cast<KRemoteLink*>(object)) {
        if (KFileLink* file = link->AsFile(); file != nullptr && IsFileType(link->type))
            return deviceTable->ShowFile(*file);
        if (link->device != nullptr) return deviceTable->ShowDevice(*link->device, link);
        return;
    }
    // Nothing selected yet: the plant at a glance.
    const bool line =
        node != nullptr && std::find(lineNodes_.begin(), lineNodes_.end(), node) != lineNodes_.end();
    if (node != nullptr && node->parent() != nullptr && !line)
        return deviceTable->Refresh();  // a file's own nodes
    // The same overview as the last redraw: only its cells are brought up to date.
    if (deviceTable->Shown() == TDeviceTable::Mode::Overview && overviewNode_ == node && overviewFresh_)
        return deviceTable->Refresh();
    overviewNode_ = node;
    overviewFresh_ = true;
    std::vector<KDevice*> devices;
    for (const auto& [device, deviceNode] : deviceNodes_)
        if (!line || deviceNode->parent() == node) devices.push_back(const_cast<KDevice*>(device));
    std::sort(devices.begin(), devices.end(), [](const KDevice* a, const KDevice* b) {
        return a->port != b->port ? LineBefore(a->port, b->port) : a->address < b->address;
    });
    deviceTable->ShowOverview(std::move(devices), line ? node->text(0) : QString("All devices"));
}

void TDevicePage::tvDevicesUpdate() {
    QTreeWidgetItem* node = tvDevices->currentItem();
    KObject* object = ObjectOf(node);
    ShowTable(node, object);
    const bool device = dynamic_cast<KDevice*>(object) != nullptr;
    // The root and a line's node are named; a device also empties the value boxes.
    const bool named =
        node != nullptr && (device || node->parent() == nullptr ||
                            std::find(lineNodes_.begin(), lineNodes_.end(), node) != lineNodes_.end());
    if (node == nullptr) {
        selectedType = kNoSelection;
    } else if (named) {
        SetTextIfChanged(tbselected, node->text(0));
        if (device) {
            SetTextIfChanged(lbActVal, QString());
            SetTextIfChanged(tbSetVal, QString());
        }
        selectedType = kNoSelection;
    } else {
        if (auto* link = dynamic_cast<KRemoteLink*>(object)) {
            selectedType = link->type;
            QStringList help;
            for (const std::string& line : SplitLines(link->helpText)) help << Q(line);
            if (memoHelp->toPlainText() != help.join('\n')) memoHelp->setPlainText(help.join('\n'));
            SetTextIfChanged(tbselected, Q(LinkTitleText(*link)));
            const KFileLink* file = link->AsFile();
            if (file == nullptr) {
                chkPoll->setChecked(link->poll);
                chkLog->setChecked(link->log);
                emit modeText(Q(UpdateModeName(link->updateMode)));
                SetTextIfChanged(lbActVal, Q(ValueText(*link, chkShowBin->isChecked())));
                ShowUnitHints(*link);
            } else {
                emit modeText(QString());
                if (node->childCount() >= 4) {
                    SetNodeText(node->child(0), Q(StatusNodeText(*file)));
                    SetNodeText(node->child(1), Q(SizeNodeText(*file)));
                    SetNodeText(node->child(2), Q(ChecksumNodeText(*file)));
                    SetNodeText(node->child(3), "Data");
                    if (node->child(3)->childCount() > 0)
                        SetNodeText(node->child(3)->child(0), Q(DataRowText(*file)));
                }
                // The position box is the operator's; a transfer moving the position must not fill it.
                SetTextIfChanged(lbActVal, Q(FileValueText(*file)));
            }
            SetTextIfChanged(tbStatus, Q(LinkStateName(link->state)));
        }
    }
    ShowPropBoxes();
}

void TDevicePage::ShowUnitHints(const KRemoteLink& link) {
    if (lbActVal->toolTip() != lbActVal->text()) lbActVal->setToolTip(lbActVal->text());
    const EngineeringValue& e = link.Engineering();
    const QString unit = Q(e.Unit());
    const QString range = e.Plain() ? QString() : Q("Range: " + e.RangeText());
    if (tbSetVal->placeholderText() != unit) tbSetVal->setPlaceholderText(unit);
    if (tbSetVal->toolTip() != range) tbSetVal->setToolTip(range);
}

void TDevicePage::ShowUnits() {
    for (const auto& [item, object] : objects_)
        if (auto* link = dynamic_cast<KRemoteLink*>(object))
            const_cast<QTreeWidgetItem*>(item)->setText(0, Q(LinkNodeText(*link)));
    tvDevicesUpdate();
}

void TDevicePage::ShowPropBoxes() {
    const bool file = IsFileType(selectedType);
    const bool options = selectedType == PropertyType::WordOption || file;
    lbOptions->setVisible(options);
    tbOptions->setVisible(options);
    tbFilePos->setVisible(file);
    // Poll and Log are offered for properties: a redraw of a file handle leaves the boxes as they were,
    // so they would show another object's flags.
    const bool property = selectedType != kNoSelection && !file;
    chkPoll->setVisible(property);
    chkLog->setVisible(property);
    FitPanel();
    if (selectedType == kNoSelection) {
        basic_.Hide();
        emit advancedShown(false);
        return;
    }
    basic_.Show();
    emit advancedShown(showAdvanced);
}

void TDevicePage::FitPanel() {
    // The help text makes room for the option row (option, position and Log boxes), which stands below
    // it: at the form's own places the Log box would lie on the help text. The height
    // the panel has beyond the form's goes to the help text.
    const int extra = std::max(0, panel_->height() - kPanelHeight);
    const bool optionRow = !tbOptions->isHidden() || !chkLog->isHidden();
    const int helpHeight = (optionRow ? kHelpShort : kHelpFull) + extra;
    if (memoHelp->height() != helpHeight) memoHelp->resize(memoHelp->width(), helpHeight);
    for (QWidget* w : std::initializer_list<QWidget*>{lbOptions, tbOptions, tbFilePos, chkLog})
        if (w->y() != kOptionsTop + extra) w->move(w->x(), kOptionsTop + extra);
}

bool TDevicePage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == panel_ && event->type() == QEvent::Resize) FitPanel();
    return QWidget::eventFilter(watched, event);
}

bool TDevicePage::ReadInteger(const QLineEdit* box, int& out) {
    const auto v = ParseInt(box->text().toStdString());
    if (!v) {
        dialogs_.error(QString("'%1' is not a valid integer value").arg(box->text()));
        return false;
    }
    out = *v;
    return true;
}

bool TDevicePage::ReadPosition(const KFileLink& file, bool write, int& out) {
    if (!ReadInteger(tbFilePos, out)) return false;
    // An element outside the file is never read or replaced.
    if (write ? !file.Writable(out) : !file.Readable(out)) {
        dialogs_.error(QString("Position %1 is outside the file: elements %2 to %3")
                           .arg(out)
                           .arg(write ? 0 : KFileLink::kStatus)
                           .arg(file.size - 1));
        return false;
    }
    return true;
}

KFileLink* TDevicePage::SelectedFile() const {
    return selectedObject ? selectedObject->AsFile() : nullptr;
}

void TDevicePage::btGetValClick() {
    if (selectedObject == nullptr) return;
    KFileLink* file = SelectedFile();
    int position = 0;
    if (file == nullptr)
        selectedObject->RequestRead();
    else if (ReadPosition(*file, false, position))
        file->ReadElement(position);
}

void TDevicePage::btSetValClick() {
    if (selectedObject == nullptr) return;
    int value = 0;
    // A number the wire cannot carry would reach the device cut to its low bits: nothing is sent.
    const auto fits = [this](int n, WireRange range, const char* what) {
        if (range.Holds(n)) return true;
        dialogs_.error(QString("%1 is outside what %2 can carry: %3 to %4")
                           .arg(n)
                           .arg(what)
                           .arg(range.min)
                           .arg(range.max));
        return false;
    };
    // An engineering value is typed in shown units and checked against its own range.
    const bool engineered = !selectedObject->IsFileHandle() && !selectedObject->Engineering().Plain();
    const auto readValue = [&] {
        if (!engineered) return ReadInteger(tbSetVal, value);
        const auto parsed = selectedObject->Engineering().Parse(tbSetVal->text().toStdString());
        if (!parsed.raw) dialogs_.error(Q(selectedObject->FullName() + ": " + parsed.error));
        value = parsed.raw.value_or(0);
        return parsed.raw.has_value();
    };
    if (selectedObject->type == PropertyType::WordOption) {
        int option = 0;
        if (!ReadInteger(tbOptions, option) || !readValue()) return;
        if (!fits(value, kWordRange, "the value") || !fits(option, kByteRange, "the option byte")) return;
        selectedObject->SetNewNumberWithOption(value, static_cast<std::uint8_t>(option & 0xFF));
        return;
    }
    if (!readValue()) return;
    KFileLink* file = SelectedFile();
    if (file == nullptr) {
        if (!fits(value, WireRangeOf(selectedObject->type), "the value")) return;
        selectedObject->SetNewNumber(value);
        return;
    }
    // A write must never go to an element the operator did not name: the position is checked first.
    int position = 0;
    if (!ReadPosition(*file, true, position)) return;
    if (file->WriteElement(position, value) == ElementFault::ValueTooWide)
        dialogs_.error(QString("%1 does not fit an element of this file: %2 to %3")
                           .arg(value)
                           .arg(file->ElementRange().min)
                           .arg(file->ElementRange().max));
}

void TDevicePage::chkPollClick() {
    if (selectedObject) selectedObject->SetPoll(chkPoll->isChecked());
}

void TDevicePage::chkLogClick() {
    if (selectedObject == nullptr) return;
    selectedObject->SetLog(chkLog->isChecked());
    // A logged value is always polled.
    chkPoll->setChecked(true);
    chkPollClick();
}

void TDevicePage::btLoadFileClick() {
    if (KFileLink* file = SelectedFile()) file->StartTransfer(TransferOp::Load);
}

void TDevicePage::btSaveFileClick() {
    if (KFileLink* file = SelectedFile()) file->StartTransfer(TransferOp::Save);
}

void TDevicePage::btCancelFileClick() {
    if (KFileLink* file = SelectedFile()) file->CancelTransfer();
}

}  // namespace korva
