#include "sim/iec61850_windows.h"

#include "iec61850/icd_parser.h"
#include "monitor/register_codec.h"

#include <algorithm>

namespace kt::sim {

namespace {

enum WindowIndex : size_t { RCBs, DataSets, GCBs, NIs };

constexpr std::array<Iec61850Windows::Window, 4> Windows = {{
    {"report control block", 260, 410, 11, 42, 8},
    {"data set", 310, 460, 12, 99, 32},
    {"GOOSE control block", 580, 680, 13, 42, 2},
    {"network input", 630, 730, 14, 43, 16},
}};

// Offsets after the selector, the same in the read and the write window. The unit keeps
// numbers of two registers low word first, texts two characters a register (first in the high
// byte), MAC addresses as their low, middle and high 16 bits.
class SlotWords {
public:
    explicit SlotWords(std::vector<uint16_t>& words) : words_(words) {}
    void put(size_t offset, uint16_t v) { words_.at(offset - 1) = v; }
    void put32(size_t offset, uint32_t v) {
        put(offset, static_cast<uint16_t>(v & 0xFFFF));
        put(offset + 1, static_cast<uint16_t>(v >> 16));
    }
    void putMac(size_t offset, uint64_t mac) {
        for (size_t i = 0; i < 3; ++i) put(offset + i, static_cast<uint16_t>(mac >> (16 * i)));
    }
    void putText(size_t offset, const std::string& text, int registers) {
        std::vector<uint16_t> packed = encodeText(text, registers);
        for (size_t i = 0; i < packed.size(); ++i) put(offset + i, packed[i]);
    }

private:
    std::vector<uint16_t>& words_;
};

void putServer(RegisterMap::Words& w, const std::bitset<RegisterMap::Count>& held, size_t reg,
               const std::vector<uint16_t>& words) {
    for (size_t i = 0; i < words.size(); ++i)
        if (!held.test(reg + i)) w.set(reg + i, words[i]);
}

} // namespace

const std::array<Iec61850Windows::Window, 4>& Iec61850Windows::windows() {
    return Windows;
}

Iec61850Windows::Iec61850Windows() {
    for (size_t k = 0; k < Windows.size(); ++k)
        slots_[k].assign(Windows[k].slots, std::vector<uint16_t>(Windows[k].length, 0));
}

void Iec61850Windows::load(const TICDParser& model, RegisterMap::Words& w,
                           const std::bitset<RegisterMap::Count>& held) {
    putServer(w, held, 200, encodeText(model.IEDName(), 32));
    putServer(w, held, 232, {60, 0}); // keep-alive 60 s
    putServer(w, held, 234, {0});
    putServer(w, held, 235, encodeText(model.AddressOpts.APTitle, 16));
    putServer(w, held, 251, {static_cast<uint16_t>(model.AddressOpts.AEQualifier)});
    putServer(w, held, 252,
              {static_cast<uint16_t>(model.AddressOpts.PSEL & 0xFFFF),
               static_cast<uint16_t>(model.AddressOpts.PSEL >> 16)});
    putServer(w, held, 254, {model.AddressOpts.SSEL});
    putServer(w, held, 255, {model.AddressOpts.TSEL});

    for (int i = 0; i < model.RCBCount() && i < Windows[RCBs].slots; ++i) {
        TRCBConfig b = model.GetRCB(i);
        SlotWords s(slots_[RCBs][i]);
        s.put(1, b.DataSetIndex);
        s.putText(2, b.RptID, 32);
        s.put32(35, b.ConfRev);
        s.put32(37, b.BufTime);
        s.put32(39, b.IntgPd);
        s.put(41, b.OptFields);
        s.put(42, b.TrgOps);
    }
    for (int i = 0; i < DataSetSlots; ++i) {
        TDatasetConfig d = model.GetDataSet(i);
        if (d.Count == 0) continue;
        SlotWords s(slots_[DataSets][i]);
        s.putText(1, d.Name, 32);
        s.put(34, d.LDIndex);
        const size_t count = std::min<size_t>({d.Count, d.Members.size(), 32});
        s.put(35, static_cast<uint16_t>(count));
        for (size_t m = 0; m < count; ++m) s.put32(36 + 2 * m, d.Members[m]);
    }
    for (int i = 0; i < model.GCBCount() && i < Windows[GCBs].slots; ++i) {
        TGCBConfig b = model.GetGCB(i);
        SlotWords s(slots_[GCBs][i]);
        s.putMac(1, b.DstMAC);
        s.put(4, b.AppID);
        s.putText(5, b.GoID, 32);
        s.put(38, b.VLANPriority);
        s.put(39, b.VLANID);
        s.put(40, b.Enabled);
        s.put(41, b.Interface);
        s.put(42, b.Test);
    }
    for (int i = 0; i < model.NICount() && i < Windows[NIs].slots; ++i) {
        TNIConfig n = model.GetNI(i);
        SlotWords s(slots_[NIs][i]);
        s.putMac(1, n.DstMAC);
        s.put(4, n.AppID);
        s.putText(5, n.GoID, 32);
        s.put32(38, n.ConfRev);
        s.put(40, n.DataIndex);
        s.put(41, n.BitIndex);
        s.put(42, n.Enabled);
        s.put(43, n.Inverted);
    }
}

void Iec61850Windows::show(RegisterMap::Words& w, size_t k) const {
    const Window& win = Windows[k];
    const size_t index = w.get(win.readSelector);
    // A slot the unit does not have shows zeros.
    const std::vector<uint16_t> none(win.length, 0);
    const std::vector<uint16_t>& words = index < slots_[k].size() ? slots_[k][index] : none;
    w.write(win.readSelector + 1u, words);
}

void Iec61850Windows::afterWrite(RegisterMap::Words& w, size_t start, size_t count) const {
    for (size_t k = 0; k < Windows.size(); ++k)
        if (start <= Windows[k].readSelector && Windows[k].readSelector < start + count) show(w, k);
}

bool Iec61850Windows::apply(uint16_t command, RegisterMap::Words& w, std::string& note) {
    auto it = std::find_if(Windows.begin(), Windows.end(),
                           [&](const Window& win) { return win.applyCommand == command; });
    if (it == Windows.end()) return false;
    const size_t k = static_cast<size_t>(it - Windows.begin());
    const size_t index = w.get(it->writeSelector);
    if (index >= slots_[k].size()) {
        note = std::string("IEC 61850 ") + it->name + " not applied: register " +
               std::to_string(it->writeSelector) + " selects slot " + std::to_string(index) +
               ", and there are " + std::to_string(it->slots);
        return true;
    }
    std::vector<uint16_t>& slot = slots_[k][index];
    for (size_t i = 0; i < slot.size(); ++i) slot[i] = w.get(it->writeSelector + 1 + i);
    // A read window showing this slot shows it as it is now.
    if (w.get(it->readSelector) == index) show(w, k);
    note = std::string("IEC 61850 ") + it->name + " " + std::to_string(index + 1) + " (slot " +
           std::to_string(index) + ") stored";
    return true;
}

} // namespace kt::sim
