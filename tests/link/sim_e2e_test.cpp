// The link facade and the CLI end to end against the kt740sim relay simulator.
#include "link/protocol.h"

#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using kt::ConnectionSettings;
using kt::Protocol;

std::string simulatorPath() {
    if (const char* path = std::getenv("KT740SIM")) return path;
    return std::string(KT_BIN_DIR) + "/kt740sim";
}

// One simulator process, stopped with SIGTERM when the test ends.
class Simulator {
public:
    explicit Simulator(std::vector<std::string> options) {
        int out[2];
        if (::pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<std::string> words{simulatorPath()};
        words.insert(words.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (auto& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        // Each endpoint announces itself on a line of its own once it is ready.
        std::string text;
        const size_t endpoints = std::count(options.begin(), options.end(), "--tcp") +
                                 std::count(options.begin(), options.end(), "--rtu");
        while (pid_ > 0 && std::count(text.begin(), text.end(), '\n') < static_cast<long>(endpoints)) {
            pollfd p{out[0], POLLIN, 0};
            char buf[256];
            ssize_t n = ::poll(&p, 1, 5000) > 0 ? ::read(out[0], buf, sizeof buf) : 0;
            if (n <= 0) break;
            text.append(buf, static_cast<size_t>(n));
        }
        ::close(out[0]);
        for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
            std::string line = text.substr(at, end - at);
            if (line.starts_with("listening tcp ")) tcp_ = line.substr(14);
            if (line.starts_with("listening rtu ")) rtu_ = line.substr(14);
        }
    }
    ~Simulator() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    ConnectionSettings tcp() const {
        ConnectionSettings s;
        auto parsed = kt::parseLink("tcp://" + tcp_);
        if (parsed) s = *parsed;
        return s;
    }
    ConnectionSettings rtu() const {
        ConnectionSettings s;
        s.linkType = kt::LinkSerialRtu;
        s.portName = rtu_;
        return s;
    }
    std::string tcpLink() const { return "tcp://" + tcp_; }
    bool ready(bool wantTcp, bool wantRtu) const {
        return pid_ > 0 && (!wantTcp || !tcp_.empty()) && (!wantRtu || !rtu_.empty());
    }

private:
    pid_t pid_ = -1;
    std::string tcp_;
    std::string rtu_;
};

class SimulatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(simulatorPath())) GTEST_SKIP() << "kt740sim is not built";
    }
};

// Identification, a write read back, and a command: the roads the monitor engine takes.
void identifyWriteAndCommand(Protocol& link, const ConnectionSettings& s) {
    std::array<uint16_t, 50> regs{};
    ASSERT_TRUE(link.ReadRegisters(s, 0, 50, regs.data()));
    EXPECT_EQ(regs[0], 740);
    EXPECT_EQ(regs[1], 0x8000 | 251);
    EXPECT_EQ(regs[4], 3);
    EXPECT_EQ(regs[5], 7);
    const std::array<uint16_t, 4> clock{0x0615, 2025, 0x1E00, 0x0C22};
    ASSERT_TRUE(link.WriteRegisters(s, 150, 4, clock.data()));
    const uint16_t one = 0x0102;
    ASSERT_TRUE(link.WriteRegisters(s, 16, 1, &one));
    std::array<uint16_t, 4> back{};
    ASSERT_TRUE(link.ReadRegisters(s, 150, 4, back.data()));
    EXPECT_EQ(back, clock);
    ASSERT_TRUE(link.ReadRegisters(s, 16, 1, back.data()));
    EXPECT_EQ(back[0], one);
    EXPECT_TRUE(link.WriteCoil(s, 3));
}

TEST_F(SimulatorTest, TcpAndRtuEndpointsServeTheFacade) {
    Simulator sim({"--tcp", "127.0.0.1:0", "--rtu", "--pace", "115200", "--firmware", "0x80FB",
                   "--model-type", "3", "--comm-option", "7"});
    ASSERT_TRUE(sim.ready(true, true));
    {
        ConnectionSettings s = sim.tcp();
        Protocol link(s);
        identifyWriteAndCommand(link, s);
    }
    {
        ConnectionSettings s = sim.rtu();
        Protocol link(s);
        identifyWriteAndCommand(link, s);
    }
}

TEST_F(SimulatorTest, RetriesRideOverOccasionalFaults) {
    // Every second answer is spoiled, so no read meets more than one fault in a row.
    Simulator refusing({"--tcp", "127.0.0.1:0", "--exception-every", "2"});
    Simulator noisy({"--rtu", "--bad-crc-every", "2"});
    ASSERT_TRUE(refusing.ready(true, false));
    ASSERT_TRUE(noisy.ready(false, true));
    for (const ConnectionSettings& s : {refusing.tcp(), noisy.rtu()}) {
        SCOPED_TRACE(s.linkType == kt::LinkModbusTcp ? "TCP" : "RTU");
        Protocol link(s);
        for (int pass = 0; pass < 4; ++pass) {
            std::array<uint16_t, 6> regs{};
            ASSERT_TRUE(link.ReadRegisters(s, 0, 6, regs.data()));
            EXPECT_EQ(regs[0], 740);
        }
    }
}

TEST_F(SimulatorTest, ReconnectsWhenTheUnitDropsTheConnection) {
    Simulator sim({"--tcp", "127.0.0.1:0", "--drop-after", "2"});
    ASSERT_TRUE(sim.ready(true, false));
    ConnectionSettings s = sim.tcp();
    Protocol link(s);
    for (int pass = 0; pass < 6; ++pass) {
        std::array<uint16_t, 2> regs{};
        EXPECT_TRUE(link.ReadRegisters(s, 0, 2, regs.data())) << "pass " << pass;
    }
}

TEST_F(SimulatorTest, RefusedAndUnansweredReadsFail) {
    Simulator sim({"--tcp", "127.0.0.1:0", "--max-read", "20"});
    ASSERT_TRUE(sim.ready(true, false));
    ConnectionSettings s = sim.tcp();
    Protocol link(s);
    std::array<uint16_t, 50> regs{};
    regs.fill(0xAAAA);
    EXPECT_FALSE(link.ReadRegisters(s, 0, 50, regs.data())); // exception 3, three attempts
    EXPECT_TRUE(link.ReadRegisters(s, 0, 20, regs.data()));

    Simulator silent({"--rtu", "--silent"});
    ASSERT_TRUE(silent.ready(false, true));
    ConnectionSettings quiet = silent.rtu();
    Protocol serial(quiet);
    regs.fill(0x5555);
    EXPECT_FALSE(serial.ReadRegisters(quiet, 0, 4, regs.data()));
    EXPECT_EQ(regs[0], 0x5555);
}

TEST_F(SimulatorTest, CliReadsWhatItWrote) {
    Simulator sim({"--tcp", "127.0.0.1:0"});
    ASSERT_TRUE(sim.ready(true, false));
    const std::string cli = std::string(KT_BIN_DIR) + "/ktmon740-cli ";
    ASSERT_EQ(std::system((cli + "write " + sim.tcpLink() + " 200 7 0x1234 65535 >/dev/null").c_str()), 0);
    FILE* out = ::popen((cli + "read " + sim.tcpLink() + " 200 3").c_str(), "r");
    ASSERT_NE(out, nullptr);
    char buf[256] = {};
    size_t n = std::fread(buf, 1, sizeof buf - 1, out);
    EXPECT_EQ(::pclose(out), 0);
    EXPECT_EQ(std::string(buf, n), "200\t7\n201\t4660\n202\t65535\n");
}

} // namespace
