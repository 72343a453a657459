// Parse throughput of the XML reader on generated documents, and beside it a general-purpose
// reader on the same 100,000-link plant, in memory and warm.
#include "xml/XmlDocument.h"

#include <benchmark/benchmark.h>

#include <string>

#include "GeneratedPlant.h"

#ifdef KORVA_HAVE_PUGIXML
#include <pugixml.hpp>
#endif

namespace {

// A device description of the usual shape: devices holding properties with
// a handful of attributes, a few remarks and groups; about 2.5 MB.
std::string configurationDocument() {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Configuration Version=\"4\">\n";
    for (int device = 0; device < 1000; ++device) {
        const std::string id = std::to_string(device);
        xml += "  <KDevice Name=\"Unit" + id + "\" Address=\"" + std::to_string(device % 250 + 1) +
               "\" Type=\"Slave\">\n";
        xml += "    <Remark>Station " + id + " of the assembly line, checked weekly</Remark>\n";
        for (int property = 0; property < 20; ++property) {
            const std::string p = std::to_string(property);
            xml += "    <KProperty Name=\"Value" + p + "\" Index=\"" + p +
                   "\" Type=\"Float\" Access=\"RW\" Min=\"0\" Max=\"100\" Unit=\"bar\"/>\n";
        }
        xml += "    <Group Name=\"Limits\">\n";
        xml += "      <KProperty Name=\"Upper\" Index=\"40\" Type=\"Word\" Access='R'/>\n";
        xml += "      <KFileHandle Name=\"Log\" Index=\"41\"><Display Level=\"Advanced\"/></KFileHandle>\n";
        xml += "    </Group>\n  </KDevice>\n";
    }
    return xml + "</Configuration>\n";
}

std::string deepDocument(int depth) {
    std::string xml;
    for (int i = 0; i < depth; ++i) xml += "<level>";
    xml += "bottom";
    for (int i = 0; i < depth; ++i) xml += "</level>";
    return xml;
}

void parseRepeatedly(benchmark::State& state, const std::string& source) {
    korva::XmlDocument doc;
    doc.source = source;
    for (auto _ : state) {
        doc.parse();  // also tears down the previous tree
        benchmark::DoNotOptimize(doc.children.data());
    }
    if (!doc.error.empty()) state.SkipWithError(doc.error.c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(source.size()));
    state.counters["MB"] = static_cast<double>(source.size()) / 1e6;
}

void BM_ParseConfiguration(benchmark::State& state) {
    static const std::string source = configurationDocument();
    parseRepeatedly(state, source);
}
BENCHMARK(BM_ParseConfiguration)->Unit(benchmark::kMillisecond);

void BM_ParseDeepNesting(benchmark::State& state) {
    static const std::string source = deepDocument(200000);
    parseRepeatedly(state, source);
}
BENCHMARK(BM_ParseDeepNesting)->Unit(benchmark::kMillisecond);

const std::string& plant100k() {
    static const std::string source = korva::bench::PlantText(2000);
    return source;
}

void BM_ParsePlant100k(benchmark::State& state) {
    parseRepeatedly(state, plant100k());
}
BENCHMARK(BM_ParsePlant100k)->Unit(benchmark::kMillisecond);

#ifdef KORVA_HAVE_PUGIXML
// The same text parsed in place from a copy each time, as the reader above keeps its own copy.
void pugiParse(benchmark::State& state, unsigned options) {
    const std::string& source = plant100k();
    pugi::xml_document doc;
    for (auto _ : state) {
        const pugi::xml_parse_result result = doc.load_buffer(source.data(), source.size(), options);
        if (!result) state.SkipWithError(result.description());
        benchmark::DoNotOptimize(doc.first_child());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(source.size()));
}
void BM_PugiParsePlant100k(benchmark::State& state) {
    pugiParse(state, pugi::parse_default);
}
BENCHMARK(BM_PugiParsePlant100k)->Unit(benchmark::kMillisecond);
void BM_PugiMinimalParsePlant100k(benchmark::State& state) {
    pugiParse(state, pugi::parse_minimal);
}
BENCHMARK(BM_PugiMinimalParsePlant100k)->Unit(benchmark::kMillisecond);
#endif

}  // namespace
