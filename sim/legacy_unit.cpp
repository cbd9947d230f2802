#include "sim/legacy_unit.h"

#include <algorithm>

namespace kt::sim {

namespace {

// Normal and fault bands of the measurements (% of full scale, % of setting), as the Modbus unit.
constexpr int CurrentLow = 1, CurrentHigh = 7, VoltageLow = 2, VoltageHigh = 12;
constexpr int FaultCurrentLow = 70, FaultCurrentHigh = 80, FaultVoltageLow = 80, FaultVoltageHigh = 95;

constexpr uint8_t GroundFaultBit = 0x01;
constexpr int16_t CalibrationValue = 512;
constexpr uint8_t PortHHealthy = 0x20 | 0x08; // K4 unit healthy, K1 energised
constexpr uint8_t RelayStatus = 0x01;

uint8_t byteOf(int v) {
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

} // namespace

void LegacyUnit::Walk::step(std::mt19937& rng) {
    const bool up = value <= low || (value < high && (rng() & 1));
    value += up ? 1 : -1;
}

LegacyUnit::LegacyUnit(const LegacyOptions& options, const Identity& identity, const UnitOptions& unit,
                       uint32_t seed)
    : options_(options), identity_(identity), rng_(seed) {
    ring_.preset(unit.eventCount, unit.newestEvent);
}

uint8_t LegacyUnit::identification() const {
    LegacyIdentity id;
    id.model = modelFromModelType(identity_.modelType);
    id.siblingModel = options_.sibling;
    id.version = options_.version;
    return encodeLegacyIdentity(id);
}

LegacyFrame LegacyUnit::nextFrame(Steady::time_point now) {
    std::lock_guard lock(mutex_);
    ++frames_;
    const bool fault = faultUntil_ && now < *faultUntil_;
    if (faultUntil_ && !fault) {
        faultUntil_.reset();
        current_ = {CurrentLow + 2, CurrentLow, CurrentHigh};
        voltage_ = {VoltageLow + 3, VoltageLow, VoltageHigh};
    }
    current_.step(rng_);
    voltage_.step(rng_);
    change_.step(rng_);

    LegacyFrame f{};
    f[LegacyByte::GfTime] = options_.switches[0];
    f[LegacyByte::GfLevel] = options_.switches[1];
    f[LegacyByte::PulseTime] = options_.switches[2];
    putLegacyWord(f, LegacyByte::Calibration, CalibrationValue);
    f[LegacyByte::NgrCurrent] = byteOf(current_.value);
    f[LegacyByte::NgrVoltage] = byteOf(voltage_.value);
    putLegacyWord(f, LegacyByte::ResistanceChange, static_cast<int16_t>(change_.value));
    f[LegacyByte::TripStatus] = fault ? GroundFaultBit : 0;
    f[LegacyByte::SetpointStatus] = fault ? GroundFaultBit : 0;
    f[LegacyByte::RelayStatus] = RelayStatus;
    f[LegacyByte::RecordHead] = static_cast<uint8_t>(ring_.newest());
    f[LegacyByte::Spare] = static_cast<uint8_t>(frames_ & 0xFF);
    f[LegacyByte::PortH] = PortHHealthy;
    f[LegacyByte::Identification] = identification();
    for (const FramePreset& p : options_.presets)
        std::copy(p.values.begin(), p.values.end(), f.begin() + p.start);
    return f;
}

uint64_t LegacyUnit::framesBuilt() const {
    std::lock_guard lock(mutex_);
    return frames_;
}

LegacyEventBlock LegacyUnit::eventBlock() const {
    std::lock_guard lock(mutex_);
    std::array<LegacyEventRecord, LegacyEventRecordCount> records{};
    const size_t count = std::min<size_t>(ring_.count(), LegacyEventRecordCount);
    for (size_t i = 0; i < count; ++i) {
        // The i-th newest, as the ring numbers them.
        const size_t index = (ring_.newest() + ring_.count() - i) % ring_.count();
        const EventRecord* r = ring_.at(index);
        records[i] = {static_cast<uint8_t>(r->tripStatus & 0xFF), byteOf(r->current), byteOf(r->voltage),
                      static_cast<int16_t>(std::clamp(r->resistanceChange, -32768, 32767))};
    }
    return buildLegacyEventBlock(records);
}

void LegacyUnit::clearEvents() {
    std::lock_guard lock(mutex_);
    ring_.clear();
}

size_t LegacyUnit::eventCount() const {
    std::lock_guard lock(mutex_);
    return ring_.count();
}

void LegacyUnit::trip(Steady::time_point now) {
    std::lock_guard lock(mutex_);
    faultUntil_ = now + FaultDuration;
    current_ = {FaultCurrentLow + 2, FaultCurrentLow, FaultCurrentHigh};
    voltage_ = {FaultVoltageLow + 3, FaultVoltageLow, FaultVoltageHigh};
    EventRecord r;
    r.current = current_.value;
    r.voltage = voltage_.value;
    r.resistanceChange = change_.value;
    r.tripStatus = GroundFaultBit;
    r.setpointStatus = GroundFaultBit;
    ring_.add(r);
}

} // namespace kt::sim
