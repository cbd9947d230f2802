#pragma once

// The listener for older units that push 24-byte status frames at 38400 baud instead of answering
// Modbus. It owns its serial port and runs on its own thread: it hands every clean frame to the
// window, fetches the event block ("d") and clears the unit's records ("c") when asked, and gives
// up when no frame arrives at all. The window never touches the port; it asks, and hears back
// through its notifier on the GUI thread.

#include "monitor/legacy_frame.h"
#include "monitor/monitor_thread.h" // GuiDispatcher

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>

namespace kt {

namespace platform {
class SerialPort;
}

// The listener's timing; the tests shorten it.
struct LegacyTimings {
    int baudRate = LegacyBaudRate;
    std::chrono::milliseconds openSettle{500};    // after opening, before the first read
    std::chrono::milliseconds readTotal{200};     // a frame read gives up after this
    std::chrono::milliseconds afterFrameRead{10}; // then looks for bytes beyond the frame
    std::chrono::milliseconds afterEventRead{20}; // the same after the event block
    std::chrono::milliseconds writeTotal{100};    // a one-byte request
    int missLimit = 10; // cycles without a frame, before any frame, that end the listener
};

// What the window says when the listener gives up.
inline constexpr std::string_view LegacyFailureText = "Error connecting to the KT-740";
inline constexpr std::string_view LegacyFailureTitle = "Cannot Connect";

enum class LegacyFailureReason : uint8_t {
    NoFrames,       // missLimit cycles without a frame
    CannotOpenPort, // the port could not be opened
    CannotSetLine,  // the port would not take 38400 8-N-1
};

struct LegacyFailure {
    LegacyFailureReason reason = LegacyFailureReason::NoFrames;
    int misses = 0;
    std::string detail; // the system's words for a port failure
};
// "no status frame in 10 tries", "cannot open /dev/ttyUSB0: ...", for logs and the CLI.
std::string describe(const LegacyFailure& failure);

// The result of a clear request.
enum class LegacyCommandOutcome : uint8_t {
    Sent,        // "c" went out
    WriteFailed, // the port did not take the byte
};

// What the listener tells the window. Every call arrives on the dispatcher's thread, carrying its
// values; the listener does not wait for it.
struct LegacyNotifier {
    virtual ~LegacyNotifier() = default;
    // A clean status frame (UpdateLegacyStatus).
    virtual void legacyStatusUpdate(const LegacyFrame& frame) = 0;
    // The event block, after requestEvents (the legacy event grid).
    virtual void legacyEventUpdate(const LegacyEventBlock& block) = 0;
    // The listener gave up and has ended: the window disconnects and says LegacyFailureText.
    virtual void legacyFailure(const LegacyFailure& failure) = 0;
    // After requestClear.
    virtual void legacyClearDone(LegacyCommandOutcome outcome) = 0;
};

class Thread_Old740 {
public:
    // Starts at once on `portName` (as the window names it: /dev/ttyUSB0, COM3). The notifier is
    // shared with the calls posted to the dispatcher, so it lives as long as any of them; the
    // dispatcher must outlive the listener.
    Thread_Old740(std::string portName, std::shared_ptr<LegacyNotifier> notifier, GuiDispatcher& dispatcher,
                  LegacyTimings timings = {});
    // Asks the listener to stop and waits for it (at most one read time-out).
    ~Thread_Old740();
    Thread_Old740(const Thread_Old740&) = delete;
    Thread_Old740& operator=(const Thread_Old740&) = delete;

    // Fetch the event block: "d" on every cycle until a good 50-byte block arrives, which comes
    // back through legacyEventUpdate. False when the listener has ended or is stopping.
    bool requestEvents();
    // Clear the unit's records: "c" once, on the next cycle; the outcome comes back through
    // legacyClearDone. False when the listener has ended or is stopping.
    bool requestClear();
    // Asks the listener to stop and returns at once; it ends after its current read. Nothing is
    // posted after the request.
    void requestStop();
    bool stopRequested() const;
    // The run has ended and the port is closed.
    bool finished() const;
    void join();

    bool frameSeen() const { return frameSeen_; }

private:
    void run(std::stop_token stop);
    bool openPort(std::stop_token stop);
    void cycle(std::stop_token stop);
    void sendClear(std::stop_token stop);
    void fetchEvents(std::stop_token stop);
    void discardWaiting();
    bool pause(std::stop_token stop, std::chrono::milliseconds time);
    template <class Call> void post(std::stop_token stop, Call call);

    const std::string portName_;
    const std::shared_ptr<LegacyNotifier> notifier_;
    GuiDispatcher& dispatcher_;
    const LegacyTimings timings_;
    std::unique_ptr<platform::SerialPort> port_; // the listener thread's only

    std::mutex mutex_;
    std::condition_variable wake_;
    bool eventsRequested_ = false; // under mutex_
    int clearsRequested_ = 0;      // under mutex_

    int misses_ = 0; // listener thread only
    std::atomic<bool> frameSeen_{false};
    std::atomic<bool> finished_{false};
    std::jthread thread_; // last: started once everything above exists
};

} // namespace kt
