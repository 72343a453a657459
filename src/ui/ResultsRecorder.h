#pragma once
// The window's runs in the results store: each node a run command starts (from the Scripting page
// or the Tools menu) is a run, begun as the node starts and ended, with the steps of every node it
// went through, as it ends. The store is written on a thread of its own, so the window never waits
// on the file or the server; what becomes of the results (a server away, a file lost) is said.

#include <QObject>
#include <QThread>

#include <functional>
#include <memory>
#include <string>

#include "results/ResultsConfig.h"

namespace korva {

namespace results {
class RunWriter;
}
class TestSequence;
struct _TestNode;

class ResultsRecorder : public QObject {
    Q_OBJECT

  public:
    // dut: asked as each run begins; say: where a line about the results goes.
    ResultsRecorder(results::ResultsPlace place, std::function<std::string()> dut,
                    std::function<void(const QString&)> say, QObject* parent = nullptr);
    ~ResultsRecorder() override;

    // Hooks the recorder to the runner's requests.
    void Watch(TestSequence& sequences);
    // Every run handed over so far is written; for tests and for closing.
    void Flush();

  private:
    void Began(const _TestNode& node);
    void Ended(const TestSequence& sequences, const _TestNode& node, std::uint8_t verdict);

    results::ResultsPlace place_;
    std::function<std::string()> dut_;
    std::function<void(const QString&)> say_;
    QThread thread_;
    QObject* worker_;  // lives on thread_
    // The run being written: made, used and dropped on thread_ only.
    std::unique_ptr<results::RunWriter> writer_;
    bool running_ = false;  // a run has begun and not yet ended (UI thread)
};

}  // namespace korva
