#include "Listen.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "packet/CaptureLine.h"
#include "packet/Receiver.h"
#include "trace/Pcapng.h"
#include "transport/ComPortCommands.h"
#include "transport/PortMap.h"
#include "transport/Serialng.h"
#include "xml/SafeFile.h"

namespace korva::korvacap {

namespace {

// Whole, or false once the reader has gone (or the write failed otherwise).
bool ToFifo(const UniqueFd& fifo, std::string_view bytes) {
    try {
        WriteAll(fifo, bytes, "the analyzer's fifo");
        return true;
    } catch (const FileError&) {
        return false;
    }
}

std::int64_t NowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

// Each packet the scanner finds goes out as one block, with its checksum as the line carried it.
class BlockSink : public ReceiverSink {
  public:
    BlockSink(const UniqueFd& fifo, std::uint8_t line) : fifo_(fifo), line_(line) {}
    void OnPacket(const BusPacket& p) override { Put(PacketPath::Received, p); }
    void OnChecksumError(const BusPacket& p, std::uint8_t) override { Put(PacketPath::ChecksumError, p); }
    bool readerGone = false;

  private:
    void Put(PacketPath path, const BusPacket& p) {
        if (!readerGone && !ToFifo(fifo_, PcapngPacket(TraceRecord::From(NowUs(), path, p, line_))))
            readerGone = true;
    }
    const UniqueFd& fifo_;
    std::uint8_t line_;
};

}  // namespace

int Capture(const Options& options, std::ostream& err) {
    const std::string port = PortOfInterface(options.interface);
    const std::string workDir = options.workDir.empty() ? DefaultWorkDir() : options.workDir;
    const std::string path = DevicePathForPort(workDir, port);
    std::string holder;
    const UniqueFd line(OpenListeningLine(path, options.speed, holder));
    if (line.Get() < 0) {
        err << "korvacap: cannot listen on " << port << ":";
        for (const std::string& why : OpenFailureLines(path, errno, holder)) err << " " << why;
        err << std::endl;
        return 1;
    }
    // Opened before the stop signals are held back, so that a stop still ends a wait for the reader.
    const UniqueFd fifo(::open(options.fifo.c_str(), O_WRONLY | O_CLOEXEC));
    if (fifo.Get() < 0) {
        err << "korvacap: cannot write to " << options.fifo << ": " << std::strerror(errno) << std::endl;
        return 1;
    }
    // The stop signals are read from a descriptor, between reads of the line, never in a handler.
    sigset_t stops;
    sigemptyset(&stops);
    for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&stops, s);
    sigprocmask(SIG_BLOCK, &stops, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    const UniqueFd signals(::signalfd(-1, &stops, SFD_CLOEXEC));

    if (!ToFifo(fifo, PcapngHead("KorvaConfig serial " + port))) return 0;

    BlockSink sink(fifo, LineNumber(port));
    Receiver receiver(sink);
    for (;;) {
        // The fifo reports an error once its reader has gone, quiet line or not.
        pollfd p[3] = {{line.Get(), POLLIN, 0}, {signals.Get(), POLLIN, 0}, {fifo.Get(), 0, 0}};
        if (::poll(p, 3, -1) < 0) {
            if (errno == EINTR) continue;
            err << "korvacap: " << std::strerror(errno) << std::endl;
            return 1;
        }
        if (p[1].revents != 0 || p[2].revents != 0) return 0;
        char bytes[4096];
        const ssize_t n = ::read(line.Get(), bytes, sizeof bytes);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) {
            // A pseudo-terminal whose other end closed reads EIO; an adapter pulled out reads nothing.
            err << "korvacap: the line " << port << " (" << path << ") went away" << (n < 0 ? ": " : "")
                << (n < 0 ? std::strerror(errno) : "") << std::endl;
            return 1;
        }
        for (ssize_t i = 0; i < n; ++i) receiver.Feed(bytes[i]);
        if (sink.readerGone) return 0;
    }
}

}  // namespace korva::korvacap
