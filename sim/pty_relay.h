#pragma once

#include "sim/fault_plan.h"
#include "sim/stop_fd.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <thread>
#include <vector>

namespace kt::sim {

// Where the first frame in the bytes read so far ends.
struct FrameSplit {
    enum Kind { NeedMore, Frame, Unknown } kind;
    size_t length = 0; // Frame: the frame's length
};
// Answers: only libmodbus writes them, so the function code tells the length: exception answers
// 5 bytes, reads 5 + byte count, writes and coil echoes 8.
FrameSplit splitAnswer(std::span<const uint8_t> bytes);

// The same for the requests the program sends, from the function code as the Modbus
// standard frames them; Unknown for functions it does not know the length of.
FrameSplit splitRequest(std::span<const uint8_t> bytes);

// Makes the frame's CRC wrong, the rest untouched.
void spoilCrc(std::span<uint8_t> frame);

// The time a serial line at `baud` (10 bits a byte: start, 8 data, stop) needs for one byte.
std::chrono::nanoseconds byteTime(uint32_t baud);

// Carries bytes between the two pseudo-terminal pairs of the RTU endpoint: requests from the
// program's side (`lineSide`) to libmodbus (`unitSide`) unchanged, except that frames for other
// unit ids are dropped here, and answers back frame by frame, with the CRC spoiled where the fault
// plan says so and paced like a serial line when asked.
// `holdFd` is a descriptor on the program's slave side that the relay keeps open.
// The legacy 24-byte frames at 38400 baud will leave through the same line side and pacing.
class PtyRelay {
public:
    PtyRelay(int unitSide, int lineSide, int holdFd, uint8_t unitId, FaultPlan& faults, uint32_t paceBaud);
    ~PtyRelay();

    void start();
    void stop();

private:
    // Bytes read but not yet passed on, and since when the oldest of them waits.
    struct Pending {
        std::vector<uint8_t> bytes;
        std::chrono::steady_clock::time_point since;

        void append(const uint8_t* data, size_t n);
        void consume(size_t n);
        bool stale() const;
    };

    void run(std::stop_token token);
    void forwardRequests(const StopFd& stop);
    void forwardAnswers(const StopFd& stop);
    // Writes all of `bytes` to `fd`; gives up when nobody reads for a second.
    bool writeAll(const StopFd& stop, int fd, std::span<const uint8_t> bytes);
    void sendPaced(const StopFd& stop, std::span<const uint8_t> frame);

    const int unitSide_;
    const int lineSide_;
    const int holdFd_;
    const uint8_t unitId_;
    FaultPlan& faults_;
    const uint32_t paceBaud_;
    Pending requests_; // relay thread only
    Pending answers_;
    std::jthread thread_;
};

} // namespace kt::sim
