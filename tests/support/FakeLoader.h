#pragma once
// What loading asks of the window, and the model's announcements of what it made, as records.

#include <string>
#include <vector>

#include "model/ConfigLoader.h"

namespace korva::test {

class FakeLoaderHost : public LoaderHost, public ModelListener {
  public:
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void RequestEnd() override { ++endRequests; }
    void On_NewKorvaDevice(KDevice& d) override { announced.push_back("device " + d.name); }
    // "listed": the link is in its device's list by the time it is announced.
    void On_NewKorvaProperty(KDevice& d, KPropertyLink& l) override {
        announced.push_back("property " + d.name + "." + l.name +
                            (d.links.Find(l.name) == &l ? " listed" : ""));
    }
    void On_NewKFileLink(KDevice& d, KFileLink& l) override {
        announced.push_back("file " + d.name + "." + l.name);
    }

    std::vector<std::string> messages;
    std::vector<std::string> announced;
    int endRequests = 0;
};

}  // namespace korva::test
