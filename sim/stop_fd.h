#pragma once

#include "sim/fd.h"

#include <chrono>
#include <stop_token>

namespace kt::sim {

// A thread's stop token as a file descriptor: an eventfd that turns readable when the thread is
// asked to stop, so that every poll() the thread blocks in ends at once.
class StopFd {
public:
    enum class Wait { Ready, Stopped, Timeout, Error };

    explicit StopFd(std::stop_token token);
    StopFd(const StopFd&) = delete;
    StopFd& operator=(const StopFd&) = delete;

    bool stopRequested() const { return token_.stop_requested(); }
    int fd() const { return fd_.get(); }

    // Waits for `events` on `fd` (a negative timeout waits for ever).
    Wait wait(int fd, short events, int timeoutMs) const;
    // False when the stop request cut the sleep short.
    bool sleepFor(std::chrono::milliseconds duration) const;

private:
    struct Wake {
        int fd;
        void operator()() const noexcept;
    };

    std::stop_token token_;
    UniqueFd fd_;
    // Declared after fd_: destroyed first, and its destructor waits for a callback that is
    // running on the stopping thread, so the eventfd is never closed under a write.
    std::stop_callback<Wake> callback_;
};

} // namespace kt::sim
