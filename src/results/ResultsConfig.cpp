#include "results/ResultsConfig.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "results/ResultsStore.h"
#include "xml/XmlDocument.h"

namespace korva::results {

ResultsPlace FindResults(const std::string& workDir, const std::string& given) {
    ResultsPlace p;
    p.spool = workDir + "/results.sqlite";
    if (given == "none") return p;
    if (!given.empty()) {
        p.location = given;
        return p;
    }
    const std::string config = workDir + "/config/results.xml";
    std::error_code ec;
    if (!std::filesystem::exists(config, ec)) {
        p.location = p.spool;
        return p;
    }
    XmlDocument doc;
    try {
        doc.LoadXML(config);
    } catch (const XmlFileError& e) {
        p.error = e.what();
        return p;
    }
    const XmlNode* location = doc.name == "results" ? doc.getChildByName("location") : nullptr;
    std::string text = location != nullptr ? std::string(location->text) : "";
    while (!text.empty() &&
           (text.back() == ' ' || text.back() == '\n' || text.back() == '\r' || text.back() == '\t'))
        text.pop_back();
    text.erase(0, text.find_first_not_of(" \t\r\n"));
    if (text.empty()) {
        p.error = config + ": no <location> in <results>";
        return p;
    }
    // A file named there is taken from the working folder, as the other configuration paths are.
    p.location = text == "none"                                  ? ""
                 : IsServerLocation(text) || text.front() == '/' ? text
                                                                 : workDir + "/" + text;
    return p;
}

std::string LoginName() {
    if (const char* user = std::getenv("USER"); user != nullptr && *user != 0) return user;
    if (const char* login = getlogin(); login != nullptr) return login;
    if (const passwd* pw = getpwuid(geteuid()); pw != nullptr) return pw->pw_name;
    return "unknown";
}

}  // namespace korva::results
