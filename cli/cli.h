#pragma once

#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace kt {
struct ConnectionSettings;
struct LinkOptions;
} // namespace kt

namespace kt::cli {

inline constexpr int ExitOk = 0;
inline constexpr int ExitFailure = 1; // the link or the operation failed
inline constexpr int ExitUsage = 2;

// Thrown for a malformed command line; main prints it with the usage and exits 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The words after the command name, split into positionals and --options.
class Args {
public:
    // `valued` lists the options that take a value (e.g. "--passes"); any other --word is a flag.
    Args(std::span<const std::string> words, std::initializer_list<std::string_view> valued,
         std::initializer_list<std::string_view> flags);

    const std::vector<std::string>& positional() const { return positional_; }
    // Exactly `n` positionals (or between min and max) or a UsageError.
    void expectPositional(size_t min, size_t max = 0) const;
    bool flag(std::string_view name) const;
    std::optional<std::string> value(std::string_view name) const;
    // All values of a repeatable option, in order.
    std::vector<std::string> values(std::string_view name) const;
    long integer(size_t index, long min, long max) const; // positional as a checked integer
    long integer(std::string_view name, long fallback, long min, long max) const;

private:
    std::vector<std::string> positional_;
    std::vector<std::pair<std::string, std::string>> options_;
};

long parseInteger(const std::string& text, long min, long max, std::string_view what);

struct Command {
    const char* name;
    const char* usage; // the arguments, for the usage text
    int (*run)(std::span<const std::string> args);
};

// Folder of the running executable (the program's folder, where resources/ lives).
std::string programFolder();
// The register-file folder: --resources DIR, else resources/ beside the program.
std::string resourcesFolder(const Args& args);

// The link of a LINK argument, or a UsageError.
ConnectionSettings linkArgument(const std::string& text);
LinkOptions linkOptions();
// Link options of the tool: the transports' diagnostic lines go to standard error with
// --verbose, nowhere otherwise (a failure is told in one line by the command itself).
void setVerbose(bool on);
bool verbose();

// Command tables, one per subsystem file.
std::span<const Command> linkCommands();
std::span<const Command> regfileCommands();
std::span<const Command> monitorCommands();
std::span<const Command> logCommands();
std::span<const Command> sclCommands();
std::span<const Command> legacyCommands();
std::span<const Command> settingCommands();

} // namespace kt::cli
