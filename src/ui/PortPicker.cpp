#include "ui/PortPicker.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSerialPortInfo>

namespace korva {

QString StableName(const QString& devicePath, const QString& byIdDir) {
    const QString target = QFileInfo(devicePath).canonicalFilePath();
    if (target.isEmpty()) return devicePath;
    const QFileInfoList links =
        QDir(byIdDir).entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& link : links)
        if (link.isSymLink() && link.canonicalFilePath() == target) return link.absoluteFilePath();
    return devicePath;
}

std::vector<SerialChoice> FindSerialPorts(const QString& byIdDir) {
    std::vector<SerialChoice> out;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        QStringList said;
        for (const QString& s : {info.description(), info.manufacturer(), info.serialNumber()})
            if (!s.isEmpty() && !said.contains(s)) said << s;
        said << info.systemLocation();
        out.push_back({StableName(info.systemLocation(), byIdDir), said.join(", ")});
    }
    return out;
}

TPortPicker::TPortPicker(QWidget* parent, const std::vector<SerialChoice>& found,
                         const std::map<std::string, std::string>& current)
    : QDialog(parent) {
    setObjectName("dlgPortPicker");
    setWindowTitle("Select Port");
    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(found.empty() ? "No serial port found; a device path may be typed."
                                             : "Serial ports found; a device path may be typed too.",
                               this),
                    0, 0, 1, 3);
    for (int n = 1; n <= kPorts; ++n) {
        const QString name = QString("COM%1").arg(n);
        auto* box = new QComboBox(this);
        box->setObjectName("cb" + name);
        box->setEditable(true);
        box->setMinimumContentsLength(40);
        box->addItem(QString());
        for (const SerialChoice& c : found) box->addItem(c.path, c.description);
        const auto it = current.find(name.toStdString());
        box->setCurrentText(it != current.end() ? QString::fromStdString(it->second) : QString());
        box->lineEdit()->setPlaceholderText(QString("/dev/ttyUSB%1 (default)").arg(n - 1));
        auto* about = new QLabel(this);
        const auto describe = [box, about] { about->setText(box->currentData().toString()); };
        connect(box, &QComboBox::currentIndexChanged, about, describe);
        describe();
        auto* label = new QLabel("&" + name, this);
        label->setBuddy(box);
        grid->addWidget(label, n, 0);
        grid->addWidget(box, n, 1);
        grid->addWidget(about, n, 2);
        boxes_.push_back(box);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    grid->addWidget(buttons, kPorts + 1, 0, 1, 3);
}

std::map<std::string, std::string> TPortPicker::Devices() const {
    std::map<std::string, std::string> out;
    for (std::size_t i = 0; i < boxes_.size(); ++i) {
        const QString path = boxes_[i]->currentText().trimmed();
        if (!path.isEmpty()) out.emplace("COM" + std::to_string(i + 1), path.toStdString());
    }
    return out;
}

}  // namespace korva
