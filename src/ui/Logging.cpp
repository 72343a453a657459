#include "ui/Logging.h"

#include <filesystem>

namespace korva {

void Logging::Start(std::function<void(const std::string&)> writeFailed) {
    file_ = std::make_unique<LogFile>();
    file_->fileName = "c:\\log.csv";
    file_->alert = [this](const std::string& text, const std::string& caption) {
        if (dialogs_.alert) dialogs_.alert(QString::fromStdString(text), QString::fromStdString(caption));
    };
    file_->writeFailed = std::move(writeFailed);
    engine_.periodicLogStep = [this] { file_->LogRowStep(); };
    // Every property gets its column while the configuration loads; none is logged until chosen.
    engine_.Model().SetLogChannelFactory([this](const std::string& name) -> std::unique_ptr<LogChannel> {
        std::unique_ptr<LogItem> item = file_->AddItem(name);
        item->enabled = false;
        return item;
    });
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
    if (!file_ || !file_->Active()) return QString();
    const QString name = QString::fromStdString(std::filesystem::path(file_->fileName).filename().string());
    return QString("Logging to %1: %2 rows").arg(name).arg(file_->Rows());
}

}  // namespace korva
