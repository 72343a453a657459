#pragma once
// A fresh folder under the system's temporary folder, removed with everything in it.

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace korva::test {

class TempDir {
  public:
    TempDir() {
        std::random_device rd;
        path_ = std::filesystem::temp_directory_path() /
                ("korva-test-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string Path() const { return path_.string(); }
    // Writes a file below the folder, making its folders.
    void Write(const std::string& relative, const std::string& content) const {
        const auto p = path_ / relative;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << content;
    }

    // Entries in a few words: "name: text" a file (the text may hold anything), "name>target" a link, "name/"
    // a folder, "name|" a pipe.
    void Plant(const std::vector<std::string>& entries) const {
        for (const std::string& e : entries) {
            const auto link = e.find('>'), text = e.find(": ");
            if (text != std::string::npos)
                Write(e.substr(0, text), e.substr(text + 2));
            else if (e.back() == '/')
                std::filesystem::create_directories(path_ / e);
            else if (e.back() == '|')
                ::mkfifo((path_ / e.substr(0, e.size() - 1)).c_str(), 0644);
            else if (link != std::string::npos)
                std::filesystem::create_symlink(e.substr(link + 1), path_ / e.substr(0, link));
        }
    }
    // Every entry below the folder in those words, sorted.
    std::vector<std::string> Entries() const {
        namespace fs = std::filesystem;
        std::vector<std::string> out;
        for (const auto& e : fs::recursive_directory_iterator(path_)) {
            const std::string name = e.path().lexically_relative(path_).string();
            if (e.is_symlink())
                out.push_back(name + ">" + fs::read_symlink(e.path()).string());
            else if (e.is_directory())
                out.push_back(name + "/");
            else if (e.is_fifo())
                out.push_back(name + "|");
            else if (e.is_regular_file()) {
                std::stringstream text;
                text << std::ifstream(e.path()).rdbuf();
                out.push_back(name + ": " + text.str());
            } else
                out.push_back(name + "?");
        }
        std::sort(out.begin(), out.end());
        return out;
    }

  private:
    std::filesystem::path path_;
};

}  // namespace korva::test
