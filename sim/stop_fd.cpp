#include "sim/stop_fd.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <unistd.h>

namespace kt::sim {

namespace {

int makeEventFd() {
    int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) throw std::runtime_error("cannot create an eventfd");
    return fd;
}

} // namespace

void StopFd::Wake::operator()() const noexcept {
    uint64_t one = 1;
    // Nothing to do on failure: the counter is already non-zero, so the fd is readable anyway.
    [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
}

StopFd::StopFd(std::stop_token token)
    : token_(token), fd_(makeEventFd()), callback_(token_, Wake{fd_.get()}) {}

StopFd::Wait StopFd::wait(int fd, short events, int timeoutMs) const {
    pollfd fds[2] = {{fd_.get(), POLLIN, 0}, {fd, events, 0}};
    while (true) {
        if (stopRequested()) return Wait::Stopped;
        int n = ::poll(fds, 2, timeoutMs);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Wait::Error;
        if (fds[0].revents || stopRequested()) return Wait::Stopped;
        if (n == 0) return Wait::Timeout;
        return Wait::Ready; // POLLHUP and POLLERR count as ready: the caller's read tells
    }
}

bool StopFd::sleepFor(std::chrono::milliseconds duration) const {
    auto until = std::chrono::steady_clock::now() + duration;
    while (true) {
        if (stopRequested()) return false;
        // Rounded up: a delay is never shorter than asked.
        auto left = std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0) return true;
        pollfd fd{fd_.get(), POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(std::min<long long>(left.count(), 1 << 30))) > 0)
            return !stopRequested();
    }
}

} // namespace kt::sim
