#include "sim/options.h"

#include <algorithm>
#include <charconv>
#include <string_view>

namespace kt::sim {

namespace {

constexpr size_t RegisterCount = 1000;
constexpr long long LegacyFrameBytes = 24;

long long parseNumber(std::string_view text, long long min, long long max, std::string_view what) {
    std::string_view digits = text;
    bool negative = false;
    if (digits.starts_with('-')) {
        negative = true;
        digits.remove_prefix(1);
    }
    int base = 10;
    if (digits.starts_with("0x") || digits.starts_with("0X")) {
        base = 16;
        digits.remove_prefix(2);
    }
    unsigned long long magnitude = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
    bool ok = !digits.empty() && ec == std::errc() && end == digits.data() + digits.size() &&
              magnitude <= (1ULL << 62);
    long long value = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
    if (!ok || value < min || value > max)
        throw UsageError(std::string(what) + " must be a number from " + std::to_string(min) + " to " +
                         std::to_string(max) + ", not \"" + std::string(text) + "\"");
    return value;
}

TcpAddress parseTcpAddress(std::string_view text) {
    const std::string usage =
        "--tcp needs HOST:PORT (for example 127.0.0.1:0), not \"" + std::string(text) + "\"";
    std::string_view host;
    std::string_view port;
    if (text.starts_with('[')) {
        auto close = text.find("]:");
        if (close == std::string_view::npos) throw UsageError(usage);
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else {
        auto colon = text.rfind(':');
        if (colon == std::string_view::npos) throw UsageError(usage);
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (host.find(':') != std::string_view::npos) throw UsageError(usage); // IPv6 needs brackets
    }
    if (host.empty() || port.empty()) throw UsageError(usage);
    return {std::string(host), static_cast<uint16_t>(parseNumber(port, 0, 65535, "the --tcp port"))};
}

Preset parsePreset(std::string_view text) {
    auto equals = text.find('=');
    if (equals == std::string_view::npos || equals + 1 >= text.size())
        throw UsageError("--set needs START=V1,V2,... (for example 150=1,2), not \"" + std::string(text) +
                         "\"");
    Preset preset;
    preset.start = static_cast<uint16_t>(
        parseNumber(text.substr(0, equals), 0, RegisterCount - 1, "the --set register"));
    std::string_view list = text.substr(equals + 1);
    while (true) {
        auto comma = list.find(',');
        // Negative values are stored as their 16-bit two's complement, as a signed register holds them.
        long long v = parseNumber(list.substr(0, comma), -32768, 65535, "a --set value");
        preset.values.push_back(static_cast<uint16_t>(v & 0xFFFF));
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
    }
    if (preset.start + preset.values.size() > RegisterCount)
        throw UsageError("--set " + std::string(text) + " runs past register " +
                         std::to_string(RegisterCount - 1));
    return preset;
}

FramePreset parseFramePreset(std::string_view text) {
    auto equals = text.find('=');
    if (equals == std::string_view::npos || equals + 1 >= text.size())
        throw UsageError("--frame-set needs BYTE=V1,V2,... (for example 19=4), not \"" + std::string(text) +
                         "\"");
    FramePreset preset;
    preset.start = static_cast<uint8_t>(
        parseNumber(text.substr(0, equals), 0, LegacyFrameBytes - 1, "the --frame-set byte"));
    std::string_view list = text.substr(equals + 1);
    while (true) {
        auto comma = list.find(',');
        preset.values.push_back(
            static_cast<uint8_t>(parseNumber(list.substr(0, comma), 0, 255, "a --frame-set value")));
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
    }
    if (preset.start + preset.values.size() > LegacyFrameBytes)
        throw UsageError("--frame-set " + std::string(text) + " runs past byte " +
                         std::to_string(LegacyFrameBytes - 1));
    return preset;
}

std::array<uint8_t, 3> parseSwitches(std::string_view text) {
    std::array<uint8_t, 3> positions{};
    std::string_view list = text;
    for (size_t i = 0; i < positions.size(); ++i) {
        auto comma = list.find(',');
        if ((comma == std::string_view::npos) != (i + 1 == positions.size()))
            throw UsageError("--switches needs three positions TIME,LEVEL,PULSE (for example 3,4,2), not \"" +
                             std::string(text) + "\"");
        positions[i] =
            static_cast<uint8_t>(parseNumber(list.substr(0, comma), 0, 255, "a --switches position"));
        if (comma != std::string_view::npos) list.remove_prefix(comma + 1);
    }
    return positions;
}

constexpr std::string_view ValuedOptions[] = {
    "--tcp",          "--model-code", "--firmware",   "--model-type", "--comm-option",     "--serial",
    "--set",          "--log",        "--pace",       "--max-read",   "--exception-every", "--bad-crc-every",
    "--refuse-write", "--delay-ms",   "--drop-after", "--resources",  "--events",          "--newest",
    "--trip-every",   "--sd-card",    "--idle-ms",
};
// The legacy unit's options that take a value.
constexpr std::string_view LegacyValuedOptions[] = {"--legacy-version", "--switches",    "--frame-ms",
                                                    "--frame-set",      "--noise-every", "--partial-every",
                                                    "--silence-after"};
constexpr std::string_view FlagOptions[] = {
    "--rtu", "--silent", "--help", "--unverified", "--exit-with-parent", "--legacy", "--sibling"};
// Options that may be given more than once.
constexpr std::string_view RepeatableOptions[] = {"--set", "--frame-set"};
// Options of the legacy unit only.
constexpr std::string_view LegacyOnlyOptions[] = {"--legacy-version", "--sibling",      "--switches",
                                                  "--frame-ms",       "--frame-set",    "--noise-every",
                                                  "--partial-every",  "--silence-after"};

constexpr long long EventCapacity = 100; // the unit's event ring (EventRing::Capacity)

bool isOneOf(std::string_view name, std::span<const std::string_view> list) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

} // namespace

Options parseOptions(std::span<const std::string> args) {
    Options o;
    std::vector<std::string> seen;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string_view word = args[i];
        if (!word.starts_with("--")) throw UsageError("unexpected argument \"" + std::string(word) + "\"");
        std::string name(word);
        std::optional<std::string> value;
        if (auto eq = word.find('='); eq != std::string_view::npos) {
            name = std::string(word.substr(0, eq));
            value = std::string(word.substr(eq + 1));
        }
        if (isOneOf(name, FlagOptions)) {
            if (value) throw UsageError("option " + name + " takes no value");
        } else if (isOneOf(name, ValuedOptions) || isOneOf(name, LegacyValuedOptions)) {
            if (!value) {
                if (i + 1 >= args.size()) throw UsageError("option " + name + " needs a value");
                value = args[++i];
            }
        } else {
            throw UsageError("unknown option " + name);
        }
        if (!isOneOf(name, RepeatableOptions)) {
            if (std::find(seen.begin(), seen.end(), name) != seen.end())
                throw UsageError("option " + name + " is given more than once");
            seen.push_back(name);
        }

        auto u16 = [&](std::string_view what) {
            return static_cast<uint16_t>(parseNumber(*value, 0, 65535, what));
        };
        auto count = [&](long long min, long long max) {
            return static_cast<uint32_t>(parseNumber(*value, min, max, name));
        };
        if (name == "--help")
            o.help = true;
        else if (name == "--rtu")
            o.rtu = true;
        else if (name == "--legacy")
            o.legacy = true;
        else if (name == "--sibling")
            o.legacyUnit.sibling = true;
        else if (name == "--legacy-version")
            o.legacyUnit.version = static_cast<uint8_t>(count(0, 31));
        else if (name == "--switches")
            o.legacyUnit.switches = parseSwitches(*value);
        else if (name == "--frame-ms")
            o.legacyUnit.frameMs = count(10, 10000);
        else if (name == "--frame-set")
            o.legacyUnit.presets.push_back(parseFramePreset(*value));
        else if (name == "--noise-every")
            o.legacyUnit.noiseEvery = count(1, 1000000);
        else if (name == "--partial-every")
            o.legacyUnit.partialEvery = count(1, 1000000);
        else if (name == "--silence-after")
            o.legacyUnit.silenceAfter = count(1, 1000000);
        else if (name == "--exit-with-parent")
            o.exitWithParent = true;
        else if (name == "--silent")
            o.faults.silent = true;
        else if (name == "--tcp")
            o.tcp = parseTcpAddress(*value);
        else if (name == "--idle-ms")
            o.tcpIdleMs = count(0, 86400000);
        else if (name == "--model-code")
            o.identity.modelCode = u16(name);
        else if (name == "--firmware")
            o.identity.firmware = u16(name);
        else if (name == "--model-type")
            o.identity.modelType = u16(name);
        else if (name == "--comm-option")
            o.identity.commOption = u16(name);
        else if (name == "--serial")
            o.identity.serial = count(0, 0xFFFFFFFFLL);
        else if (name == "--set")
            o.presets.push_back(parsePreset(*value));
        else if (name == "--log") {
            if (value->empty()) throw UsageError("option --log needs a file name");
            o.logPath = *value;
        } else if (name == "--pace")
            o.paceBaud = count(50, 4000000);
        else if (name == "--max-read")
            o.faults.maxRead = static_cast<uint16_t>(count(0, 125));
        else if (name == "--exception-every")
            o.faults.exceptionEvery = count(1, 1000000);
        else if (name == "--refuse-write")
            o.faults.refuseWrite = u16(name);
        else if (name == "--bad-crc-every")
            o.faults.badCrcEvery = count(1, 1000000);
        else if (name == "--delay-ms")
            o.faults.delayMs = count(0, 600000);
        else if (name == "--drop-after")
            o.faults.dropAfter = count(1, 1000000);
        else if (name == "--resources") {
            if (value->empty()) throw UsageError("option --resources needs a folder");
            o.unit.resourcesFolder = *value;
        } else if (name == "--events")
            o.unit.eventCount = static_cast<uint16_t>(count(0, EventCapacity));
        else if (name == "--newest")
            o.unit.newestEvent = static_cast<uint16_t>(count(0, EventCapacity - 1));
        else if (name == "--trip-every")
            o.unit.tripEverySeconds = count(1, 86400);
        else if (name == "--unverified")
            o.unit.unverified = true;
        else if (name == "--sd-card") {
            if (value->empty()) throw UsageError("option --sd-card needs a folder");
            o.unit.sdCardFolder = *value;
        }
    }
    if (std::find(seen.begin(), seen.end(), "--newest") != seen.end()) {
        if (o.unit.eventCount == 0) throw UsageError("--newest needs --events with at least one record");
        if (o.unit.newestEvent >= o.unit.eventCount)
            throw UsageError("--newest must name one of the records of --events (0.." +
                             std::to_string(o.unit.eventCount - 1) + "), not " +
                             std::to_string(o.unit.newestEvent));
    } else if (o.unit.eventCount > 0) {
        o.unit.newestEvent = static_cast<uint16_t>(o.unit.eventCount - 1); // filled from record 0 on
    }
    if (!o.help && !o.tcp && !o.rtu && !o.legacy)
        throw UsageError("nothing to serve: give --tcp HOST:PORT, --rtu, --legacy or several");
    if (!o.legacy)
        for (std::string_view name : LegacyOnlyOptions)
            if (std::find(seen.begin(), seen.end(), name) != seen.end() ||
                (name == "--frame-set" && !o.legacyUnit.presets.empty()))
                throw UsageError("option " + std::string(name) +
                                 " describes the legacy unit: give --legacy too");
    return o;
}

std::vector<std::string> optionWarnings(const Options& o) {
    std::vector<std::string> warnings;
    if (!o.rtu) {
        if (o.faults.badCrcEvery)
            warnings.push_back("--bad-crc-every applies to the RTU endpoint only (--rtu)");
        if (o.paceBaud) warnings.push_back("--pace applies to the RTU endpoint only (--rtu)");
    }
    if (!o.tcp && o.faults.dropAfter)
        warnings.push_back("--drop-after applies to the TCP endpoint only (--tcp)");
    if (!o.tcp && o.tcpIdleMs != DefaultTcpIdleMs)
        warnings.push_back("--idle-ms applies to the TCP endpoint only (--tcp)");
    if (o.legacy && !o.tcp && !o.rtu) {
        if (o.faults.maxRead) warnings.push_back("--max-read applies to the Modbus endpoints only");
        if (o.faults.exceptionEvery)
            warnings.push_back("--exception-every applies to the Modbus endpoints only");
        if (o.faults.delayMs) warnings.push_back("--delay-ms applies to the Modbus endpoints only");
    }
    return warnings;
}

std::vector<std::string> unitOptionWarnings(const Options& o) {
    std::vector<std::string> warnings;
    auto add = [&](bool given, const char* name) {
        if (given) warnings.push_back(std::string(name) + " has no effect without a register file");
    };
    add(o.unit.eventCount > 0, "--events");
    add(o.unit.tripEverySeconds > 0, "--trip-every");
    add(o.unit.unverified, "--unverified");
    add(!o.unit.sdCardFolder.empty(), "--sd-card");
    return warnings;
}

std::string formatHostPort(const std::string& host, uint16_t port) {
    if (host.find(':') != std::string::npos) return "[" + host + "]:" + std::to_string(port);
    return host + ":" + std::to_string(port);
}

const char* usageText() {
    return R"(Usage: kt740sim [--tcp HOST:PORT] [--rtu] [options]
A simulated KT-740 relay for the desk and for tests. Runs until SIGINT or SIGTERM.

Endpoints (at least one):
  --tcp HOST:PORT        Modbus TCP (functions 3, 16; value n into register 6 runs
                         command n); port 0 picks a free port
  --idle-ms MS           close a TCP connection that has sent nothing for MS ms
                         (default 60000; 0: never); with all 32 places taken the
                         connection idle longest makes room for a new one
  --rtu                  Modbus RTU at unit id 254 on a pseudo-terminal (functions 3,
                         16, 5; coil n ON runs command n)
  --legacy               an older unit on a pseudo-terminal at 38400 baud: pushes
                         24-byte status frames, answers "d" with its 50-byte event
                         block and clears its records on "c"
  Each prints "listening tcp HOST:PORT", "listening rtu DEVICE" or
  "listening legacy DEVICE" when ready.

Identification (registers 0..5):
  --model-code N         register 0 (default 740)
  --firmware N           register 1, raw; 0x8000 marks a prototype (default 250)
  --serial N             registers 2..3, low word first (default 1)
  --model-type N         register 4 (default 0)
  --comm-option N        register 5 (default 0)
  --set START=V1,V2,...  preset registers from START (repeatable, applied last;
                         the unit does not move them)

The unit (its register map comes from the register file the program would load for it):
  --resources DIR        folder of the register files (default: resources beside
                         kt740sim)
  --events COUNT         preset COUNT event records (0..100; record k has NGR
                         current 10+k)
  --newest INDEX         index of the newest preset record (default COUNT-1)
  --trip-every SECONDS   a ground-fault trip every SECONDS (SIGUSR1: one trip now)
  --unverified           register 199 (essential settings verified) starts at 0
  --sd-card DIR          command 18 writes its diagnostics file into DIR

The legacy unit (--legacy; model from --model-type, records from --events):
  --legacy-version N     firmware version in the identification byte, 0..31
                         (default 10)
  --sibling              a QM-5740 (bit 5 of the identification byte)
  --switches T,L,P       GF trip time, GF trip level and pulse period switch
                         positions (default 3,4,2; above 10 reads as "Error")
  --frame-ms MS          a frame every MS milliseconds (default 100)
  --frame-set BYTE=V1,V2,...  hold frame bytes from BYTE (repeatable)
  --noise-every K        a noise byte before every K-th frame
  --partial-every K      every K-th frame cut short after 12 bytes
  --silence-after N      no frames after the N-th

Recording and timing:
  --log FILE             one line per request received (the file is truncated)
  --pace BAUD            RTU answers take the time a serial line at BAUD needs
  --exit-with-parent     stop (as on SIGTERM) when the process that started kt740sim
                         ends, so a crashed test leaves no simulator behind

Faults:
  --silent               never answer
  --max-read N           reads of more than N registers get exception 3
  --exception-every K    every K-th request gets exception 4
  --refuse-write R       writes that include register R get exception 3
  --bad-crc-every K      every K-th RTU answer carries a corrupted CRC
  --delay-ms D           answer D ms late
  --drop-after K         close each TCP connection after its K-th request
)";
}

} // namespace kt::sim
