// ktmon740-cli: the relay without the window, for people and scripts.
#include "cli/cli.h"
#include "cli/json.h"

#include <algorithm>
#include <array>
#include <iostream>

using namespace kt::cli;

namespace {

std::array<std::span<const Command>, 7> tables() {
    return {linkCommands(),    regfileCommands(), monitorCommands(), settingCommands(),
            legacyCommands(), logCommands(),     sclCommands()};
}

void usage(std::ostream& os) {
    os << "usage: ktmon740-cli COMMAND ARGS...\n"
          "LINK is tcp://HOST[:PORT] (port 502 when omitted) or serial:DEVICE\n"
          "--verbose (any command) also prints the link's diagnostic lines on standard error\n\ncommands:\n";
    for (auto table : tables())
        for (const Command& c : table) os << "  " << c.name << ' ' << c.usage << '\n';
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> words(argv + 1, argv + argc);
    // Standard output carries the commands' results (and --json); link diagnostics, when asked
    // for, go to standard error.
    if (auto v = std::find(words.begin(), words.end(), "--verbose"); v != words.end()) {
        setVerbose(true);
        words.erase(v);
    }
    if (words.empty() || words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
        usage(words.empty() ? std::cerr : std::cout);
        return words.empty() ? ExitUsage : ExitOk;
    }
    for (auto table : tables()) {
        for (const Command& c : table) {
            if (words[0] != c.name) continue;
            try {
                return c.run(std::span<const std::string>(words).subspan(1));
            } catch (const UsageError& e) {
                // Error texts carry arguments, paths, file contents and link details: one line,
                // with nothing in it that could drive the terminal.
                std::cerr << "ktmon740-cli " << c.name << ": " << printable(e.what())
                          << "\nusage: ktmon740-cli " << c.name << ' ' << c.usage << '\n';
                return ExitUsage;
            } catch (const std::exception& e) {
                std::cerr << "ktmon740-cli " << c.name << ": " << printable(e.what()) << '\n';
                return ExitFailure;
            }
        }
    }
    std::cerr << "ktmon740-cli: unknown command " << printable(words[0]) << '\n';
    usage(std::cerr);
    return ExitUsage;
}
