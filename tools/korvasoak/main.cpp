// korvasoak: the real main window, offscreen, on the demo plant served by korvasim with faults,
// polling every property and running a sequence in a loop for a given time. It reports the
// traffic, the memory at start and end, and whether any link was left waiting for nothing.
//
// usage: korvasoak KORVASIM DEMO_DIR MINUTES [korvasim fault options...]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ui/KorvaConfigMain.h"

namespace {

long ResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

const char* kLoop =
    "testnode \"Soak Loop\";\n"
    "get FeedPump.SpeedSetpoint;\n"
    "set FeedPump.SpeedSetpoint 1450;\n"
    "test FeedPump.SpeedSetpoint 1450 1450;\n"
    "set Boiler.FlowTempSetpoint 650;\n"
    "get Doser.TankLevel;\n"
    "loadfile Doser.Recipe;\n"
    "wait 20;\n"
    "if nodenotfail \"Soak Loop\";\n"
    "if nodefail \"Soak Loop\";\n"
    "endnode;\n";

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: korvasoak KORVASIM DEMO_DIR MINUTES [korvasim options...]\n");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::string korvasim = argv[1];
    const double minutes = std::stod(argv[3]);

    const auto work = std::filesystem::temp_directory_path() / ("korvasoak-" + std::to_string(getpid()));
    std::filesystem::create_directories(work);
    std::filesystem::copy(std::filesystem::path(argv[2]) / "config", work / "config",
                          std::filesystem::copy_options::recursive);
    std::ofstream(work / "config/tools/zz_soak.kts") << kLoop;

    int out[2];
    if (pipe(out) != 0) return 2;
    const pid_t sim = fork();
    if (sim == 0) {
        dup2(out[1], 1);
        std::vector<std::string> args{korvasim, "--config-dir", (work / "config").string()};
        for (int i = 4; i < argc; ++i) args.emplace_back(argv[i]);
        std::vector<char*> cargs;
        for (auto& a : args) cargs.push_back(a.data());
        cargs.push_back(nullptr);
        execv(korvasim.c_str(), cargs.data());
        _exit(127);
    }
    close(out[1]);
    char line[256] = {};
    const ssize_t n = read(out[0], line, sizeof line - 1);  // "korvasim: serving ..."
    std::printf("%s", n > 0 ? line : "korvasim did not start\n");

    korva::UiDialogs quiet;
    quiet.message = [](const QString&) {};
    quiet.error = [](const QString& t) { std::fprintf(stderr, "error box: %s\n", qPrintable(t)); };
    quiet.confirm = [](const QString&) { return true; };
    quiet.openSequence = [] { return QString(); };
    quiet.requestEnd = [] {};
    quiet.question = [](const QString&) { return true; };
    quiet.alert = [](const QString& t, const QString&) {
        std::fprintf(stderr, "alert: %s\n", qPrintable(t));
    };
    auto form = std::make_unique<korva::TForm1>(work.string(), korva::WindowWiring{&quiet});
    form->show();
    form->FormActivate();
    form->comPorts().OpenPort(1);
    form->comPorts().ChangeBaudRate("115200");
    std::vector<korva::KRemoteLink*> links;
    for (const auto& [name, device] : form->engine().Model().devices)
        for (const auto& [linkName, link] : device->links) {
            links.push_back(link);
            if (!link->IsFileHandle()) link->SetPoll(true);
        }
    form->Sequences()->RunNodeByName("Soak Loop");
    const long rssStart = ResidentKiB();
    const auto start = std::chrono::steady_clock::now();

    QTimer report;
    QObject::connect(&report, &QTimer::timeout, [&] {
        std::printf("%6.1f min  sent %llu  replies %llu  rss %ld KiB\n",
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / 60.0,
                    static_cast<unsigned long long>(form->engine().Line().packetsSent),
                    static_cast<unsigned long long>(form->engine().Line().repliesQueued), ResidentKiB());
        std::fflush(stdout);
    });
    report.start(60000);
    QTimer::singleShot(static_cast<int>(minutes * 60000), &app, &QApplication::quit);
    QApplication::exec();

    // Stop asking, let every request end, and look for links left waiting with nothing in flight.
    for (auto* l : links) l->SetPoll(false);
    form->Sequences()->ResetStore();
    QTimer::singleShot(3000, &app, &QApplication::quit);
    QApplication::exec();
    int errors = 0, stuck = 0, busySlots = 0;
    for (auto* l : links) {
        errors += l->state == korva::LinkState::ERROR;
        stuck +=
            (l->state == korva::LinkState::GET || l->state == korva::LinkState::SET) && l->pending == nullptr;
    }
    for (const auto& s : form->engine().Line().Slots().All()) busySlots += s.state != korva::SlotState::Free;
    std::printf(
        "requests sent %llu\nreplies taken %llu\nlinks in ERROR at the end %d of %zu\n"
        "links left in GET or SET with no request in flight: %d\nslots still busy: %d\n"
        "resident memory at start %ld KiB, at end %ld KiB\nport open at the end: %s\n",
        static_cast<unsigned long long>(form->engine().Line().packetsSent),
        static_cast<unsigned long long>(form->engine().Line().repliesQueued), errors, links.size(), stuck,
        busySlots, rssStart, ResidentKiB(), form->SerialPortNG1().Active() ? "yes" : "no");
    form.reset();
    kill(sim, SIGTERM);
    waitpid(sim, nullptr, 0);
    std::filesystem::remove_all(work);
    return stuck == 0 && busySlots == 0 ? 0 : 3;
}
