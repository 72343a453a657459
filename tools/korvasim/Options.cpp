#include "Options.h"

#include <charconv>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>

namespace korva::korvasim {

namespace {

constexpr int kMaxLatencyMs = 10000;

// The whole text must be the number: "5x", " 5" and "" are refused.
template <typename T>
std::optional<T> ParseWhole(std::string_view text) {
    if (text.empty()) return std::nullopt;
    T value{};
    const char* last = text.data() + text.size();
    const auto [end, ec] = std::from_chars(text.data(), last, value);
    if (ec != std::errc{} || end != last) return std::nullopt;
    return value;
}

double Rate(const std::string& option, const std::string& text) {
    const auto v = ParseWhole<double>(text);
    // Written so that NaN fails as well.
    if (!v || !(*v >= 0.0 && *v <= 1.0))
        throw UsageError(option + " wants a rate from 0 to 1, not '" + text + "'");
    return *v;
}

// The program reads DIR/../config/paths.xml, so the folder has to be called config for the
// simulator to see the same files as the program.
std::string ConfigDir(const std::string& text) {
    if (text.empty()) throw UsageError("--config-dir wants a folder");
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(text, ec);
    if (ec) throw UsageError("--config-dir: cannot make sense of '" + text + "'");
    p = p.lexically_normal();
    if (!p.has_filename()) p = p.parent_path();
    if (p.filename() != "config")
        throw UsageError(
            "--config-dir must name a folder called config (paths inside it start at its parent), not '" +
            text + "'");
    return p.string();
}

std::string PortName(const std::string& text) {
    const bool com = text.size() == 4 && (text[0] == 'C' || text[0] == 'c') &&
                     (text[1] == 'O' || text[1] == 'o') && (text[2] == 'M' || text[2] == 'm') &&
                     text[3] >= '1' && text[3] <= '6';
    if (!com) throw UsageError("--link wants a port name from COM1 to COM6, not '" + text + "'");
    return std::string("COM") + text[3];
}

bool IsValueOption(std::string_view name) {
    for (std::string_view o :
         {"--config-dir", "--link", "--device", "--latency", "--baud", "--duplex", "--lose", "--drop",
          "--double", "--refuse", "--corrupt", "--seed", "--other-master", "--other-every"})
        if (o == name) return true;
    return false;
}

bool SetFlag(Options& o, std::string_view name) {
    if (name == "--decimal")
        o.faults.decimal = true;
    else if (name == "--split")
        o.faults.split = true;
    else if (name == "--trace")
        o.trace = true;
    else if (name == "--help")
        o.help = true;
    else
        return false;
    return true;
}

void SetValue(Options& o, const std::string& name, const std::string& value) {
    if (name == "--config-dir") {
        o.configDir = ConfigDir(value);
    } else if (name == "--link") {
        o.link = PortName(value);
    } else if (name == "--device") {
        if (value.empty()) throw UsageError("--device wants the path of a serial device");
        o.device = value;
    } else if (name == "--latency") {
        const auto ms = ParseWhole<int>(value);
        if (!ms || *ms < 0 || *ms > kMaxLatencyMs)
            throw UsageError("--latency wants milliseconds from 0 to 10000, not '" + value + "'");
        o.latencyMs = *ms;
    } else if (name == "--baud") {
        const auto baud = ParseWhole<int>(value);
        if (!baud || *baud < 50 || *baud > 4000000)
            throw UsageError("--baud wants a line speed from 50 to 4000000, not '" + value + "'");
        o.baud = *baud;
    } else if (name == "--duplex") {
        if (value != "half" && value != "full")
            throw UsageError("--duplex wants half or full, not '" + value + "'");
        o.halfDuplex = value == "half";
    } else if (name == "--lose") {
        o.faults.loseRate = Rate(name, value);
    } else if (name == "--drop") {
        o.faults.dropRate = Rate(name, value);
    } else if (name == "--double") {
        o.faults.doubleRate = Rate(name, value);
    } else if (name == "--refuse") {
        o.faults.refuseRate = Rate(name, value);
    } else if (name == "--corrupt") {
        o.faults.corruptRate = Rate(name, value);
    } else if (name == "--other-master") {
        const auto address = ParseWhole<int>(value);
        if (!address || *address < 1 || *address > 255)
            throw UsageError("--other-master wants a bus address from 1 to 255, not '" + value + "'");
        o.otherMaster = *address;
    } else if (name == "--other-every") {
        const auto ms = ParseWhole<int>(value);
        if (!ms || *ms < 1 || *ms > kMaxLatencyMs)
            throw UsageError("--other-every wants milliseconds from 1 to 10000, not '" + value + "'");
        o.otherEveryMs = *ms;
    } else if (name == "--seed") {
        const auto seed = ParseWhole<std::uint32_t>(value);
        if (!seed) throw UsageError("--seed wants a whole number from 0 to 4294967295, not '" + value + "'");
        o.faults.seed = *seed;
    }
}

}  // namespace

Options ParseArguments(std::span<const std::string> args) {
    Options o;
    o.configDir = ConfigDir(o.configDir);
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> attached;
        if (name.rfind("--", 0) == 0) {
            if (const auto eq = name.find('='); eq != std::string::npos) {
                attached = name.substr(eq + 1);
                name.resize(eq);
            }
        }
        if (SetFlag(o, name)) {
            if (attached) throw UsageError(name + " takes no value");
            continue;
        }
        if (!IsValueOption(name)) {
            if (name.rfind('-', 0) == 0) throw UsageError("unknown option '" + name + "'");
            throw UsageError("unexpected argument '" + name + "'");
        }
        std::string value;
        if (attached) {
            value = *attached;
        } else {
            // "--device --trace" is a forgotten value, not a device called --trace.
            if (i + 1 >= args.size() || args[i + 1].rfind("--", 0) == 0)
                throw UsageError(name + " needs a value");
            value = args[++i];
        }
        SetValue(o, name, value);
    }
    return o;
}

const char* UsageText() {
    return R"(Usage: korvasim [options]

Serves the devices of a KorvaConfig configuration on a serial line and answers
the program's requests as the field devices would. Every property and every
file element starts at 0.

Options:
  --config-dir DIR  The folder holding paths.xml (default: config). It must be
                    called config: relative paths inside the configuration
                    files start at its parent folder, as they do for the
                    program.
  --link NAME       The port name, COM1 to COM6 (default: COM1), that
                    DIR/ports.xml points at the new pseudo-terminal while
                    korvasim runs. The file's other entries are kept, and the
                    file is put back as it was when korvasim ends.
  --device PATH     Serve this serial device instead of a new pseudo-terminal:
                    raw, 57600 baud, 8 data bits, no parity, 1 stop bit, no
                    flow control. ports.xml is left alone and --link has no
                    effect.
  --latency MS      Milliseconds from a request to its reply, 0 to 10000
                    (default: 2).
  --baud N          Pace the line as N baud would: each character takes 10/N s
                    to cross it (default: no pacing). The program's own speed
                    box is not consulted; a pseudo-terminal ignores it.
  --duplex half|full  half (default): requests and replies share one line and
                    wait for each other; full: each way has a line of its own.
  --lose RATE       Share of requests that the devices never hear, as if lost
                    on the line, 0 to 1 (default: 0).
  --drop RATE       Share of replies that are never sent, 0 to 1 (default: 0);
                    the device has carried out the request all the same.
  --double RATE     Share of replies that are sent twice, the copy 20 ms after
                    the reply, 0 to 1 (default: 0).
  --refuse RATE     Share of requests answered with a refusal, 0 to 1
                    (default: 0).
  --corrupt RATE    Share of replies with one damaged character, so that their
                    checksum fails, 0 to 1 (default: 0).
  --decimal         Write each byte of a reply as three decimal digits instead
                    of x and two hexadecimal digits.
  --split           Send every reply in two pieces about 15 ms apart, so that
                    the program receives them as two separate clusters.
  --seed N          Seed of the fault generator, 0 to 4294967295 (default: 1);
                    the same seed and the same traffic give the same faults.
  --other-master ADDR  Put a second master with bus address ADDR (1 to 255) on
                    the line: every 100 ms it reads the next property of the
                    served devices, and its request and the reply both travel
                    on the line, as traffic between other nodes that the
                    program hears (try it with "Coms", "Monitor Only").
  --other-every MS  How often the second master sends a request, 1 to 10000
                    milliseconds (default: 100); 1 floods the line.
  --trace           Print one line per packet on stdout, in the format of the
                    program's capture files: the time (UTC), "rx" for each
                    request to a served device or "tx" for each reply, the
                    --link name when the plant's devices stand on several
                    lines, and the packet as the line carries it. "Open
                    Capture" in the program's packet trace reads such a file.
  --help            Print this text and exit.

The first line on stdout names the line being served. SIGINT and SIGTERM end
korvasim cleanly, as does a hang-up of the line.

Exit status: 0 when ended by a signal, a hang-up or --help; 1 for a bad command
line; 2 when the configuration cannot be loaded; 3 when the line or ports.xml
cannot be set up.
)";
}

}  // namespace korva::korvasim
