#pragma once

// A unit in memory behind the UnitLink interface: 1000 registers, the four IEC 61850 windows
// (a selector write shows that slot after it; the apply command stores the written window as
// the slot), a log of every request, and failures on cue.

#include "monitor/unit_link.h"

#include <array>
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kt::test {

struct FakeRequest {
    enum Kind { ReadBlock, ReadRegisters, Write, Command } kind;
    int start = 0; // first register, or the command number
    int count = 0;
    std::vector<uint16_t> values; // of a write

    // "read 200+60", "write 410 = 3", "write 412..438", "command 11"
    std::string text() const;
};

class FakeUnitLink : public UnitLink {
public:
    // A window of the unit: where its slot shows, where a slot is written, the command that
    // applies it, and the slots (each `length` registers after the selector).
    struct Window {
        int readSelector, writeSelector, command, length;
        std::vector<std::vector<uint16_t>> slots;
    };

    FakeUnitLink();

    std::array<uint16_t, RegisterCacheSize> unit{}; // the unit's registers
    std::map<int, Window> windows;                  // by read selector: 260, 310, 580, 630
    std::vector<FakeRequest> requests;
    std::vector<std::chrono::milliseconds> pauses;
    std::vector<std::pair<int, int>> progressCalls; // done, total
    std::string progressText;

    // Called before each request is carried out; a result other than done fails it (nothing is
    // carried out). Default: every request goes through.
    std::function<LinkResult(const FakeRequest&)> script;
    // cancelled() turns true once this many requests were made (-1: never).
    int cancelAfterRequests = -1;
    PassSnapshotPtr pass;

    // A slot's words (offset 1 .. length after the selector; index 0 is offset 1).
    std::vector<uint16_t>& slot(int readSelector, int index) {
        return windows.at(readSelector).slots.at(index);
    }

    std::vector<std::string> log() const;
    // The writes only, in order.
    std::vector<FakeRequest> writes() const;
    std::vector<int> commands() const;

    // UnitLink
    LinkResult readRegisters(int start, int count, uint16_t* dest) override;
    LinkResult readBlock(int start, int count) override;
    LinkResult writeRegisters(int start, int count, const uint16_t* words) override;
    LinkResult command(int n) override;
    const RegisterCacheWords& cache() const override { return cache_; }
    PassSnapshotPtr lastPass() const override { return pass; }
    const ConnectionSettings& settings() const override { return settings_; }
    ClockFields localTime() const override { return {}; }
    bool cancelled() const override {
        return cancelAfterRequests >= 0 && static_cast<int>(requests.size()) >= cancelAfterRequests;
    }
    bool pause(std::chrono::milliseconds time) override {
        pauses.push_back(time);
        return !cancelled();
    }
    void progress(int done, int total, const std::string& text) override {
        progressCalls.emplace_back(done, total);
        progressText = text;
    }

private:
    LinkResult admit(const FakeRequest& r);

    RegisterCacheWords cache_{};
    ConnectionSettings settings_{};
};

} // namespace kt::test
