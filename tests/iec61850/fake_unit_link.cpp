#include "fake_unit_link.h"

#include <algorithm>

namespace kt::test {

std::string FakeRequest::text() const {
    switch (kind) {
    case ReadBlock:
    case ReadRegisters:
        return "read " + std::to_string(start) + "+" + std::to_string(count);
    case Write:
        if (count == 1) return "write " + std::to_string(start) + " = " + std::to_string(values.at(0));
        return "write " + std::to_string(start) + ".." + std::to_string(start + count - 1);
    case Command:
        return "command " + std::to_string(start);
    }
    return {};
}

FakeUnitLink::FakeUnitLink() {
    // Register numbers of the unit's windows; lengths reach the last field of each.
    const Window layout[] = {
        {260, 410, 11, 42, std::vector<std::vector<uint16_t>>(8, std::vector<uint16_t>(42))},
        {310, 460, 12, 99, std::vector<std::vector<uint16_t>>(32, std::vector<uint16_t>(99))},
        {580, 680, 13, 42, std::vector<std::vector<uint16_t>>(2, std::vector<uint16_t>(42))},
        {630, 730, 14, 43, std::vector<std::vector<uint16_t>>(16, std::vector<uint16_t>(43))},
    };
    for (const Window& w : layout) windows.emplace(w.readSelector, w);
}

std::vector<std::string> FakeUnitLink::log() const {
    std::vector<std::string> lines;
    for (const FakeRequest& r : requests) lines.push_back(r.text());
    return lines;
}

std::vector<FakeRequest> FakeUnitLink::writes() const {
    std::vector<FakeRequest> out;
    for (const FakeRequest& r : requests)
        if (r.kind == FakeRequest::Write) out.push_back(r);
    return out;
}

std::vector<int> FakeUnitLink::commands() const {
    std::vector<int> out;
    for (const FakeRequest& r : requests)
        if (r.kind == FakeRequest::Command) out.push_back(r.start);
    return out;
}

LinkResult FakeUnitLink::admit(const FakeRequest& r) {
    requests.push_back(r);
    if (script) return script(r);
    return LinkResult::done();
}

LinkResult FakeUnitLink::readRegisters(int start, int count, uint16_t* dest) {
    LinkResult l = admit({FakeRequest::ReadRegisters, start, count, {}});
    if (l) std::copy_n(unit.begin() + start, count, dest);
    return l;
}

LinkResult FakeUnitLink::readBlock(int start, int count) {
    LinkResult l = admit({FakeRequest::ReadBlock, start, count, {}});
    if (l) std::copy_n(unit.begin() + start, count, cache_.begin() + start);
    return l;
}

LinkResult FakeUnitLink::writeRegisters(int start, int count, const uint16_t* words) {
    LinkResult l = admit({FakeRequest::Write, start, count, std::vector<uint16_t>(words, words + count)});
    if (!l) return l;
    std::copy_n(words, count, unit.begin() + start);
    for (auto& [selector, w] : windows) {
        if (start > selector || selector >= start + count) continue;
        // The window shows the chosen slot (zeros for a slot the unit does not have).
        const size_t index = unit[selector];
        std::vector<uint16_t> shown(w.length, 0);
        if (index < w.slots.size()) shown = w.slots[index];
        std::copy(shown.begin(), shown.end(), unit.begin() + selector + 1);
    }
    return l;
}

LinkResult FakeUnitLink::command(int n) {
    LinkResult l = admit({FakeRequest::Command, n, 0, {}});
    if (!l) return l;
    for (auto& [selector, w] : windows) {
        if (w.command != n) continue;
        const size_t index = unit[w.writeSelector];
        if (index < w.slots.size())
            std::copy_n(unit.begin() + w.writeSelector + 1, w.length, w.slots[index].begin());
    }
    return l;
}

} // namespace kt::test
