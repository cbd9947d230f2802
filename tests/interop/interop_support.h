#pragma once

// Independent Modbus peers for the interoperability tests: a pymodbus server and a linked pair
// of pseudo-terminals from socat, each a child process stopped with the test.
#include "tests/support/process.h"

#include <chrono>
#include <csignal>
#include <functional>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace kt::test {

// A long-running child with its output in files, stopped with SIGTERM (SIGKILL after a grace
// period) on destruction.
class Daemon {
public:
    explicit Daemon(std::vector<std::string> argv) : argv_(std::move(argv)) {
        pid_ = spawnProcess(argv_, dir_.file("stdout"), dir_.file("stderr"));
    }
    ~Daemon() { stop(); }
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

    std::string out() const { return readFile(dir_.file("stdout")); }
    std::string err() const { return readFile(dir_.file("stderr")); }

    // Waits until `ready` accepts the output so far; throws with the output when the child ends
    // or the time is up first.
    void waitUntil(const std::function<bool()>& ready, std::chrono::milliseconds timeout = 20s) {
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (!ready()) {
            if (exitCode_ < 0) exitCode_ = waitProcess(pid_, 0ms);
            if (exitCode_ >= 0 || std::chrono::steady_clock::now() >= until)
                throw std::runtime_error(argv_[0] + " " + argv_[1] + " did not come up (exit " +
                                         std::to_string(exitCode_) + "): " + out() + err());
            std::this_thread::sleep_for(10ms);
        }
    }

    int stop() {
        if (exitCode_ >= 0) return exitCode_;
        ::kill(pid_, SIGTERM);
        exitCode_ = waitProcess(pid_, 5s);
        if (exitCode_ < 0) {
            ::kill(pid_, SIGKILL);
            exitCode_ = waitProcess(pid_, 10s);
        }
        return exitCode_;
    }

private:
    std::vector<std::string> argv_;
    TempDir dir_;
    int pid_ = -1;
    int exitCode_ = -1;
};

// Two pseudo-terminals linked back to back by socat: what one end writes, the other reads, as
// on a serial cable.
class PtyPair {
public:
    PtyPair() : socat_({"/usr/bin/socat", "-d", "-d", "pty,raw,echo=0", "pty,raw,echo=0"}) {
        // socat names each end on stderr ("... N PTY is /dev/pts/3"), then starts relaying.
        socat_.waitUntil([this] {
            const std::string text = socat_.err();
            ends_.clear();
            static const std::regex pty("PTY is (\\S+)");
            for (auto it = std::sregex_iterator(text.begin(), text.end(), pty); it != std::sregex_iterator();
                 ++it)
                ends_.push_back((*it)[1]);
            return ends_.size() == 2 && text.find("starting data transfer loop") != std::string::npos;
        });
    }
    const std::string& first() const { return ends_[0]; }
    const std::string& second() const { return ends_[1]; }

private:
    Daemon socat_;
    std::vector<std::string> ends_;
};

// tests/interop/modbus_server.py on Debian's interpreter (the one python3-pymodbus is for):
// unit 254 with the registers preset, every write it stores printed as a line.
class PymodbusServer {
public:
    // `link` is "tcp:127.0.0.1:0" or "rtu:DEVICE"; `presets` as "START=V1,V2,...".
    PymodbusServer(const std::string& link, const std::vector<std::string>& presets)
        : server_(argv(link, presets)) {
        server_.waitUntil([this] { return !endpoint().empty(); });
    }

    // "HOST:PORT" for TCP, the device for RTU.
    std::string endpoint() const {
        for (const auto& line : splitLines(server_.out())) {
            for (const char* prefix : {"listening tcp ", "listening rtu "})
                if (line.starts_with(prefix)) return line.substr(std::string(prefix).size());
        }
        return {};
    }
    // Every write that reached the data store, in the simulator's log notation.
    std::vector<std::string> writes() const {
        std::vector<std::string> lines;
        for (const auto& line : splitLines(server_.out()))
            if (line.starts_with("fc=")) lines.push_back(line);
        return lines;
    }
    std::string errors() const { return server_.err(); }

private:
    static std::vector<std::string> argv(const std::string& link, const std::vector<std::string>& presets) {
        std::vector<std::string> words{"/usr/bin/python3", sourcePath("tests/interop/modbus_server.py"),
                                       link};
        for (const auto& p : presets) words.insert(words.end(), {"--set", p});
        return words;
    }

    Daemon server_;
};

} // namespace kt::test
