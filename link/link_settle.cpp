#include "link/link_settle.h"

#include <map>
#include <mutex>
#include <thread>

namespace kt {

namespace {

using Clock = std::chrono::steady_clock;

struct SettleTable {
    std::mutex mutex;
    std::map<std::string, Clock::time_point> readyAt;
};

SettleTable& table() {
    // Never destroyed: transports may close while the process exits.
    static auto* t = new SettleTable();
    return *t;
}

} // namespace

void markLinkClosed(const std::string& key, std::chrono::milliseconds settle) {
    SettleTable& t = table();
    std::lock_guard guard(t.mutex);
    t.readyAt[key] = Clock::now() + settle;
}

bool waitLinkSettled(const std::string& key, const std::atomic<bool>& abort) {
    Clock::time_point ready;
    {
        SettleTable& t = table();
        std::lock_guard guard(t.mutex);
        auto it = t.readyAt.find(key);
        if (it == t.readyAt.end()) return !abort;
        ready = it->second;
        if (ready <= Clock::now()) {
            t.readyAt.erase(it);
            return !abort;
        }
    }
    // Short steps: an abort ends the wait within a few milliseconds.
    while (Clock::now() < ready) {
        if (abort) return false;
        std::this_thread::sleep_for(
            std::min<Clock::duration>(ready - Clock::now(), std::chrono::milliseconds(5)));
    }
    return !abort;
}

} // namespace kt
