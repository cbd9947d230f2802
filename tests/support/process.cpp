#include "tests/support/process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>
#ifndef _WIN32
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

extern char** environ;

namespace kt::test {

std::string binPath(std::string_view name) {
    return std::string(KT_BIN_DIR) + "/" + std::string(name);
}

std::string sourcePath(std::string_view relative) {
    return std::string(KT_SOURCE_DIR) + "/" + std::string(relative);
}

TempDir::TempDir() {
#ifdef _WIN32
    // No mkdtemp: a random name, taken only when the folder did not exist yet.
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        auto candidate = std::filesystem::temp_directory_path() / ("kt-test-" + std::to_string(random()));
        if (std::filesystem::create_directory(candidate)) path_ = candidate;
    }
    if (path_.empty()) throw std::runtime_error("cannot create a temporary folder");
#else
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/kt-test-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder: " + pattern);
    path_ = pattern;
#endif
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec); // a leftover temporary folder is not worth failing a test
}

std::string TempDir::write(std::string_view name, const std::string& content) const {
    std::string path = file(name);
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

#ifndef _WIN32
// Processes are POSIX-only; the Windows build uses the folder and file helpers above.
int spawnProcess(const std::vector<std::string>& argv, const std::string& outPath, const std::string& errPath,
                 const std::string& inPath) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, inPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);

    // The child starts with default signal handling, whatever the test process blocked or ignored.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int s : {SIGINT, SIGTERM, SIGPIPE, SIGCHLD, SIGHUP}) sigaddset(&defaults, s);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    int rc = posix_spawn(&pid, args[0], &actions, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
    return pid;
}

int waitProcess(int pid, std::chrono::milliseconds timeout) {
    auto until = std::chrono::steady_clock::now() + timeout;
    while (true) {
        int status = 0;
        pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (r < 0 && errno != EINTR) return 255; // not our child any more; nothing left to wait for
        if (std::chrono::steady_clock::now() >= until) return -1;
        std::this_thread::sleep_for(5ms);
    }
}

std::vector<std::string> shellWords(std::string_view line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (char c : line) {
        if (c == '\'') {
            quoted = !quoted;
            inWord = true;
        } else if (c == ' ' && !quoted) {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

CommandResult runCommand(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                         const std::string& input) {
    TempDir dir;
    CommandResult result;
    std::ofstream(dir.file("in"), std::ios::binary) << input;
    int pid = spawnProcess(argv, dir.file("out"), dir.file("err"), dir.file("in"));
    result.exitCode = waitProcess(pid, timeout);
    if (result.exitCode < 0) {
        result.timedOut = true;
        ::kill(pid, SIGKILL);
        result.exitCode = waitProcess(pid, 10s);
    }
    result.out = readFile(dir.file("out"));
    result.err = readFile(dir.file("err"));
    return result;
}
#endif

} // namespace kt::test
