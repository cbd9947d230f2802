#pragma once

#include <chrono>
#include <memory>
#include <string_view>

namespace kt::platform {

enum class LockWait {
    Acquired,
    TimedOut,
    // The previous owner ended while holding the lock; it is now owned by the caller, who
    // should release it.
    Abandoned,
    Failed,
};

// A handle to the process-wide lock of the given name: every handle with the same name, from
// any thread, locks the same object. A thread must not wait for it while holding it (the POSIX
// lock reports that as Failed). Closing a handle does not release a lock the caller holds.
class ProcessLock {
public:
    explicit ProcessLock(std::string_view name);
    ~ProcessLock();
    ProcessLock(const ProcessLock&) = delete;
    ProcessLock& operator=(const ProcessLock&) = delete;

    LockWait wait(std::chrono::milliseconds timeout);
    void release();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace kt::platform
