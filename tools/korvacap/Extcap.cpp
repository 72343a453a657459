#include "Extcap.h"

#include <cstdlib>
#include <filesystem>

#include "model/TextConvert.h"
#include "packet/CaptureLine.h"
#include "trace/Pcapng.h"
#include "transport/PortMap.h"

namespace korva::korvacap {

namespace {
constexpr const char* kPrefix = "korva-";

// The dialogue's fields are framed by braces; a path or folder may hold any character.
std::string Field(std::string text) {
    for (char& c : text)
        if (c == '{' || c == '}' || c == '\n' || c == '\r') c = c == '{' ? '(' : c == '}' ? ')' : ' ';
    return text;
}

const char* const kValueOptions[] = {"--extcap-interface",
                                     "--fifo",
                                     "--extcap-capture-filter",
                                     "--extcap-control-in",
                                     "--extcap-control-out",
                                     "--speed",
                                     "--workdir",
                                     "--debug-file"};

bool TakesValue(const std::string& name) {
    for (const char* n : kValueOptions)
        if (name == n) return true;
    return false;
}

void SetAsk(Options& o, Options::Ask ask, bool& asked) {
    // --extcap-version goes along with the others; any other two questions at once are one too many.
    if (asked && o.ask != ask) throw UsageError("one question at a time: the options ask for two things");
    o.ask = ask;
    asked = true;
}
}  // namespace

Options ParseArguments(const std::vector<std::string>& args) {
    Options o;
    bool asked = false, version = false, filterGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool attached = false;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
            attached = true;
        }
        if (name == "--extcap-version") {
            version = true;  // the analyzer's own version may follow; it changes nothing here
            continue;
        }
        if (TakesValue(name)) {
            if (!attached) {
                if (i + 1 >= args.size()) throw UsageError(name + " needs a value");
                value = args[++i];
            }
            if (name == "--extcap-interface") {
                o.interface = value;
            } else if (name == "--fifo") {
                o.fifo = value;
            } else if (name == "--extcap-capture-filter") {
                o.filter = value;
                filterGiven = true;
            } else if (name == "--speed") {
                const auto speed = ParseInt(value);
                bool known = false;
                for (int s : kSpeeds) known = known || (speed && *speed == s);
                if (!known)
                    throw UsageError("--speed wants one of the program's speeds, not '" + value + "'");
                o.speed = *speed;
            } else if (name == "--workdir") {
                o.workDir = value;
            }
            // The control pipes and the debug file are the analyzer's; nothing is ever sent on them.
            continue;
        }
        if (attached) throw UsageError(name + " takes no value");
        if (name == "--extcap-interfaces")
            SetAsk(o, Options::Ask::Interfaces, asked);
        else if (name == "--extcap-dlts")
            SetAsk(o, Options::Ask::Dlts, asked);
        else if (name == "--extcap-config")
            SetAsk(o, Options::Ask::Config, asked);
        else if (name == "--capture")
            SetAsk(o, Options::Ask::Capture, asked);
        else if (name == "--help" || name == "-h")
            SetAsk(o, Options::Ask::Help, asked);
        else if (name == "--version")
            SetAsk(o, Options::Ask::Version, asked);
        else if (name != "--debug")
            throw UsageError("unknown option '" + name + "'");
    }
    // A filter alone is a question whether it would do; with a capture it must be one understood.
    if (!asked && filterGiven)
        o.ask = Options::Ask::CheckFilter;
    else if (!asked && version)
        o.ask = Options::Ask::Interfaces;
    if (o.ask == Options::Ask::Capture && !o.filter.empty())
        throw UsageError("korvacap takes no capture filter: every packet is captured; use a display filter");
    const bool perInterface = o.ask == Options::Ask::Dlts || o.ask == Options::Ask::Config ||
                              o.ask == Options::Ask::Capture || o.ask == Options::Ask::CheckFilter;
    if (perInterface && PortOfInterface(o.interface).empty())
        throw UsageError(o.interface.empty()
                             ? std::string("--extcap-interface is needed")
                             : "no such interface '" + o.interface + "': korva-COM1 to korva-COM6");
    if (o.ask == Options::Ask::Capture && o.fifo.empty()) throw UsageError("--capture needs --fifo");
    return o;
}

std::string DefaultWorkDir() {
    const auto set = [](const char* name) -> std::string {
        const char* v = std::getenv(name);
        return v != nullptr ? v : "";
    };
    if (!set("KORVACONFIG_HOME").empty()) return set("KORVACONFIG_HOME");
    // A relative XDG_DATA_HOME is no base folder by its rules; the launcher passes it over too.
    if (set("XDG_DATA_HOME").rfind('/', 0) == 0) return set("XDG_DATA_HOME") + "/korvaconfig";
    return set("HOME") + "/.local/share/korvaconfig";
}

std::string PortOfInterface(const std::string& interface) {
    if (interface.rfind(kPrefix, 0) != 0) return {};
    const std::string port = interface.substr(std::string(kPrefix).size());
    return LineNumber(port) != 0 && port.size() == 4 ? LineWord(LineNumber(port)) : std::string();
}

std::string InterfacesText(const std::string& workDir) {
    std::string text = "extcap {version=" KORVA_VERSION "}{display=KorvaConfig serial}\n";
    const auto mapped = ReadPortMap(workDir);
    std::error_code missing;
    // The ports the configuration maps, and those whose own device is there.
    for (std::uint8_t n = 1; n <= kMaxLine; ++n) {
        const std::string port = LineWord(n), path = DevicePathForPort(workDir, port);
        if (mapped.count(port) == 0 && !std::filesystem::exists(path, missing)) continue;
        text += "interface {value=" + std::string(kPrefix) + port + "}{display=KorvaConfig serial " + port +
                " (" + Field(path) + ")}\n";
    }
    return text;
}

std::string DltsText(const std::string& interface) {
    return "dlt {number=" + std::to_string(kPcapngLinkType) + "}{name=USER0}{display=KorvaConfig bus on " +
           Field(interface) + "}\n";
}

std::string ConfigText(const std::string& workDir) {
    std::string text =
        "arg {number=0}{call=--speed}{display=Speed}{tooltip=The line's speed in baud, as the devices "
        "use it}{type=selector}\n";
    for (int s : kSpeeds)
        text += "value {arg=0}{value=" + std::to_string(s) + "}{display=" + std::to_string(s) +
                "}{default=" + (s == 57600 ? "true" : "false") + "}\n";
    text +=
        "arg {number=1}{call=--workdir}{display=Working folder}{tooltip=The folder whose config/ports.xml "
        "maps COM1 to COM6 to devices}{type=string}{default=" +
        Field(workDir) + "}\n";
    return text;
}

const char* UsageText() {
    return R"(Usage: korvacap --extcap-interfaces
       korvacap --extcap-interface korva-COMn --extcap-dlts | --extcap-config
       korvacap --extcap-interface korva-COMn --fifo PATH --capture
                [--speed N] [--workdir DIR]

A live capture of the KorvaConfig bus for the packet analyzer, which runs
korvacap from its extcap folder: the interfaces "KorvaConfig serial COM1" to
"COM6" are the ports that config/ports.xml maps (or whose own device
/dev/ttyUSB0 to /dev/ttyUSB5 is there). A capture only listens: the line is
opened read-only, so nothing can be sent, and RTS, which keys the transmitter
of some adapters, is taken down after the system raised it on opening. Each
packet becomes one pcapng block of link type 147 with its time to the
microsecond; a packet whose checksum is wrong is kept and so marked.

  --speed N     The line's speed: 2400, 9600, 14400, 19200, 28800, 37600,
                57600 (default) or 115200.
  --workdir DIR The folder that holds config/ (default: KORVACONFIG_HOME, else
                $XDG_DATA_HOME/korvaconfig, else ~/.local/share/korvaconfig). The
                list of interfaces always comes from the default.

A capture ends when the analyzer stops it (SIGTERM, or the fifo closed);
exit status 0. It ends with status 1 and the reason on stderr when the line
cannot be opened or goes away.
)";
}

}  // namespace korva::korvacap
