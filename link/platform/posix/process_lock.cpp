#include "link/platform/process_lock.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kt::platform {

namespace {

struct NamedLock {
    std::mutex mutex;
    std::condition_variable freed;
    bool held = false;
    std::thread::id owner;
    bool abandoned = false; // its last owner ended while holding it
};

// The locks the calling thread holds. A thread that ends while holding one (an exception that
// killed a worker, a forgotten release) hands it over as abandoned instead of blocking every
// other thread for good.
//
// The list dies with the thread's other thread_locals; the main thread's dies at exit, before
// static destructors run, and one of those may still use a lock (a facade kept in a static).
// From then on the thread's locks are not tracked, which only costs the hand-over nobody is
// left to receive.
thread_local bool heldListGone = false; // trivially destructible: readable to the thread's end

struct HeldLocks {
    std::vector<NamedLock*> locks;
    ~HeldLocks() {
        heldListGone = true;
        for (NamedLock* lock : locks) {
            std::lock_guard guard(lock->mutex);
            lock->held = false;
            lock->abandoned = true;
            lock->freed.notify_one();
        }
    }
};

thread_local HeldLocks heldByThisThread;

NamedLock* lookup(std::string_view name) {
    static std::mutex registryMutex;
    // Never shrinks and never destroyed: a handle may close while other threads use the lock,
    // and threads ending during process exit still release into it.
    static auto* registry = new std::map<std::string, NamedLock, std::less<>>();
    std::lock_guard guard(registryMutex);
    auto it = registry->find(name);
    if (it == registry->end()) it = registry->try_emplace(std::string(name)).first;
    return &it->second;
}

} // namespace

struct ProcessLock::Impl {
    NamedLock* lock;
};

ProcessLock::ProcessLock(std::string_view name) : impl_(std::make_unique<Impl>(Impl{lookup(name)})) {}

ProcessLock::~ProcessLock() = default;

LockWait ProcessLock::wait(std::chrono::milliseconds timeout) {
    NamedLock& lock = *impl_->lock;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock guard(lock.mutex);
    if (lock.held && lock.owner == std::this_thread::get_id()) return LockWait::Failed;
    if (!lock.freed.wait_until(guard, deadline, [&] { return !lock.held; })) return LockWait::TimedOut;
    lock.held = true;
    lock.owner = std::this_thread::get_id();
    if (!heldListGone) heldByThisThread.locks.push_back(&lock);
    return std::exchange(lock.abandoned, false) ? LockWait::Abandoned : LockWait::Acquired;
}

void ProcessLock::release() {
    NamedLock& lock = *impl_->lock;
    std::lock_guard guard(lock.mutex);
    if (!lock.held || lock.owner != std::this_thread::get_id()) return;
    lock.held = false;
    if (!heldListGone) {
        auto& mine = heldByThisThread.locks;
        mine.erase(std::find(mine.begin(), mine.end(), &lock));
    }
    lock.freed.notify_one();
}

} // namespace kt::platform
