#pragma once

#include "sim/event_ring.h"
#include "sim/iec61850_windows.h"
#include "sim/options.h"
#include "sim/register_map.h"
#include "sim/register_profile.h"
#include "sim/start_values.h"
#include "sim/unit_clock.h"

#include <array>
#include <bitset>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace kt::sim {

enum class Transport { Tcp, Rtu };

struct ExecutedCommand {
    uint16_t number;
    Transport via;
};

// Everything a unit is made from.
struct UnitSetup {
    Identity identity{};
    std::vector<Preset> presets{};
    std::shared_ptr<const RegisterProfile> profile{}; // nullptr: identification only
    UnitOptions options{};
    uint32_t seed = 740; // of the moving values: runs are repeatable
    // The unit's sense of time; tests drive it by hand. Empty: the steady clock.
    std::function<std::chrono::steady_clock::time_point()> steadyNow{};
};

// The simulated relay as the endpoints see it: its registers, its commands and its own life. With
// a register file the unit serves plausible values for every register the file describes, moves
// its measurements and its clock, keeps its event records behind selector register 62, trips on
// request and carries out the program's commands. Its state is kept under the register map's
// lock, so that a master sees each change of the unit whole.
//
// A unit with an IEC 61850 option (communication options 6..8) also keeps its 61850
// configuration behind the register windows (see Iec61850Windows), loaded from its device type's
// template at start; the apply commands 11..14 store the written slots.
class Unit {
public:
    using Steady = std::chrono::steady_clock;

    // Over TCP a write of n into this register runs command n.
    static constexpr uint16_t CommandRegister = 6;
    static constexpr uint16_t NewestEventRegister = 60;
    static constexpr uint16_t EventCountRegister = 61;
    static constexpr uint16_t EventSelectorRegister = 62;
    static constexpr uint16_t ClockSetRegister = 150;     // 150..153
    static constexpr uint16_t MacSetRegister = 156;       // 156..158
    static constexpr uint16_t VerifiedRegister = 199;     // essential settings verified
    static constexpr uint16_t NetworkInputRegister = 780; // 780..796
    static constexpr int NetworkInputs = 16;

    static constexpr std::chrono::milliseconds TickPeriod{200};
    static constexpr std::chrono::seconds FaultDuration{5};
    static constexpr std::chrono::seconds CalibrationDuration{3};
    static constexpr std::chrono::seconds DumpDuration{2};

    using Notify = std::function<void(std::string_view)>;

    // Identification and presets only, as without a register file.
    Unit(const Identity& identity, std::span<const Preset> presets, Notify notify = {});
    explicit Unit(UnitSetup setup, Notify notify = {});
    ~Unit();
    Unit(const Unit&) = delete;
    Unit& operator=(const Unit&) = delete;

    RegisterMap& registers() { return registers_; }
    const RegisterMap& registers() const { return registers_; }
    const RegisterProfile* profile() const { return setup_.profile.get(); }

    // What the endpoints do: a read sees the clock as it is now; a write is applied together with
    // what the unit does on it (the event selector shows the chosen record) as one step.
    bool readRegisters(size_t start, std::span<uint16_t> out);
    bool writeRegisters(size_t start, std::span<const uint16_t> values);

    void executeCommand(uint16_t number, Transport via);
    // The most recent commands, oldest first (the record keeps the last KeptCommands).
    std::vector<ExecutedCommand> executedCommands() const;
    static constexpr size_t KeptCommands = 1000;

    // The unit's ticker thread (moving values, timers, periodic trips); a unit without a register
    // file has none. Stopped by stop() or the destructor.
    void start();
    void stop();
    // One step of the unit's own life, as the ticker makes it every TickPeriod.
    void tick();

    // A ground-fault trip: a new event record, trip and device status bit 0 set for FaultDuration
    // (the trip status stays while the ground-fault trip latch setting is on).
    void trip();

    // The commands' behaviour (see commandTable()).
    void clearEvents();
    void setClock();
    void resetToDefaults();
    void applyMacAddress(int port); // 0: the first MAC address the file describes, 1: the second
    void startCalibration();
    void writeDiagnostics();
    // Commands 11..14: the pending IEC 61850 slot of that kind becomes the unit's.
    void applyIec61850(uint16_t command);
    // The 61850 configuration (read under the register map's lock by the caller's own means).
    const Iec61850Windows& iec61850() const { return iec61850_; }

private:
    using Words = RegisterMap::Words;

    struct Walk {
        int value = 0, low = 0, high = 0;
        void step(std::mt19937& rng); // one unit up or down, turning at the ends
        void reset(int v, int lo, int hi);
    };

    // Registers the unit's behaviour uses, found by their labels (-1 when the file has none).
    struct Known {
        int tripStatus = -1, deviceStatus = -1, current = -1, voltage = -1, deltaOhms = -1, resistance = -1,
            currentMa = -1, temperature = -1, calValue = -1, operatingTime = -1, samples = -1, calStatus = -1,
            calCount = -1, dumpStatus = -1, sdFree = -1, date = -1, time = -1, nominal = -1, ctNominal = -1,
            gfLatch = -1;
    };

    void initialise();
    void loadIec61850(Words& w);
    bool iec61850Option(const Words& w) const;
    int64_t number(const Words& w, int reg) const;
    void note(std::string_view text) const;
    Steady::time_point now() const;
    int typeOf(int reg) const;
    // A number into a described register by its type; skipped for registers given with --set.
    void putOwn(Words& w, int reg, int64_t value);
    void putClock(Words& w, const ClockFields& clock);
    void showRing(Words& w);
    void showSelectedRecord(Words& w);
    void afterWrite(Words& w, size_t start, size_t count);
    size_t addTrip(Words& w, Steady::time_point at);
    void moveValues(Words& w, Steady::time_point at);
    void moveNetworkInputs(Words& w);
    void finishTimers(Words& w, Steady::time_point at, std::vector<std::string>& notes);
    void run(std::stop_token token);

    UnitSetup setup_;
    Notify notify_;
    RegisterMap registers_;

    // ---- under the register map's lock ----
    UnitClock clock_;
    EventRing ring_;
    std::vector<RegisterWords> defaults_;
    std::bitset<RegisterMap::Count> held_; // given with --set: the unit does not move them
    Known known_;
    std::mt19937 rng_;
    Walk current_, voltage_, deltaOhms_, temperature_;
    uint64_t ticks_ = 0;
    Steady::time_point startedAt_;
    std::optional<Steady::time_point> faultUntil_, calibrationUntil_, dumpUntil_, nextTrip_;
    std::optional<uint16_t> dumpOutcome_; // the dump's final status, once its file is written
    int64_t operatingBase_ = 0, samplesBase_ = 0;
    bool networkInputsShown_ = false;
    Iec61850Windows iec61850_;
    uint16_t networkFlags_ = 0;
    std::array<uint16_t, NetworkInputs> networkStatus_{};

    mutable std::mutex commandsMutex_;
    std::deque<ExecutedCommand> executed_;

    std::mutex sleepMutex_;
    std::condition_variable_any sleep_;
    std::jthread ticker_; // last: stopped before the state it uses goes
};

// Registers 0..5 as the unit reports them.
void writeIdentity(RegisterMap& registers, const Identity& identity);

} // namespace kt::sim
