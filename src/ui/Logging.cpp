#include "ui/Logging.h"

#include <filesystem>

namespace korva {

void Logging::Start(std::function<void(const std::string&)> writeFailed) {
    file_.alert = [this](const std::string& text, const std::string& caption) {
        if (dialogs_.alert) dialogs_.alert(QString::fromStdString(text), QString::fromStdString(caption));
    };
    file_.writeFailed = std::move(writeFailed);
}

bool Logging::ApplyInterval(const QString& text) {
    const std::optional<float> seconds = ParseLogInterval(text.toStdString());
    if (!seconds) {
        dialogs_.error(QString("'%1' is not a valid floating point value").arg(text));
        return false;
    }
    // A negative or enormous interval would stop the divider for good: refused like a bad number.
    if (!engine_.SetPeriodSeconds(*seconds)) {
        dialogs_.error(QString("'%1' is not a valid log interval").arg(text));
        return false;
    }
    return true;
}

QString Logging::StatusText() const {
    if (!file_.Active()) return QString();
    const QString name = QString::fromStdString(std::filesystem::path(file_.fileName).filename().string());
    return QString("Logging to %1: %2 rows").arg(name).arg(file_.Rows());
}

}  // namespace korva
