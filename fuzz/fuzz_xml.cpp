// Any bytes as an XML file: the reader stops inside the text, keeps its tree linked, and reads
// the same bytes the same way twice.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "xml/XmlDocument.h"

namespace {

void Require(bool ok) {
    if (!ok) std::abort();
}

// Names, texts and links of the whole tree, for comparing two reads.
void Flatten(const korva::XmlDocument& doc, const korva::XmlNode& node, std::vector<std::string>& out) {
    Require(node.document == &doc);
    out.push_back(node.name + '\1' + node.text);
    for (const auto& a : node.attributes) out.push_back(a.name + '\2' + a.value);
    for (const auto& c : node.children) {
        Require(c->parent == &node);
        Flatten(doc, *c, out);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    korva::XmlDocument doc;
    doc.source.assign(reinterpret_cast<const char*>(data), size);
    doc.parse();
    Require(doc.position >= 1 && doc.position <= size + 1);
    std::vector<std::string> first, again;
    Flatten(doc, doc, first);
    const std::string error = doc.error;
    doc.parse();
    Flatten(doc, doc, again);
    Require(doc.error == error && first == again);
    return 0;
}
