#include "sim/legacy_endpoint.h"

#include "sim/pty_relay.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace kt::sim {

namespace {

// Bytes nobody read: a serial port that is closed keeps none, so frames the program missed while
// it had the line closed must not wait for it in the pty.
constexpr int StaleBytes = 2 * static_cast<int>(LegacyFrameSize);

void sleepUntil(std::chrono::steady_clock::time_point when) {
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
    timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

} // namespace

LegacyEndpoint::LegacyEndpoint(LegacyUnit& unit, const LegacyOptions& options, bool silent, RequestLog* log)
    : unit_(unit), options_(options), silent_(silent), log_(log) {}

LegacyEndpoint::~LegacyEndpoint() {
    stop();
}

bool LegacyEndpoint::open(std::string* error) {
    master_.reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    char name[128];
    if (!master_.valid() || ::grantpt(master_.get()) != 0 || ::unlockpt(master_.get()) != 0 ||
        ::ptsname_r(master_.get(), name, sizeof name) != 0) {
        if (error) *error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    ::fcntl(master_.get(), F_SETFL, ::fcntl(master_.get(), F_GETFL) | O_NONBLOCK);
    device_ = name;
    // Holding the program's side open keeps the line alive between the program's opens.
    hold_.reset(::open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    termios tio{};
    if (!hold_.valid() || ::tcgetattr(hold_.get(), &tio) != 0) {
        if (error) *error = "cannot set up " + device_ + ": " + std::strerror(errno);
        return false;
    }
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B38400);
    ::cfsetospeed(&tio, B38400);
    if (::tcsetattr(hold_.get(), TCSANOW, &tio) != 0) {
        if (error) *error = "cannot set up " + device_ + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void LegacyEndpoint::start() {
    nextFrame_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.frameMs);
    thread_ = std::jthread([this](std::stop_token token) { run(token); });
}

void LegacyEndpoint::stop() {
    if (thread_.joinable()) {
        thread_.request_stop();
        thread_.join();
    }
}

void LegacyEndpoint::log(const std::string& line) {
    if (log_) log_->write(line);
}

void LegacyEndpoint::run(std::stop_token token) {
    StopFd stop(token);
    uint8_t buffer[256];
    const auto period = std::chrono::milliseconds(options_.frameMs);
    while (!stop.stopRequested()) {
        // As the RTU relay does: a program that claimed the line exclusively can open it again.
        ::ioctl(hold_.get(), TIOCNXCL);
        const auto now = std::chrono::steady_clock::now();
        if (now >= nextFrame_) {
            sendFrame(stop);
            nextFrame_ += period;
            if (nextFrame_ < now) nextFrame_ = now + period; // the thread fell behind: no burst
            continue;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(nextFrame_ - now).count();
        // Woken at least every 10 ms for the exclusivity flag.
        StopFd::Wait w = stop.wait(master_.get(), POLLIN, static_cast<int>(std::min<long long>(left, 10)));
        if (w == StopFd::Wait::Stopped || w == StopFd::Wait::Error) break;
        if (w != StopFd::Wait::Ready) continue;
        const ssize_t got = ::read(master_.get(), buffer, sizeof buffer);
        if (got > 0)
            answer(stop, {buffer, static_cast<size_t>(got)});
        else if (got < 0 && errno != EAGAIN && errno != EINTR && errno != EIO)
            break;
        else if (got <= 0)
            stop.sleepFor(std::chrono::milliseconds(10)); // no reader on the other side
    }
}

void LegacyEndpoint::answer(const StopFd& stop, std::span<const uint8_t> bytes) {
    size_t ignored = 0;
    for (uint8_t b : bytes) {
        if (b == LegacySendEvents) {
            log("legacy request=d");
            if (silent_) continue;
            const LegacyEventBlock block = unit_.eventBlock();
            sendPaced(stop, block);
            // The unit answers before its next frame, and the frame keeps its distance from the block.
            nextFrame_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.frameMs);
        } else if (b == LegacyClearEvents) {
            log("legacy request=c");
            if (!silent_) unit_.clearEvents();
        } else {
            ++ignored;
        }
    }
    if (ignored) log("legacy ignored=" + std::to_string(ignored));
}

void LegacyEndpoint::sendFrame(const StopFd& stop) {
    const uint64_t n = ++frames_;
    if (silent_ || (options_.silenceAfter && n > options_.silenceAfter)) return;
    int unread = 0;
    if (::ioctl(hold_.get(), FIONREAD, &unread) == 0 && unread > StaleBytes) ::tcflush(hold_.get(), TCIFLUSH);

    const LegacyFrame frame = unit_.nextFrame(std::chrono::steady_clock::now());
    const bool noise = options_.noiseEvery && n % options_.noiseEvery == 0;
    const bool partial = options_.partialEvery && n % options_.partialEvery == 0;
    std::string line = "legacy frame=" + std::to_string(n);
    if (noise) line += " noise";
    if (partial) line += " partial=" + std::to_string(PartialBytes);
    log(line);
    if (noise) {
        const uint8_t b = NoiseByte;
        if (!sendPaced(stop, {&b, 1})) return;
    }
    sendPaced(stop, std::span<const uint8_t>(frame).first(partial ? PartialBytes : frame.size()));
}

bool LegacyEndpoint::sendPaced(const StopFd& stop, std::span<const uint8_t> bytes) {
    // Byte i has crossed the 38400-baud line at start + (i + 1) byte times.
    const auto perByte = byteTime(LegacyBaudRate);
    const auto start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < bytes.size() && !stop.stopRequested(); ++i) {
        sleepUntil(start + perByte * static_cast<long long>(i + 1));
        for (bool flushed = false;;) {
            const ssize_t n = ::write(master_.get(), bytes.data() + i, 1);
            if (n == 1) break;
            if (n < 0 && errno == EINTR) continue;
            // A full pty: nobody reads the line. What waits there is lost, as on a wire.
            if (n < 0 && errno == EAGAIN && !flushed) {
                ::tcflush(hold_.get(), TCIFLUSH);
                flushed = true;
                continue;
            }
            return false;
        }
    }
    return true;
}

} // namespace kt::sim
