#pragma once
// "Coms", "Select Port…": maps COM1 to COM6 to the serial ports found (by their stable names
// under /dev/serial/by-id when they have one) or to any typed path.

#include <map>
#include <string>
#include <vector>

#include <QDialog>

class QComboBox;
class QLabel;

namespace korva {

struct SerialChoice {
    QString path;         // the stable name when there is one, else the system's device path
    QString description;  // what the adapter says of itself, and its device path
};

// The name under byIdDir that leads to the device, or the device path itself.
QString StableName(const QString& devicePath, const QString& byIdDir = "/dev/serial/by-id");
// The serial ports the system knows now.
std::vector<SerialChoice> FindSerialPorts(const QString& byIdDir = "/dev/serial/by-id");

class TPortPicker : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kPorts = 6;

    // current: the entries of the ports file by port name.
    TPortPicker(QWidget* parent, const std::vector<SerialChoice>& found,
                const std::map<std::string, std::string>& current);

    // Port name to device path, for every port given a path.
    std::map<std::string, std::string> Devices() const;
    QComboBox* Box(int n) const { return boxes_.at(static_cast<std::size_t>(n - 1)); }

  private:
    std::vector<QComboBox*> boxes_;
};

}  // namespace korva
