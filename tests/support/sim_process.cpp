#include "tests/support/sim_process.h"

#include <algorithm>
#include <csignal>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace kt::test {

namespace {

bool hasOption(const std::vector<std::string>& args, std::string_view name) {
    return std::any_of(args.begin(), args.end(), [&](const std::string& a) {
        return a == name || (a.starts_with(name) && a.size() > name.size() && a[name.size()] == '=');
    });
}

std::string valueAfter(const std::string& line, std::string_view prefix) {
    return line.starts_with(prefix) ? line.substr(prefix.size()) : std::string();
}

} // namespace

SimProcess::SimProcess(std::vector<std::string> args, std::chrono::milliseconds startTimeout) {
    const bool wantTcp = hasOption(args, "--tcp");
    const bool wantRtu = hasOption(args, "--rtu");
    const bool wantLegacy = hasOption(args, "--legacy");
    if (!hasOption(args, "--log")) {
        logPath_ = dir_.file("requests.log");
        args.insert(args.end(), {"--log", logPath_});
    } else {
        auto it = std::find_if(args.begin(), args.end(), [](auto& a) { return a.starts_with("--log"); });
        logPath_ = *it == "--log" && it + 1 != args.end() ? *(it + 1) : it->substr(6);
    }
    // A test that dies must not leave its simulator running.
    if (!hasOption(args, "--exit-with-parent")) args.push_back("--exit-with-parent");
    args.insert(args.begin(), binPath("kt740sim"));
    pid_ = spawnProcess(args, dir_.file("stdout"), dir_.file("stderr"));

    auto until = std::chrono::steady_clock::now() + startTimeout;
    while (true) {
        for (const auto& line : splitLines(stdoutText())) {
            if (auto tcp = valueAfter(line, "listening tcp "); !tcp.empty()) {
                tcpEndpoint_ = tcp;
                tcpPort_ = static_cast<uint16_t>(std::stoi(tcp.substr(tcp.rfind(':') + 1)));
            }
            if (auto rtu = valueAfter(line, "listening rtu "); !rtu.empty()) rtuDevice_ = rtu;
            if (auto legacy = valueAfter(line, "listening legacy "); !legacy.empty()) legacyDevice_ = legacy;
        }
        if ((!wantTcp || !tcpEndpoint_.empty()) && (!wantRtu || !rtuDevice_.empty()) &&
            (!wantLegacy || !legacyDevice_.empty()))
            return;
        if (!running()) {
            throw std::runtime_error("kt740sim ended with exit code " + std::to_string(*exitCode_) +
                                     " before it was ready: " + stderrText());
        }
        if (std::chrono::steady_clock::now() >= until) {
            stop(0ms);
            throw std::runtime_error("kt740sim was not ready in time; stdout: " + stdoutText() +
                                     " stderr: " + stderrText());
        }
        std::this_thread::sleep_for(10ms);
    }
}

std::unique_ptr<SimProcess> SimProcess::serving(LinkKind kind, std::vector<std::string> args) {
    if (kind == LinkKind::Tcp)
        args.insert(args.begin(), {"--tcp", "127.0.0.1:0"});
    else
        args.insert(args.begin(), "--rtu");
    return std::make_unique<SimProcess>(std::move(args));
}

SimProcess::~SimProcess() {
    stop();
}

std::vector<std::string> SimProcess::logLines() const {
    return splitLines(readFile(logPath_));
}
std::string SimProcess::stdoutText() const {
    return readFile(dir_.file("stdout"));
}
std::string SimProcess::stderrText() const {
    return readFile(dir_.file("stderr"));
}

bool SimProcess::freeze() {
    if (::kill(pid(), SIGSTOP) != 0) return false;
    const auto end = std::chrono::steady_clock::now() + 5s;
    const std::string statPath = "/proc/" + std::to_string(pid()) + "/stat";
    while (std::chrono::steady_clock::now() < end) {
        std::ifstream stat(statPath);
        std::string line;
        std::getline(stat, line);
        // "PID (COMM) STATE ...": the state follows the last ')'.
        const size_t close = line.rfind(')');
        if (close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'T') return true;
        std::this_thread::sleep_for(2ms);
    }
    return false;
}

void SimProcess::thaw() {
    ::kill(pid(), SIGCONT);
}

bool SimProcess::running() {
    if (exitCode_) return false;
    int code = waitProcess(pid_, 0ms);
    if (code >= 0) exitCode_ = code;
    return !exitCode_;
}

int SimProcess::stop(std::chrono::milliseconds grace) {
    if (!running()) return *exitCode_;
    ::kill(pid_, SIGTERM);
    int code = waitProcess(pid_, grace);
    if (code < 0) {
        ::kill(pid_, SIGKILL);
        code = waitProcess(pid_, 10s);
    }
    exitCode_ = code;
    return code;
}

} // namespace kt::test
