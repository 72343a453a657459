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

// Names, texts and links of the whole tree, for comparing two reads. A list of its own instead of
// recursion: a tree is as deep as the input has tags.
std::vector<std::string> Flatten(const korva::XmlDocument& doc) {
    std::vector<std::string> out;
    std::vector<const korva::XmlNode*> pending{&doc};
    while (!pending.empty()) {
        const korva::XmlNode& node = *pending.back();
        pending.pop_back();
        Require(node.document == &doc);
        out.push_back(std::string(node.name) + '\1' + std::string(node.text));
        for (const auto& a : node.attributes)
            out.push_back(std::string(a.name) + '\2' + std::string(a.value));
        for (const korva::XmlNode* c : node.children) {
            Require(c->parent == &node);
            pending.push_back(c);
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    korva::XmlDocument doc;
    doc.source.assign(reinterpret_cast<const char*>(data), size);
    doc.parse();
    Require(doc.position >= 1 && doc.position <= size + 1);
    const std::vector<std::string> first = Flatten(doc);
    const std::string error = doc.error;
    doc.parse();
    Require(doc.error == error && first == Flatten(doc));
    return 0;
}
