#include "Options.h"

#include <array>
#include <cmath>
#include <string_view>

#include "model/TextConvert.h"
#include "sequence/LogFile.h"

namespace korva::korvarun {

namespace {

bool SetFlag(Options& o, const std::string& name) {
    if (name == "--all")
        o.all = true;
    else if (name == "--list")
        o.list = true;
    else if (name == "--stop-on-fail")
        o.stopOnFail = true;
    else if (name == "--quiet" || name == "-q")
        o.quiet = true;
    else if (name == "--help" || name == "-h")
        o.help = true;
    else if (name == "--version")
        o.version = true;
    else if (name == "--yes" || name == "--no") {
        const Answer a = name == "--yes" ? Answer::Yes : Answer::No;
        if (o.answer != Answer::Ask && o.answer != a) throw UsageError("--yes and --no exclude each other");
        o.answer = a;
    } else
        return false;
    return true;
}

bool IsValueOption(std::string_view name) {
    constexpr std::array<std::string_view, 19> names = {"--workdir",
                                                        "--port",
                                                        "--baud",
                                                        "--timeout",
                                                        "--junit",
                                                        "--json",
                                                        "--dut",
                                                        "--cleanup",
                                                        "--station",
                                                        "--poll",
                                                        "--interval",
                                                        "--for",
                                                        "--log",
                                                        "--units",
                                                        "--results",
                                                        "--operator",
                                                        "--part",
                                                        "--dut-from",
                                                        "--export-dissector-names"};
    for (std::string_view n : names)
        if (n == name) return true;
    return false;
}

// Seconds above 0 and up to the bound, as a decimal number.
double Seconds(const std::string& name, const std::string& value, double most) {
    std::size_t used = 0;
    double seconds = 0;
    try {
        seconds = std::stod(value, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != value.size() || !std::isfinite(seconds) || seconds <= 0 || seconds > most)
        throw UsageError(name + " wants seconds above 0 and up to " +
                         std::to_string(static_cast<long>(most)) + ", not '" + value + "'");
    return seconds;
}

void SetValue(Options& o, const std::string& name, const std::string& value) {
    if (value.empty()) throw UsageError(name + " needs a value");
    if (name == "--workdir") {
        o.workDir = value;
    } else if (name == "--port") {
        // A device path, or a port name that config/ports.xml maps.
        if (value.front() != '/' && ComPortNumber(value) == 0)
            throw UsageError("--port wants COM1 to COM6 or a device path, not '" + value + "'");
        o.port = value;
    } else if (name == "--baud") {
        const auto rate = ParseInt(value);
        if (!rate || *rate <= 0)
            throw UsageError("--baud wants a positive whole number, not '" + value + "'");
        o.baud = *rate;
    } else if (name == "--timeout") {
        // A day is far beyond any bench node; the bound keeps the deadline arithmetic finite.
        o.timeoutSeconds = Seconds(name, value, 86400);
    } else if (name == "--for") {
        // A year of polling keeps the deadline arithmetic finite.
        o.forSeconds = Seconds(name, value, 366 * 86400);
    } else if (name == "--interval") {
        // Read as the window reads its log interval; the engine holds at most this many 10 ms ticks.
        const std::optional<float> seconds = ParseLogInterval(value);
        if (!seconds || *seconds < 0 || static_cast<double>(*seconds) * 100.0 >= 2147483647.0)
            throw UsageError("--interval wants seconds from 0 up, not '" + value + "'");
        o.intervalSeconds = *seconds;
    } else if (name == "--poll") {
        o.poll.push_back(value);
    } else if (name == "--log") {
        o.logFile = value;
    } else if (name == "--results") {
        o.resultsFile = value;
    } else if (name == "--dut-from") {
        const auto dot = value.rfind('.');
        if (dot == std::string::npos || dot == 0 || dot + 1 == value.size())
            throw UsageError("--dut-from wants Device.Property, not '" + value + "'");
        o.dutFrom = value;
    } else if (name == "--export-dissector-names") {
        o.exportNames = value;
    } else if (name == "--operator") {
        o.operatorName = value;
    } else if (name == "--part") {
        o.part = value;
    } else if (name == "--units") {
        o.unitScheme = value;
    } else if (name == "--junit") {
        o.junitFile = value;
    } else if (name == "--json") {
        o.jsonFile = value;
    } else if (name == "--cleanup") {
        o.cleanupNode = value;
    } else if (name == "--station" && value.find('=') == std::string::npos &&
               (value.empty() || (value.front() != '/' && ComPortNumber(value) == 0))) {
        // Without a port, the station's name for the results.
        if (value.empty()) throw UsageError("--station wants a name or PORT=DUT");
        o.stationName = value;
    } else if (name == "--station") {
        const auto eq = value.find('=');
        const std::string port = value.substr(0, eq),
                          dut = eq == std::string::npos ? "" : value.substr(eq + 1);
        if (port.empty() || dut.empty() || (port.front() != '/' && ComPortNumber(port) == 0))
            throw UsageError("--station wants PORT=DUT, the port COM1 to COM6 or a device path, not '" +
                             value + "'");
        for (const Unit& u : o.stations)
            if (u.port == port || u.dut == dut)
                throw UsageError("--station " + value + ": each station needs a port and a DUT of its own");
        o.stations.push_back({port, dut});
    } else {
        o.dut = value;
    }
}

// A poll runs no sequence: what only a sequence run uses is refused rather than ignored.
void CheckPollMode(const Options& o, const std::vector<std::string>& positional) {
    if (!positional.empty())
        throw UsageError("--poll runs no sequence file, but '" + positional.front() + "' was given");
    const std::pair<bool, const char*> sequenceOnly[] = {{o.all, "--all"},
                                                         {o.list, "--list"},
                                                         {o.stopOnFail, "--stop-on-fail"},
                                                         {o.timeoutSeconds.has_value(), "--timeout"},
                                                         {!o.cleanupNode.empty(), "--cleanup"},
                                                         {!o.junitFile.empty(), "--junit"},
                                                         {!o.jsonFile.empty(), "--json"},
                                                         {!o.resultsFile.empty(), "--results"},
                                                         {!o.dutFrom.empty(), "--dut-from"},
                                                         {o.answer != Answer::Ask, "--yes and --no"}};
    for (const auto& [given, name] : sequenceOnly)
        if (given) throw UsageError(std::string(name) + " belongs to a sequence run, not to --poll");
    if (o.stations.size() > 1) throw UsageError("--poll polls one unit: give one --port or --station");
    if (o.Units().front().port.empty())
        throw UsageError("--poll needs the port to poll over: --port or --station");
}

}  // namespace

int ComPortNumber(const std::string& text) {
    if (text.size() != 4 || !SameIgnoringCase(text.substr(0, 3), "COM")) return 0;
    const char d = text[3];
    return d >= '1' && d <= '6' ? d - '0' : 0;
}

Options ParseArguments(std::span<const std::string> args) {
    Options o;
    std::vector<std::string> positional, named;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        if (optionsEnded || name.empty() || name.front() != '-' || name == "-") {
            positional.push_back(name);
            continue;
        }
        if (name == "--") {
            optionsEnded = true;
            continue;
        }
        std::optional<std::string> attached;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            attached = name.substr(eq + 1);
            name.resize(eq);
        }
        named.push_back(name);
        if (SetFlag(o, name)) {
            if (attached) throw UsageError(name + " takes no value");
            continue;
        }
        if (!IsValueOption(name)) throw UsageError("unknown option '" + name + "'");
        if (!attached && i + 1 >= args.size()) throw UsageError(name + " needs a value");
        SetValue(o, name, attached ? *attached : args[++i]);
    }
    if (o.help || o.version) return o;
    if (!o.exportNames.empty()) {
        // Only the configuration is read: anything else given would be silently left undone.
        for (const std::string& name : named)
            if (name != "--workdir" && name != "--export-dissector-names")
                throw UsageError("--export-dissector-names takes only --workdir besides its file, not " +
                                 name);
        if (!positional.empty())
            throw UsageError("--export-dissector-names runs no sequence file, but '" + positional.front() +
                             "' was given");
        return o;
    }
    if (!o.poll.empty()) {
        CheckPollMode(o, positional);
        return o;
    }
    const std::pair<bool, const char*> pollOnly[] = {{o.intervalSeconds.has_value(), "--interval"},
                                                     {o.forSeconds.has_value(), "--for"},
                                                     {!o.logFile.empty(), "--log"}};
    for (const auto& [given, name] : pollOnly)
        if (given) throw UsageError(std::string(name) + " belongs to --poll");
    if (positional.empty()) throw UsageError("no sequence file given");
    o.sequenceFile = positional.front();
    o.nodes.assign(positional.begin() + 1, positional.end());
    if (o.all && !o.nodes.empty())
        throw UsageError("--all runs every display node; name nodes or give --all");
    if (!o.dutFrom.empty()) {
        if (!o.dut.empty())
            throw UsageError("--dut-from reads the DUT from the unit: give it or --dut, not both");
        for (const Unit& u : o.Units())
            if (u.port.empty())
                throw UsageError("--dut-from needs the port the unit hangs on: --port or --station");
    }
    return o;
}

const char* UsageText() {
    return R"(Usage: korvarun [options] FILE.kts [NODE...]
       korvarun --poll ITEM [--poll ITEM...] --port PORT [--interval SECONDS]
                [--for SECONDS] [--log FILE.csv]
       korvarun --export-dissector-names FILE.lua [--workdir DIR]
       korvarun results history DUT | yield [--since DATE] [--by day|station|part]
                | pareto [--since DATE] | sync   [--csv|--json] [--results WHERE]

Runs test nodes of a sequence file against the devices of a KorvaConfig
configuration, without a window, and ends. Without NODE it runs the node
"autorun".

Options:
  --workdir DIR     The folder that holds config/ (default: the working folder).
  --port PORT       Opens COM1..COM6 (as config/ports.xml maps them) or a
                    device path before the first node.
  --baud N          The line speed (default 57600).
  --all             Runs every displaytestnode of the file, in file order.
  --list            Prints the nodes and actions of the file and ends.
  --timeout SECONDS Ends a node that runs longer as ERROR; the run goes on.
  --stop-on-fail    Ends the run after the first node that did not pass.
  --cleanup NODE    Runs NODE after the run however it ended (passed, failed,
                    error, timeout, SIGINT or SIGTERM), for example to put
                    the unit in a safe state; a second signal ends it.
  --yes, --no       The answer to every userintervention and usermessage.
  --quiet           One line per node instead of one per action.
  --junit FILE      Writes a JUnit report.
  --json FILE       Writes a JSON record of the run.
  --dut ID          The identity of the device under test, for the reports.
  --dut-from DEVICE.PROPERTY
                    Reads the DUT's identity from the unit (a serial number,
                    say) before the first node; a unit that does not answer
                    ends the run in error. Needs --port or --station.
  --results WHERE   Keeps every run and its steps in this SQLite file or on
                    the PostgreSQL server of a postgresql:// URL (default:
                    the <location> of config/results.xml, else results.sqlite
                    in the working folder; "none" keeps none). Several
                    korvarun processes may write one file at once. A server
                    that cannot be reached is said, and the run is kept in
                    results.sqlite until "korvarun results sync" sends it.
  --station NAME    The station's name for the results (default: the host
                    name).
  --operator NAME   Who ran the test, for the results (default: the login name).
  --part NUMBER     The part number of the unit, for the results.
  --units SCHEME    Shows engineering values in a unit scheme of the units
                    document (for example SI or US) instead of each
                    property's own unit. Sequences keep their raw numbers.
  --station PORT=DUT
                    One unit on PORT (COM1..COM6 or a device path); given more
                    than once, the same nodes run on every unit at once, each
                    with its own engine, timeouts and record. Replaces --port
                    and --dut. Prompts then need --yes or --no.
  --help            Prints this text.
  --version         Prints the version.

The packet analyzer's names, without a sequence file:
  --export-dissector-names FILE.lua
                    Writes the device and property names of the configuration
                    as the table that the bus dissector korva.lua loads: save
                    it as korva_names.lua in the analyzer's personal
                    configuration folder (~/.config/wireshark), or name it in
                    the protocol's preference "Names file".

Polling, without a sequence file:
  --poll ITEM       Polls Device.Property, every property of Device, or all
                    properties of all devices; may be given more than once.
                    An unknown device or property is refused before anything
                    is sent.
  --interval SECONDS
                    The poll period, which is also the log interval
                    (default: the program's own, 4 s).
  --for SECONDS     Ends the poll after this long (default: at SIGINT or
                    SIGTERM, which end it just as cleanly).
  --log FILE.csv    Logs the polled properties, one row a period, in the CSV
                    layout of the program's log.
  At the end one line per polled device, in the configuration's order:
  "device NAME reads N errors M" (N replies read, M times a property of it
  turned ERROR). Exit status: 0 every polled device answered, 1 a device
  never answered, 2 an error (a ITEM, the configuration, the port, the log).

The results store, from a terminal (where the run keeps its results, unless
--results or --workdir says otherwise): "history DUT" lists every run
of a unit, oldest first; "yield" counts the units with a finished run and
those whose first attempt passed and whose last run passed, over all or per
day, station or part; "pareto" lists the failing steps by count. --since
takes a date or time (2026-12-07). As a table, or --csv or --json. "sync"
sends the runs that results.sqlite keeps for the server to it; a run sent
twice is kept once.

Exit status: 0 every node passed, 1 a node failed, 2 an error (a node in
ERROR, the configuration, the file or the port), 130 interrupted.
)";
}

}  // namespace korva::korvarun
