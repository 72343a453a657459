#include "xml/XmlDocument.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace korva {
namespace {

namespace fs = std::filesystem;

// Control and high bytes are spelled out so a dump shows exactly what a name holds.
std::string escaped(std::string_view s) {
    std::string out;
    for (unsigned char c : s) {
        const char* named = c == '\t' ? "\\t" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : nullptr;
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", c);
        out += named ? named : c >= 32 && c < 127 ? std::string(1, static_cast<char>(c)) : std::string(hex);
    }
    return out;
}

std::string attributesOf(const XmlNode& node) {
    std::string out = "[";
    for (const XmlAttribute& a : node.attributes) {
        if (out.size() > 1) out += ' ';
        out += escaped(a.name) + "=\"" + escaped(a.value) + "\"";
    }
    return out + "]";
}

// name[attributes]"text"{children}, each part only when present.
std::string dump(const XmlNode& node) {
    std::string out = escaped(node.name);
    if (!node.attributes.empty()) out += attributesOf(node);
    if (!node.text.empty()) out += "\"" + escaped(node.text) + "\"";
    if (node.childCount() > 0) {
        out += "{";
        for (size_t i = 0; i < node.childCount(); ++i) {
            if (i > 0) out += ',';
            out += dump(*node.child(i));
        }
        out += "}";
    }
    return out;
}

std::string dumpDocument(const XmlDocument& doc) {
    std::string decl = doc.declaration.attributes.empty() ? "" : "?" + attributesOf(doc.declaration) + " ";
    return decl + dump(doc);
}

// The raised text without the position and excerpt that follow it.
std::string raisedText(const XmlDocument& doc) {
    const size_t at = doc.error.find(" at position ");
    return at == std::string::npos ? doc.error : doc.error.substr(0, at);
}

struct ParseCase {
    const char* label;
    std::string source;
    std::string tree;
    std::string error;
};

// Cases beside the corpus files (tests/xml/corpus), which hold the common shapes and faults.
const std::vector<ParseCase> kParseCases = {
    {"end tag with attributes", R"(<a><b></b x="1"></a>)", "a{b}", ""},
    {"declaration without attributes", "<?xml?><a/>", "a", ""},
    {"declaration after junk", "junk<?xml  version='1' ?><a/>", R"(?[version="1"] a)", ""},
    {"declaration attribute error leaves nothing", "<?xml version=1.0?><a/>", "",
     "missing value delimiter when parsing attributes"},
    {"later declaration is an element", "<a><?xml?></a>", "a{?xml?}", "Missing <"},
    {"end tags after root not read", "<a><b></b></a></x></y>", "a{b}", ""},
    {"CDATA text", "<a><![CDATA[ <x> & y ]]> ignored<b/></a>", R"(a"<x> & y"{b})", ""},
    {"lone <", "<", "", "Missing >"},
    {"unclosed root", "<a><b></b>", "a{b}", "Missing <"},
    {"blank after slash is no empty element", "<a/ >text</a>", R"(a/"text")", ""},
    {"blanks before slash", R"(<a  x="1"  />)", R"(a[x="1"])", ""},
    {"tab and line break before slash", "<r><a\t/><b\n/></r>", "r{a,b}", ""},
    {"attribute names trimmed, values not", "<a x\t=\"1\"\n\ty=' 2 '/>", R"(a[x="1" y=" 2 "])", ""},
    {"attributes without separator", R"(<a x="1"y='2'/>)", R"(a[x="1" y="2"])", ""},
    {"quotes of the other kind inside values", R"(<a t="it's" u='say "hi"'/>)", R"(a[t="it's" u="say "hi""])",
     ""},
    {"empty attribute name and value", R"(<a ="v" e=""/>)", R"(a[="v" e=""])", ""},
    {"high bytes are not blanks", "<a> \xC3\xA9</a>", R"(a"\xC3\xA9")", ""},
    {"control bytes are blanks", "<a>\x01 x \x7F\x1F</a>", R"(a"x \x7F")", ""},
};

TEST(XmlDocumentTest, ParseTable) {
    for (const ParseCase& c : kParseCases) {
        XmlDocument doc;
        doc.source = c.source;
        doc.parse();
        EXPECT_EQ(dumpDocument(doc), c.tree) << c.label;
        EXPECT_EQ(raisedText(doc), c.error) << c.label;
    }
}

TEST(XmlDocumentTest, ErrorPositionAndExcerpt) {
    const struct {
        std::string source;
        size_t position;
    } cases[] = {
        {"<a></a>", 8},       {"<a></a>junk", 8},    {"", 1},
        {"<a>text", 4},       {"<a><b", 4},          {"<a b/>", 7},
        {"<?xml v=\"1\"", 1}, {"<a><![CDATA[x", 13}, {"<?xml?>", 8},
    };
    for (const auto& c : cases) {
        XmlDocument doc;
        doc.source = c.source;
        doc.parse();
        EXPECT_EQ(doc.position, c.position) << c.source;
    }
    XmlDocument doc;
    doc.source = "<a>\n<b";
    doc.parse();
    EXPECT_EQ(doc.error, "Missing > at position 5 near \"<a> <b\"");
    doc.source = std::string(100, 'x') + "<a>" + std::string(100, 'y');
    doc.parse();
    EXPECT_EQ(doc.error, "Expected < when parsing text at position 104 near \"" + std::string(17, 'x') +
                             "<a>" + std::string(20, 'y') + "\"");
}

TEST(XmlDocumentTest, NodeAccess) {
    XmlDocument doc;
    doc.source =
        R"(<?xml version="1.0"?><cfg mode="A" Mode="b"><item n="1"/><Item/><item n="2">x</item></cfg>)";
    doc.parse();
    ASSERT_EQ(doc.error, "");
    EXPECT_EQ(doc.getAttribute("mode"), "A");
    EXPECT_EQ(doc.getAttribute("Mode"), "b");
    EXPECT_EQ(doc.getAttribute("MODE"), "");
    ASSERT_NE(doc.getChildByName("item"), nullptr);
    EXPECT_EQ(doc.getChildByName("item")->getAttribute("n"), "1");
    EXPECT_EQ(doc.getChildByName("Item"), doc.child(1));
    EXPECT_EQ(doc.getChildByName("ite"), nullptr);
    EXPECT_EQ(doc.child(3), nullptr);
    EXPECT_EQ(doc.declaration.getAttribute("version"), "1.0");
}

TEST(XmlDocumentTest, ReparseStartsEmpty) {
    XmlDocument doc;
    doc.source = R"(<?xml version="1.0"?><a x="1"><b/>)";
    doc.parse();
    ASSERT_NE(doc.error, "");
    doc.source = "<c>t</c>";
    doc.parse();
    EXPECT_EQ(dumpDocument(doc), R"(c"t")");
    EXPECT_EQ(doc.error, "");
    EXPECT_EQ(doc.position, 9u);
}

// The bytes themselves are the corpus's (a byte order mark, NUL bytes, CR LF); here, what a failed
// load says and that it leaves the document alone.
TEST(XmlDocumentTest, AFailedLoadNamesTheFileAndKeepsTheDocument) {
    XmlDocument doc;
    doc.source = "<a/>";
    const std::string missing = std::string(KORVA_XML_CORPUS) + "/missing.xml";
    try {
        doc.LoadXML(missing);
        ADD_FAILURE() << "missing file loaded";
    } catch (const XmlFileError& e) {
        EXPECT_NE(std::string(e.what()).find(missing + "': No such file"), std::string::npos) << e.what();
    }
    EXPECT_THROW(doc.LoadXML(KORVA_XML_CORPUS), XmlFileError);
    EXPECT_EQ(doc.source, "<a/>");
}

size_t countNodes(const XmlNode& root) {
    size_t count = 0;
    std::vector<const XmlNode*> stack{&root};
    while (!stack.empty()) {
        const XmlNode* node = stack.back();
        stack.pop_back();
        ++count;
        for (const auto& c : node->children) stack.push_back(c);
    }
    return count;
}

// An empty document has no elements, though the document node itself exists.
size_t elementCount(const XmlDocument& doc) {
    const bool empty = doc.name.empty() && doc.attributes.empty() && doc.childCount() == 0;
    return empty ? 0 : countNodes(doc);
}

// Expected raised text and element count for every corpus file, plus the full tree for some.
struct CorpusCase {
    std::string error;
    size_t elements;
    std::string tree;  // empty: not compared
};

const std::map<std::string, CorpusCase> kCorpus = {
    {"app_settings.xml", {"", 7, ""}},
    {"blank_before_quote.xml",
     {"missing value delimiter when parsing attributes", 2, R"(settings{window[width="800"]})"}},
    {"build_recipe.xml", {"", 8, ""}},
    {"cdata_script.xml",
     {"", 3,
      R"(sequence[name="startup"]{script"if (speed < 10 && mode > 2) { stop(); }",note"after the script"})"}},
    {"comment_with_equals.xml", {"missing = when parsing attributes", 2, R"(settings{!--[speed="fast"]})"}},
    {"config_paths.xml",
     {"", 4, R"(?[version="1.0"] paths{configpath"config/old",configpath"config/current",logpath"logs"})"}},
    {"constants.xml", {"", 5, ""}},
    {"crlf_lines.xml",
     {"", 4,
      R"(?[version="1.0"] ports{port[name="COM1" device="/dev/ttyUSB0"],port[name="COM2" device="/dev/ttyUSB1"],note"crlf text"})"}},
    {"data_table.xml", {"", 4, ""}},
    {"deep_nesting.xml", {"", 120, ""}},
    {"device_description.xml", {"", 10, ""}},
    {"doctype.xml", {"missing = when parsing attributes", 1, R"(?[version="1.0"] !DOCTYPE)"}},
    {"duplicate_attributes.xml", {"", 1, R"(item[id="2" name="first"])"}},
    {"empty.xml", {"Missing <", 0, ""}},
    {"empty_tags.xml", {"", 3, R"(a{"inner",b})"}},
    {"end_tag_first.xml", {"End tag before any start tag", 0, ""}},
    {"entities.xml",
     {"", 4,
      R"(messages{msg[id="amp" text="Save &amp; exit"]"Tom &amp; Jerry &lt;3",msg[id="num"]"&#169; 2024 &#x263A;",msg[id="custom"]"&product;"})"}},
    {"gt_in_attribute.xml", {"Expected closing \" when parsing attributes", 2, "rules{rule}"}},
    {"latin1_bytes.xml", {"", 3, R"(labels{label[lang="fr"]"Temp\xE9rature",label[v="\xFF\xFE"]})"}},
    {"mismatched_end_tags.xml", {"", 5, R"(plant{line{station"Press"},line{station"Weld"}})"}},
    {"mixed_content.xml", {"", 3, R"(doc"Intro words"{section"first",section"second"})"}},
    {"multiline_tag.xml",
     {"", 3, R"(settings{window\n[width="800" height="600"],panel[width="200" height="100"]})"}},
    {"namespaces.xml",
     {"", 3,
      R"(cfg:root[xmlns:cfg="urn:korva:cfg" xmlns:ui="urn:korva:ui"]{cfg:device[cfg:id="7"]{ui:label"Inlet valve"}})"}},
    {"news_feed.xml", {"", 11, ""}},
    {"nul_bytes.xml", {"", 3, R"(data{blob"ab\x00cd",x[v="1\x002"]})"}},
    {"ports_map.xml", {"", 3, ""}},
    {"processing_instruction.xml", {"missing = when parsing attributes", 1, ""}},
    {"self_closing_root.xml", {"", 1, R"(?[version="1.0" encoding="UTF-8"] empty[a="1" b="two"])"}},
    {"tab_after_name.xml", {"", 3, R"(settings{window\twidth="800",port"COM3"})"}},
    {"test_sequence.xml", {"", 6, ""}},
    {"trailing_content.xml", {"", 2, R"(settings{port"COM1"})"}},
    {"truncated_mid_tag.xml", {"Missing >", 1, R"(?[version="1.0"] settings)"}},
    {"truncated_mid_text.xml", {"Expected < when parsing text", 2, "settings{language}"}},
    {"unclosed_cdata.xml", {"Expected ]]> when parsing CDATA section", 1, "script"}},
    {"unclosed_quote.xml", {"Expected closing ' when parsing attributes", 2, "settings{window}"}},
    {"unfinished_declaration.xml", {"Missing ?> in xml declaration.", 0, ""}},
    {"unquoted_attribute.xml", {"missing value delimiter when parsing attributes", 2, "settings{window}"}},
    {"utf8_bom.xml",
     {"", 1,
      "?[version=\"1.0\" encoding=\"UTF-8\"] greeting[lang=\"de\"]\"Gr\\xC3\\xBC\\xC3\\x9Fe aus der "
      "Pr\\xC3\\xBCfhalle\""}},
    {"utf8_text.xml", {"", 4, ""}},
    {"vector_icon.xml", {"", 9, ""}},
    {"whitespace_only.xml", {"Missing <", 0, ""}},
    {"with_comment.xml", {"missing = when parsing attributes", 2, R"(?[version="1.0"] settings{!--})"}},
    {"xhtml_page.xml", {"", 15, ""}},
};

TEST(XmlDocumentTest, CorpusFiles) {
    size_t seen = 0;
    for (const auto& entry : fs::directory_iterator(KORVA_XML_CORPUS)) {
        if (entry.path().extension() != ".xml") continue;
        ++seen;
        const std::string file = entry.path().filename().string();
        XmlDocument doc;
        doc.LoadXML(entry.path().string());
        const auto expected = kCorpus.find(file);
        ASSERT_NE(expected, kCorpus.end()) << file << " has no expected result";
        EXPECT_EQ(raisedText(doc), expected->second.error) << file;
        EXPECT_EQ(elementCount(doc), expected->second.elements) << file;
        if (!expected->second.tree.empty()) {
            EXPECT_EQ(dumpDocument(doc), expected->second.tree) << file;
        }
    }
    EXPECT_EQ(seen, kCorpus.size());
}

// Every proper prefix of a well-formed file lacks the root's end tag.
TEST(XmlDocumentTest, EveryTruncationReportsAnError) {
    XmlDocument full;
    full.LoadXML(std::string(KORVA_XML_CORPUS) + "/device_description.xml");
    const std::string bytes = full.source;
    const size_t rootEnd = bytes.rfind('>') + 1;
    for (size_t length = 0; length <= bytes.size(); ++length) {
        XmlDocument doc;
        doc.source = bytes.substr(0, length);
        doc.parse();
        EXPECT_EQ(doc.error.empty(), length >= rootEnd) << "length " << length << ": " << doc.error;
    }
}

}  // namespace
}  // namespace korva
