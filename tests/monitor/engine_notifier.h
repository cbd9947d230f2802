#pragma once

// A notifier that records what the window would be told, and a dispatcher that queues hand-overs
// as a GUI event loop does, for the engine tests.

#include "monitor/monitor_thread.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

namespace kt::test {

using namespace std::chrono_literals;

// What the window would be told, with waits for the tests.
struct RecordingNotifier : MonitorNotifier {
    std::mutex mutex;
    std::condition_variable changed;
    int passes = 0;
    int fallbacks = 0;
    std::string fallbackReason;
    PassSnapshotPtr last;
    std::vector<std::pair<std::string, std::string>> messages; // text, title
    std::vector<NetworkInputs> networkInputs;
    std::function<void(const PassSnapshot&)> duringPass; // runs inside passCompleted

    void passCompleted(PassSnapshotPtr pass) override {
        if (duringPass) duringPass(*pass);
        std::lock_guard g(mutex);
        ++passes;
        if (pass->networkInputs) networkInputs.push_back(*pass->networkInputs);
        last = std::move(pass);
        changed.notify_all();
    }
    void identificationFailed(const std::string& why) override {
        std::lock_guard g(mutex);
        ++fallbacks;
        fallbackReason = why;
        changed.notify_all();
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
    PassSnapshotPtr lastPass() {
        std::lock_guard g(mutex);
        return last;
    }
};

// Collects the results of requests, whatever thread delivers them, with a bounded wait.
template <class Result> struct Results {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Result> got;

    std::function<void(Result)> sink() {
        return [this](Result r) {
            std::lock_guard g(mutex);
            got.push_back(std::move(r));
            changed.notify_all();
        };
    }
    // The n-th result (from 1), or nothing after `timeout`.
    std::optional<Result> wait(size_t n = 1, std::chrono::milliseconds timeout = 10s) {
        std::unique_lock g(mutex);
        if (!changed.wait_for(g, timeout, [&] { return got.size() >= n; })) return std::nullopt;
        return got[n - 1];
    }
    size_t count() {
        std::lock_guard g(mutex);
        return got.size();
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
