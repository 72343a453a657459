#include "model/UnitsConfig.h"

#include <gtest/gtest.h>

#include "model/ConfigLoader.h"
#include "support/FakeLoader.h"
#include "support/TempDir.h"
#include "xml/XmlDocument.h"

namespace korva {
namespace {

// The demo plant as the program loads it.
struct Demo {
    Demo() {
        ConfigLoader loader(model, host, KORVA_DEMO_DIR);
        loader.LoadConfiguration();
    }
    KModel model;
    test::FakeLoaderHost host;
};

// Every raw number a demo property's register can hold shows as a text that types back to the same
// raw number, in every unit scheme; what lies outside its range is refused, never cut.
TEST(DemoUnits, EveryRawValueShowsAndTypesBackExactly) {
    Demo demo;
    ASSERT_TRUE(demo.host.messages.empty()) << demo.host.messages.front();
    int engineered = 0;
    for (const char* scheme : {"", "SI", "US"}) {
        EXPECT_EQ(demo.model.UseUnitScheme(scheme), *scheme != 0);
        for (const auto& [deviceName, device] : demo.model.devices)
            for (const auto& [linkName, link] : device->links) {
                const EngineeringValue& e = link->Engineering();
                if (e.Plain() || link->IsFileHandle()) continue;
                ++engineered;
                const std::uint32_t registers = link->type == PropertyType::Byte ? 0x100 : 0x10000;
                for (std::uint32_t bits = 0; bits < registers; ++bits) {
                    const std::int32_t raw = e.RawOf(bits);
                    const bool inside = raw >= e.RawMin() && raw <= e.RawMax();
                    const auto typed = e.Parse(e.Number(raw));
                    ASSERT_EQ(typed.raw, inside ? std::optional(raw) : std::nullopt)
                        << scheme << " " << link->FullName() << " raw " << raw << " shown " << e.Number(raw);
                    if (e.Format().values.empty() && e.Format().bits.empty()) continue;
                    ASSERT_EQ(e.Parse(e.Text(raw)).raw, inside ? std::optional(raw) : std::nullopt)
                        << scheme << " " << link->FullName() << " " << e.Text(raw);
                }
            }
    }
    EXPECT_EQ(engineered, 3 * 44);  // every property of the demo but the two file handles
    ASSERT_TRUE(demo.model.UseUnitScheme("US"));
    const KRemoteLink* flow = demo.model.FindLink("Boiler", "FlowTempSetpoint");
    EXPECT_EQ(flow->Engineering().Text(650), "149.0 °F");
}

// What a configuration cannot mean is refused with the file's message and the reason.
TEST(UnitsConfig, RefusesWhatCannotBeMeant) {
    const struct Row {
        const char* name;
        const char* units;     // the units document; none when null
        const char* property;  // attributes and children of a byte property
        const char* message;
        const char* reason;
    } rows[] = {
        {"scale of zero", nullptr, "Scale=\"0\">", ConfigLoader::kConfigMessage, "Scale of 'P' is 0"},
        {"too many decimals", nullptr, "Decimals=\"7\">", ConfigLoader::kConfigMessage,
         "Decimals of 'P' are outside 0 to 6"},
        {"min above max", nullptr, "Min=\"5\" Max=\"1\">", ConfigLoader::kConfigMessage,
         "Min of 'P' is above its Max"},
        {"a bit past the byte", nullptr, "><Bit N=\"8\" Name=\"x\"/>", ConfigLoader::kConfigMessage,
         "Bit 8 of 'P' is outside 0 to 7"},
        {"a value without a raw number", nullptr, "><Value Name=\"Off\"/>", ConfigLoader::kConfigMessage,
         "Raw of a Value of 'P' is not a whole number: ''"},
        {"an unknown dimension", "<u><Unit Name=\"m\" Dimension=\"Length\"/></u>", ">",
         ConfigLoader::kUnitsMessage, "Dimension of Unit 'm' is not known: 'Length'"},
        {"a factor of zero", "<u><Unit Name=\"x\" Dimension=\"Flow\" Factor=\"0\"/></u>", ">",
         ConfigLoader::kUnitsMessage, "Factor of Unit 'x' is 0"},
        {"a scheme of a missing unit", "<u><Scheme Name=\"US\"><Use Unit=\"degF\"/></Scheme></u>", ">",
         ConfigLoader::kUnitsMessage, "Scheme 'US' uses 'degF', which is no Unit above it"},
        {"bad exponents", "<u><Dimension Name=\"Speed\" Exponents=\"1 2\"/></u>", ">",
         ConfigLoader::kUnitsMessage, "Exponents of Dimension 'Speed' are not eight whole numbers"},
    };
    for (const Row& r : rows) {
        test::TempDir dir;
        dir.Write("config/paths.xml", std::string("<p><constantspath>config/c.xml</constantspath>") +
                                          "<configpath>config/plant.xml</configpath>" +
                                          (r.units ? "<unitspath>config/units.xml</unitspath>" : "") +
                                          "</p>");
        dir.Write("config/c.xml", "<c><s Byte=\"1\" CODE=\"5\"/></c>");
        if (r.units) dir.Write("config/units.xml", r.units);
        dir.Write("config/plant.xml", std::string("<plant><KDevice Name=\"D\" Address=\"34\"/>") +
                                          "<KProperty Name=\"P\" Type=\"Byte\" Code=\"CODE\" " + r.property +
                                          "</KProperty></plant>");
        KModel model;
        test::FakeLoaderHost host;
        ConfigLoader loader(model, host, dir.Path());
        loader.LoadConfiguration();
        ASSERT_EQ(host.messages.size(), 1u) << r.name;
        EXPECT_EQ(host.messages[0], r.message) << r.name;
        EXPECT_EQ(loader.LastError(), r.reason) << r.name;
        EXPECT_GE(host.endRequests, 1) << r.name;
    }
}

}  // namespace
}  // namespace korva
