#include "iec61850/settings_transfer.h"

#include "iec61850/text_conversions.h"
#include "monitor/monitor_thread.h"
#include "monitor/register_codec.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>

namespace kt {

namespace {

using namespace std::chrono_literals;

// ---- the register layout ----------------------------------------------------------------------

constexpr int TimeServerRegister = 160; // 160..161, as polled
constexpr int ServerBlock = 200, ServerBlockCount = 60;
constexpr int IEDNameRegister = 200, TextRegisters = 32;
constexpr int KeepAliveRegister = 232;
constexpr int CheckUpperRegister = 234;
constexpr int APTitleRegister = 235, APTitleRegisters = 16;
constexpr int AEQualifierRegister = 251;
constexpr int PSELRegister = 252;
constexpr int SSELRegister = 254;
constexpr int TSELRegister = 255;
// Registers the monitor shows for the two interfaces: IP, mask, gateway of each.
constexpr int InterfaceRegisters[6] = {101, 103, 105, 110, 112, 114};

// A text block goes out in requests of at most this many registers.
constexpr int TextChunk = 27;
// The dataset clear goes out in requests of this many registers, 460..554.
constexpr int ClearChunk = 10;
constexpr int DataSetClearEnd = 554;
constexpr int MaxWindowMembers = 32;   // the read window holds 32 members (registers up to 409)
constexpr int FirstWrittenDataSet = 3; // slots 0..2 are the unit's own

// A window: the selector, the block read after it, where the written slot goes, and the
// command that applies it. Field offsets count from the selector and are the same in the read
// and the write window.
struct Window {
    Settings61850Part part;
    int readSelector;
    int readCount;
    int writeSelector;
    int applyCommand;
    int slots;
    int errorPosition;
};

constexpr Window RCBWindow{Settings61850Part::RCB, 260, 50, 410, 11, UnitRCBs, ReadRCBFailed};
constexpr Window DataSetWindow{Settings61850Part::DataSet, 310, 100, 460, 12, DataSetSlots,
                               ReadDataSetFailed};
constexpr Window GCBWindow{Settings61850Part::GCB, 580, 50, 680, 13, UnitGCBs, ReadGCBFailed};
constexpr Window NIWindow{Settings61850Part::NI, 630, 100, 730, 14, UnitNIs, ReadNIFailed};

namespace rcb {
constexpr int DataSetIndex = 1, RptID = 2, ConfRev = 35, BufTime = 37, IntgPd = 39, OptFields = 41,
              TrgOps = 42;
}
namespace ds {
constexpr int Name = 1, LDIndex = 34, Count = 35, Members = 36;
}
namespace gcb {
constexpr int DstMAC = 1, AppID = 4, GoID = 5, VLANPriority = 38, VLANID = 39, Enabled = 40, Interface = 41,
              Test = 42;
}
namespace ni {
constexpr int DstMAC = 1, AppID = 4, GoID = 5, GoIDWritten = 33, ConfRev = 38, DataIndex = 40, BitIndex = 41,
              Enabled = 42, Inverted = 43;
}

constexpr std::chrono::milliseconds SelectorSettle = 10ms;

// ---- reading ----------------------------------------------------------------------------------

// A number field: the register's text by its value type, read back as a 64-bit number.
int64_t number(const UnitLink& link, int reg, int type) {
    return StrToInt64Def(link.registerText(reg, type), 0);
}

std::string text64(const UnitLink& link, int reg) {
    return link.registerText(reg, ValueType::Text64);
}

class Reader {
public:
    Reader(UnitLink& link, Read61850Result& r) : link_(link), r_(r) {}

    void step() {
        ++r_.steps;
        link_.progress(std::min(r_.steps, ReadProgressSteps), ReadProgressSteps, ReadProgressCaption);
    }

    // False when the read must end here (r_ says why).
    bool readBlock(SettingsPlace place, int errorPosition, int start, int count) {
        if (!proceed(place, errorPosition)) return false;
        LinkResult l = link_.readBlock(start, count);
        if (!l) return fail(place, errorPosition, {TransferWhat::Read, start, count}, std::move(l));
        return true;
    }

    // The selector, the unit's moment to fill the window, and the window.
    bool readWindow(const Window& w, int slot) {
        const SettingsPlace place{w.part, slot};
        if (!proceed(place, w.errorPosition)) return false;
        const uint16_t selector = static_cast<uint16_t>(slot);
        // A window whose selector did not reach the unit shows another slot: that is a failure
        // of the window, not data.
        LinkResult l = link_.writeRegisters(w.readSelector, 1, &selector);
        if (!l) return fail(place, w.errorPosition, {TransferWhat::Write, w.readSelector, 1}, std::move(l));
        if (!link_.pause(SelectorSettle)) return cancel(place, w.errorPosition);
        return readBlock(place, w.errorPosition, w.readSelector, w.readCount);
    }

    bool refuse(SettingsPlace place, int errorPosition, const Window& w, std::string problem) {
        r_.errorPosition = errorPosition;
        r_.link = LinkResult::failure(LinkStatus::Damaged, problem);
        r_.failure = {place, {TransferWhat::Read, w.readSelector, w.readCount}, r_.link};
        r_.problem = std::move(problem);
        return false;
    }

private:
    bool proceed(SettingsPlace place, int errorPosition) {
        if (link_.cancelled()) return cancel(place, errorPosition);
        return true;
    }
    bool cancel(SettingsPlace place, int errorPosition) {
        r_.cancelled = true;
        r_.errorPosition = errorPosition;
        r_.link = LinkResult::failure(LinkStatus::Cancelled);
        r_.failure = {place, {}, r_.link};
        return false;
    }
    bool fail(SettingsPlace place, int errorPosition, TransferWhat what, LinkResult l) {
        if (l.status == LinkStatus::Aborted || l.status == LinkStatus::Cancelled) r_.cancelled = true;
        r_.errorPosition = errorPosition;
        r_.link = l;
        r_.failure = {place, what, std::move(l)};
        return false;
    }

    UnitLink& link_;
    Read61850Result& r_;
};

void readRCB(const UnitLink& link, int slot, TRCBConfig& b) {
    const int base = RCBWindow.readSelector;
    b.DataSetIndex = static_cast<uint8_t>(number(link, base + rcb::DataSetIndex, ValueType::Unsigned16));
    b.RptID = text64(link, base + rcb::RptID);
    b.ConfRev = static_cast<uint32_t>(number(link, base + rcb::ConfRev, ValueType::Signed32Padded));
    b.BufTime = static_cast<uint32_t>(number(link, base + rcb::BufTime, ValueType::Signed32Padded));
    b.IntgPd = static_cast<uint32_t>(number(link, base + rcb::IntgPd, ValueType::Signed32Padded));
    b.OptFields = static_cast<uint16_t>(number(link, base + rcb::OptFields, ValueType::Unsigned16));
    b.TrgOps = static_cast<uint16_t>(number(link, base + rcb::TrgOps, ValueType::Unsigned16));
    char name[16];
    if (slot < 4)
        std::snprintf(name, sizeof name, "brcb0%d", slot + 1);
    else
        std::snprintf(name, sizeof name, "urcb0%d", slot - 3);
    b.Name = name;
}

void readGCB(const UnitLink& link, int slot, TGCBConfig& b) {
    const int base = GCBWindow.readSelector;
    b.DstMAC = static_cast<uint64_t>(number(link, base + gcb::DstMAC, ValueType::Unsigned48));
    b.AppID = static_cast<uint16_t>(number(link, base + gcb::AppID, ValueType::Unsigned16));
    b.GoID = text64(link, base + gcb::GoID);
    b.VLANPriority = static_cast<uint8_t>(number(link, base + gcb::VLANPriority, ValueType::Unsigned16));
    b.VLANID = static_cast<uint16_t>(number(link, base + gcb::VLANID, ValueType::Unsigned16));
    b.Enabled = number(link, base + gcb::Enabled, ValueType::Unsigned16) != 0;
    b.Interface = static_cast<uint8_t>(number(link, base + gcb::Interface, ValueType::Unsigned16));
    b.Test = number(link, base + gcb::Test, ValueType::Unsigned16) != 0;
    b.Name = "gcb" + std::to_string(slot + 1);
}

void readNI(const UnitLink& link, int slot, TNIConfig& n) {
    const int base = NIWindow.readSelector;
    n.DstMAC = static_cast<uint64_t>(number(link, base + ni::DstMAC, ValueType::Unsigned48));
    n.AppID = static_cast<uint16_t>(number(link, base + ni::AppID, ValueType::Unsigned16));
    n.GoID = text64(link, base + ni::GoID);
    n.ConfRev = static_cast<uint32_t>(number(link, base + ni::ConfRev, ValueType::Signed32Padded));
    n.DataIndex = static_cast<uint16_t>(number(link, base + ni::DataIndex, ValueType::Unsigned16));
    n.BitIndex = static_cast<uint16_t>(number(link, base + ni::BitIndex, ValueType::Unsigned16));
    n.Enabled = number(link, base + ni::Enabled, ValueType::Unsigned16) != 0;
    n.Inverted = number(link, base + ni::Inverted, ValueType::Unsigned16) != 0;
    n.Name = "NI" + std::to_string(slot + 1);
}

// ---- writing ----------------------------------------------------------------------------------

std::vector<uint16_t> words32(uint32_t v) {
    auto w = encode32(v);
    return {w[0], w[1]};
}

// Low, middle and high 16 bits of the 48-bit address, in register order.
std::vector<uint16_t> macWords(uint64_t mac) {
    return {static_cast<uint16_t>(mac & 0xFFFF), static_cast<uint16_t>((mac >> 16) & 0xFFFF),
            static_cast<uint16_t>((mac >> 32) & 0xFFFF)};
}

class Writer {
public:
    Writer(UnitLink& link, Write61850Result& r) : link_(link), r_(r) {}

    bool stopped() const { return r_.cancelled; }

    // A group of requests that stands or falls together: a slot (applied by its command only
    // when all of it went through), or one server field.
    void begin(SettingsPlace place) {
        place_ = place;
        groupFailed_ = false;
    }
    bool groupFailed() const { return groupFailed_; }

    LinkResult write(int start, const std::vector<uint16_t>& words) {
        if (!proceed()) return LinkResult::failure(LinkStatus::Cancelled);
        LinkResult l = link_.writeRegisters(start, static_cast<int>(words.size()), words.data());
        note({TransferWhat::Write, start, static_cast<int>(words.size())}, l);
        return l;
    }

    // A text in `registers` registers, in requests of at most 27.
    void writeText(int start, const std::string& text, int registers) {
        std::vector<uint16_t> words = encodeText(text, registers);
        for (int done = 0; done < registers && proceed(); done += TextChunk) {
            int n = std::min(TextChunk, registers - done);
            write(start + done, std::vector<uint16_t>(words.begin() + done, words.begin() + done + n));
        }
    }

    void command(int n) {
        if (!proceed()) return;
        LinkResult l = link_.command(n);
        note({TransferWhat::Command, n, 0}, l);
    }

    // Ends a slot: applied when all of it went through, else listed as not applied.
    void apply(int command) {
        if (stopped()) return;
        if (groupFailed_) {
            r_.slotsNotApplied.push_back(place_);
            return;
        }
        this->command(command);
    }

    void step() {
        if (stopped()) return;
        ++r_.steps;
        link_.progress(std::min(r_.steps, WriteProgressSteps), WriteProgressSteps, WriteProgressCaption);
    }

private:
    // Whether the next request of the group goes out: not after a failure in the group, and
    // not once the request was cancelled.
    bool proceed() {
        if (r_.cancelled) return false;
        if (link_.cancelled()) {
            r_.cancelled = true;
            r_.stoppedAt = place_;
            return false;
        }
        return !groupFailed_;
    }
    void note(const TransferWhat& what, const LinkResult& l) {
        if (l) return;
        r_.failures.push_back({place_, what, l});
        groupFailed_ = true;
        // The connection is closing: nothing further can go through.
        if (l.status == LinkStatus::Aborted || l.status == LinkStatus::Cancelled) {
            r_.cancelled = true;
            r_.stoppedAt = place_;
        }
    }

    UnitLink& link_;
    Write61850Result& r_;
    SettingsPlace place_;
    bool groupFailed_ = false;
};

void writeSelector(Writer& w, const Window& window, int slot) {
    w.write(window.writeSelector, {static_cast<uint16_t>(slot)});
}

// ---- checks -----------------------------------------------------------------------------------

size_t characters(std::string_view utf8) {
    size_t n = 0;
    for (char c : utf8)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
    return n;
}

// The unit keeps single-byte characters: code points up to U+00FF.
bool singleByte(std::string_view utf8) {
    for (size_t i = 0; i < utf8.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0xC4 && (c & 0xC0) == 0xC0) return false; // a lead byte of U+0100 or above
    }
    return true;
}

std::string quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

void checkText(std::vector<std::string>& problems, const std::string& what, const std::string& text,
               size_t max) {
    if (characters(text) > max)
        problems.push_back(what + " " + quoted(text) + " is longer than the " + std::to_string(max) +
                           " characters the unit keeps");
    else if (!singleByte(text))
        problems.push_back(what + " " + quoted(text) + " holds characters the unit cannot store");
}

std::string placeText(SettingsPlace place) {
    std::string text(settingsPartName(place.part));
    if (place.slot >= 0) text += " " + std::to_string(place.slot + 1);
    return text;
}

} // namespace

std::string_view settingsPartName(Settings61850Part part) {
    switch (part) {
    case Settings61850Part::Server:
        return "server settings";
    case Settings61850Part::RCB:
        return "report control block";
    case Settings61850Part::DataSet:
        return "data set";
    case Settings61850Part::GCB:
        return "GOOSE control block";
    case Settings61850Part::NI:
        return "network input";
    }
    return {};
}

Read61850Result ReadSettings61850(UnitLink& link, Struct61850Settings& s) {
    Read61850Result r;
    Reader reader(link, r);
    link.progress(0, ReadProgressSteps, ReadProgressCaption);

    // The interfaces and the time server as the monitor shows them from its last pass.
    PassSnapshotPtr pass = link.lastPass();
    std::string* interfaces[6] = {&s.IP1, &s.Mask1, &s.Gateway1, &s.IP2, &s.Mask2, &s.Gateway2};
    for (int i = 0; i < 6; ++i) {
        const int reg = InterfaceRegisters[i];
        std::string shown = pass ? pass->value(reg).value : std::string();
        *interfaces[i] = shown.empty() ? link.registerText(reg, ValueType::IpAddress) : shown;
    }
    s.TimeServerIPText = pass ? pass->registerText(TimeServerRegister, ValueType::IpAddress)
                              : link.registerText(TimeServerRegister, ValueType::IpAddress);

    if (!reader.readBlock({Settings61850Part::Server, -1}, ReadServerFailed, ServerBlock, ServerBlockCount))
        return r;
    reader.step();
    s.IEDName = text64(link, IEDNameRegister);
    s.KeepAlive = static_cast<uint32_t>(number(link, KeepAliveRegister, ValueType::Signed32Padded));
    s.CheckUpperAddresses = static_cast<int32_t>(number(link, CheckUpperRegister, ValueType::Unsigned16));
    s.APTitle = link.registerText(APTitleRegister, ValueType::Text32);
    s.AEQualifier = static_cast<int32_t>(number(link, AEQualifierRegister, ValueType::Unsigned16));
    s.PSEL = static_cast<uint32_t>(number(link, PSELRegister, ValueType::Signed32Padded));
    s.SSEL = static_cast<int32_t>(number(link, SSELRegister, ValueType::Unsigned16));
    s.TSEL = static_cast<int32_t>(number(link, TSELRegister, ValueType::Unsigned16));
    s.RCBCount = UnitRCBs;

    for (int slot = 0; slot < UnitRCBs; ++slot) {
        if (!reader.readWindow(RCBWindow, slot)) return r;
        reader.step();
        readRCB(link, slot, s.RCB[slot]);
        reader.step();
    }
    for (int slot = 0; slot < DataSetSlots; ++slot) {
        TDatasetConfig& d = s.DataSet[slot];
        d.Fixed = slot < FirstWrittenDataSet;
        if (!reader.readWindow(DataSetWindow, slot)) return r;
        reader.step();
        const int base = DataSetWindow.readSelector;
        d.Name = text64(link, base + ds::Name);
        d.LDIndex = static_cast<uint16_t>(number(link, base + ds::LDIndex, ValueType::Unsigned16));
        const int64_t count = number(link, base + ds::Count, ValueType::Unsigned16);
        // Members past the window would be read from the registers after it: not the unit's data.
        if (count > MaxWindowMembers) {
            reader.refuse({Settings61850Part::DataSet, slot}, ReadDataSetFailed, DataSetWindow,
                          "data set " + std::to_string(slot + 1) + " reports " + std::to_string(count) +
                              " members; its window holds " + std::to_string(MaxWindowMembers));
            return r;
        }
        d.Count = static_cast<uint16_t>(count);
        d.Members.resize(d.Count);
        for (int m = 0; m < d.Count; ++m)
            d.Members[m] =
                static_cast<uint32_t>(number(link, base + ds::Members + 2 * m, ValueType::Signed32Padded));
    }
    for (int slot = 0; slot < UnitGCBs; ++slot) {
        if (!reader.readWindow(GCBWindow, slot)) return r;
        reader.step();
        readGCB(link, slot, s.GCB[slot]);
    }
    for (int slot = 0; slot < UnitNIs; ++slot) {
        if (!reader.readWindow(NIWindow, slot)) return r;
        reader.step();
        readNI(link, slot, s.NI[slot]);
    }
    r.link = LinkResult::done();
    return r;
}

std::vector<std::string> CheckWriteSettings(const Struct61850Settings& s) {
    std::vector<std::string> problems;
    checkText(problems, "The IED name", s.IEDName, 2 * TextRegisters);
    checkText(problems, "The AP title", s.APTitle, 2 * APTitleRegisters);
    auto range = [&](const std::string& what, int64_t v, int64_t max) {
        if (v < 0 || v > max)
            problems.push_back(what + " " + std::to_string(v) + " is outside 0.." + std::to_string(max));
    };
    range("The AE qualifier", s.AEQualifier, UINT16_MAX);
    range("The session selector", s.SSEL, UINT16_MAX);
    range("The transport selector", s.TSEL, UINT16_MAX);
    range("Check upper addresses", s.CheckUpperAddresses, 1);
    for (int i = 0; i < UnitRCBs; ++i) {
        const TRCBConfig& b = s.RCB[i];
        const std::string what = "Report control block " + std::to_string(i + 1);
        checkText(problems, "The report ID of " + b.Name, b.RptID, 2 * TextRegisters);
        range(what + ": the data set", b.DataSetIndex, DataSetSlots);
    }
    for (int i = FirstWrittenDataSet; i < DataSetSlots; ++i) {
        const TDatasetConfig& d = s.DataSet[i];
        if (d.Count == 0) continue;
        const std::string what = "Data set " + std::to_string(i + 1) + " (" + d.Name + ")";
        checkText(problems, "The name of data set " + std::to_string(i + 1), d.Name, 2 * TextRegisters);
        if (d.Members.size() != d.Count)
            problems.push_back(what + " counts " + std::to_string(d.Count) + " members but holds " +
                               std::to_string(d.Members.size()));
        else if (d.Count > MaxWindowMembers)
            problems.push_back(what + " has " + std::to_string(d.Count) + " members; the unit holds " +
                               std::to_string(MaxWindowMembers));
    }
    for (int i = 0; i < UnitGCBs; ++i) {
        const TGCBConfig& b = s.GCB[i];
        const std::string what = "GOOSE control block " + std::to_string(i + 1);
        checkText(problems, "The GOOSE ID of " + what, b.GoID, 2 * TextRegisters);
        if (b.DstMAC >> 48) problems.push_back(what + ": the MAC address is longer than 48 bits");
    }
    for (int i = 0; i < UnitNIs; ++i) {
        const TNIConfig& n = s.NI[i];
        const std::string what = "network input " + std::to_string(i + 1);
        checkText(problems, "The GOOSE ID of " + what, n.GoID, 2 * TextRegisters);
        if (n.DstMAC >> 48)
            problems.push_back("Network input " + std::to_string(i + 1) +
                               ": the MAC address is longer than 48 bits");
    }
    return problems;
}

Write61850Result WriteSettings61850(UnitLink& link, const Struct61850Settings& s) {
    Write61850Result r;
    r.refused = CheckWriteSettings(s);
    if (!r.refused.empty()) { // nothing is sent
        r.link = LinkResult::failure(LinkStatus::Refused, r.refused.front());
        return r;
    }
    Writer w(link, r);
    link.progress(0, WriteProgressSteps, WriteProgressCaption);

    // 1. The server fields, each on its own.
    const SettingsPlace server{Settings61850Part::Server, -1};
    auto field = [&](int start, const std::vector<uint16_t>& words) {
        w.begin(server);
        w.write(start, words);
    };
    field(TimeServerRegister, words32(s.TimeServerIP));
    w.begin(server);
    w.writeText(IEDNameRegister, s.IEDName, TextRegisters);
    field(KeepAliveRegister, words32(s.KeepAlive));
    field(CheckUpperRegister, {static_cast<uint16_t>(s.CheckUpperAddresses)});
    field(APTitleRegister, encodeText(s.APTitle, APTitleRegisters));
    field(AEQualifierRegister, {static_cast<uint16_t>(s.AEQualifier)});
    field(PSELRegister, words32(s.PSEL));
    field(SSELRegister, {static_cast<uint16_t>(s.SSEL)});
    field(TSELRegister, {static_cast<uint16_t>(s.TSEL)});
    w.step();

    // 2. Report control blocks.
    for (int slot = 0; slot < UnitRCBs && !w.stopped(); ++slot) {
        const TRCBConfig& b = s.RCB[slot];
        const int base = RCBWindow.writeSelector;
        w.begin({Settings61850Part::RCB, slot});
        writeSelector(w, RCBWindow, slot);
        w.write(base + rcb::DataSetIndex, {b.DataSetIndex});
        w.writeText(base + rcb::RptID, b.RptID, TextRegisters);
        w.write(base + rcb::ConfRev, words32(b.ConfRev));
        w.write(base + rcb::BufTime, words32(b.BufTime));
        w.write(base + rcb::IntgPd, words32(b.IntgPd));
        w.write(base + rcb::OptFields, {b.OptFields});
        w.write(base + rcb::TrgOps, {b.TrgOps});
        w.apply(RCBWindow.applyCommand);
        w.step();
    }
    w.step();

    // 3. Datasets from slot 3: a used slot as it is, a free one cleared.
    for (int slot = FirstWrittenDataSet; slot < DataSetSlots && !w.stopped(); ++slot) {
        const TDatasetConfig& d = s.DataSet[slot];
        const int base = DataSetWindow.writeSelector;
        w.begin({Settings61850Part::DataSet, slot});
        if (d.Count > 0) {
            writeSelector(w, DataSetWindow, slot);
            w.writeText(base + ds::Name, d.Name, TextRegisters);
            w.write(base + ds::LDIndex, {d.LDIndex});
            w.write(base + ds::Count, {d.Count});
            for (int m = 0; m < d.Count; ++m) w.write(base + ds::Members + 2 * m, words32(d.Members[m]));
        } else {
            std::vector<uint16_t> clear(DataSetClearEnd - base + 1, 0);
            clear[0] = static_cast<uint16_t>(slot);
            for (int at = 0; at < static_cast<int>(clear.size()) && !w.groupFailed() && !w.stopped();
                 at += ClearChunk) {
                const int n = std::min(ClearChunk, static_cast<int>(clear.size()) - at);
                w.write(base + at, std::vector<uint16_t>(clear.begin() + at, clear.begin() + at + n));
            }
        }
        w.apply(DataSetWindow.applyCommand);
        w.step();
    }
    w.step();

    // 4. GOOSE control blocks.
    for (int slot = 0; slot < UnitGCBs && !w.stopped(); ++slot) {
        const TGCBConfig& b = s.GCB[slot];
        const int base = GCBWindow.writeSelector;
        w.begin({Settings61850Part::GCB, slot});
        writeSelector(w, GCBWindow, slot);
        w.write(base + gcb::DstMAC, macWords(b.DstMAC));
        w.write(base + gcb::AppID, {b.AppID});
        w.writeText(base + gcb::GoID, b.GoID, TextRegisters);
        w.write(base + gcb::VLANPriority, {b.VLANPriority});
        w.write(base + gcb::VLANID, {b.VLANID});
        w.write(base + gcb::Enabled, {static_cast<uint16_t>(b.Enabled)});
        w.write(base + gcb::Interface, {b.Interface});
        w.write(base + gcb::Test, {static_cast<uint16_t>(b.Test)});
        w.apply(GCBWindow.applyCommand);
        w.step();
    }
    w.step();

    // 5. Network inputs; the last write (773 of input 16) is the sequence's result.
    for (int slot = 0; slot < UnitNIs && !w.stopped(); ++slot) {
        const TNIConfig& n = s.NI[slot];
        const int base = NIWindow.writeSelector;
        w.begin({Settings61850Part::NI, slot});
        writeSelector(w, NIWindow, slot);
        w.write(base + ni::DstMAC, macWords(n.DstMAC));
        w.write(base + ni::AppID, {n.AppID});
        w.writeText(base + ni::GoID, n.GoID, ni::GoIDWritten);
        w.write(base + ni::ConfRev, words32(n.ConfRev));
        w.write(base + ni::DataIndex, {n.DataIndex});
        w.write(base + ni::BitIndex, {n.BitIndex});
        w.write(base + ni::Enabled, {static_cast<uint16_t>(n.Enabled)});
        LinkResult last = w.write(base + ni::Inverted, {static_cast<uint16_t>(n.Inverted)});
        if (slot == UnitNIs - 1) r.lastWriteOk = last.ok();
        w.apply(NIWindow.applyCommand);
        w.step();
    }
    w.step();
    if (!r.failures.empty())
        r.link = r.failures.front().link;
    else if (r.cancelled)
        r.link = LinkResult::failure(LinkStatus::Cancelled);
    else
        r.link = LinkResult::done();
    return r;
}

std::string describe(const Read61850Result& r, std::string_view where, int unit) {
    if (r.ok()) return "Read the IEC 61850 settings from KT-740";
    // The sequence did not run: the request was cancelled before its turn, or its work failed
    // outside the link (the words are in the detail).
    if (r.steps == 0 && r.errorPosition == ReadOk) {
        if (r.link.status == LinkStatus::Cancelled)
            return "Reading the settings from KT-740 was cancelled: the connection ended before it ran";
        return "Couldn't read settings from KT-740: " +
               (r.link.detail.empty() ? std::string(linkStatusName(r.link.status)) : r.link.detail);
    }
    std::string text;
    if (r.cancelled) {
        text = "Reading the settings from KT-740 was cancelled at the " + placeText(r.failure.place) +
               " (step " + std::to_string(r.steps) + " of " + std::to_string(ReadProgressSteps) + ")";
        if (r.failure.link.status == LinkStatus::Aborted)
            text += ": " + describeLinkResult(r.failure.link, unit, where, r.failure.what);
        return text;
    }
    text = "Couldn't read settings from KT-740: Error Position " + std::to_string(r.errorPosition) + "\n" +
           placeText(r.failure.place) + ": ";
    if (!r.problem.empty())
        text += r.problem;
    else
        text += describeLinkResult(r.failure.link, unit, where, r.failure.what);
    return text;
}

std::string describe(const Write61850Result& r, std::string_view where, int unit) {
    if (!r.refused.empty()) {
        std::string text = "Nothing was written to KT-740:";
        for (const std::string& p : r.refused) text += "\n" + p;
        return text;
    }
    if (r.ok()) return "Wrote the IEC 61850 settings to KT-740";
    if (r.steps == 0 && r.failures.empty() && !r.cancelled) {
        if (r.link.status == LinkStatus::Cancelled)
            return "Writing the settings to KT-740 was cancelled: the connection ended before it ran";
        return "Nothing was written to KT-740: " +
               (r.link.detail.empty() ? std::string(linkStatusName(r.link.status)) : r.link.detail);
    }
    std::string text;
    if (r.cancelled)
        text = "Writing to KT-740 was stopped at the " + placeText(r.stoppedAt) +
               "; what came before it was written";
    else
        text = "Writing to KT-740 finished with " + std::to_string(r.failures.size()) + " failed request" +
               (r.failures.size() == 1 ? "" : "s");
    for (const SettingsRequestFailure& f : r.failures)
        text += "\n" + placeText(f.place) + ": " + describeLinkResult(f.link, unit, where, f.what);
    if (!r.slotsNotApplied.empty()) {
        text += "\nNot applied:";
        for (size_t i = 0; i < r.slotsNotApplied.size(); ++i)
            text += std::string(i ? "," : "") + " " + placeText(r.slotsNotApplied[i]);
    }
    return text;
}

// ---- the transfers as requests of a connection -------------------------------------------------

RequestId submitRead61850(Monitor_Thread& engine, std::function<void(Settings61850Read)> done,
                          std::function<void(const RequestProgress&)> progress) {
    return engine.submit<Settings61850Read>(
        "IEC 61850 read",
        [](UnitLink& unit) {
            Settings61850Read r;
            r.read = ReadSettings61850(unit, r.settings);
            r.link = r.read.link;
            return r;
        },
        [done = std::move(done)](Settings61850Read r) {
            // A request that never ran, or whose work failed outside the link, says so in `link`.
            if (r.read.steps == 0 && r.read.errorPosition == ReadOk) r.read.link = r.link;
            if (done) done(std::move(r));
        },
        std::move(progress));
}

RequestId submitWrite61850(Monitor_Thread& engine, Struct61850Settings settings,
                           std::function<void(Write61850Result)> done,
                           std::function<void(const RequestProgress&)> progress) {
    return engine.submit<Write61850Result>(
        "IEC 61850 write",
        [settings = std::move(settings)](UnitLink& unit) { return WriteSettings61850(unit, settings); },
        std::move(done), std::move(progress));
}

// ---- the pieces around the transfer -----------------------------------------------------------

ServerFieldTexts ServerFieldTextsFromParser(const TICDParser& p) {
    ServerFieldTexts t;
    t.timeServer = IPToText(p.TimeServerIP);
    t.iedName = p.IEDName();
    t.keepAlive = "0";
    t.apTitle = p.AddressOpts.APTitle;
    t.aeQualifier = std::to_string(p.AddressOpts.AEQualifier);
    t.psel = ToHex(p.AddressOpts.PSEL, 8);
    t.ssel = ToHex(p.AddressOpts.SSEL, 4);
    t.tsel = ToHex(p.AddressOpts.TSEL, 4);
    for (int i = 0; i < Interfaces; ++i) {
        t.ip[i] = IPToText(p.GetIPAddress(i));
        t.mask[i] = IPToText(p.GetIPMask(i));
        t.gateway[i] = IPToText(p.GetGateway(i));
    }
    return t;
}

ServerFieldTexts ServerFieldTextsFromSettings(const Struct61850Settings& st) {
    ServerFieldTexts t;
    t.timeServer = st.TimeServerIPText;
    t.iedName = st.IEDName;
    t.keepAlive = std::to_string(st.KeepAlive);
    t.apTitle = st.APTitle;
    t.aeQualifier = std::to_string(static_cast<uint32_t>(st.AEQualifier));
    t.psel = ToHex(st.PSEL, 8);
    t.ssel = ToHex(static_cast<uint32_t>(st.SSEL), 4);
    t.tsel = ToHex(static_cast<uint32_t>(st.TSEL), 4);
    t.checkUpperAddresses = st.CheckUpperAddresses != 0;
    t.ip = {st.IP1, st.IP2};
    t.mask = {st.Mask1, st.Mask2};
    t.gateway = {st.Gateway1, st.Gateway2};
    return t;
}

void TakeServerFieldsForSave(TICDParser& p, const ServerFieldTexts& t) {
    // Every address is checked before the model changes: an address that does not fit is never
    // wrapped into another one.
    auto address = [](const std::string& text, const char* what, int i) -> uint32_t {
        std::string_view v = text;
        while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
        while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
        if (v.empty()) return 0;
        if (auto ip = ParseIPv4(v)) return *ip;
        throw SettingsInputError(std::string(what) + " of interface " + std::to_string(i + 1) + ", " +
                                 quoted(text) + ", is not four numbers from 0 to 255");
    };
    std::array<uint32_t, Interfaces> ip{}, mask{}, gateway{};
    for (int i = 0; i < Interfaces; ++i) {
        ip[i] = address(t.ip[i], "The IP address", i);
        mask[i] = address(t.mask[i], "The subnet mask", i);
        gateway[i] = address(t.gateway[i], "The gateway", i);
    }
    p.SetIEDName(t.iedName);
    for (int i = 0; i < Interfaces; ++i) {
        p.SetIPAddress(i, ip[i]);
        p.SetGateway(i, gateway[i]);
        p.SetIPMask(i, mask[i]);
    }
    p.AddressOpts.APTitle = t.apTitle;
    p.AddressOpts.AEQualifier =
        static_cast<int32_t>(ParseDecimalIn(t.aeQualifier, INT32_MIN, INT32_MAX).value_or(12));
    p.AddressOpts.PSEL = static_cast<uint32_t>(HexToInt(t.psel));
    p.AddressOpts.SSEL = static_cast<uint16_t>(HexToInt(t.ssel));
    p.AddressOpts.TSEL = static_cast<uint16_t>(HexToInt(t.tsel));
}

uint32_t ParseTimeServerText(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    if (std::all_of(text.begin(), text.end(), [&](char c) { return blank(c) || c == '.'; })) return 0;
    const std::string shown = quoted(text);
    auto parts = SplitText(text, '.');
    if (parts.size() != 4)
        throw SettingsInputError("The time server address " + shown +
                                 " is not four numbers separated by points");
    uint32_t ip = 0;
    for (size_t i = 0; i < 4; ++i) {
        std::string_view part = parts[i];
        while (!part.empty() && blank(part.front())) part.remove_prefix(1);
        while (!part.empty() && blank(part.back())) part.remove_suffix(1);
        const std::string which = "octet " + std::to_string(i + 1);
        if (part.empty()) throw SettingsInputError("The time server address " + shown + " has no " + which);
        if (part.size() > 3 || part.find_first_not_of("0123456789") != std::string_view::npos)
            throw SettingsInputError("The time server address " + shown + ": " + which + ", " + quoted(part) +
                                     ", is not a number");
        int v = std::stoi(std::string(part));
        if (v > 255)
            throw SettingsInputError("The time server address " + shown + ": " + which + ", " +
                                     std::to_string(v) + ", is above 255");
        ip = (ip << 8) | static_cast<uint32_t>(v);
    }
    return ip;
}

Struct61850Settings BuildWriteSettings(const ServerFieldTexts& t, const TICDParser& p) {
    Struct61850Settings s;
    s.TimeServerIP = ParseTimeServerText(t.timeServer);
    for (char c : t.iedName) {
        bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
        if (!allowed)
            throw SettingsInputError("The IED name " + quoted(t.iedName) +
                                     " may hold letters, digits and \"_\" only");
    }
    if (t.iedName.size() > 2 * TextRegisters)
        throw SettingsInputError("The IED name " + quoted(t.iedName) + " is longer than 64 characters");
    s.IEDName = t.iedName;
    auto decimal = [](const std::string& text, int64_t max, const char* what) {
        auto v = ParseDecimalIn(text, 0, max);
        if (!v)
            throw SettingsInputError(std::string(what) + " " + quoted(text) +
                                     " is not a whole number from 0 to " + std::to_string(max));
        return *v;
    };
    s.KeepAlive = static_cast<uint32_t>(decimal(t.keepAlive, UINT32_MAX, "Keep Alive"));
    s.AEQualifier = static_cast<int32_t>(decimal(t.aeQualifier, UINT16_MAX, "AE Qualifier"));
    if (t.apTitle.find_first_not_of("0123456789.") != std::string::npos ||
        t.apTitle.size() > 2 * APTitleRegisters)
        throw SettingsInputError("The AP ID " + quoted(t.apTitle) +
                                 " must be numbers separated by points, 32 characters at most");
    s.APTitle = t.apTitle;
    auto hex = [](const std::string& text, uint64_t max, int digits, const char* what) -> uint64_t {
        if (text.find_first_not_of(' ') == std::string::npos) return 0; // an empty field is 0
        auto v = ParseHexValue(text, max);
        if (!v)
            throw SettingsInputError(std::string(what) + " " + quoted(text) +
                                     " is not a hexadecimal number of at most " + std::to_string(digits) +
                                     " digits");
        return *v;
    };
    s.PSEL = static_cast<uint32_t>(hex(t.psel, UINT32_MAX, 8, "Presentation Selector"));
    s.SSEL = static_cast<int32_t>(hex(t.ssel, UINT16_MAX, 4, "Session Selector"));
    s.TSEL = static_cast<int32_t>(hex(t.tsel, UINT16_MAX, 4, "Transport Selector"));
    s.CheckUpperAddresses = t.checkUpperAddresses ? 1 : 0;

    for (int i = 0; i < DataSetSlots; ++i) s.DataSet[i] = p.GetDataSet(i);
    for (int j = 0; j < UnitRCBs; ++j) s.RCB[j] = p.GetRCB(j);
    for (int k = 0; k < UnitGCBs; ++k) s.GCB[k] = p.GetGCB(k);
    for (int l = 0; l < UnitNIs; ++l) s.NI[l] = p.GetNI(l);
    s.RCBCount = UnitRCBs;
    // A code goes to the unit only when it stands for an object of this model; codes kept from
    // a unit with another model are the operator's to resolve first.
    std::vector<std::string> foreign;
    for (int i = FirstWrittenDataSet; i < DataSetSlots; ++i) {
        const TDatasetConfig& d = s.DataSet[i];
        for (size_t m = 0; m < d.Members.size() && m < d.Count; ++m)
            if (p.MemberText(d.Members[m]).empty())
                foreign.push_back("data set " + std::to_string(i + 1) + " member " + std::to_string(m + 1) +
                                  " (code 0x" + ToHex(d.Members[m], 8) + ")");
    }
    if (!foreign.empty()) {
        std::string list;
        for (const std::string& f : foreign) list += (list.empty() ? "" : ", ") + f;
        throw SettingsInputError(std::to_string(foreign.size()) + " data set member" +
                                 (foreign.size() == 1 ? " is" : "s are") +
                                 " not in this data model: " + list);
    }
    if (auto problems = CheckWriteSettings(s); !problems.empty()) throw SettingsInputError(problems.front());
    return s;
}

std::vector<std::string> ApplyReadSettings(TICDParser& p, const Struct61850Settings& s) {
    // All or nothing: the counts are checked before the first block is stored.
    if (p.RCBCount() < UnitRCBs) throw ModelError("RCB index out of range");
    if (p.GCBCount() < UnitGCBs) throw ModelError("GCB index out of range");
    if (p.NICount() < UnitNIs) throw ModelError("NI index out of range");
    std::vector<std::string> notes;
    for (int i = 0; i < DataSetSlots; ++i) {
        const TDatasetConfig& d = s.DataSet[i];
        p.SetDataSet(i, d);
        for (size_t m = 0; m < d.Members.size() && m < d.Count; ++m)
            if (p.MemberText(d.Members[m]).empty())
                notes.push_back("Data set " + std::to_string(i + 1) + " (" + d.Name + "): member " +
                                std::to_string(m + 1) + ", code 0x" + ToHex(d.Members[m], 8) +
                                ", is not in this data model");
    }
    for (int j = 0; j < UnitRCBs; ++j) p.SetRCB(j, s.RCB[j]);
    for (int k = 0; k < UnitGCBs; ++k) p.SetGCB(k, s.GCB[k]);
    for (int l = 0; l < UnitNIs; ++l) p.SetNI(l, s.NI[l]);
    return notes;
}

} // namespace kt
