// Any bytes as an XML file.
#include <cstddef>
#include <cstdint>

#include "xml/XmlDocument.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    korva::XmlDocument doc;
    doc.source.assign(reinterpret_cast<const char*>(data), size);
    doc.parse();
    return 0;
}
