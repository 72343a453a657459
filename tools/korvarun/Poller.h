#pragma once
// korvarun --poll: the chosen properties polled over the port at the log interval and logged with
// the window's CSV logger, without a sequence, until --for has passed or a signal came; then one
// line per polled device with its reads and errors.

#include <cstdint>
#include <string>
#include <vector>

#include "EventLoop.h"
#include "Options.h"
#include "Station.h"

namespace korva::korvarun {

class Poller {
  public:
    explicit Poller(const Options& options);
    Poller(const Poller&) = delete;
    Poller& operator=(const Poller&) = delete;

    // The whole poll; the exit status: 0 every polled device answered, 1 one never did, 2 an error.
    int Run();

  private:
    // What a polled device got: replies that made a link KNOWN, and times a link of it turned ERROR.
    struct Tally {
        const KDevice* device = nullptr;
        std::size_t rank = 0;  // its place in the model's device list
        std::uint64_t reads = 0;
        std::uint64_t errors = 0;
    };
    // A polled link as last seen.
    struct Watch {
        KRemoteLink* link = nullptr;
        std::size_t tally = 0;
        std::uint8_t state = 0;
        std::uint32_t updates = 0;
    };

    // The links that the ITEMs name; false with the ITEM at fault printed.
    bool Choose();
    bool ChooseItem(const std::string& item);
    void ChooseDevice(KDevice& device);
    void ChooseLink(KDevice& device, KRemoteLink& link);
    bool StartLog();
    // Counts what changed on the polled links since they were last seen.
    void Observe();
    void Fail(const std::string& why) const;

    const Options& options_;
    EventLoop loop_;
    Station station_;
    std::vector<Tally> tallies_;
    std::vector<Watch> watches_;
    std::string logFailure_;  // the log's own words when it could not start or stopped taking rows
};

int RunPoll(const Options& options);

}  // namespace korva::korvarun
