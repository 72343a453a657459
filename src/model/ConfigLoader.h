#pragma once
// Reads config/paths.xml, the constants file and the device configuration, and builds the model.

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "model/Kobjects.h"

namespace korva {

class XmlDocument;

// What loading needs of the window.
class LoaderHost {
  public:
    virtual ~LoaderHost() = default;
    // A message box with the text and an OK button, no title of its own.
    virtual void ShowMessage(const std::string& text) = 0;
    // The program ends once control is back in its event loop; loading goes on meanwhile.
    virtual void RequestEnd() = 0;
    // A failed load: the message box text, then what is known of the failure (file, place, reason).
    virtual void ShowFailure(const std::string& message, const std::string& /*detail*/) {
        ShowMessage(message);
    }
};

class ConfigError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class ConfigLoader {
  public:
    static constexpr const char* kPathMessage = "Invalid or missing path specification data";
    static constexpr const char* kConstantsMessage = "Invalid or missing constants data";
    static constexpr const char* kConfigMessage = "Invalid or missing config data";
    static constexpr const char* kUnitsMessage = "Invalid or missing units data";

    // workDir is the folder that holds config/; relative paths in the files start there too.
    ConfigLoader(KModel& model, LoaderHost& host, std::string workDir = ".");
    ~ConfigLoader();

    // Runs once at start-up; failures are reported through the host.
    void LoadConfiguration();

    const XmlDocument* Constants() const { return constants_.get(); }
    const XmlDocument* Configuration() const { return config_.get(); }
    // Why the last failure happened, for the log; the operator sees only the three messages.
    const std::string& LastError() const { return lastError_; }
    // What the reader skipped or found suspicious in the files it read, each as
    // "FILE, line L, column C: what": a file loads as far as it goes, and this says where it did not.
    const std::vector<std::string>& Problems() const { return problems_; }

    // Runs before each file is read; tests throw std::bad_alloc from it to stand for a failed allocation.
    std::function<void(const std::string& path)> allocationProbe;

    // A path as written in a file: backslashes become slashes, relative means below workDir.
    std::string Resolve(const std::string& written) const;

  private:
    void Fail(const char* message, const std::string& why);
    void Load(XmlDocument& doc, const std::string& path);
    // The file being read, and where its reader stopped when it stopped early.
    std::string FailureDetail(const std::string& why) const;
    void Visit(const XmlNode& root);
    void MakeDevice(const XmlNode& e);
    void MakeLink(const XmlNode& e, bool file);
    std::uint8_t LookUp(const XmlNode& e, const char* attribute) const;

    KModel& model_;
    LoaderHost& host_;
    std::string workDir_;
    std::shared_ptr<XmlDocument> constants_;
    std::shared_ptr<XmlDocument> config_;
    KDevice* current_ = nullptr;
    std::string lastError_;
    std::string currentFile_;
    std::string readerStop_;  // where the reader of currentFile_ stopped early, if it did
    std::vector<std::string> problems_;
    // Tags that swallowed the next one, or names no element has.
    void NoteSuspicious(const XmlDocument& doc, const std::string& path);
};

}  // namespace korva
