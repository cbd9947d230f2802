#pragma once

// Older KT-740 units push a 24-byte status frame at 38400 baud and answer "d" with a 50-byte event
// block. This is their decoding, as pure functions and small value types: the frame's fields, the
// identification byte and the rule that only a stable version is shown, the bit texts, the event
// block, and the status view the Summary and "Detailed Status and Config" pages show for a frame.

#include "monitor/status_captions.h"
#include "ui/ct_voltage.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kt {

inline constexpr size_t LegacyFrameSize = 24;
inline constexpr size_t LegacyEventRecordSize = 5;
inline constexpr size_t LegacyEventRecordCount = 10;
inline constexpr size_t LegacyEventBlockSize = LegacyEventRecordSize * LegacyEventRecordCount;
using LegacyFrame = std::array<uint8_t, LegacyFrameSize>;
using LegacyEventBlock = std::array<uint8_t, LegacyEventBlockSize>;

// The one-byte requests a legacy unit answers.
inline constexpr uint8_t LegacySendEvents = 'd';
inline constexpr uint8_t LegacyClearEvents = 'c';
inline constexpr int LegacyBaudRate = 38400;

// Byte positions of the frame.
namespace LegacyByte {
inline constexpr size_t GfTime = 0;           // switch position 0..10
inline constexpr size_t GfLevel = 1;          // switch position 0..10
inline constexpr size_t PulseTime = 2;        // switch position 0..10
inline constexpr size_t Calibration = 3;      // 3-4, signed, high byte first
inline constexpr size_t NgrCurrent = 5;       // % of full scale
inline constexpr size_t NgrVoltage = 6;       // % of the setting
inline constexpr size_t ResistanceChange = 7; // 7-8, ohms, signed, high byte first
inline constexpr size_t TripStatus = 9;
inline constexpr size_t SetpointStatus = 10;
inline constexpr size_t RelayStatus = 11;
inline constexpr size_t Switches = 12;
inline constexpr size_t RecordHead = 13;
inline constexpr size_t NetMode = 14;
inline constexpr size_t NetGfTime = 15;
inline constexpr size_t NetGfSetting = 16;
inline constexpr size_t NetPulseTime = 17;
inline constexpr size_t NetSwitches = 18;
inline constexpr size_t PortA = 19; // configuration switches
inline constexpr size_t Spare = 20; // rendered, shown nowhere
inline constexpr size_t PortG = 21;
inline constexpr size_t PortH = 22; // relays and LEDs
inline constexpr size_t Identification = 23;
} // namespace LegacyByte

// A signed 16-bit number, most significant byte first.
inline int16_t legacyWord(uint8_t high, uint8_t low) {
    return static_cast<int16_t>(static_cast<uint16_t>(high << 8 | low));
}
int16_t legacyWordAt(const LegacyFrame& frame, size_t position);
void putLegacyWord(LegacyFrame& frame, size_t position, int16_t value);

// ---- Identification byte: bit 7 KT-740HV, bit 6 KT-740AU, bit 5 QM-5740, bits 0-4 version ----

inline constexpr int LegacyVersionMask = 0x1F;

struct LegacyIdentity {
    int32_t model = ModelKt740;
    bool siblingModel = false;
    int version = 0;
    bool operator==(const LegacyIdentity&) const = default;
};
LegacyIdentity decodeLegacyIdentity(uint8_t identification);
uint8_t encodeLegacyIdentity(const LegacyIdentity& identity);

// What the program remembers of the legacy frames it has seen, for as long as it runs: the unit's
// variant (model and sibling) and the version of the last frame. A frame is shown only when its
// version equals the one before it, so a garbled identification byte never reaches the display.
class LegacyIdentityMemory {
public:
    struct Check {
        LegacyIdentity identity;
        bool variantChanged = false; // another variant than the one remembered
        bool versionStable = false;  // same version as the frame before
    };
    Check check(uint8_t identification);

private:
    int rememberedVariant_ = 0; // 0: none yet; else 1 + model + 3 * sibling
    int storedVersion_ = 0;
};

// ---- Bit texts ----

enum class LegacyBitRow : uint8_t { Trip, Setpoint, PortA, Spare, PortG, PortH, Count };
inline constexpr size_t LegacyBitRowCount = static_cast<size_t>(LegacyBitRow::Count);
using LegacyBitTexts = std::array<std::string_view, 8>;

// The frame byte a bit row comes from.
size_t legacyBitRowByte(LegacyBitRow row);
// The text of one bit as set or clear (port A bit 2, the sensing resistor, depends on the model).
std::string_view legacyBitText(LegacyBitRow row, int bit, bool set, int32_t model);
// Eight texts, bit 0 first.
LegacyBitTexts legacyBitTexts(LegacyBitRow row, uint8_t bits, int32_t model);

// ---- Event block: ten records of five bytes, the newest first ----
// Their texts are those of the event records view (monitor/event_texts.h).

struct LegacyEventRecord {
    uint8_t tripCause = 0;
    uint8_t currentPercent = 0;
    uint8_t voltagePercent = 0;
    int16_t resistanceChange = 0; // ohms, most significant byte first in the block
    bool operator==(const LegacyEventRecord&) const = default;
};

// Ten records, record 0 (the newest) first; nothing unless the block is exactly 50 bytes.
std::optional<std::array<LegacyEventRecord, LegacyEventRecordCount>>
decodeLegacyEventBlock(std::span<const uint8_t> block);

using LegacyEventRecords = std::array<LegacyEventRecord, LegacyEventRecordCount>;
// The block a unit sends for these records (the simulator's side). Records after the tenth are
// left out; missing ones are zero.
LegacyEventBlock buildLegacyEventBlock(std::span<const LegacyEventRecord> records);

// ---- Texts of the legacy pages ----

// The legacy "Event Records" page: KT-740 and KT-740HV from version 10, KT-740AU from version 4.
bool legacyEventPageShown(int32_t model, int version);
// "Firmware Version: 10"
std::string legacyVersionText(int version);
// "Packets: 0000042"
std::string packetCountText(int count);
inline constexpr int PacketCountWrap = 9999998; // a count above it starts again at 1

inline constexpr std::string_view DatalogOnText = "PC Datalog ON";
inline constexpr std::string_view DatalogOffText = "PC Datalog OFF";

// ---- The status view of a frame ----

// Per connection.
struct LegacyStatusState {
    int refreshCount = 0;      // frames shown since the connection was made
    int packetCount = 0;       // frames accepted
    int legacyLineCounter = 0; // frames accepted since the last data-log line
    bool legacyUnit = false;   // set by the first frame

    void connectionStarted(); // counters 0, not a legacy unit yet
    void lineWritten() { legacyLineCounter = 0; }
};

struct LegacyStatusInputs {
    bool datalogEnabled = false;
    int saveRate = 5; // a data-log line every this many frames
};

// Why a frame was not shown.
enum class LegacyRejection : uint8_t { None, VersionChanged, GfTime, GfLevel, PulseTime };

struct LegacyStatusView {
    bool accepted = false;
    LegacyRejection rejection = LegacyRejection::None;

    // The first frame lays out the legacy pages; `pages` holds only this frame's changes.
    bool laidOut = false;
    PageVisibility pages{};
    std::optional<StatusPage> activePage;
    bool topStatusVisible = false; // the CT and voltage selection row

    bool passSinceLastTick = false;
    bool enableStatusPanels = false;
    bool settingsChanged = false; // another unit variant: the CT and voltage selection was cleared
    bool writeLegacyLine = false; // call lineWritten() on the state when the line was written

    PanelText netstatus_P;
    PanelText version_P;
    PanelText packetcount_P;
    PanelText datalog_P;

    ValueTexts values;
    CaptionSet captions = SetDefaultCaptions();
    SelectionPanelTexts selectionPanels;
    // Rendered bit texts of trip, setpoint, port A, spare, port G and port H (shown or not).
    std::array<LegacyBitTexts, LegacyBitRowCount> bits{};
    LegacyIdentity identity;
};

// One frame: checks (identification, then the three switch positions), decoding, the amperes and
// volts of the selection, captions, and the counters. A rejected frame blanks the values.
void UpdateLegacyStatus(const LegacyFrame& frame, LegacyStatusState& state, LegacyIdentityMemory& memory,
                        CtVoltageSelection& selection, LegacyStatusView& view,
                        const LegacyStatusInputs& inputs = {});

} // namespace kt
