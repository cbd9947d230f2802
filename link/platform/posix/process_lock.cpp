#include "link/platform/process_lock.h"

#include <cerrno>
#include <ctime>
#include <map>
#include <mutex>
#include <pthread.h>
#include <string>

namespace kt::platform {

namespace {

// One robust mutex per name for the life of the process: a thread that ends while holding it
// hands the next waiter EOWNERDEAD instead of a lock that is never released.
struct NamedMutex {
    pthread_mutex_t mutex;

    NamedMutex() {
        pthread_mutexattr_t attr;
        pthread_mutexattr_init(&attr);
        pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ERRORCHECK);
        pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
        pthread_mutex_init(&mutex, &attr);
        pthread_mutexattr_destroy(&attr);
    }
};

pthread_mutex_t* lookup(std::string_view name) {
    static std::mutex registryMutex;
    // Never shrinks: a handle may be closed while another thread still waits on the same lock.
    static auto* registry = new std::map<std::string, NamedMutex, std::less<>>();
    std::lock_guard guard(registryMutex);
    auto it = registry->find(name);
    if (it == registry->end()) it = registry->try_emplace(std::string(name)).first;
    return &it->second.mutex;
}

} // namespace

struct ProcessLock::Impl {
    pthread_mutex_t* mutex;
};

ProcessLock::ProcessLock(std::string_view name) : impl_(std::make_unique<Impl>(Impl{lookup(name)})) {}

ProcessLock::~ProcessLock() = default;

LockWait ProcessLock::wait(std::chrono::milliseconds timeout) {
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    auto ns = static_cast<long long>(deadline.tv_nsec) +
              std::chrono::duration_cast<std::chrono::nanoseconds>(timeout).count();
    deadline.tv_sec += static_cast<time_t>(ns / 1'000'000'000);
    deadline.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    int r = pthread_mutex_timedlock(impl_->mutex, &deadline);
    switch (r) {
    case 0:
        return LockWait::Acquired;
    case ETIMEDOUT:
        return LockWait::TimedOut;
    case EOWNERDEAD:
        // Owned now; mark it usable again so the release below leaves a normal mutex behind.
        pthread_mutex_consistent(impl_->mutex);
        return LockWait::Abandoned;
    default: // EDEADLK: this thread already holds it
        return LockWait::Failed;
    }
}

void ProcessLock::release() {
    pthread_mutex_unlock(impl_->mutex);
}

} // namespace kt::platform
