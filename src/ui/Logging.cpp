#include "ui/Logging.h"

#include <cmath>
#include <filesystem>

#include "protocol/Bus.h"
#include "sequence/LogFile.h"

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
    if (!std::isfinite(*seconds) || *seconds < 0.0F) {
        dialogs_.error(QString("'%1' is not a valid log interval").arg(text));
        return false;
    }
    // Rows faster than the line can read would repeat old values as if they were new.
    // The divider writes a row every period + 1 ticks, the period cut to whole ticks.
    const double shortest = ShortestInterval();
    const double everyTicks = std::trunc(static_cast<double>(*seconds) * 100.0) + 1.0;
    if (everyTicks < std::round(shortest * 100.0)) {
        std::size_t logged = 0;
        for (const LogItem* item : file_.Items()) logged += item->enabled ? 1 : 0;
        dialogs_.error(QString("A log interval of %1 s is shorter than the line can serve: %2 logged "
                               "properties need at least %3 s at %4 baud")
                           .arg(text.trimmed())
                           .arg(logged)
                           .arg(shortest, 0, 'f', 2)
                           .arg(lineBaud ? lineBaud() : 0));
        return false;
    }
    if (!engine_.SetPeriodSeconds(*seconds)) {
        dialogs_.error(QString("'%1' is not a valid log interval").arg(text));
        return false;
    }
    return true;
}

double Logging::ShortestInterval() const {
    std::size_t logged = 0;
    for (const LogItem* item : file_.Items()) logged += item->enabled ? 1 : 0;
    const int baud = lineBaud ? lineBaud() : 0;
    if (logged == 0 || baud <= 0) return 0.0;
    constexpr double kBitsPerItem = 2.0 * 10.0 * Bus::kLongestPacketBytes;
    // Whole ticks: the divider counts in hundredths of a second.
    return std::ceil(static_cast<double>(logged) * kBitsPerItem / baud * 100.0) / 100.0;
}

QString Logging::StatusText() const {
    if (!file_.Active()) return QString();
    const QString name = QString::fromStdString(std::filesystem::path(file_.fileName).filename().string());
    return QString("Logging to %1: %2 rows").arg(name).arg(file_.Rows());
}

}  // namespace korva
