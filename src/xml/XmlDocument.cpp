#include "xml/XmlDocument.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <type_traits>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace korva {

namespace {

constexpr std::string_view kDeclarationStart = "<?xml";
constexpr std::string_view kDeclarationEnd = "?>";
constexpr std::string_view kCdataStart = "<![CDATA[";
constexpr std::string_view kCdataEnd = "]]>";

// Tags with more attributes than this switch from a linear duplicate check
// to a hash index, so a tag with a huge attribute list stays linear overall.
constexpr size_t kLinearAttributeLimit = 16;

// Bytes around the error position quoted in the error text.
constexpr size_t kExcerptRadius = 20;

// Blanks and every control byte count as white space; high bytes do not.
inline bool isSpace(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

inline std::string_view trim(std::string_view s) {
    size_t first = 0;
    size_t last = s.size();
    while (first < last && isSpace(s[first])) ++first;
    while (last > first && isSpace(s[last - 1])) --last;
    return s.substr(first, last - first);
}

// Most hits are a few bytes away, where a call costs more than the loop; memchr is markedly
// faster on long texts.
inline size_t findByte(std::string_view s, char c, size_t from) {
    if (from >= s.size()) return std::string_view::npos;
    const size_t near = std::min(s.size(), from + 24);
    for (size_t i = from; i < near; ++i)
        if (s[i] == c) return i;
    if (near == s.size()) return std::string_view::npos;
    const void* hit = std::memchr(s.data() + near, c, s.size() - near);
    return hit ? static_cast<size_t>(static_cast<const char*>(hit) - s.data()) : std::string_view::npos;
}

std::string excerptAround(const std::string& src, size_t index) {
    const size_t from = index > kExcerptRadius ? index - kExcerptRadius : 0;
    const size_t to = std::min(src.size(), index + kExcerptRadius);
    std::string out;
    if (from < to) out.assign(src, from, to - from);
    // Keep the error on one line whatever the file holds.
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 32 || c == 127) c = ' ';
    }
    return out;
}

}  // namespace

// ---------------------------------------------------------------- XmlNode

static_assert(std::is_trivially_destructible_v<XmlNode>, "the arena never runs destructors");

std::string_view XmlNode::getAttribute(std::string_view attrName) const {
    for (const XmlAttribute& attribute : attributes) {
        if (attribute.name == attrName) return attribute.value;
    }
    return {};
}

XmlNode* XmlNode::getChildByName(std::string_view childName) const {
    for (XmlNode* node : children) {
        if (node->name == childName) return node;
    }
    return nullptr;
}

// ------------------------------------------------------------ XmlDocument

XmlDocument::XmlDocument() {
    document = this;
    declaration.document = this;
}

void XmlDocument::LoadXML(const std::string& path) {
    source = ReadRegularFile(path);
    parse();
}

void XmlDocument::reset() {
    children = {};
    attributes = {};
    name = {};
    text = {};
    declaration.attributes = {};
    m_arena.release();
    m_pendingChildren.clear();
    m_open.clear();
    error.clear();
    m_failure.clear();
    position = 1;
}

XmlNode* XmlDocument::newNode(XmlNode* owner) {
    auto* node = new (m_arena.allocate(sizeof(XmlNode), alignof(XmlNode))) XmlNode();
    node->document = this;
    node->parent = owner;
    return node;
}

template <typename T>
std::span<T> XmlDocument::keep(const std::vector<T>& items, size_t first) {
    const size_t count = items.size() - first;
    if (count == 0) return {};
    auto* out = static_cast<T*>(m_arena.allocate(count * sizeof(T), alignof(T)));
    std::uninitialized_copy(items.begin() + static_cast<std::ptrdiff_t>(first), items.end(), out);
    return {out, count};
}

void XmlDocument::closeInnermost() {
    const Open open = m_open.back();
    m_open.pop_back();
    open.node->children = keep(m_pendingChildren, open.firstChild);
    m_pendingChildren.resize(open.firstChild);
}

bool XmlDocument::fail(std::string message) {
    m_failure = std::move(message);
    return false;
}

void XmlDocument::parse() {
    reset();
    size_t pos = 0;  // 0-based; `position` is its 1-based twin
    bool ok = false;
    try {
        ok = parseDeclaration(pos) && parseTags(pos);
    } catch (const std::exception& e) {
        // Only running out of memory can throw here; the nodes built so far stay.
        ok = fail(e.what());
    }
    // A damaged file leaves elements open; they keep the children read so far.
    try {
        while (!m_open.empty()) closeInnermost();
    } catch (const std::exception& e) {
        m_open.clear();
        if (ok) ok = fail(e.what());
    }
    position = pos + 1;
    if (!ok) {
        try {
            error = m_failure + " at position " + std::to_string(position) + " near \"" +
                    excerptAround(source, pos) + "\"";
        } catch (...) {
            // Only an allocation failure can land here; keep the bare text.
            error.swap(m_failure);
        }
    }
}

// Only the first "<" of the file may open an XML declaration; anything else
// that looks like one later is read as an element.
bool XmlDocument::parseDeclaration(size_t& pos) {
    const std::string_view src(source);
    const size_t open = findByte(src, '<', 0);
    if (open == std::string_view::npos || src.substr(open, kDeclarationStart.size()) != kDeclarationStart) {
        return true;
    }
    const size_t close = src.find(kDeclarationEnd, open);
    if (close == std::string_view::npos) return fail("Missing ?> in xml declaration.");
    // One byte after "<?xml" is skipped: the blank before the first attribute.
    const size_t attrStart = open + kDeclarationStart.size() + 1;
    if (attrStart < close) {
        const std::string_view attrText = trim(src.substr(attrStart, close - attrStart));
        if (!attrText.empty()) {
            const size_t begin = static_cast<size_t>(attrText.data() - src.data());
            if (!parseAttributes(begin, begin + attrText.size(), declaration)) return false;
        }
    }
    pos = close + kDeclarationEnd.size();
    return true;
}

// The elements still open form a stack of their own, so a loop walks files
// of any depth and length. An element's children gather behind it in one
// shared list and move into the arena when its end tag comes.
bool XmlDocument::parseTags(size_t& pos) {
    const std::string_view src(source);
    for (;;) {
        XmlNode* owner = m_open.empty() ? nullptr : m_open.back().node;  // none before the root
        const size_t open = findByte(src, '<', pos);
        if (open == std::string_view::npos) return fail("Missing <");
        pos = open;
        const size_t close = findByte(src, '>', open);
        if (close == std::string_view::npos) return fail("Missing >");
        std::string_view tag = src.substr(open + 1, close - open - 1);
        pos = close + 1;

        if (!tag.empty() && tag.front() == '/') {
            // End tags close whatever is open; their names are never checked.
            if (!owner) return fail("End tag before any start tag");
            closeInnermost();
            if (m_open.empty()) return true;  // the root is closed: the rest of the file is not read
            continue;
        }

        const bool isEmpty = !tag.empty() && tag.back() == '/';
        if (isEmpty) tag = trim(tag.substr(0, tag.size() - 1));

        // Only a blank ends the name; a tab or line break stays part of it.
        const size_t blank = tag.find(' ');
        const std::string_view elementName = tag.substr(0, blank);
        const std::string_view attrText =
            blank == std::string_view::npos ? std::string_view() : trim(tag.substr(blank + 1));

        XmlNode* node = this;
        if (owner) {
            node = newNode(owner);
            m_pendingChildren.push_back(node);
        }
        node->name = elementName;

        if (!attrText.empty()) {
            const size_t begin = static_cast<size_t>(attrText.data() - src.data());
            if (!parseAttributes(begin, begin + attrText.size(), *node)) return false;
        }

        if (isEmpty) {
            if (!owner) return true;  // an empty root element is the whole document
            continue;
        }
        m_open.push_back(Open{node, m_pendingChildren.size()});
        if (!parseText(*node, pos)) return false;
    }
}

// An element's one text is what stands before its first child or end tag.
bool XmlDocument::parseText(XmlNode& node, size_t& pos) {
    const std::string_view src(source);
    const size_t open = findByte(src, '<', pos);
    if (open == std::string_view::npos) return fail("Expected < when parsing text");
    if (open + 1 < src.size() && src[open + 1] == '!' &&
        src.substr(open, kCdataStart.size()) == kCdataStart) {
        pos = open + kCdataStart.size();
        const size_t end = src.find(kCdataEnd, pos);
        if (end == std::string_view::npos) return fail("Expected ]]> when parsing CDATA section");
        node.text = trim(src.substr(pos, end - pos));
        pos = end + kCdataEnd.size();
        return true;
    }
    node.text = trim(src.substr(pos, open - pos));
    pos = open;  // the "<" opens the next tag
    return true;
}

// Reads name="value" / name='value' pairs from source[begin, end), which is
// already trimmed. The scan walks an offset instead of cutting the text, so
// a long list costs one pass.
bool XmlDocument::parseAttributes(size_t begin, size_t end, XmlNode& node) {
    const std::string_view attrText = std::string_view(source).substr(begin, end - begin);
    std::unordered_map<std::string_view, size_t> index;  // filled only for long lists
    std::vector<XmlAttribute>& list = m_tagAttributes;
    list.clear();
    // A fault keeps the attributes read before it, as it keeps the nodes.
    const auto stop = [&](std::string message) {
        node.attributes = keep(list, 0);
        return fail(std::move(message));
    };
    size_t offset = 0;
    while (offset < attrText.size()) {
        const size_t equals = findByte(attrText, '=', offset);
        if (equals == std::string_view::npos) return stop("missing = when parsing attributes");
        // The delimiter must follow "=" at once: no blank in between.
        if (equals + 1 >= attrText.size() || (attrText[equals + 1] != '"' && attrText[equals + 1] != '\'')) {
            return stop("missing value delimiter when parsing attributes");
        }
        const char delimiter = attrText[equals + 1];
        const size_t valueStart = equals + 2;
        const size_t valueEnd = findByte(attrText, delimiter, valueStart);
        if (valueEnd == std::string_view::npos) {
            return stop(std::string("Expected closing ") + delimiter + " when parsing attributes");
        }
        const std::string_view attrName = trim(attrText.substr(offset, equals - offset));
        const std::string_view value = attrText.substr(valueStart, valueEnd - valueStart);

        // A repeated name keeps its first place and takes the later value.
        XmlAttribute* existing = nullptr;
        if (list.size() <= kLinearAttributeLimit) {
            for (XmlAttribute& attribute : list) {
                // Names of one tag mostly differ in length or first byte: skip the full compare.
                if (attribute.name.size() == attrName.size() &&
                    (attrName.empty() || attribute.name.front() == attrName.front()) &&
                    attribute.name == attrName) {
                    existing = &attribute;
                    break;
                }
            }
        } else {
            if (index.empty()) {
                for (size_t i = 0; i < list.size(); ++i) index.emplace(list[i].name, i);
            }
            const auto found = index.find(attrName);
            if (found != index.end()) existing = &list[found->second];
        }
        if (existing) {
            existing->value = value;
        } else {
            list.push_back(XmlAttribute{attrName, value});
            if (!index.empty()) index.emplace(list.back().name, list.size() - 1);
        }
        offset = valueEnd + 1;
    }
    node.attributes = keep(list, 0);
    return true;
}

}  // namespace korva
