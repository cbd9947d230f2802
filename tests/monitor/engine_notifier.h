#pragma once

// A notifier that records what the window would be told, and a dispatcher that queues hand-overs
// as a GUI event loop does, for the engine tests.

#include "monitor/monitor_thread.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

namespace kt::test {

using namespace std::chrono_literals;

// What the window would be told, with waits for the tests.
struct RecordingNotifier : MonitorNotifier {
    std::mutex mutex;
    std::condition_variable changed;
    int passes = 0;
    int fallbacks = 0;
    std::vector<std::pair<std::string, std::string>> messages; // text, title
    std::vector<std::pair<int32_t, std::array<int32_t, NetworkInputCount>>> networkInputs;
    std::vector<std::pair<uint16_t, std::array<std::string, EventTextCount>>> events;
    std::function<void()> duringPass; // runs inside statusRefresh

    void statusRefresh(int) override {
        if (duringPass) duringPass();
        std::lock_guard g(mutex);
        ++passes;
        changed.notify_all();
    }
    void networkInputStatus(int32_t flags, const std::array<int32_t, NetworkInputCount>& status) override {
        std::lock_guard g(mutex);
        networkInputs.emplace_back(flags, status);
        changed.notify_all();
    }
    void startFallbackTimer() override {
        std::lock_guard g(mutex);
        ++fallbacks;
        changed.notify_all();
    }
    void eventListUpdate(uint16_t count, const std::array<std::string, EventTextCount>& texts) override {
        std::lock_guard g(mutex);
        events.emplace_back(count, texts);
    }
    void showMessage(const std::string& text, const std::string& title) override {
        std::lock_guard g(mutex);
        messages.emplace_back(text, title);
        changed.notify_all();
    }
    bool waitForPasses(int n, std::chrono::milliseconds timeout = 10s) {
        std::unique_lock g(mutex);
        return changed.wait_for(g, timeout, [&] { return passes >= n; });
    }
    int passCount() {
        std::lock_guard g(mutex);
        return passes;
    }
};

// Calls wait in a queue until the test runs them, as in a GUI event loop.
struct QueuedDispatcher : GuiDispatcher {
    std::mutex mutex;
    std::condition_variable posted;
    std::deque<std::function<void()>> calls;

    void post(std::function<void()> call) override {
        std::lock_guard g(mutex);
        calls.push_back(std::move(call));
        posted.notify_all();
    }
    bool waitForCall(std::chrono::milliseconds timeout = 10s) {
        std::unique_lock g(mutex);
        return posted.wait_for(g, timeout, [&] { return !calls.empty(); });
    }
    // Runs the oldest call; false when there is none.
    bool runOne() {
        std::function<void()> call;
        {
            std::lock_guard g(mutex);
            if (calls.empty()) return false;
            call = std::move(calls.front());
            calls.pop_front();
        }
        call();
        return true;
    }
};

} // namespace kt::test
