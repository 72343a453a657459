#include "transport/ComPortCommands.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "model/TextConvert.h"
#include "transport/PortMap.h"

namespace korva {

namespace {
// The group that owns the device, "dialout" when the device or its group cannot be looked up.
std::string DeviceGroup(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return "dialout";
    group g{};
    group* found = nullptr;
    std::vector<char> buf(16384);
    if (getgrgid_r(st.st_gid, &g, buf.data(), buf.size(), &found) != 0 || found == nullptr ||
        g.gr_name == nullptr)
        return "dialout";
    return g.gr_name;
}
}  // namespace

std::vector<std::string> OpenFailureLines(const std::string& devicePath, int err, const std::string& holder) {
    std::vector<std::string> lines{devicePath + ": " + std::generic_category().message(err)};
    switch (err) {
        case EACCES:
        case EPERM: {
            const std::string group = DeviceGroup(devicePath);
            lines.push_back("Serial ports need membership of the group " + group + ": sudo adduser $USER " +
                            group + ", then log in again.");
            break;
        }
        case EBUSY:
            lines.push_back("Another program holds the port: close it there first.");
            if (!holder.empty()) lines.push_back("It is held by " + holder + ".");
            break;
        case ENOENT:
        case ENODEV:
        case ENXIO:
            lines.push_back("Is the adapter plugged in? Coms, Select Port lists the ports found.");
            break;
        case ENOTTY:
            lines.push_back("That is no serial port: Coms, Select Port maps the COM ports.");
            break;
        default:
            break;
    }
    return lines;
}

ComPortCommands::ComPortCommands(TSerialPortNG& port, Bus& bus, CommsHost& log, std::string workDir)
    : port_(port), bus_(bus), log_(log), workDir_(std::move(workDir)) {
    port_.OnRxClusterEvent = [this] { OnRxCluster(); };
    port_.OnLineLost = [this] { LineLost(); };
    bus_.AttachSerial(this);
}

ComPortCommands::~ComPortCommands() {
    if (bus_.Serial() == this) bus_.AttachSerial(nullptr);
}

void ComPortCommands::Send(const BusPacket& packet) {
    if (port_.Active()) port_.SendString(EncodeSerial(packet));
}

void ComPortCommands::OpenPort(int n) {
    const std::string name = "COM" + std::to_string(n);
    const std::string path = DevicePathForPort(workDir_, name);
    const bool opened = port_.SwitchTo(name, path);
    bus_.SetLineSpeed(port_.BaudRate());
    if (opened) {
        log_.AddLogLine("Opening Com" + std::to_string(n));
        openPort_ = n;
        line_ = Line::Open;
        failure_.clear();
    } else {
        log_.AddLogLine("Can't Open " + name);
        failure_ = OpenFailureLines(path, port_.LastOpenError(), port_.LastOpenHolder());
        for (const std::string& line : failure_) log_.AddLogLine(line);
        // Reopening the same device closed it first; any other device left the open one alone.
        if (!port_.Active()) {
            openPort_ = 0;
            line_ = Line::Closed;
        }
    }
    Changed();
}

void ComPortCommands::ClosePort() {
    if (port_.Active()) log_.AddLogLine("Closing " + port_.CommPort());
    // The port number stays, so that a new speed opens the port again.
    port_.SetActive(false);
    line_ = Line::Closed;
    failure_.clear();
    Changed();
}

bool ComPortCommands::ChangeBaudRate(const std::string& text) {
    const auto rate = ParseInt(text);
    if (!rate) return false;
    if (openPort_ == 0) return true;
    port_.SetActive(false);
    port_.SetBaudRate(*rate);
    port_.SetActive(true);
    bus_.SetLineSpeed(port_.BaudRate());
    log_.AddLogLine("Re Opening Com Port at " + std::to_string(*rate));
    line_ = port_.Active() ? Line::Open : Line::Closed;
    failure_.clear();
    Changed();
    return true;
}

void ComPortCommands::OnRxCluster() {
    if (port_.NextClusterSize() < 0) return;
    bus_.TakeCluster(port_.ReadNextClusterAsString());
}

void ComPortCommands::LineLost() {
    // The adapter was pulled or the line hung up: the port is closed and can be opened again.
    log_.AddLogLine("Lost " + port_.CommPort() + " (" + port_.DevicePath() + ")");
    line_ = Line::Lost;
    failure_.clear();
    Changed();
}

void ComPortCommands::Changed() {
    if (lineChanged) lineChanged();
}

}  // namespace korva
