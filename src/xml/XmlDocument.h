// The program's own XML reader: a forward scanner over the whole file that
// accepts the small XML subset the configuration files are written in and
// builds a tree of elements, each with attributes and at most one text.
//
// Bytes are taken as they stand: no entity decoding, no character sets, no
// namespaces, no comment or DOCTYPE syntax. End tags are not compared with
// the start tags they close.
#pragma once

#include <cstddef>
#include <memory_resource>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "xml/SafeFile.h"

namespace korva {

// Names, values and texts are views into the document's source text, which
// the document keeps: a tree holds no second copy of the file.
struct XmlAttribute {
    std::string_view name;
    std::string_view value;
};

class XmlDocument;

// One element. Nodes and the arrays they refer to live in the document's
// arena and go with it, all at once.
class XmlNode {
  public:
    XmlNode() = default;
    // Children point back at their parent, so a node never moves or copies.
    XmlNode(const XmlNode&) = delete;
    XmlNode& operator=(const XmlNode&) = delete;
    XmlNode(XmlNode&&) = delete;
    XmlNode& operator=(XmlNode&&) = delete;

    std::string_view name;
    std::string_view text;
    XmlDocument* document = nullptr;
    XmlNode* parent = nullptr;
    std::span<XmlNode* const> children;        // document order
    std::span<const XmlAttribute> attributes;  // document order, names unique

    // Value of the attribute named exactly `attrName`; "" when there is none.
    std::string_view getAttribute(std::string_view attrName) const;
    // First direct child named exactly `childName`; nullptr when there is none.
    XmlNode* getChildByName(std::string_view childName) const;

    size_t childCount() const { return children.size(); }
    // nullptr when `index` is out of range.
    XmlNode* child(size_t index) const { return index < children.size() ? children[index] : nullptr; }
};

// A file that cannot be opened or read, is no regular file or is too large.
using XmlFileError = FileError;

// After parsing, the document is the root element: its name, text,
// attributes and children are those of the first element of the file.
class XmlDocument : public XmlNode {
  public:
    XmlDocument();
    // Every node points at its document, so the document stays where it was built.
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;
    XmlDocument(XmlDocument&&) = delete;
    XmlDocument& operator=(XmlDocument&&) = delete;
    ~XmlDocument() = default;

    // The whole file. The tree views it: parse again after changing it.
    std::string source;
    size_t position = 1;  // 1-based scan position in source
    XmlNode declaration;  // attributes of a leading <?xml ...?>
    // Empty after a successful parse; otherwise the error text, the scan
    // position and an excerpt of the source there.
    std::string error;

    // Reads the whole file, byte for byte, then parses it. Throws
    // XmlFileError when the file cannot be opened or read, is no regular
    // file or is larger than kMaxReadBytes; parse errors do not throw, they
    // land in `error`.
    void LoadXML(const std::string& path);

    // Parses `source`. Never throws: a damaged file keeps every node built
    // before the fault and records the fault in `error`.
    void parse();

  private:
    struct Open {
        XmlNode* node;
        size_t firstChild;  // where its children start in m_pendingChildren
    };

    void reset();
    bool parseDeclaration(size_t& pos);
    bool parseTags(size_t& pos);
    bool parseText(XmlNode& node, size_t& pos);
    bool parseAttributes(size_t begin, size_t end, XmlNode& node);
    bool fail(std::string message);
    XmlNode* newNode(XmlNode* owner);
    // Gives the innermost open element its children for good.
    void closeInnermost();
    template <typename T>
    std::span<T> keep(const std::vector<T>& items, size_t first);

    std::pmr::monotonic_buffer_resource m_arena;
    // Scratch of the scan, kept for the next parse: the children of the
    // elements still open, those elements, and one tag's attributes.
    std::vector<XmlNode*> m_pendingChildren;
    std::vector<Open> m_open;
    std::vector<XmlAttribute> m_tagAttributes;
    std::string m_failure;  // raw text of the fault, before position and excerpt are added
};

}  // namespace korva
