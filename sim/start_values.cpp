#include "sim/start_values.h"

#include <algorithm>
#include <map>
#include <string>

namespace kt::sim {

namespace {

struct Number {
    std::string_view label;
    int64_t value;
};

// What a unit straight from the factory holds, where the register's rules leave a choice.
// Values a rule does not allow are replaced by what it allows (allowedNumber).
constexpr Number FactoryNumbers[] = {
    {"DB_HEALTHY", 1},
    {"DB_GFTIME", 3},
    {"DB_GFSETTING_DETENT", 4},
    {"DB_PULSETIME", 5},
    {"DB_NGRCURRENT", 3},
    {"DB_NGRVOLTAGE", 5},
    {"DB_CALVALUE", 1024},
    {"DB_TEMPERATURE", 35},
    {"DB_HARDWARE_REV", 0x0102},
    {"DB_OPERATING_TIME", 8640000},
    {"DB_SAMPLE_COUNT", 1728000000},
    {"DB_SD_FREE", 1900000},
    {"DB_ESSENTIAL_VERIFIED", 0}, // a reset unit must be commissioned again
    {"DB_GFSETTING_MEMORY", 10},
    {"DB_CT_NOMINAL", 5},
    {"DB_CT_DETECTION", 1},
    {"DB_CT_TRIP_TIME", 100},
    {"DB_RF_LEVEL", 20},
    {"DB_RF_TIME", 10},
    {"DB_SHORT_LEVEL", 50},
    {"DB_OPEN_LEVEL", 200},
    {"DB_SENSOR", 0},
    {"DB_VNLEVEL", 5},
    {"DB_VN_ENABLE", 1},
    {"DB_VN_TIME", 10},
    {"DB_K1_FAILSAFE", 1},
    {"DB_PULSING", 1},
    {"DB_MODBUS_ADDRESS", 1},
    {"DB_MODBUS_BAUD", 4}, // 115200, the rate the program uses
    {"DB_SNTP_INTERVAL", 64},
    {"DB_UTC_OFFSET", 600}, // +10:00
    {"DB_DN_MACID", 63},
};

struct Text {
    std::string_view label;
    std::string_view text;
};
constexpr Text FactoryTexts[] = {
    {"DB_RELAY_TAG", "NGR MONITOR 1"},
    {"DB_SITE_CODE", "S1"},
    {"DB_SITE_DESCRIPTION", "Simulated KT-740 on the test bench"},
};

struct Address {
    std::string_view label;
    std::array<uint8_t, 4> octets;
};
constexpr Address FactoryAddresses[] = {
    {"DB_IP1", {192, 168, 1, 100}},       {"DB_MASK1", {255, 255, 255, 0}}, {"DB_GATEWAY1", {192, 168, 1, 1}},
    {"DB_IP2", {192, 168, 2, 100}},       {"DB_MASK2", {255, 255, 255, 0}}, {"DB_GATEWAY2", {192, 168, 2, 1}},
    {"DB_SNTP_SERVER", {192, 168, 1, 1}},
};
constexpr std::array<uint8_t, 4> OtherAddress = {192, 168, 1, 200};

// The program's own value lists of two settings that the files leave without one.
struct BuiltInList {
    int reg;
    int64_t first, last;
};
constexpr BuiltInList BuiltInLists[] = {{16, 2, 100}, {120, 0, 63}};

template <class Table> auto lookup(const Table& table, std::string_view label) -> decltype(&table[0]) {
    for (const auto& entry : table)
        if (entry.label == label) return &entry;
    return nullptr;
}

bool isText(int type) {
    return type == ValueType::Text64 || type == ValueType::Text32 || type == ValueType::Text8 ||
           type == ValueType::Text2;
}

// Locally administered unicast addresses (first byte 0x02) made from the serial number, one
// after the other for the unit's ports.
std::array<uint8_t, 6> macAddress(uint32_t serial, int port) {
    const uint64_t value = (uint64_t{0x024B54} << 24) + ((uint64_t{serial} * 2 + uint64_t(port)) & 0xFFFFFF);
    std::array<uint8_t, 6> bytes{};
    for (int i = 0; i < 6; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * (5 - i)));
    return bytes;
}

std::string textFor(const DescribedRegister& d, const RegisterProfile& profile) {
    if (d.label == "DB_FIRMWARE_BUILD") {
        const std::string v = std::to_string(profile.version);
        return "SIM " + v.substr(0, v.size() - 2) + "." + v.substr(v.size() - 2);
    }
    if (auto t = lookup(FactoryTexts, d.label)) return std::string(t->text);
    return "SIM";
}

} // namespace

std::vector<uint16_t> encodeNumber(int type, int64_t value) {
    const auto u = static_cast<uint64_t>(value);
    auto word = [&](int i) { return static_cast<uint16_t>(u >> (16 * i)); };
    switch (type) {
    case ValueType::Unsigned16:
    case ValueType::Signed16:
    case ValueType::Hex16:
    case ValueType::UtcOffset:
        return {word(0)};
    case ValueType::Signed32Padded:
    case ValueType::Signed32:
    case ValueType::Thousandths:
    case ValueType::Unsigned32Padded:
    case ValueType::Hex32:
        return {word(0), word(1)};
    case ValueType::Unsigned48:
        return {word(0), word(1), word(2)};
    default:
        break;
    }
    if (isText(type)) return encodeText(std::to_string(value), valueTypeRegisterCount(type));
    return std::vector<uint16_t>(static_cast<size_t>(std::max(valueTypeRegisterCount(type), 0)), 0);
}

std::optional<std::pair<int64_t, int64_t>> limitsOf(const DescribedRegister& d,
                                                    std::optional<int64_t> sourceValue) {
    if (d.min && d.max) return std::pair{*d.min, *d.max};
    if (d.rangeSource >= 0 && sourceValue) {
        // The last matching row wins, as in the configuration grid.
        std::optional<std::pair<int64_t, int64_t>> found;
        for (const RangeEntry& e : d.ranges)
            if (e.sourceValue == *sourceValue) found = std::pair{e.min, e.max};
        if (found) return found;
    }
    if (d.access == 1 && !d.hasList())
        for (const BuiltInList& b : BuiltInLists)
            if (b.reg == d.reg) return std::pair{b.first, b.last};
    return std::nullopt;
}

int64_t allowedNumber(const DescribedRegister& d, std::optional<int64_t> wanted,
                      std::optional<int64_t> sourceValue) {
    if (d.hasList()) {
        if (wanted && std::binary_search(d.listIndexes.begin(), d.listIndexes.end(), *wanted)) return *wanted;
        return d.listIndexes.front();
    }
    if (auto limits = limitsOf(d, sourceValue)) {
        auto [lo, hi] = *limits;
        if (lo > hi) std::swap(lo, hi);
        return wanted ? std::clamp(*wanted, lo, hi) : lo + (hi - lo) / 2;
    }
    return wanted.value_or(0);
}

std::vector<RegisterWords> startValues(const RegisterProfile& profile, const Identity& identity,
                                       const ClockFields& clock) {
    std::vector<int> kept = {60, 61};
    for (const EventSlot& slot : profile.eventLayout) kept.push_back(slot.reg);
    const ClockWords clockWords = encodeClock(clock);
    const auto macs = profile.ofType(ValueType::MacAddress);

    // Numbers first without RANGE rules, so that a rule finds its source's value.
    std::map<int, int64_t> numbers;
    auto numberOf = [&](const DescribedRegister& d) {
        std::optional<int64_t> wanted;
        if (auto n = lookup(FactoryNumbers, d.label)) wanted = n->value;
        std::optional<int64_t> source;
        if (d.rangeSource >= 0)
            if (auto it = numbers.find(d.rangeSource); it != numbers.end()) source = it->second;
        return allowedNumber(d, wanted, source);
    };
    for (int pass = 0; pass < 2; ++pass)
        for (const DescribedRegister& d : profile.registers)
            if ((d.rangeSource >= 0) == (pass == 1)) numbers[d.reg] = numberOf(d);

    std::vector<RegisterWords> out;
    for (const DescribedRegister& d : profile.registers) {
        if (d.reg <= 5 || std::find(kept.begin(), kept.end(), d.reg) != kept.end()) continue;
        RegisterWords w{d.reg, {}, d.isSetting()};
        switch (d.type) {
        case ValueType::Date:
            w.words.assign(clockWords.date.begin(), clockWords.date.end());
            break;
        case ValueType::Time:
            w.words.assign(clockWords.time.begin(), clockWords.time.end());
            break;
        case ValueType::IpAddress: {
            auto a = lookup(FactoryAddresses, d.label);
            auto words = encodeIpAddress(a ? a->octets : OtherAddress);
            w.words.assign(words.begin(), words.end());
            break;
        }
        case ValueType::MacAddress: {
            const int port = static_cast<int>(std::find(macs.begin(), macs.end(), &d) - macs.begin());
            auto words = encodeMacAddress(macAddress(identity.serial, port));
            w.words.assign(words.begin(), words.end());
            break;
        }
        default:
            if (isText(d.type))
                w.words = encodeText(textFor(d, profile), d.wordCount());
            else if (d.label == "DB_BOARD_ID")
                w.words = encodeNumber(d.type, 0x07400000 + (identity.serial & 0xFFFF));
            else
                w.words = encodeNumber(d.type, numbers[d.reg]);
            break;
        }
        out.push_back(std::move(w));
    }
    return out;
}

} // namespace kt::sim
