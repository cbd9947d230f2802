#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace kt::sim {

// A malformed command line; main prints it and exits 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// What the unit reports about itself in registers 0..5.
struct Identity {
    uint16_t modelCode = 740;
    uint16_t firmware = 250; // raw register 1: bit 15 marks a prototype
    uint16_t modelType = 0;
    uint16_t commOption = 0;
    uint32_t serial = 1; // registers 2..3, low word first
};

// --set START=V1,V2,...: consecutive registers preset at start-up.
struct Preset {
    uint16_t start = 0;
    std::vector<uint16_t> values;
};

// The misbehaviour the tests ask for. Zero means "off" for every counter.
struct FaultOptions {
    bool silent = false;
    std::optional<uint16_t> maxRead;
    uint32_t exceptionEvery = 0;
    uint32_t badCrcEvery = 0; // RTU answers only
    uint32_t delayMs = 0;
    uint32_t dropAfter = 0;              // TCP connections only
    std::optional<uint16_t> refuseWrite; // writes that cover this register get exception 3
};

// How the unit lives: its register file, its event records, its trips and its SD card.
struct UnitOptions {
    std::string resourcesFolder{}; // empty: the resources folder beside the simulator
    uint16_t eventCount = 0;       // records preset in the event ring
    uint16_t newestEvent = 0;      // index of the newest preset record
    uint32_t tripEverySeconds = 0;
    bool unverified = false;    // register 199 starts at 0
    std::string sdCardFolder{}; // empty: diagnostics files are not written anywhere
};

// --frame-set BYTE=V1,V2,...: consecutive bytes of every legacy frame, held as given.
struct FramePreset {
    uint8_t start = 0;
    std::vector<uint8_t> values;
};

// An older unit that pushes 24-byte status frames at 38400 baud (--legacy).
struct LegacyOptions {
    uint8_t version = 10;                     // bits 0-4 of the identification byte
    bool sibling = false;                     // a QM-5740 (bit 5)
    std::array<uint8_t, 3> switches{3, 4, 2}; // GF trip time, GF trip level, pulse period positions
    uint32_t frameMs = 100;                   // a frame every this many milliseconds
    std::vector<FramePreset> presets;         // applied last, in order
    // Faults (every K-th frame counts from 1; zero is off).
    uint32_t noiseEvery = 0;   // a noise byte just before the frame
    uint32_t partialEvery = 0; // only the first half of the frame
    uint32_t silenceAfter = 0; // no frames after the N-th (requests are still answered)
};

// A TCP connection that sends nothing for this long is closed (--idle-ms).
inline constexpr uint32_t DefaultTcpIdleMs = 60000;

struct TcpAddress {
    std::string host; // without brackets for IPv6
    uint16_t port = 0;
};

struct Options {
    bool help = false;
    std::optional<TcpAddress> tcp;
    uint32_t tcpIdleMs = DefaultTcpIdleMs; // 0: idle connections stay open
    bool rtu = false;
    bool legacy = false; // a legacy unit on its own pseudo-terminal
    LegacyOptions legacyUnit;
    Identity identity;
    std::vector<Preset> presets; // applied after the identification, in order
    std::string logPath;         // empty: no request log
    uint32_t paceBaud = 0;       // 0: answers leave at once
    FaultOptions faults;
    UnitOptions unit;
    bool exitWithParent = false; // stop when the process that started us ends (test harnesses)
};

// Throws UsageError with one clear sentence.
Options parseOptions(std::span<const std::string> args);

// Options that are valid but have no effect with the endpoints chosen.
std::vector<std::string> optionWarnings(const Options& options);
// Options of the unit that have no effect on a unit without a register file.
std::vector<std::string> unitOptionWarnings(const Options& options);

// "HOST:PORT" as printed in the ready line, with brackets around an IPv6 host.
std::string formatHostPort(const std::string& host, uint16_t port);

const char* usageText();

} // namespace kt::sim
