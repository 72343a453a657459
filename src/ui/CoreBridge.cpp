#include "ui/CoreBridge.h"

#include "compose/LinePorts.h"

namespace korva {

namespace {
QString Q(const std::string& s) {
    return QString::fromStdString(s);
}
}  // namespace

CoreBridge::CoreBridge(const UiDialogs& dialogs, QObject* parent) : QObject(parent), dialogs_(dialogs) {}

void CoreBridge::ShowMessage(const std::string& text) {
    if (dialogs_.message) dialogs_.message(Q(text));
}

void CoreBridge::ShowFailure(const std::string& message, const std::string& detail) {
    ShowMessage(detail.empty() ? message : message + "\n" + detail);
}

void CoreBridge::AddLogLine(const std::string& line) {
    if (!line.empty() && line.front() == '<') ++busErrors_;
    emit logLine(QString::fromStdString(line));
}

bool CoreBridge::Confirm(const std::string& text) {
    return dialogs_.confirm && dialogs_.confirm(Q(text));
}

bool CoreBridge::AskYesNo(const std::string& text) {
    return dialogs_.question && dialogs_.question(Q(text));
}

int CoreBridge::OpenComPort(int n) {
    return ports_ == nullptr ? 0 : ports_->OpenForRunner(n);
}

void CoreBridge::AddNodeItem(ItemId id, const std::string& text) {
    emit nodeItemAdded(id, Q(text));
}

void CoreBridge::AddActionItem(ItemId nodeId, ItemId id, const std::string& label) {
    emit actionItemAdded(nodeId, id, Q(label));
}

void CoreBridge::ShowNode(const std::string& itemText, const std::string& status) {
    emit nodeShown(Q(itemText), Q(status));
}

void CoreBridge::ShowAction(const std::string& label, const std::string& status,
                            const std::string& actualValue) {
    emit actionShown(Q(label), Q(status), Q(actualValue));
}

}  // namespace korva
