#pragma once

// A scripted unit behind the real link facade, a register file written for it, and a notifier
// that records what the window would be told: the pieces the engine tests drive the monitor
// engine with when they need exact control over every answer.

#include "engine_notifier.h"
#include "monitor/monitor_thread.h"
#include "regfile_test_support.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <mutex>

namespace kt::test {

using namespace std::chrono_literals;

// 1000 registers answering function 3 and 16 and unit commands, with an event ring in 60..71.
struct FakeUnit {
    std::mutex mutex;
    std::condition_variable changed;
    std::array<uint16_t, RegisterCacheSize> regs{};
    int maxRead = 125;                         // longer reads are refused
    bool silent = false;                       // nothing answers
    std::map<int, std::string> readScript;     // by first register: 'y' answer, 'n' fail; then answers
    std::string writeScript;                   // results of the next writes in turn; then acknowledged
    std::chrono::milliseconds readDelay{0};    // each read takes this long
    std::vector<std::array<uint16_t, 9>> ring; // event record k shown in 63..71 when 62 = k
    std::vector<std::string> log;              // "r FIRST COUNT", "w FIRST V1,V2,...", "c N"
    std::vector<uint16_t> selectors;           // values written into 62, in order
    int readsDone = 0;
    std::function<void(int first)> onRead; // called before each read is answered (set before use)

    void set(int first, std::initializer_list<uint16_t> words) {
        std::lock_guard g(mutex);
        std::copy(words.begin(), words.end(), regs.begin() + first);
    }
    std::vector<std::string> takeLog() {
        std::lock_guard g(mutex);
        return std::exchange(log, {});
    }
    std::vector<std::string> logCopy() {
        std::lock_guard g(mutex);
        return log;
    }
    // Waits until `done` holds (checked under the lock) or 10 s passed.
    template <typename Pred> bool waitFor(Pred done) {
        std::unique_lock g(mutex);
        return changed.wait_for(g, 10s, [&] { return done(*this); });
    }

    bool read(int first, int count, uint16_t* dest) {
        if (onRead) onRead(first);
        std::chrono::milliseconds delay;
        {
            std::lock_guard g(mutex);
            delay = readDelay;
        }
        std::this_thread::sleep_for(delay);
        std::lock_guard g(mutex);
        log.push_back("r " + std::to_string(first) + " " + std::to_string(count));
        ++readsDone;
        changed.notify_all();
        char result = 'y';
        if (auto it = readScript.find(first); it != readScript.end() && !it->second.empty()) {
            result = it->second.front();
            it->second.erase(0, 1);
        }
        if (silent || result != 'y' || count > maxRead || first + count > RegisterCacheSize) return false;
        std::copy_n(regs.begin() + first, count, dest);
        return true;
    }
    bool write(int first, int count, const uint16_t* src) {
        std::lock_guard g(mutex);
        std::string entry = "w " + std::to_string(first) + " ";
        for (int i = 0; i < count; ++i) entry += (i ? "," : "") + std::to_string(src[i]);
        log.push_back(entry);
        changed.notify_all();
        char result = 'y';
        if (!writeScript.empty()) {
            result = writeScript.front();
            writeScript.erase(0, 1);
        }
        if (silent || result != 'y') return false;
        std::copy_n(src, count, regs.begin() + first);
        for (int i = 0; i < count; ++i) {
            if (first + i != 62) continue;
            selectors.push_back(src[i]);
            if (src[i] < ring.size()) std::copy(ring[src[i]].begin(), ring[src[i]].end(), regs.begin() + 63);
        }
        return true;
    }
    bool command(int n) {
        std::lock_guard g(mutex);
        log.push_back("c " + std::to_string(n));
        changed.notify_all();
        return !silent;
    }
};

class FakeTransport final : public Transport {
public:
    FakeTransport(std::shared_ptr<FakeUnit> unit, std::function<void()> onDestroy)
        : unit_(std::move(unit)), onDestroy_(std::move(onDestroy)) {}
    ~FakeTransport() override {
        if (onDestroy_) onDestroy_();
    }
    LinkResult readHoldingRegisters(int, int first, int count, uint16_t* dest, uint16_t) override {
        return result(unit_->read(first, count, dest));
    }
    LinkResult writeMultipleRegisters(int, int first, int count, const uint16_t* src) override {
        return result(unit_->write(first, count, src));
    }
    LinkResult executeCommand(int, int command) override { return result(unit_->command(command)); }

private:
    // Every request reaches the fake unit; one it does not answer is a silent one.
    static LinkResult result(bool answered) {
        LinkResult r = answered ? LinkResult::done() : LinkResult::failure(LinkStatus::NoAnswer);
        r.sent = true;
        return r;
    }
    std::shared_ptr<FakeUnit> unit_;
    std::function<void()> onDestroy_;
};

// One row of a register file.
inline std::string fileRow(const std::string& group, int g, const std::string& nameIndex, int reg,
                           const std::string& label, int type, int sOrder,
                           const std::string& display = "YES") {
    return "GROUP=\"" + group + "\" REGISTER=\"" + std::to_string(reg) + "\" LABEL=\"" + label +
           "\" TYPE=\"" + std::to_string(type) + "\" TRANSLATIONTYPE=\"0\" ACCESS=\"1\" S_ORDER=\"" +
           std::to_string(sOrder) + "\" G_ORDER=\"" + std::to_string(g) + "\" MAIN=\"" + group +
           "\" NAMEINDEX=\"" + nameIndex + "\" TITLE=\"" + group + "\" DISPLAY=\"" + display + "\"";
}

// The registers the fake unit's file describes: identification and status, a text, a register
// that is not polled, network groups, the event registers and register 199. Polls 0..202.
inline std::string fakeUnitFile() {
    std::vector<std::string> rows = {
        fileRow("Status", 0, "status", 0, "DB_MODEL_CODE", 1, 1),
        fileRow("Status", 0, "status", 1, "DB_FIRMWARE_VERSION", 1, 2),
        fileRow("Status", 0, "status", 4, "DB_MODEL_TYPE", 1, 3),
        fileRow("Status", 0, "status", 5, "DB_COMM_OPTION", 1, 4),
        fileRow("Status", 0, "status", 10, "DB_TEN", 1, 5),
        fileRow("Status", 0, "status", 11, "DB_NAME", 11, 6),
        fileRow("Status", 0, "status", 30, "DB_UNPOLLED", 0, 7),
        fileRow("Status", 0, "status", 40, "DB_COUNTER", 2, 8),
        fileRow("Status", 0, "status", 120, "DB_LATE", 1, 9),
        fileRow("Network", 1, "network", 101, "DB_IP", 7, 1),
        fileRow("Sntp", 2, "sntp settings", 103, "DB_SNTP", 1, 1),
        fileRow("DeviceNet", 3, "devicenet", 105, "DB_DNET", 1, 1, "NO"),
        fileRow("System", 5, "system", 199, "DB_VERIFIED", 1, 1),
        fileRow("System", 5, "system", 160, "DB_UTC", 16, 2),
    };
    for (int k = 0; k < 7; ++k)
        rows.push_back(fileRow("Events", 4, "events", 63 + k, "DB_EVENT" + std::to_string(k), 1, k + 1));
    return dataPacket(standardColumns(), rows);
}

// A folder with the fake unit's file for the plain, AU and HV families at versions 250 and 300,
// a damaged file for version 260 and nothing below 250.
struct FakeResources {
    TempDir dir;
    FakeResources() {
        for (const char* family : {"", "AU", "HV"})
            for (int version : {250, 300})
                dir.write("registers" + std::string(family) + "_" + std::to_string(version) + ".xml",
                          fakeUnitFile());
        dir.write("registers_260.xml", "<DATAPACKET><METADATA><FIELDS><FIELD attrname=");
    }
};

// An engine on a fake unit, with its own tables, counting the facades it builds.
class FakeLink {
public:
    explicit FakeLink(std::shared_ptr<FakeUnit> unit = std::make_shared<FakeUnit>())
        : unit_(std::move(unit)) {
        settings.linkType = LinkModbusTcp;
        settings.ipAddress = "127.0.0.1";
        options.pollInterval = 5ms;
        options.clock = [] { return ClockFields{2021, 3, 9, 14, 5, 30, 250}; };
        options.makeProtocol = [this](const ConnectionSettings& s) {
            builds_.fetch_add(1);
            if (onBuild) onBuild();
            return std::make_unique<Protocol>(s, std::make_unique<FakeTransport>(unit_, onTransportGone));
        };
    }
    // A unit of the given identification, ready to be identified.
    static std::shared_ptr<FakeUnit> unit(uint16_t firmware = 250, uint16_t modelType = 0,
                                          uint16_t option = 0) {
        auto u = std::make_shared<FakeUnit>();
        u->regs[0] = 740;
        u->regs[1] = firmware;
        u->regs[4] = modelType;
        u->regs[5] = option;
        return u;
    }

    Monitor_Thread& start(const std::string& resources) {
        options.resourcesFolder = resources;
        engine = std::make_unique<Monitor_Thread>(settings, notifier, dispatcher, options);
        return *engine;
    }
    int builds() const { return builds_; }
    FakeUnit& fake() { return *unit_; }

private:
    std::shared_ptr<FakeUnit> unit_;
    std::atomic<int> builds_{0};

public:
    ConnectionSettings settings;
    MonitorOptions options;
    RecordingNotifier notifier;
    InlineDispatcher dispatcher;
    std::function<void()> onBuild;
    std::function<void()> onTransportGone;
    std::unique_ptr<Monitor_Thread> engine; // last: stopped and joined before the rest goes
};

} // namespace kt::test
