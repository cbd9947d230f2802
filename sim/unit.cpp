#include "sim/unit.h"

#include "sim/command_table.h"

#include "iec61850/icd_parser.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>

namespace kt::sim {

namespace {

// Values of the value lists the unit's status registers use (CALSTAT, DUMPSTAT).
constexpr uint16_t CalibrationDone = 1, CalibrationBusy = 2;
constexpr uint16_t DumpWriting = 1, DumpComplete = 2, DumpNoCard = 3, DumpCardFull = 4;

constexpr uint16_t GroundFaultBit = 1 << 0;

// Normal and fault bands of the moving measurements (% of full scale, % of setting).
constexpr int CurrentLow = 1, CurrentHigh = 7, VoltageLow = 2, VoltageHigh = 12;
constexpr int FaultCurrentLow = 70, FaultCurrentHigh = 80, FaultVoltageLow = 80, FaultVoltageHigh = 95;

void putIdentity(RegisterMap::Words& w, const Identity& id) {
    const uint16_t words[] = {
        id.modelCode,
        id.firmware,
        static_cast<uint16_t>(id.serial & 0xFFFF),
        static_cast<uint16_t>(id.serial >> 16),
        id.modelType,
        id.commOption,
    };
    w.write(0, words);
}

std::string records(size_t n) {
    return std::to_string(n) + (n == 1 ? " record" : " records");
}

bool overlaps(size_t start, size_t count, size_t first, size_t words) {
    return start < first + words && first < start + count;
}

std::string macText(const uint16_t (&w)[3]) {
    // Register order: the first holds bytes 5 and 6, the third bytes 1 and 2.
    char text[24];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", w[2] >> 8, w[2] & 0xFF, w[1] >> 8,
                  w[1] & 0xFF, w[0] >> 8, w[0] & 0xFF);
    return text;
}

std::string versionText(int v) {
    char text[16];
    std::snprintf(text, sizeof text, "%d.%02d", v / 100, v % 100);
    return text;
}

// Writes `text` to a new file in `folder`; the outcome is a DUMPSTAT value.
uint16_t writeDumpFile(const std::string& folder, const std::string& stem, const std::string& text,
                       std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) return DumpNoCard;
    for (int n = 1; n < 1000; ++n) {
        path = (std::filesystem::path(folder) / (stem + (n > 1 ? "_" + std::to_string(n) : "") + ".txt"))
                   .string();
        std::FILE* f = std::fopen(path.c_str(), "wx"); // never over an earlier dump
        if (!f && errno == EEXIST) continue;
        if (!f) return DumpCardFull;
        const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
        return std::fclose(f) == 0 && ok ? DumpComplete : DumpCardFull;
    }
    return DumpCardFull;
}

} // namespace

void writeIdentity(RegisterMap& registers, const Identity& identity) {
    registers.update([&](RegisterMap::Words& w) { putIdentity(w, identity); });
}

void Unit::Walk::step(std::mt19937& rng) {
    const bool up = value <= low || (value < high && (rng() & 1));
    value += up ? 1 : -1;
}

void Unit::Walk::reset(int v, int lo, int hi) {
    low = lo;
    high = hi;
    value = std::clamp(v, lo, hi);
}

Unit::Unit(const Identity& identity, std::span<const Preset> presets, Notify notify)
    : Unit(UnitSetup{.identity = identity, .presets = {presets.begin(), presets.end()}}, std::move(notify)) {}

Unit::Unit(UnitSetup setup, Notify notify)
    : setup_(std::move(setup)), notify_(std::move(notify)), clock_(now()), rng_(setup_.seed) {
    initialise();
}

Unit::~Unit() {
    stop();
}

Unit::Steady::time_point Unit::now() const {
    return setup_.steadyNow ? setup_.steadyNow() : Steady::now();
}

void Unit::note(std::string_view text) const {
    if (notify_) notify_(text);
}

int Unit::typeOf(int reg) const {
    const DescribedRegister* d = profile() ? profile()->at(reg) : nullptr;
    return d ? d->type : 0;
}

int64_t Unit::number(const Words& w, int reg) const {
    if (reg < 0) return 0;
    const int n = std::clamp(valueTypeRegisterCount(typeOf(reg)), 1, 3);
    int64_t value = 0;
    for (int i = n - 1; i >= 0; --i) value = value << 16 | w.get(static_cast<size_t>(reg + i));
    return value;
}

void Unit::initialise() {
    registers_.update([&](Words& w) {
        startedAt_ = now();
        if (const RegisterProfile* p = profile()) {
            for (RegisterWords& v : startValues(*p, setup_.identity, clock_.at(startedAt_))) {
                w.write(static_cast<size_t>(v.reg), v.words);
                if (v.setting) defaults_.push_back(std::move(v));
            }
            auto reg = [&](std::string_view label) {
                const DescribedRegister* d = p->find(label);
                return d ? d->reg : -1;
            };
            known_ = {.tripStatus = reg("DB_TRIPSTATUS"),
                      .deviceStatus = reg("DB_SETPOINTSTATUS"),
                      .current = reg("DB_NGRCURRENT"),
                      .voltage = reg("DB_NGRVOLTAGE"),
                      .deltaOhms = reg("DB_DELTAOHMS"),
                      .resistance = reg("DB_RESISTANCE"),
                      .currentMa = reg("DB_NGRCURRENT_MA"),
                      .temperature = reg("DB_TEMPERATURE"),
                      .calValue = reg("DB_CALVALUE"),
                      .operatingTime = reg("DB_OPERATING_TIME"),
                      .samples = reg("DB_SAMPLE_COUNT"),
                      .calStatus = reg("DB_CAL_STATUS"),
                      .calCount = reg("DB_CAL_COUNT"),
                      .dumpStatus = reg("DB_DUMP_STATUS"),
                      .sdFree = reg("DB_SD_FREE"),
                      .date = reg("DB_DATE"),
                      .time = reg("DB_TIME"),
                      .nominal = reg("DB_NGR_NOMINAL"),
                      .ctNominal = reg("DB_CT_NOMINAL"),
                      .gfLatch = reg("DB_GF_LATCH")};
            current_.reset(static_cast<int>(number(w, known_.current)), CurrentLow, CurrentHigh);
            voltage_.reset(static_cast<int>(number(w, known_.voltage)), VoltageLow, VoltageHigh);
            deltaOhms_.reset(0, -5, 5);
            temperature_.reset(35, 30, 45);
            operatingBase_ = number(w, known_.operatingTime);
            samplesBase_ = number(w, known_.samples);
            if (p->at(VerifiedRegister)) w.set(VerifiedRegister, setup_.options.unverified ? 0 : 1);
            ring_.preset(setup_.options.eventCount, setup_.options.newestEvent);
            showRing(w);
            if (setup_.options.tripEverySeconds)
                nextTrip_ = startedAt_ + std::chrono::seconds(setup_.options.tripEverySeconds);
        }
        if (profile() && setup_.identity.commOption >= 6 && setup_.identity.commOption <= 8) loadIec61850(w);
        putIdentity(w, setup_.identity);
        for (const Preset& preset : setup_.presets) {
            w.write(preset.start, preset.values);
            for (size_t r = preset.start; r < preset.start + preset.values.size() && r < held_.size(); ++r)
                held_.set(r);
        }
        if (profile()) moveNetworkInputs(w);
    });
}

bool Unit::iec61850Option(const Words& w) const {
    const uint16_t option = w.get(5);
    return option >= 6 && option <= 8;
}

void Unit::loadIec61850(Words& w) {
    // The device type's template, beside the register files: what a unit from the factory holds.
    const uint16_t type = setup_.identity.modelType;
    const char* name = type == 2 ? "KT-740AU.icd" : type == 3 ? "KT-740HV.icd" : "KT-740.icd";
    const std::filesystem::path folder = setup_.options.resourcesFolder.empty()
                                             ? std::filesystem::path(profile()->path).parent_path()
                                             : std::filesystem::path(setup_.options.resourcesFolder);
    const std::string path = (folder / name).string();
    try {
        TICDParser model(path, -1);
        iec61850_.load(model, w, held_);
        note("IEC 61850 configuration from " + path);
    } catch (const std::exception& e) {
        note(std::string("warning: the IEC 61850 windows start empty: ") + e.what());
    }
}

void Unit::putOwn(Words& w, int reg, int64_t value) {
    if (reg < 0 || held_.test(static_cast<size_t>(reg))) return;
    w.write(static_cast<size_t>(reg), encodeNumber(typeOf(reg), value));
}

void Unit::putClock(Words& w, const ClockFields& clock) {
    const ClockWords words = encodeClock(clock);
    if (known_.date >= 0 && typeOf(known_.date) == ValueType::Date && !held_.test(size_t(known_.date)))
        w.write(static_cast<size_t>(known_.date), words.date);
    if (known_.time >= 0 && typeOf(known_.time) == ValueType::Time && !held_.test(size_t(known_.time)))
        w.write(static_cast<size_t>(known_.time), words.time);
}

void Unit::showRing(Words& w) {
    w.set(NewestEventRegister, static_cast<uint16_t>(ring_.newest()));
    w.set(EventCountRegister, static_cast<uint16_t>(ring_.count()));
    showSelectedRecord(w);
}

void Unit::showSelectedRecord(Words& w) {
    const EventRecord* record = ring_.at(w.get(EventSelectorRegister));
    for (const EventSlot& slot : profile()->eventLayout) {
        std::vector<uint16_t> words;
        if (!record) {
            words = encodeNumber(slot.type, 0); // no such record: zeros
        } else if (slot.type == ValueType::Date || slot.type == ValueType::Time) {
            const ClockWords clock = encodeClock(record->when);
            const auto& pair = slot.type == ValueType::Date ? clock.date : clock.time;
            words.assign(pair.begin(), pair.end());
        } else {
            int64_t value = 0;
            switch (slot.field) {
            case EventField::Current:
                value = record->current;
                break;
            case EventField::Voltage:
                value = record->voltage;
                break;
            case EventField::ResistanceChange:
                value = record->resistanceChange;
                break;
            case EventField::TripStatus:
                value = record->tripStatus;
                break;
            case EventField::SetpointStatus:
                value = record->setpointStatus;
                break;
            default:
                break; // a date or time field in a numeric register
            }
            words = encodeNumber(slot.type, value);
        }
        w.write(static_cast<size_t>(slot.reg), words);
    }
}

void Unit::afterWrite(Words& w, size_t start, size_t count) {
    if (!profile()) return;
    // 60, 61 and the record registers show the ring whatever is written there, and a write of the
    // selector shows the chosen record at once, before the answer leaves.
    bool ring = overlaps(start, count, NewestEventRegister, 3);
    for (const EventSlot& slot : profile()->eventLayout)
        ring = ring || overlaps(start, count, size_t(slot.reg), size_t(valueTypeRegisterCount(slot.type)));
    if (ring) showRing(w);
    // A slot number written into 260, 310, 580 or 630 shows that slot in the registers after it.
    if (iec61850Option(w)) iec61850_.afterWrite(w, start, count);
}

bool Unit::readRegisters(size_t start, std::span<uint16_t> out) {
    return registers_.update([&](Words& w) {
        if (profile()) {
            const bool clock = (known_.date >= 0 && overlaps(start, out.size(), size_t(known_.date), 2)) ||
                               (known_.time >= 0 && overlaps(start, out.size(), size_t(known_.time), 2));
            if (clock) putClock(w, clock_.at(now()));
        }
        return w.read(start, out);
    });
}

bool Unit::writeRegisters(size_t start, std::span<const uint16_t> values) {
    return registers_.update([&](Words& w) {
        if (!w.write(start, values)) return false;
        afterWrite(w, start, values.size());
        return true;
    });
}

void Unit::executeCommand(uint16_t number, Transport via) {
    const CommandEntry* entry = findCommand(number);
    {
        std::lock_guard lock(commandsMutex_);
        if (executed_.size() == KeptCommands) executed_.pop_front();
        executed_.push_back({number, via});
    }
    if (notify_) {
        std::string text = "command " + std::to_string(number) + " (" +
                           std::string(entry ? entry->name : "not a KT-740 command") + ") over " +
                           (via == Transport::Tcp ? "TCP" : "RTU");
        notify_(text);
    }
    // Without a register file the unit has none of the registers the commands work on (the
    // start-up warning said so); the command is recorded only.
    if (!entry || !entry->run || !profile()) return;
    entry->run(*this);
}

std::vector<ExecutedCommand> Unit::executedCommands() const {
    std::lock_guard lock(commandsMutex_);
    return {executed_.begin(), executed_.end()};
}

void Unit::start() {
    if (!profile() || ticker_.joinable()) return;
    ticker_ = std::jthread([this](std::stop_token token) { run(token); });
}

void Unit::stop() {
    if (!ticker_.joinable()) return;
    ticker_.request_stop();
    ticker_.join();
}

void Unit::run(std::stop_token token) {
    while (!token.stop_requested()) {
        tick();
        std::unique_lock lock(sleepMutex_);
        // Wakes at once on a stop request.
        sleep_.wait_for(lock, token, TickPeriod, [] { return false; });
    }
}

void Unit::tick() {
    if (!profile()) return;
    std::vector<std::string> notes;
    registers_.update([&](Words& w) {
        const auto at = now();
        ++ticks_;
        if (nextTrip_ && at >= *nextTrip_) {
            const size_t index = addTrip(w, at);
            notes.push_back("periodic ground-fault trip: event record " + std::to_string(index) + " added (" +
                            records(ring_.count()) + ")");
            const auto period = std::chrono::seconds(setup_.options.tripEverySeconds);
            *nextTrip_ += period;
            if (*nextTrip_ <= at) *nextTrip_ = at + period; // after a stall, no burst of trips
        }
        finishTimers(w, at, notes);
        moveValues(w, at);
        moveNetworkInputs(w);
    });
    for (const auto& text : notes) note(text);
}

void Unit::moveValues(Words& w, Steady::time_point at) {
    current_.step(rng_);
    voltage_.step(rng_);
    deltaOhms_.step(rng_);
    if (ticks_ % 25 == 0) temperature_.step(rng_);
    putOwn(w, known_.current, current_.value);
    putOwn(w, known_.voltage, voltage_.value);
    putOwn(w, known_.deltaOhms, deltaOhms_.value);
    putOwn(w, known_.temperature, temperature_.value);
    if (known_.resistance >= 0) {
        // Thousandths of an ohm around the nominal resistance the unit is set to.
        const int64_t nominal = number(w, known_.nominal);
        const int64_t jitter = static_cast<int64_t>(rng_() % 81) - 40;
        putOwn(w, known_.resistance, std::max<int64_t>(0, (nominal + deltaOhms_.value) * 1000 + jitter));
    }
    if (known_.currentMa >= 0) {
        // % of full scale of the CT rating in amperes, in milliamperes.
        const int64_t ct = known_.ctNominal >= 0 ? number(w, known_.ctNominal) : 5;
        putOwn(w, known_.currentMa, current_.value * ct * 10 + static_cast<int64_t>(rng_() % 10));
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(at - startedAt_).count();
    putOwn(w, known_.operatingTime, operatingBase_ + elapsed / 1000);
    putOwn(w, known_.samples, samplesBase_ + elapsed * 2);
    putClock(w, clock_.at(at));
}

void Unit::moveNetworkInputs(Words& w) {
    const uint16_t option = w.get(5);
    auto show = [&] {
        uint16_t words[1 + NetworkInputs];
        words[0] = networkFlags_;
        std::copy(networkStatus_.begin(), networkStatus_.end(), words + 1);
        for (size_t i = 0; i < std::size(words); ++i)
            if (!held_.test(NetworkInputRegister + i)) w.set(NetworkInputRegister + i, words[i]);
    };
    if (option < 6 || option > 8) {
        // Not an IEC 61850 unit (any more): the registers read 0.
        if (networkInputsShown_) {
            networkFlags_ = 0;
            networkStatus_.fill(0);
            show();
            networkInputsShown_ = false;
        }
        return;
    }
    if (!networkInputsShown_) {
        // Inputs 1 and 3 asserted; input 15 not commissioned, input 16 receives nothing.
        networkFlags_ = 0x0005;
        networkStatus_.fill(0);
        networkStatus_[14] = 5;
        networkStatus_[15] = 2;
        networkInputsShown_ = true;
    } else {
        if (ticks_ % 10 == 0) networkFlags_ ^= static_cast<uint16_t>(1u << (rng_() % NetworkInputs));
        if (ticks_ % 35 == 0) {
            static constexpr uint16_t Statuses[] = {0, 0, 0, 0, 1, 2, 4};
            networkStatus_[rng_() % NetworkInputs] = Statuses[rng_() % std::size(Statuses)];
        }
    }
    show();
}

size_t Unit::addTrip(Words& w, Steady::time_point at) {
    faultUntil_ = at + FaultDuration;
    current_.reset(75, FaultCurrentLow, FaultCurrentHigh);
    voltage_.reset(88, FaultVoltageLow, FaultVoltageHigh);
    putOwn(w, known_.current, current_.value);
    putOwn(w, known_.voltage, voltage_.value);
    for (int reg : {known_.tripStatus, known_.deviceStatus})
        if (reg >= 0 && !held_.test(size_t(reg))) w.set(size_t(reg), w.get(size_t(reg)) | GroundFaultBit);
    EventRecord record{.when = clock_.at(at),
                       .current = current_.value,
                       .voltage = voltage_.value,
                       .resistanceChange = deltaOhms_.value,
                       .tripStatus = GroundFaultBit,
                       .setpointStatus = GroundFaultBit};
    const size_t index = ring_.add(record);
    showRing(w);
    return index;
}

void Unit::finishTimers(Words& w, Steady::time_point at, std::vector<std::string>& notes) {
    if (faultUntil_ && at >= *faultUntil_) {
        faultUntil_.reset();
        current_.reset(3, CurrentLow, CurrentHigh);
        voltage_.reset(5, VoltageLow, VoltageHigh);
        const bool latched = known_.gfLatch >= 0 && w.get(size_t(known_.gfLatch)) != 0;
        auto clearBit = [&](int reg) {
            if (reg >= 0 && !held_.test(size_t(reg)))
                w.set(size_t(reg), w.get(size_t(reg)) & ~GroundFaultBit);
        };
        clearBit(known_.deviceStatus);
        if (!latched) clearBit(known_.tripStatus);
        notes.push_back(latched ? "ground fault cleared; the trip stays latched until a reset to defaults"
                                : "ground fault cleared");
    }
    if (calibrationUntil_ && at >= *calibrationUntil_) {
        calibrationUntil_.reset();
        w.set(size_t(known_.calStatus), CalibrationDone);
        const int64_t count = number(w, known_.calCount) + 1;
        if (known_.calCount >= 0)
            w.write(size_t(known_.calCount), encodeNumber(typeOf(known_.calCount), count));
        if (known_.calValue >= 0)
            w.write(size_t(known_.calValue),
                    encodeNumber(typeOf(known_.calValue), 1020 + static_cast<int64_t>(rng_() % 9)));
        notes.push_back("remote calibration done (" + std::to_string(count) + " performed)");
    }
    if (dumpUntil_ && dumpOutcome_ && at >= *dumpUntil_) {
        dumpUntil_.reset();
        w.set(size_t(known_.dumpStatus), *dumpOutcome_);
        static constexpr const char* Outcomes[] = {"", "", "complete", "failed: no SD card",
                                                   "failed: SD card full"};
        notes.push_back(std::string("diagnostics dump ") + Outcomes[*dumpOutcome_]);
        dumpOutcome_.reset();
    }
}

void Unit::trip() {
    if (!profile()) {
        note("trip ignored: a unit without a register file has no event records");
        return;
    }
    std::string text;
    registers_.update([&](Words& w) {
        const size_t index = addTrip(w, now());
        text = "ground-fault trip: event record " + std::to_string(index) + " added (" +
               records(ring_.count()) + ")";
    });
    note(text);
}

void Unit::clearEvents() {
    registers_.update([&](Words& w) {
        ring_.clear();
        showRing(w);
    });
    note("event records cleared");
}

void Unit::setClock() {
    std::string text;
    registers_.update([&](Words& w) {
        uint16_t words[4];
        w.read(ClockSetRegister, words);
        if (auto clock = clockFromRegisters(words)) {
            clock_.set(*clock, now());
            putClock(w, clock_.at(now()));
            text = "clock set to " + clockText(*clock);
        } else {
            text = "clock not set: registers 150..153 (" + std::to_string(words[0]) + ", " +
                   std::to_string(words[1]) + ", " + std::to_string(words[2]) + ", " +
                   std::to_string(words[3]) + ") hold no valid date and time";
        }
    });
    note(text);
}

void Unit::resetToDefaults() {
    size_t count = 0;
    registers_.update([&](Words& w) {
        for (const RegisterWords& d : defaults_) w.write(static_cast<size_t>(d.reg), d.words);
        count = defaults_.size();
        // A reset also releases a latched trip once the fault has gone.
        if (!faultUntil_ && known_.tripStatus >= 0 && !held_.test(size_t(known_.tripStatus)))
            w.set(size_t(known_.tripStatus), w.get(size_t(known_.tripStatus)) & ~GroundFaultBit);
    });
    note("settings reset to defaults (" + std::to_string(count) + " registers)");
}

void Unit::applyMacAddress(int port) {
    const auto macs = profile()->ofType(ValueType::MacAddress);
    if (port < 0 || static_cast<size_t>(port) >= macs.size()) {
        note("MAC address " + std::to_string(port + 1) +
             " not applied: the register file describes no such address");
        return;
    }
    std::string text;
    registers_.update([&](Words& w) {
        uint16_t words[3];
        w.read(MacSetRegister, words);
        const bool multicast = words[2] & 0x0100;
        const bool blank =
            (words[0] | words[1] | words[2]) == 0 || (words[0] & words[1] & words[2]) == 0xFFFF;
        if (multicast || blank) {
            text = "MAC address " + std::to_string(port + 1) + " not applied: " + macText(words) +
                   " is no address of one device";
            return;
        }
        w.write(static_cast<size_t>(macs[size_t(port)]->reg), words);
        text = "MAC address " + std::to_string(port + 1) + " set to " + macText(words);
    });
    note(text);
}

void Unit::applyIec61850(uint16_t command) {
    std::string text;
    registers_.update([&](Words& w) {
        if (!iec61850Option(w)) {
            text = "command " + std::to_string(command) + " not applied: communication option " +
                   std::to_string(w.get(5)) + " has no IEC 61850";
            return;
        }
        iec61850_.apply(command, w, text);
    });
    note(text);
}

void Unit::startCalibration() {
    if (known_.calStatus < 0) {
        note("remote calibration: this firmware has none (no DB_CAL_STATUS register)");
        return;
    }
    bool busy = false;
    registers_.update([&](Words& w) {
        busy = calibrationUntil_.has_value();
        if (busy) return;
        calibrationUntil_ = now() + CalibrationDuration;
        w.set(size_t(known_.calStatus), CalibrationBusy);
    });
    note(busy ? "remote calibration already in progress" : "remote calibration started");
}

void Unit::writeDiagnostics() {
    if (known_.dumpStatus < 0) {
        note("diagnostics dump: this firmware has none (no DB_DUMP_STATUS register)");
        return;
    }
    bool busy = false;
    std::string text, stem;
    registers_.update([&](Words& w) {
        busy = dumpUntil_.has_value();
        if (busy) return;
        dumpUntil_ = now() + DumpDuration;
        dumpOutcome_.reset();
        w.set(size_t(known_.dumpStatus), DumpWriting);
        const ClockFields c = clock_.at(now());
        char name[64];
        std::snprintf(name, sizeof name, "diag_%09u_%04d%02d%02d_%02d%02d%02d", setup_.identity.serial,
                      c.year, c.month, c.day, c.hour, c.minute, c.second);
        stem = name;
        text = "KT-740 diagnostics\n";
        text += "Date: " + clockText(c) + "\n";
        text += "Model code: " + std::to_string(w.get(0)) + "\n";
        text += "Firmware: " + versionText(w.get(1) & 0x7FFF) + ((w.get(1) & 0x8000) ? " (prototype)" : "") +
                "\n";
        text += "Model type: " + std::to_string(w.get(4)) + "\n";
        text += "Communication option: " + std::to_string(w.get(5)) + "\n";
        text += "Serial number: " + std::to_string(setup_.identity.serial) + "\n";
        text += "Register file: " + std::filesystem::path(profile()->path).filename().string() + "\n";
        text += "Event records: " + std::to_string(ring_.count()) + " (newest " +
                std::to_string(ring_.newest()) + ")\n";
        text += "Registers 0..249:\n";
        for (size_t r = 0; r < 250; r += 10) {
            char line[16];
            std::snprintf(line, sizeof line, "%3zu:", r);
            text += line;
            for (size_t i = r; i < r + 10; ++i) text += " " + std::to_string(w.get(i));
            text += "\n";
        }
    });
    if (busy) {
        note("diagnostics dump already in progress");
        return;
    }
    // The file is written outside the lock: the unit keeps answering meanwhile.
    std::string path;
    uint16_t outcome = DumpComplete;
    const std::string& folder = setup_.options.sdCardFolder;
    if (!folder.empty()) outcome = writeDumpFile(folder, stem, text, path);
    registers_.update([&](Words& w) {
        dumpOutcome_ = outcome;
        if (outcome == DumpComplete && known_.sdFree >= 0) {
            const int64_t used = static_cast<int64_t>((text.size() + 1023) / 1024);
            w.write(
                size_t(known_.sdFree),
                encodeNumber(typeOf(known_.sdFree), std::max<int64_t>(0, number(w, known_.sdFree) - used)));
        }
    });
    if (folder.empty())
        note("diagnostics file of " + std::to_string(text.size()) + " bytes not kept (no --sd-card)");
    else if (outcome == DumpComplete)
        note("diagnostics file written: " + path);
    else
        note("diagnostics file not written: " +
             std::string(outcome == DumpNoCard ? "no folder " + folder : "cannot write into " + folder));
}

} // namespace kt::sim
