#include "sim/rtu_endpoint.h"

#include "link/modbus_frames.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <vector>

namespace kt::sim {

namespace {

// How long the unit waits for the rest of a frame whose length it knows, the silence that ends a
// frame whose function it does not know, and the most it takes in as one frame.
constexpr int RestOfFrameMs = 500;
constexpr int FrameGapMs = 20;
constexpr size_t MaxFrame = 512;

// Opens a pty pair; returns the master and sets `slavePath`.
UniqueFd openPty(std::string& slavePath, std::string* error) {
    UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    char name[128];
    if (!master.valid() || ::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0 ||
        ::ptsname_r(master.get(), name, sizeof name) != 0) {
        if (error) *error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        return {};
    }
    int flags = ::fcntl(master.get(), F_GETFL);
    ::fcntl(master.get(), F_SETFL, flags | O_NONBLOCK);
    slavePath = name;
    return master;
}

// A raw line: no echo (which would send the program's own request back to it), no line editing,
// no character translation.
bool makeRaw(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) return false;
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

} // namespace

RtuEndpoint::RtuEndpoint(ModbusService& service, FaultPlan& faults, uint32_t paceBaud)
    : service_(service), faults_(faults), paceBaud_(paceBaud) {}

RtuEndpoint::~RtuEndpoint() {
    stop();
}

bool RtuEndpoint::open(std::string* error) {
    unitMaster_ = openPty(unitDevice_, error);
    if (!unitMaster_.valid()) return false;
    lineMaster_ = openPty(lineDevice_, error);
    if (!lineMaster_.valid()) return false;

    // Holding the program's slave side open keeps the line alive between the program's opens.
    lineHold_.reset(::open(lineDevice_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!lineHold_.valid() || !makeRaw(lineHold_.get())) {
        if (error) *error = "cannot set up " + lineDevice_ + ": " + std::strerror(errno);
        return false;
    }

    ctx_.reset(modbus_new_rtu(unitDevice_.c_str(), 115200, 'N', 8, 1));
    if (!ctx_) {
        if (error) *error = std::string("cannot create the RTU context: ") + modbus_strerror(errno);
        return false;
    }
    if (!setRtuUnitAddress(ctx_.get(), KtUnitId)) {
        if (error) *error = "this libmodbus cannot answer at unit id 254";
        return false;
    }
    if (modbus_connect(ctx_.get()) != 0) {
        if (error) *error = "cannot open " + unitDevice_ + ": " + modbus_strerror(errno);
        return false;
    }
    relay_ = std::make_unique<PtyRelay>(unitMaster_.get(), lineMaster_.get(), lineHold_.get(), KtUnitId,
                                        faults_, paceBaud_);
    return true;
}

void RtuEndpoint::start() {
    relay_->start();
    server_ = std::jthread([this](std::stop_token token) { serve(token); });
}

void RtuEndpoint::stop() {
    if (server_.joinable()) {
        server_.request_stop();
        server_.join();
    }
    if (relay_) relay_->stop();
}

void RtuEndpoint::serve(std::stop_token token) {
    StopFd stop(token);
    ModbusMapping scratch = ModbusService::makeScratch();
    const int fd = modbus_get_socket(ctx_.get());
    std::vector<uint8_t> pending;
    auto readSome = [&] {
        uint8_t buffer[512];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) pending.insert(pending.end(), buffer, buffer + n);
        return n > 0 || (n < 0 && (errno == EAGAIN || errno == EINTR));
    };
    auto drop = [&](const char* why) {
        // A serial unit drops a frame it cannot use and waits for silence: what is left of it
        // must not become the start of the next request.
        std::fprintf(stderr, "kt740sim: RTU request dropped: %s\n", why);
        pending.clear();
    };
    while (!stop.stopRequested()) {
        if (pending.empty()) {
            if (stop.wait(fd, POLLIN, -1) != StopFd::Wait::Ready) break;
            if (!readSome()) stop.sleepFor(std::chrono::milliseconds(10)); // the line is closing
            continue;
        }
        // Frames are told apart as the unit's own receiver does: a function it knows by its
        // length, any other by the silence after it.
        const FrameSplit split = splitRequest(pending);
        size_t length = split.length;
        if (split.kind != FrameSplit::Frame) {
            StopFd::Wait wait = stop.wait(fd, POLLIN, FrameGapMs);
            // A frame shorter than its function needs is still a frame when the silence after it
            // ends it with a good CRC (it is then refused for what it lacks); otherwise the rest
            // may still be on its way.
            const bool shortFrame = pending.size() >= 4 && modbusCrc(pending) == 0;
            if (wait == StopFd::Wait::Timeout && split.kind == FrameSplit::NeedMore && !shortFrame)
                wait = stop.wait(fd, POLLIN, RestOfFrameMs);
            if (wait == StopFd::Wait::Stopped || wait == StopFd::Wait::Error) break;
            if (wait == StopFd::Wait::Ready && pending.size() < MaxFrame) {
                if (!readSome()) stop.sleepFor(std::chrono::milliseconds(10));
                continue;
            }
            if (split.kind == FrameSplit::NeedMore && !shortFrame) {
                drop("a frame cut short");
                continue;
            }
            length = pending.size();
        }
        const std::span<const uint8_t> frame(pending.data(), length);
        if (frame.size() < 4) {
            drop("a frame too short for an address, a function and a CRC");
            continue;
        }
        if (modbusCrc(frame) != 0) {
            drop("Invalid CRC");
            continue;
        }
        if (service_.serve(ctx_.get(), frame, Transport::Rtu, stop, scratch.get()) ==
            ModbusService::Outcome::Stopped)
            break;
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(length));
    }
}

} // namespace kt::sim
