#include "model/ConfigLoader.h"

#include <algorithm>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/TextConvert.h"
#include "model/UnitsConfig.h"
#include "xml/XmlDocument.h"

namespace korva {

namespace {
std::int32_t RequireInt(std::string_view text, const std::string& what) {
    const auto v = ParseInt(text);
    if (!v) throw ConfigError(what + " is not an integer: '" + std::string(text) + "'");
    return *v;
}

// Addresses and lengths are decimal: "0x23" is refused, not read as 35.
std::int32_t RequireDecimal(std::string_view text, const std::string& what) {
    const auto v = ParseDecimal(text);
    if (!v) throw ConfigError(what + " is not a decimal whole number: '" + std::string(text) + "'");
    return *v;
}
}  // namespace

ConfigLoader::ConfigLoader(KModel& model, LoaderHost& host, std::string workDir)
    : model_(model), host_(host), workDir_(std::move(workDir)) {}

ConfigLoader::~ConfigLoader() = default;

std::string ConfigLoader::Resolve(const std::string& written) const {
    std::string path = written;
    for (char& c : path)
        if (c == '\\') c = '/';
    if (path.empty() || path.front() == '/') return path;
    if (path.rfind("./", 0) == 0) path.erase(0, 2);
    return workDir_ + "/" + path;
}

void ConfigLoader::Fail(const char* message, const std::string& why) {
    lastError_ = why;
    host_.ShowFailure(message, FailureDetail(why));
    host_.RequestEnd();
}

void ConfigLoader::LoadConfiguration() {
    // Each stage reports its own message. Running out of memory is a configuration fault too: a
    // program that went on would do so with half a plant.
    const auto stage = [this](const char* message, const auto& body) {
        currentFile_.clear();
        readerStop_.clear();
        try {
            body();
        } catch (const XmlFileError& e) {
            Fail(message, e.what());
        } catch (const ConfigError& e) {
            Fail(message, e.what());
        } catch (const std::bad_alloc&) {
            Fail(message, "out of memory while loading");
        }
    };
    std::string constantsPath, configPath, unitsPath;
    stage(kPathMessage, [&] {
        XmlDocument paths;
        Load(paths, Resolve("config/paths.xml"));
        // Later entries win over earlier ones.
        for (const auto& child : paths.children) {
            if (child->name == "constantspath") constantsPath = child->text;
            if (child->name == "configpath") configPath = child->text;
            if (child->name == "unitspath") unitsPath = child->text;
        }
    });
    // The units document is optional; one that is named must be read, or values would show wrong.
    if (!unitsPath.empty())
        stage(kUnitsMessage, [&] {
            XmlDocument units;
            Load(units, Resolve(unitsPath));
            model_.SetUnitCatalog(ReadUnits(units));
        });
    stage(kConstantsMessage, [&] {
        constants_ = std::make_shared<XmlDocument>();
        Load(*constants_, Resolve(constantsPath));
    });
    stage(kConfigMessage, [&] {
        config_ = std::make_shared<XmlDocument>();
        Load(*config_, Resolve(configPath));
        if (constants_) model_.KeepDocument(constants_);
        model_.KeepDocument(config_);
        Visit(*config_);
    });
}

std::string ConfigLoader::FailureDetail(const std::string& why) const {
    return "File: " + currentFile_ + (readerStop_.empty() ? "" : "\n" + readerStop_) + "\n" + why;
}

namespace {
// "line 4, column 12" of a byte offset.
std::string PlaceText(std::string_view source, std::size_t end, const char* word) {
    std::size_t line = 1, column = 1;
    for (std::size_t i = 0; i < end && i < source.size(); ++i) {
        const bool newline = source[i] == '\n';
        line += newline ? 1 : 0;
        column = newline ? 1 : column + 1;
    }
    return word + std::to_string(line) + ", column " + std::to_string(column);
}

std::string FileName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
}  // namespace

void ConfigLoader::Load(XmlDocument& doc, const std::string& path) {
    currentFile_ = path;
    readerStop_.clear();
    if (allocationProbe) allocationProbe(path);
    doc.LoadXML(path);
    NoteSuspicious(doc, path);
    if (doc.error.empty()) return;
    // The reader's position counts bytes from 1; the operator counts lines and columns.
    const std::size_t end = std::min(doc.position > 0 ? doc.position - 1 : 0, doc.source.size());
    readerStop_ = PlaceText(doc.source, end, "Line ") + ": " + doc.error;
    problems_.push_back(FileName(path) + ", " + PlaceText(doc.source, end, "line ") + ": " + doc.error +
                        "; the rest of the file is not read");
}

void ConfigLoader::NoteSuspicious(const XmlDocument& doc, const std::string& path) {
    const std::string_view source = doc.source;
    // Where a view into the source starts, as a byte offset.
    const auto at = [&](std::string_view v) {
        const auto offset = v.data() - source.data();
        return offset >= 0 && static_cast<std::size_t>(offset) <= source.size()
                   ? static_cast<std::size_t>(offset)
                   : 0;
    };
    const auto odd = [](std::string_view name) {
        return name.empty() || name.find_first_of("<>\"'=\t\r\n ") != std::string_view::npos;
    };
    constexpr std::size_t kMostReported = 20;  // a file broken everywhere says where it starts
    std::vector<const XmlNode*> stack{&doc};
    while (!stack.empty() && problems_.size() < kMostReported) {
        const XmlNode* node = stack.back();
        stack.pop_back();
        if (node != &doc || !node->name.empty()) {
            if (odd(node->name) && node->name.substr(0, 1) != "!")
                problems_.push_back(FileName(path) + ", " + PlaceText(source, at(node->name), "line ") +
                                    ": element '" + std::string(node->name.substr(0, 40)) +
                                    "' has a name no element has; it is skipped");
            for (const XmlAttribute& a : node->attributes)
                if (odd(a.name)) {
                    problems_.push_back(FileName(path) + ", " + PlaceText(source, at(a.name), "line ") +
                                        ": a tag seems to lack its '>' (attribute '" +
                                        std::string(a.name.substr(0, 40)) +
                                        "'); what follows in it up to the next '>' is lost");
                    break;
                }
        }
        for (auto it = node->children.rbegin(); it != node->children.rend(); ++it) stack.push_back(*it);
    }
}

void ConfigLoader::Visit(const XmlNode& root) {
    // Depth first in document order, with a stack of its own: a file may nest as deep as it has tags.
    struct Frame {
        const XmlNode* node;
        std::size_t next;
    };
    std::vector<Frame> stack{{&root, 0}};
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next >= top.node->children.size()) {
            stack.pop_back();
            continue;
        }
        const XmlNode& x = *top.node->children[top.next++];
        if (x.name == "KDevice")
            MakeDevice(x);
        else if (x.name == "KProperty")
            MakeLink(x, false);
        else if (x.name == "KFileHandle")
            MakeLink(x, true);
        if (x.name != "Comment") stack.push_back({&x, 0});  // invalidates top
    }
}

void ConfigLoader::MakeDevice(const XmlNode& e) {
    const std::string name(e.getAttribute("Name"));
    const std::int32_t address =
        RequireDecimal(e.getAttribute("Address"), "Address of device '" + name + "'");
    // The line the device is on; without the attribute it is on the first line, as every plant
    // of one line always was.
    std::string port = KDevice::kDefaultPort;
    if (const std::string_view written = e.getAttribute("Port"); !written.empty()) {
        if (written.size() != 4 || !SameIgnoringCase(written.substr(0, 3), "COM") || written[3] < '1' ||
            written[3] > '6')
            throw ConfigError("Port of device '" + name + "' is not COM1 to COM6: '" + std::string(written) +
                              "'");
        port = "COM" + std::string(1, written[3]);
    }
    current_ = &model_.MakeDevice(name, static_cast<std::uint8_t>(address & 0xFF), &e, port);
}

std::uint8_t ConfigLoader::LookUp(const XmlNode& e, const char* attribute) const {
    const XmlNode* table = constants_ ? constants_->child(0) : nullptr;
    if (table == nullptr) throw ConfigError("the constants file holds no element of symbols");
    const std::string_view symbol = e.getAttribute(attribute);
    const auto it = std::find_if(table->attributes.begin(), table->attributes.end(),
                                 [&](const XmlAttribute& a) { return a.name == symbol; });
    const std::string what = std::string(attribute) + " '" + std::string(symbol) + "' of '" +
                             std::string(e.getAttribute("Name")) + "'";
    // A link with an undefined type or code would put garbage on the bus: refuse the file.
    if (it == table->attributes.end()) throw ConfigError(what + " is not a known symbol");
    return static_cast<std::uint8_t>(RequireInt(it->value, what) & 0xFF);
}

void ConfigLoader::MakeLink(const XmlNode& e, bool file) {
    LinkSpec desc;
    desc.name = e.getAttribute("Name");
    if (current_ == nullptr) throw ConfigError("'" + desc.name + "' comes before any device");
    desc.source = &e;
    if (const XmlNode* display = e.getChildByName("Display"))
        desc.basic = display->getAttribute("Level") != "Advanced";
    if (const XmlNode* help = e.getChildByName("Helptext")) desc.helpText = help->text;
    desc.type = LookUp(e, "Type");
    desc.code = LookUp(e, "Code");
    // The element decides how the link is addressed on the bus; a type of the other kind would
    // send requests the device cannot read.
    if (IsFileType(desc.type) != file)
        throw ConfigError("'" + desc.name + "' is a " + (file ? "file handle" : "property") + " of type " +
                          std::to_string(desc.type) + "; types 4 and 5 are " +
                          (file ? "the only file handle types" : "for file handles only"));
    if (!file) {
        desc.format = ReadValueFormat(e, desc.type == PropertyType::Byte ? 8 : 16);
        model_.MakeProperty(*current_, desc);
        return;
    }
    const std::int32_t length = RequireDecimal(e.getAttribute("Length"), "Length of '" + desc.name + "'");
    if (length < 0 || length > KFileLink::kMaxElements)
        throw ConfigError("Length of '" + desc.name + "' is outside 0 to 127");
    model_.MakeFileHandle(*current_, desc, static_cast<std::int8_t>(length));
}

}  // namespace korva
