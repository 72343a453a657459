// The program's own XML reader: a forward scanner over the whole file that
// accepts the small XML subset the configuration files are written in and
// builds a tree of elements, each with attributes and at most one text.
//
// Bytes are taken as they stand: no entity decoding, no character sets, no
// namespaces, no comment or DOCTYPE syntax. End tags are not compared with
// the start tags they close.
#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "xml/SafeFile.h"

namespace korva {

struct XmlAttribute {
    std::string name;
    std::string value;
};

class XmlDocument;

// One element. A node owns its children; the document owns the whole tree.
class XmlNode {
  public:
    XmlNode() = default;
    // Children point back at their parent, so a node never moves or copies.
    XmlNode(const XmlNode&) = delete;
    XmlNode& operator=(const XmlNode&) = delete;
    XmlNode(XmlNode&&) = delete;
    XmlNode& operator=(XmlNode&&) = delete;
    // Tears the subtree down without recursion: a tree can be as deep as the
    // file has tags.
    virtual ~XmlNode();

    std::string name;
    std::string text;
    XmlDocument* document = nullptr;
    XmlNode* parent = nullptr;
    std::vector<std::unique_ptr<XmlNode>> children;  // document order
    std::vector<XmlAttribute> attributes;            // document order, names unique

    // Value of the attribute named exactly `attrName`; "" when there is none.
    const std::string& getAttribute(const std::string& attrName) const;
    // First direct child named exactly `childName`; nullptr when there is none.
    XmlNode* getChildByName(const std::string& childName) const;

    size_t childCount() const { return children.size(); }
    // nullptr when `index` is out of range.
    XmlNode* child(size_t index) const { return index < children.size() ? children[index].get() : nullptr; }

  protected:
    // Deletes every descendant iteratively.
    void releaseChildren() noexcept;
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
    ~XmlDocument() override = default;

    std::string source;   // the whole file
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

    // Frees the file's text; the tree keeps its own copies of what it holds.
    void DropSource() { std::string().swap(source); }

  private:
    void reset();
    bool parseDeclaration(size_t& pos);
    bool parseTags(size_t& pos);
    bool parseText(XmlNode& node, size_t& pos);
    bool parseAttributes(size_t begin, size_t end, XmlNode& node);
    bool fail(std::string message);

    std::string m_failure;  // raw text of the fault, before position and excerpt are added
};

}  // namespace korva
