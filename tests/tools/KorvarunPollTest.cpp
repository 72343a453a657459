// korvarun --poll against korvasim over a pseudo-terminal: the tallies, the exit status, the CSV log.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <sstream>
#include <thread>

#include "support/SimProcess.h"
#include "xml/SafeFile.h"

namespace korva {
namespace {

struct Tally {
    std::string device;
    long reads = -1, errors = -1;
};

// Every line "device NAME reads N errors M", in the order printed.
std::vector<Tally> Tallies(const std::string& out) {
    std::vector<Tally> tallies;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        char name[64] = {}, rest = 0;
        Tally t;
        if (std::sscanf(line.c_str(), "device %63s reads %ld errors %ld%c", name, &t.reads, &t.errors,
                        &rest) == 3)
            tallies.push_back({name, t.reads, t.errors});
    }
    return tallies;
}

TEST(KorvarunPoll, PollsLogsAndTellsWhoAnswered) {
    const std::vector<std::string> demo = {"FeedPump", "Boiler", "ValveBlock", "CoolingFan", "Doser"};
    const struct {
        const char* name;
        std::vector<std::string> args;  // besides the port and the work folder
        std::string silent;             // a device the simulator does not serve
        bool term = false;              // ended by SIGTERM instead of --for
        int status;
        std::vector<std::string> devices;  // the tallies' devices, in order
        std::string says;                  // on stderr
    } rows[] = {
        {"AllOnTheDemo",
         {"--poll", "all", "--interval", "0.2", "--for", "2", "--log", "@log.csv"},
         "",
         false,
         0,
         demo,
         ""},
        {"SigtermEndsItWhole",
         {"--poll", "Boiler", "--interval", "0.2", "--log", "@log.csv"},
         "",
         true,
         0,
         {"Boiler"},
         ""},
        {"OneDeviceSilent",
         {"--poll", "Doser.FirmwareVersion", "--poll", "ValveBlock", "--poll", "Boiler", "--for", "2"},
         "ValveBlock",
         false,
         1,
         {"Boiler", "ValveBlock", "Doser"},
         ""},
        {"UnknownProperty",
         {"--poll", "all", "--poll", "Boiler.NoSuch"},
         "",
         false,
         2,
         {},
         "--poll Boiler.NoSuch: device 'Boiler' has no property 'NoSuch'"},
        {"UnknownDevice", {"--poll", "Nobody"}, "", false, 2, {}, "no device 'Nobody' in the configuration"},
        {"LogCannotOpen",
         {"--poll", "all", "--for", "1", "--log", "@none/log.csv"},
         "",
         false,
         2,
         {},
         "Can't Open Log File"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::DemoSim plant;
        // The unit is read from the demo itself: the simulator's copy may lack a device.
        if (!row.silent.empty()) {
            std::string xml = ReadRegularFile(plant.ConfigDir() + "/plant.xml");
            const std::size_t at = xml.find("Address=\"", xml.find("Name=\"" + row.silent + "\"")) + 9;
            xml.replace(at, xml.find('"', at) - at, "99");
            plant.dir.Write("config/plant.xml", xml);
        }
        ASSERT_TRUE(plant.Start()) << plant.sim->err;
        std::vector<std::string> args{"--workdir", KORVA_DEMO_DIR, "--port", plant.pty};
        for (const std::string& a : row.args)
            args.push_back(a[0] == '@' ? plant.dir.Path() + "/" + a.substr(1) : a);
        test::SimProcess run(args, KORVARUN_PATH);
        if (row.term) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            run.Signal(SIGTERM);
        }
        ASSERT_EQ(run.Wait(), row.status) << run.out << run.err;
        EXPECT_NE(run.err.find(row.says), std::string::npos) << run.err;
        const std::vector<Tally> tallies = Tallies(run.out);
        ASSERT_EQ(tallies.size(), row.devices.size()) << run.out;
        for (std::size_t i = 0; i < tallies.size(); ++i) {
            EXPECT_EQ(tallies[i].device, row.devices[i]);
            const bool silent = tallies[i].device == row.silent;
            EXPECT_EQ(tallies[i].reads > 0, !silent) << tallies[i].device << " reads " << tallies[i].reads;
            EXPECT_EQ(tallies[i].errors > 0, silent) << tallies[i].device << " errors " << tallies[i].errors;
        }
        if (std::find(row.args.begin(), row.args.end(), "@log.csv") == row.args.end()) continue;
        // The window's layout: a header, then one whole row a period, as many fields in each.
        std::istringstream csv(ReadRegularFile(plant.dir.Path() + "/log.csv"));
        std::string line, header;
        while (std::getline(csv, line) && line.rfind("Time,Time Elapsed,", 0) != 0) {
        }
        header = line;
        EXPECT_NE(header.find(",Boiler.FirmwareVersion,"), std::string::npos) << header;
        int logged = 0;
        for (; std::getline(csv, line); ++logged)
            EXPECT_EQ(std::count(line.begin(), line.end(), ','),
                      std::count(header.begin(), header.end(), ','));
        EXPECT_GE(logged, 5);
    }
}

}  // namespace
}  // namespace korva
