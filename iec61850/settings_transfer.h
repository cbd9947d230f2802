#pragma once

// The unit's IEC 61850 settings over Modbus: the register layout of the server fields and of the
// four slot windows (report control blocks, datasets, GOOSE control blocks, network inputs), the
// read and write sequences, and the pieces around them that are not window code: the record
// built from the parser and the editor's texts, and the record read put back into the parser.
//
// Both sequences run as a request's work on the connection's own thread and see the unit
// through a UnitLink:
//
//     kt::Read61850Result r = kt::ReadSettings61850(link, settings);
//     if (r.ok()) kt::ApplyReadSettings(parser, settings);
//     print(kt::describe(r));

#include "iec61850/icd_parser.h"
#include "iec61850/icd_records.h"
#include "link/link_result.h"
#include "monitor/unit_link.h"

#include <array>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kt {

class Monitor_Thread;

// The parts of the unit's 61850 settings, in the order the sequences take them.
enum class Settings61850Part : uint8_t { Server, RCB, DataSet, GCB, NI };
std::string_view settingsPartName(Settings61850Part part); // "server settings", "report control block", ...

// Read: error positions.
inline constexpr int ReadOk = 1;
inline constexpr int ReadServerFailed = 2;
inline constexpr int ReadRCBFailed = 3;
inline constexpr int ReadDataSetFailed = 4;
inline constexpr int ReadGCBFailed = 5;
inline constexpr int ReadNIFailed = 6;

// The progress maxima the window shows.
inline constexpr int ReadProgressSteps = 65;
inline constexpr int WriteProgressSteps = 70;
inline constexpr const char* ReadProgressCaption = "Reading from KT-740";
inline constexpr const char* WriteProgressCaption = "Writing to KT-740";

// Where a sequence is: the part and its slot (-1 for the server settings).
struct SettingsPlace {
    Settings61850Part part = Settings61850Part::Server;
    int slot = -1;
    bool operator==(const SettingsPlace&) const = default;
};

// One request of a sequence that did not go through.
struct SettingsRequestFailure {
    SettingsPlace place;
    TransferWhat what; // registers (or the command) of the request
    LinkResult link;
};

// A request's result as Monitor_Thread::submit delivers it: `link` is what the request came to,
// Cancelled until the sequence has run, so a result nobody filled in never reads as done.
struct Read61850Result {
    LinkResult link = LinkResult::failure(LinkStatus::Cancelled);
    int errorPosition = ReadOk; // ReadOk, or the part that failed (ReadServerFailed..ReadNIFailed)
    // Which request failed and how; or, when the answer came but cannot be right (a dataset
    // with more members than its window holds), `problem` says why.
    SettingsRequestFailure failure;
    std::string problem;
    bool cancelled = false; // stopped between requests; `failure.place` is where
    int steps = 0;          // steps done (the progress position)

    bool ok() const { return link.ok() && errorPosition == ReadOk && !cancelled; }
};

struct Write61850Result {
    // Done when every request went through; else the first failure (Refused when nothing was
    // sent, Cancelled or Aborted when the sequence was stopped).
    LinkResult link = LinkResult::failure(LinkStatus::Cancelled);
    // What CheckWriteSettings refused; when not empty, nothing was sent.
    std::vector<std::string> refused;
    // The result of the last request, the write of register 773 for network input 16.
    bool lastWriteOk = false;
    // Every request that did not go through, in order. A slot whose request failed is not
    // applied (its remaining writes and its apply command are not sent); the sequence goes on
    // with the next slot.
    std::vector<SettingsRequestFailure> failures;
    // Slots left unapplied because one of their requests failed.
    std::vector<SettingsPlace> slotsNotApplied;
    bool cancelled = false;
    SettingsPlace stoppedAt; // when cancelled: the part and slot not (or not fully) written
    int steps = 0;

    bool ok() const { return link.ok() && refused.empty() && !cancelled && failures.empty(); }
};

// Reads the unit's settings into `settings`. IP1..Gateway2 and TimeServerIPText come from the
// connection's last poll pass (registers 101..114 and 160..161), everything else from the unit
// now. On failure `settings` holds what was read up to then and must not be used.
Read61850Result ReadSettings61850(UnitLink& link, Struct61850Settings& settings);

// Writes `settings` to the unit. A record CheckWriteSettings refuses is not sent at all.
Write61850Result WriteSettings61850(UnitLink& link, const Struct61850Settings& settings);

// What in `settings` cannot be written as it stands (a text longer than its registers, a dataset
// with more members than the window, a number outside its register), one sentence each; empty
// when all of it can.
std::vector<std::string> CheckWriteSettings(const Struct61850Settings& settings);

// One or more lines for the operator: "Couldn't read settings from KT-740: Error Position 4", the
// failed request and its reason; for a write, every failed request and the slots not applied.
// `where` names the link as in describeLinkResult ("192.168.1.50:502").
std::string describe(const Read61850Result& result, std::string_view where = {}, int unit = 254);
std::string describe(const Write61850Result& result, std::string_view where = {}, int unit = 254);

// ---- the transfers as requests of a connection -------------------------------------------------
// The window's buttons and the command-line tool submit the transfers through these, so both run
// the same sequence on the connection's thread and get the same typed results back.

// A read with the settings it read (use them only when ok()).
struct Settings61850Read {
    LinkResult link = LinkResult::failure(LinkStatus::Cancelled);
    Read61850Result read;
    Struct61850Settings settings;

    bool ok() const { return read.ok(); }
};

RequestId submitRead61850(Monitor_Thread& engine, std::function<void(Settings61850Read)> done,
                          std::function<void(const RequestProgress&)> progress = {});
RequestId submitWrite61850(Monitor_Thread& engine, Struct61850Settings settings,
                           std::function<void(Write61850Result)> done,
                           std::function<void(const RequestProgress&)> progress = {});

// ---- the pieces around the transfer -----------------------------------------------------------

// The Server tab's fields as texts, as the operator typed them.
struct ServerFieldTexts {
    std::string timeServer; // "192.168.001.010", "192.168.1.10" or blank fields: none
    std::string iedName;
    std::string keepAlive;   // seconds, decimal
    std::string apTitle;     // dotted
    std::string aeQualifier; // decimal
    std::string psel;        // hex, up to 8 digits
    std::string ssel;        // hex, up to 4 digits
    std::string tsel;        // hex, up to 4 digits
    bool checkUpperAddresses = false;
    // The two interfaces, dotted (the unit's own addresses; saved into files, not written by the
    // transfer).
    std::array<std::string, Interfaces> ip, mask, gateway;
};

// The texts the Server tab shows for a parser (keep-alive "0": SCL files carry none).
ServerFieldTexts ServerFieldTextsFromParser(const TICDParser& parser);
// The texts the Server tab shows after a read from the unit.
ServerFieldTexts ServerFieldTextsFromSettings(const Struct61850Settings& settings);

// What saving a file takes from the Server tab into the model: the IED name (which renames the
// document's IED), the interfaces' addresses (an empty field is 0.0.0.0), the AP title, the AE
// qualifier (12 when it is not a number) and the selectors. Throws SettingsInputError, before
// anything changes, for an address that is not four numbers 0..255, and ModelError for an IED
// name with other characters than letters, digits, "_" and spaces.
void TakeServerFieldsForSave(TICDParser& parser, const ServerFieldTexts& texts);

// The time server text of the Server tab: four octets 0..255 ("192.168.001.010" in the tab's
// three-character fields, or plain dotted); all blank is 0 (no time server). Throws
// SettingsInputError naming the octet that is not one.
uint32_t ParseTimeServerText(std::string_view text);

// The write command's record: the server fields from `texts`, the blocks from the parser
// (datasets 0..31, report control blocks 0..7, GOOSE control blocks 0..1, network inputs 0..15).
// Throws SettingsInputError for a field that is not what it should be, for a member code of a
// written dataset that is not in the parser's data model (a code kept from a unit read) and for
// what CheckWriteSettings refuses, and ModelError when the parser has fewer blocks than the
// unit; nothing is sent in any of these cases.
Struct61850Settings BuildWriteSettings(const ServerFieldTexts& texts, const TICDParser& parser);

// Puts a record read from the unit into the parser: every dataset slot, report control block,
// GOOSE control block and network input. All or nothing: throws ModelError (the accessor's text)
// before changing anything when the parser has fewer blocks than the unit. Returns what the
// operator should know: member codes from the unit that are not in the parser's data model
// (they stay in their slots, shown as not in this data model).
std::vector<std::string> ApplyReadSettings(TICDParser& parser, const Struct61850Settings& settings);

// A field of the editor that cannot be sent as it stands; what() names it.
struct SettingsInputError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

} // namespace kt
