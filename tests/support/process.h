#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kt::test {

using namespace std::chrono_literals;

// The built program `name` in the build's bin/ folder.
std::string binPath(std::string_view name);
// A file of the source tree, from its root.
std::string sourcePath(std::string_view relative);

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }
    std::string file(std::string_view name) const { return (path_ / name).string(); }
    // Writes `content` as the file `name` and returns its path.
    std::string write(std::string_view name, const std::string& content) const;

private:
    std::filesystem::path path_;
};

std::string readFile(const std::string& path); // "" when it cannot be read
std::vector<std::string> splitLines(const std::string& text);

struct CommandResult {
    int exitCode = -1; // 128 + signal number when a signal ended it, as shells report it
    bool timedOut = false;
    std::string out;
    std::string err;
};

// Runs argv[0] (a path) with the arguments and `input` on its standard input, and waits for it;
// killed after `timeout`. Output goes through files, so a chatty child never blocks on a pipe.
CommandResult runCommand(const std::vector<std::string>& argv, std::chrono::milliseconds timeout = 60s,
                         const std::string& input = {});

// The words of a command line as a shell splits them: at blanks, with '...' quoting a word that
// holds blanks (no other quoting or escapes). For tests that write their arguments as one text.
std::vector<std::string> shellWords(std::string_view line);

// A child started with posix_spawn, stdout and stderr into the given files, standard input from
// `inPath`.
int spawnProcess(const std::vector<std::string>& argv, const std::string& outPath, const std::string& errPath,
                 const std::string& inPath = "/dev/null");
// Waits up to `timeout` for `pid`; the exit code as above, or -1 while it still runs.
int waitProcess(int pid, std::chrono::milliseconds timeout);

} // namespace kt::test
