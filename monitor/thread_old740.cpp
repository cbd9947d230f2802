#include "monitor/thread_old740.h"

#include "link/platform/serial_port.h"
#include "link/platform/thread_priority.h"

#include <algorithm>
#include <utility>
#include <vector>


namespace kt {

namespace {


int ms(std::chrono::milliseconds t) {
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(t.count(), 0, 600000));
}

} // namespace

std::string describe(const LegacyFailure& failure) {
    switch (failure.reason) {
    case LegacyFailureReason::NoFrames:
        return "no status frame in " + std::to_string(failure.misses) + " tries";
    case LegacyFailureReason::CannotOpenPort:
        return "cannot open the port: " + failure.detail;
    case LegacyFailureReason::CannotSetLine:
        return "the port does not take 38400 baud 8-N-1: " + failure.detail;
    }
    return {};
}

Thread_Old740::Thread_Old740(std::string portName, std::shared_ptr<LegacyNotifier> notifier,
                             GuiDispatcher& dispatcher, LegacyTimings timings)
    : portName_(std::move(portName)), notifier_(std::move(notifier)), dispatcher_(dispatcher),
      timings_(timings), port_(std::make_unique<platform::SerialPort>()),
      thread_([this](std::stop_token stop) { run(stop); }) {}

Thread_Old740::~Thread_Old740() {
    requestStop();
    join();
}

bool Thread_Old740::requestEvents() {
    if (finished_ || thread_.get_stop_token().stop_requested()) return false;
    std::lock_guard lock(mutex_);
    eventsRequested_ = true;
    return true;
}

bool Thread_Old740::requestClear() {
    if (finished_ || thread_.get_stop_token().stop_requested()) return false;
    std::lock_guard lock(mutex_);
    ++clearsRequested_;
    return true;
}

void Thread_Old740::requestStop() {
    thread_.request_stop();
    // Taken so that a pause between its stop check and its wait still hears this.
    std::lock_guard lock(mutex_);
    wake_.notify_all();
}

bool Thread_Old740::stopRequested() const {
    return thread_.get_stop_token().stop_requested();
}

bool Thread_Old740::finished() const {
    return finished_;
}

void Thread_Old740::join() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

template <class Call> void Thread_Old740::post(std::stop_token stop, Call call) {
    // A window that asked the listener to stop has moved on; it hears nothing more from it.
    if (stop.stop_requested()) return;
    dispatcher_.post([notifier = notifier_, call = std::move(call)] { call(*notifier); });
}

bool Thread_Old740::pause(std::stop_token stop, std::chrono::milliseconds time) {
    // A plain condition variable: the stop-token waits of libstdc++ lose wake-ups on MinGW.
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, time, [&] { return stop.stop_requested(); });
    return !stop.stop_requested();
}

void Thread_Old740::run(std::stop_token stop) {
    platform::lowerCurrentThreadPriority(); // as the monitor thread does
    if (openPort(stop)) {
        while (!stop.stop_requested()) {
            cycle(stop);
            if (!frameSeen_ && misses_ >= timings_.missLimit) {
                post(stop, [f = LegacyFailure{LegacyFailureReason::NoFrames, misses_, {}}](
                               LegacyNotifier& n) { n.legacyFailure(f); });
                break;
            }
        }
    }
    port_->close();
    finished_ = true;
}

bool Thread_Old740::openPort(std::stop_token stop) {
    port_->close();
    const std::string device = platform::SerialPort::devicePath(portName_);
    if (port_->open(device) != platform::SerialOpenResult::Ok) {
        const std::string why = device + ": " + port_->openError();
        post(stop, [f = LegacyFailure{LegacyFailureReason::CannotOpenPort, 0, why}](LegacyNotifier& n) {
            n.legacyFailure(f);
        });
        return false;
    }
    if (!port_->getLineSettings() || !port_->setLine(timings_.baudRate)) {
        post(stop, [f = LegacyFailure{LegacyFailureReason::CannotSetLine, 0, device}](LegacyNotifier& n) {
            n.legacyFailure(f);
        });
        return false;
    }
    // A read ends with its bytes or at the total time-out; the gap between bytes does not end it.
    platform::SerialTimeouts t;
    t.readTotalMs = ms(timings_.readTotal);
    t.readIntervalMs = t.readTotalMs;
    t.writeTotalMs = ms(timings_.writeTotal);
    port_->setTimeouts(t);
    return pause(stop, timings_.openSettle);
}

void Thread_Old740::discardWaiting() {
    std::vector<uint8_t> junk;
    for (int round = 0; round < 4; ++round) {
        const long waiting = port_->waiting();
        if (waiting <= 0) return;
        junk.resize(static_cast<size_t>(waiting));
        if (port_->read(junk.data(), junk.size()) <= 0) return;
    }
}

void Thread_Old740::cycle(std::stop_token stop) {
    // 1. One frame, or what arrives of it within the read time.
    LegacyFrame frame{};
    const auto started = std::chrono::steady_clock::now();
    const long got = port_->read(frame.data(), frame.size());
    if (got < 0) {
        // The port failed (a USB adapter pulled out). The cycle counts as a miss and keeps its
        // length, so a dead port gives up as late as a silent one.
        ++misses_;
        const auto spent =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
        pause(stop, timings_.readTotal + timings_.afterFrameRead - spent);
        return;
    }
    if (!pause(stop, timings_.afterFrameRead)) return;

    // 2, 3, 4. Bytes beyond the frame mean it was out of step: drop them all.
    const long waiting = port_->waiting();
    if (waiting > 0) {
        discardWaiting();
        ++misses_;
    } else if (got == static_cast<long>(LegacyFrameSize)) {
        misses_ = 0;
        frameSeen_ = true;
        post(stop, [frame](LegacyNotifier& n) { n.legacyStatusUpdate(frame); });
    } else {
        ++misses_;
    }

    // 5. What the window asked for.
    sendClear(stop);
    fetchEvents(stop);
}

void Thread_Old740::sendClear(std::stop_token stop) {
    int clears = 0;
    {
        std::lock_guard lock(mutex_);
        clears = std::exchange(clearsRequested_, 0);
    }
    for (int i = 0; i < clears; ++i) {
        const uint8_t c = LegacyClearEvents;
        const LegacyCommandOutcome outcome =
            port_->write(&c, 1) ? LegacyCommandOutcome::Sent : LegacyCommandOutcome::WriteFailed;
        post(stop, [outcome](LegacyNotifier& n) { n.legacyClearDone(outcome); });
    }
}

void Thread_Old740::fetchEvents(std::stop_token stop) {
    {
        std::lock_guard lock(mutex_);
        if (!eventsRequested_) return;
    }
    const uint8_t d = LegacySendEvents;
    if (!port_->write(&d, 1)) return; // asked again on the next cycle
    LegacyEventBlock block{};
    const long got = port_->read(block.data(), block.size());
    if (!pause(stop, timings_.afterEventRead)) return;
    const long waiting = port_->waiting();
    const bool allZero = std::all_of(block.begin(), block.end(), [](uint8_t b) { return b == 0; });
    // A block followed by more bytes is out of step, unless the unit holds no records (a zero
    // block); either way the rest is thrown away.
    const bool good = got == static_cast<long>(LegacyEventBlockSize) && (waiting <= 0 || allZero);
    if (waiting > 0) port_->purge();
    if (!good) return;
    {
        std::lock_guard lock(mutex_);
        eventsRequested_ = false;
    }
    post(stop, [block](LegacyNotifier& n) { n.legacyEventUpdate(block); });
}

} // namespace kt
