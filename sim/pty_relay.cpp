#include "sim/pty_relay.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kt::sim {

namespace {

// A partial answer that has not grown for this long is passed on as it is.
constexpr auto PartialFrameTimeout = std::chrono::milliseconds(100);
// How often the relay wakes while idle (see the exclusivity note in run()).
constexpr int TickMs = 10;
// How long a write waits for a reader before the bytes are dropped.
constexpr int WriteTimeoutMs = 1000;

void sleepUntil(std::chrono::steady_clock::time_point when) {
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
    timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    // steady_clock is CLOCK_MONOTONIC on Linux; EINTR only shortens one byte's wait.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

} // namespace

FrameSplit splitAnswer(std::span<const uint8_t> bytes) {
    if (bytes.size() < 2) return {FrameSplit::NeedMore};
    const uint8_t function = bytes[1];
    size_t length = 0;
    if (function & 0x80) {
        length = 5;
    } else {
        switch (function) {
        case 1:
        case 2:
        case 3:
        case 4:
        case 23:
            if (bytes.size() < 3) return {FrameSplit::NeedMore};
            length = 5 + bytes[2];
            break;
        case 5:
        case 6:
        case 15:
        case 16:
            length = 8;
            break;
        default:
            return {FrameSplit::Unknown};
        }
    }
    if (bytes.size() < length) return {FrameSplit::NeedMore};
    return {FrameSplit::Frame, length};
}

FrameSplit splitRequest(std::span<const uint8_t> bytes) {
    if (bytes.size() < 2) return {FrameSplit::NeedMore};
    size_t length = 0;
    switch (bytes[1]) {
    case 7:
    case 11:
    case 12:
    case 17:
        length = 4;
        break;
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
    case 8:
        length = 8;
        break;
    case 22:
        length = 10;
        break;
    case 15:
    case 16:
        if (bytes.size() < 7) return {FrameSplit::NeedMore};
        length = 9 + bytes[6];
        break;
    case 23:
        if (bytes.size() < 11) return {FrameSplit::NeedMore};
        length = 13 + bytes[10];
        break;
    default:
        return {FrameSplit::Unknown};
    }
    if (bytes.size() < length) return {FrameSplit::NeedMore};
    return {FrameSplit::Frame, length};
}

void spoilCrc(std::span<uint8_t> frame) {
    if (frame.size() < 2) return;
    frame[frame.size() - 2] ^= 0xFF;
    frame[frame.size() - 1] ^= 0xFF;
}

std::chrono::nanoseconds byteTime(uint32_t baud) {
    return std::chrono::nanoseconds(baud ? 10'000'000'000LL / baud : 0);
}

PtyRelay::PtyRelay(int unitSide, int lineSide, int holdFd, uint8_t unitId, FaultPlan& faults,
                   uint32_t paceBaud)
    : unitSide_(unitSide), lineSide_(lineSide), holdFd_(holdFd), unitId_(unitId), faults_(faults),
      paceBaud_(paceBaud) {}

void PtyRelay::Pending::append(const uint8_t* data, size_t n) {
    if (bytes.empty()) since = std::chrono::steady_clock::now();
    bytes.insert(bytes.end(), data, data + n);
}

void PtyRelay::Pending::consume(size_t n) {
    bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
    since = std::chrono::steady_clock::now();
}

bool PtyRelay::Pending::stale() const {
    return !bytes.empty() && std::chrono::steady_clock::now() - since > PartialFrameTimeout;
}

PtyRelay::~PtyRelay() {
    stop();
}

void PtyRelay::start() {
    thread_ = std::jthread([this](std::stop_token token) { run(token); });
}

void PtyRelay::stop() {
    if (thread_.joinable()) {
        thread_.request_stop();
        thread_.join();
    }
}

void PtyRelay::run(std::stop_token token) {
    StopFd stop(token);
    uint8_t buffer[512];
    bool unitOpen = true;
    while (!stop.stopRequested()) {
        // A program that set TIOCEXCL on its side of the line could not open it again after
        // closing it (the pair outlives its users; only CAP_SYS_ADMIN gets past the flag), while a
        // real serial port is free again once closed. Clearing the flag on every tick keeps the
        // pty as reopenable as a port.
        ::ioctl(holdFd_, TIOCNXCL);

        pollfd fds[3] = {
            {stop.fd(), POLLIN, 0}, {lineSide_, POLLIN, 0}, {unitOpen ? unitSide_ : -1, POLLIN, 0}};
        int n = ::poll(fds, 3, TickMs);
        if (n < 0 && errno != EINTR) {
            std::fprintf(stderr, "kt740sim: the RTU line stopped: %s\n", std::strerror(errno));
            break;
        }
        if (fds[0].revents || stop.stopRequested()) break;

        if (fds[1].revents & POLLIN) {
            ssize_t got = ::read(lineSide_, buffer, sizeof buffer);
            if (got > 0) requests_.append(buffer, static_cast<size_t>(got));
        } else if (fds[1].revents & (POLLHUP | POLLERR)) {
            // The relay holds the slave side open, so this is unexpected; do not spin on it.
            stop.sleepFor(std::chrono::milliseconds(TickMs));
        }
        if (fds[2].revents & POLLIN) {
            ssize_t got = ::read(unitSide_, buffer, sizeof buffer);
            if (got > 0) answers_.append(buffer, static_cast<size_t>(got));
        } else if (fds[2].revents & (POLLHUP | POLLERR)) {
            unitOpen = false; // libmodbus closed its side: the endpoint is shutting down
        }
        forwardRequests(stop);
        forwardAnswers(stop);
    }
}

void PtyRelay::forwardRequests(const StopFd& stop) {
    while (!requests_.bytes.empty()) {
        FrameSplit split = splitRequest(requests_.bytes);
        size_t length = 0;
        if (split.kind == FrameSplit::Frame) {
            length = split.length;
            // A frame for another unit id never reaches libmodbus: after ignoring one it would take
            // the next frame on the line for the other unit's answer, which on this point-to-point
            // line is the program's next request.
            uint8_t address = requests_.bytes[0];
            if (address != unitId_ && address != 0) {
                requests_.consume(length);
                continue;
            }
        } else if (split.kind == FrameSplit::Unknown || requests_.stale()) {
            length = requests_.bytes.size(); // libmodbus judges what cannot be framed here
        } else {
            return; // wait for the rest of the frame
        }
        writeAll(stop, unitSide_, {requests_.bytes.data(), length});
        requests_.consume(length);
    }
}

void PtyRelay::forwardAnswers(const StopFd& stop) {
    while (!answers_.bytes.empty()) {
        FrameSplit split = splitAnswer(answers_.bytes);
        size_t length = 0;
        if (split.kind == FrameSplit::Frame) {
            length = split.length;
            if (faults_.spoilAnswer()) spoilCrc({answers_.bytes.data(), length});
        } else if (split.kind == FrameSplit::Unknown || answers_.stale()) {
            length = answers_.bytes.size();
        } else {
            return; // wait for the rest of the frame
        }
        sendPaced(stop, {answers_.bytes.data(), length});
        answers_.consume(length);
    }
}

void PtyRelay::sendPaced(const StopFd& stop, std::span<const uint8_t> frame) {
    if (!paceBaud_) {
        writeAll(stop, lineSide_, frame);
        return;
    }
    // Byte i has crossed the line at start + (i + 1) byte times; bytes that are due together
    // (the sleep overshot) leave together, so the frame ends on time on average.
    const auto perByte = byteTime(paceBaud_);
    const auto start = std::chrono::steady_clock::now();
    size_t sent = 0;
    while (sent < frame.size() && !stop.stopRequested()) {
        sleepUntil(start + perByte * static_cast<long long>(sent + 1));
        auto elapsed = std::chrono::steady_clock::now() - start;
        size_t due = std::min(frame.size(), static_cast<size_t>(elapsed / perByte));
        if (due <= sent) due = sent + 1;
        if (!writeAll(stop, lineSide_, frame.subspan(sent, due - sent))) return;
        sent = due;
    }
}

bool PtyRelay::writeAll(const StopFd& stop, int fd, std::span<const uint8_t> bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n > 0) {
            bytes = bytes.subspan(static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return false;
        // The pty buffer is full: nobody reads the other side. Drop the rest after a while, as a
        // line without a listener would.
        if (stop.wait(fd, POLLOUT, WriteTimeoutMs) != StopFd::Wait::Ready) return false;
    }
    return true;
}

} // namespace kt::sim
