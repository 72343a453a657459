#include "model/ConfigLoader.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <new>

#include "model/TextConvert.h"
#include "support/Deadline.h"
#include "support/FakeBus.h"
#include "support/FakeLoader.h"
#include "support/TempDir.h"
#include "xml/XmlDocument.h"

namespace korva {
namespace {

using test::FakeBus;
using Recorder = test::FakeLoaderHost;
using test::TempDir;

const char* kPaths =
    "<paths><configpath>config/first.xml</configpath><constantspath>config\\consts.xml</constantspath>"
    "<configpath>config\\plant.xml</configpath></paths>";
const char* kConstants =
    "<constants><symbols Word=\"0\" Byte=\"1\" WordOpt=\"3\" File8=\"4\" File16=\"5\" SPEED=\"5\" TEMP=\"12\""
    " CURVE=\"40\" LOG=\"41\" BAD=\"x1\"/><ignored Late=\"9\"/></constants>";

struct Loaded {
    FakeBus bus;
    KModel model{bus};
    Recorder rec;
    std::unique_ptr<ConfigLoader> loader;
};

std::unique_ptr<Loaded> Load(const TempDir& dir) {
    auto l = std::make_unique<Loaded>();
    l->model.SetListener(&l->rec);
    l->loader = std::make_unique<ConfigLoader>(l->model, l->rec, dir.Path());
    l->loader->LoadConfiguration();
    return l;
}

// The paths and constants above, and this plant.
void WritePlant(const TempDir& dir, const std::string& plant) {
    dir.Write("config/paths.xml", kPaths);
    dir.Write("config/consts.xml", kConstants);
    dir.Write("config/plant.xml", plant);
}

TEST(ConfigLoader, BuildsThePlantInDocumentOrder) {
    TempDir dir;
    WritePlant(dir,
               "<plant>\n"
               "  <KDevice Name=\"Pump\" Address=\"35\">\n"
               "    <KProperty Name=\"Speed\" Type=\"Word\" Code=\"SPEED\" Signed=\"True\">"
               "<Helptext><![CDATA[Shaft speed\r\nin rpm]]></Helptext></KProperty>\n"
               "    <Group Name=\"Hidden\"><KProperty Name=\"Temp\" Type=\"Byte\" Code=\"TEMP\">"
               "<Display Level=\"advanced\"/></KProperty></Group>\n"
               "    <Comment><KProperty Name=\"NotMe\" Type=\"Word\" Code=\"SPEED\"/></Comment>\n"
               "  </KDevice>\n"
               "  <KFileHandle Name=\"Curve\" Type=\"File8\" Code=\"CURVE\" Length=\"16\"><Display "
               "Level=\"Advanced\"/>"
               "</KFileHandle>\n"
               "  <KDevice Name=\"PUMP\" Address=\"42\" Port=\"com2\"/>\n"
               "  <KFileHandle Name=\"Log\" Type=\"File16\" Code=\"LOG\" Length=\"0\"/>\n"
               "</plant>");
    auto l = Load(dir);
    EXPECT_TRUE(l->rec.messages.empty()) << l->loader->LastError();
    EXPECT_EQ(l->rec.announced, (std::vector<std::string>{"device Pump", "property Pump.Speed listed",
                                                          "property Pump.Temp listed", "file Pump.Curve",
                                                          "device PUMP", "file PUMP.Log"}));
    KModel& m = l->model;
    ASSERT_EQ(m.devices.Count(), 1u);
    EXPECT_EQ(m.devices.Name(0), "Pump");
    EXPECT_EQ(m.devices.Object(0)->address, 42);
    EXPECT_EQ(m.devices.Object(0)->port, "COM2");  // the line it names, written as the menu writes it
    const KDevice* second = m.FindDeviceByAddress(42);
    ASSERT_EQ(second, m.devices.Object(0));
    EXPECT_EQ(second->links.Count(), 1u);
    EXPECT_NE(m.FindLink("pump", "log"), nullptr);
    EXPECT_EQ(m.FindLink("Pump", "NotMe"), nullptr);
    EXPECT_EQ(m.FindDeviceByAddress(35), nullptr);  // replaced in the list, still alive
    ASSERT_NE(l->loader->Configuration(), nullptr);
    const XmlNode* pumpElement = l->loader->Configuration()->child(0);
    ASSERT_NE(pumpElement, nullptr);
    EXPECT_EQ(pumpElement->getAttribute("Name"), "Pump");
}

TEST(ConfigLoader, LinkFieldsFromTheElements) {
    TempDir dir;
    WritePlant(
        dir,
        "<plant><KDevice Name=\"Pump\" Address=\"291\"><KProperty Name=\"Speed\" Type=\"WordOpt\" "
        "Code=\"SPEED\">"
        "<Helptext><![CDATA[Shaft speed\r\nin rpm]]></Helptext></KProperty>"
        "<KProperty Name=\"Temp\" Type=\"Byte\" Code=\"TEMP\"><Display Level=\"advanced\"/></KProperty>"
        "<KProperty Name=\"Hid\" Type=\"Byte\" Code=\"TEMP\"><Display Level=\"Advanced\"/></KProperty>"
        "<KFileHandle Name=\"Curve\" Type=\"File8\" Code=\"CURVE\" Length=\"127\"><Display "
        "Level=\"Advanced\"/>"
        "</KFileHandle></KDevice></plant>");
    auto l = Load(dir);
    ASSERT_TRUE(l->rec.messages.empty()) << l->loader->LastError();
    KDevice* pump = l->model.devices.Find("pump");
    ASSERT_NE(pump, nullptr);
    EXPECT_EQ(pump->address, 35);  // 291 kept in 8 bits
    auto* speed = pump->links.Find("Speed");
    EXPECT_EQ(speed->type, 3);
    EXPECT_EQ(speed->code, 5);
    EXPECT_EQ(speed->current.kind, 3);
    EXPECT_EQ(SplitLines(speed->helpText), (std::vector<std::string>{"Shaft speed", "in rpm"}));
    EXPECT_TRUE(speed->basic);
    EXPECT_TRUE(pump->links.Find("Temp")->basic);  // only the exact word hides
    EXPECT_FALSE(pump->links.Find("Hid")->basic);
    auto* curve = dynamic_cast<KFileLink*>(pump->links.Find("Curve"));
    ASSERT_NE(curve, nullptr);
    EXPECT_FALSE(curve->basic);
    EXPECT_EQ(curve->size, 127);
    EXPECT_EQ(curve->type, 4);
    EXPECT_EQ(curve->code, 40);
    EXPECT_EQ(curve->logChannel, nullptr);
    EXPECT_NE(speed->logChannel, nullptr);
}

TEST(ConfigLoader, FailuresGiveTheirMessageAndKeepWhatWasMade) {
    // Pump with its Speed, and what the row puts inside it.
    const auto pump = [](const std::string& inside, const char* end = "</KDevice></p>") {
        return "<p><KDevice Name=\"Pump\" Address=\"35\"><KProperty Name=\"Speed\" Type=\"Word\" "
               "Code=\"SPEED\"/>" +
               inside + end;
    };
    const auto prop = [](const char* type, const char* code) {
        return std::string("<KProperty Name=\"T\" Type=\"") + type + "\" Code=\"" + code + "\"/>";
    };
    const auto curve = [](const char* type, const char* length) {
        return std::string("<KFileHandle Name=\"C\" Type=\"") + type + "\" Code=\"CURVE\" Length=\"" +
               length + "\"/>";
    };
    const struct {
        const char* what;
        const char* missing;  // the file not written: paths, consts or plant
        std::string plant;
        std::size_t messages;  // the last ones of the three, in their order
        std::size_t links;     // links of Pump made before the failure
        const char* constants = kConstants;
    } cases[] = {
        {"no paths file", "paths", "<p/>", 3, 0},
        {"no constants file", "consts", pump(""), 2, 0},
        {"no config file", "plant", "", 1, 0},
        {"bad address", "", pump("", "</KDevice><KDevice Name=\"B\" Address=\"x\"/></p>"), 1, 1},
        {"hexadecimal address", "", pump("", "</KDevice><KDevice Name=\"B\" Address=\"0x23\"/></p>"), 1, 1},
        {"hexadecimal length", "", pump(curve("File8", "$3")), 1, 1},
        {"unknown type symbol", "", pump(prop("Float", "TEMP")), 1, 1},
        {"code not an integer", "", pump(prop("Word", "BAD")), 1, 1},
        {"property before any device", "", "<p>" + prop("Word", "TEMP") + "</p>", 1, 0},
        {"length too large", "", pump(curve("File8", "128")), 1, 1},
        {"length negative", "", pump(curve("File8", "-1")), 1, 1},
        {"property of a file type", "", pump(prop("File8", "CURVE")), 1, 1},
        {"file handle of a property type", "", pump(curve("Word", "3")), 1, 1},
        {"constants without symbols", "", pump(""), 1, 0, "<constants/>"},
        {"a damaged file loads as far as it goes", "",
         pump(prop("Word", "TEMP") + "<KProperty Name=\"U\" Type =\"Word\"", ""), 0, 2},
        {"only the first element of the constants counts", "", pump(prop("Word", "Late")), 1, 1},
    };
    const std::vector<std::string> all = {ConfigLoader::kPathMessage, ConfigLoader::kConstantsMessage,
                                          ConfigLoader::kConfigMessage};
    for (const auto& c : cases) {
        TempDir dir;
        const std::string missing = c.missing;
        if (missing != "paths") dir.Write("config/paths.xml", kPaths);
        if (missing != "consts") dir.Write("config/consts.xml", c.constants);
        if (missing != "plant") dir.Write("config/plant.xml", c.plant);
        auto l = Load(dir);
        EXPECT_EQ(l->rec.messages,
                  std::vector<std::string>(all.end() - static_cast<long>(c.messages), all.end()))
            << c.what;
        EXPECT_EQ(l->rec.endRequests, static_cast<int>(c.messages)) << c.what;
        KDevice* pumpDevice = l->model.devices.Find("Pump");
        EXPECT_EQ(pumpDevice ? pumpDevice->links.Count() : 0u, c.links) << c.what;
    }
}

// Files that are no files, too large, or a failed allocation: each ends the program with its
// message, within a time limit.
TEST(ConfigLoader, OddFilesAndMemoryFailuresEndTheProgram) {
    const std::string paths = ConfigLoader::kPathMessage, constants = ConfigLoader::kConstantsMessage,
                      config = ConfigLoader::kConfigMessage;
    const struct {
        const char* file;  // replaced by a pipe, a link to /dev/zero or 1 GB
        const char* as;
        int failAtLoad;        // the allocation probe throws on this load (1 paths, 2 constants, 3 config)
        std::string messages;  // each one ends the program
        int ends;
    } cases[] = {
        {"paths.xml", "pipe", 0, paths + constants + config, 3},
        {"consts.xml", "zero", 0, constants, 1},
        {"plant.xml", "pipe", 0, config, 1},
        {"plant.xml", "1 GB", 0, config, 1},
        {"", "", 1, paths + constants + config, 3},
        {"", "", 2, constants, 1},
        {"", "", 3, config, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.as + " " + std::to_string(c.failAtLoad));
        TempDir dir;
        WritePlant(dir, "<p><KDevice Name=\"Pump\" Address=\"35\"/></p>");
        const std::string path = dir.Path() + "/config/" + c.file, as = c.as;
        if (as == "pipe" || as == "zero") std::filesystem::remove(path);
        if (as == "pipe") ::mkfifo(path.c_str(), 0600);
        if (as == "zero") std::filesystem::create_symlink("/dev/zero", path);
        if (as == "1 GB") std::filesystem::resize_file(path, std::uintmax_t{1} << 30);  // sparse
        const std::string outcome = test::InChild([&] {
            FakeBus bus;
            KModel model(bus);
            Recorder rec;
            ConfigLoader loader(model, rec, dir.Path());
            int loads = 0;
            loader.allocationProbe = [&](const std::string&) {
                if (++loads == c.failAtLoad) throw std::bad_alloc();
            };
            loader.LoadConfiguration();
            std::string out;
            for (const std::string& m : rec.messages) out += m;
            return out + " ends " + std::to_string(rec.endRequests);
        });
        EXPECT_EQ(outcome, c.messages + " ends " + std::to_string(c.ends));
    }
}

TEST(ConfigLoader, DeepAndLargeFilesLoadWithoutRecursion) {
    TempDir dir;
    std::string plant = "<p><KDevice Name=\"Deep\" Address=\"38\">";
    for (int i = 0; i < 100000; ++i) plant += "<g>";
    plant += "<KProperty Name=\"Bottom\" Type=\"Word\" Code=\"SPEED\"/>";
    for (int i = 0; i < 100000; ++i) plant += "</g>";
    plant += "</KDevice>";
    for (int i = 0; i < 50000; ++i)
        plant += "<KProperty Name=\"P" + std::to_string(i) + "\" Type=\"Word\" Code=\"TEMP\"/>";
    plant += "</p>";
    WritePlant(dir, plant);
    auto l = Load(dir);
    EXPECT_TRUE(l->rec.messages.empty()) << l->loader->LastError();
    KDevice* deep = l->model.devices.Find("Deep");
    ASSERT_NE(deep, nullptr);
    EXPECT_EQ(deep->links.Count(), 50001u);
    EXPECT_EQ(deep->links.Name(0), "Bottom");
}

TEST(ConfigLoader, PathsAsWritten) {
    FakeBus bus;
    KModel model(bus);
    Recorder rec;
    ConfigLoader loader(model, rec, "/work/demo");
    EXPECT_EQ(loader.Resolve(".\\config\\plant.xml"), "/work/demo/config/plant.xml");
    EXPECT_EQ(loader.Resolve("config/plant.xml"), "/work/demo/config/plant.xml");
    EXPECT_EQ(loader.Resolve("/etc/plant.xml"), "/etc/plant.xml");
    EXPECT_EQ(loader.Resolve(""), "");
}

}  // namespace
}  // namespace korva
