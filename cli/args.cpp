#include "cli/cli.h"
#include "link/connection_settings.h"
#include "link/platform/program_folder.h"
#include "link/link_timings.h"

#include <atomic>
#include <iostream>

#include <algorithm>
#include <charconv>
#include <filesystem>

namespace kt::cli {

Args::Args(std::span<const std::string> words, std::initializer_list<std::string_view> valued,
           std::initializer_list<std::string_view> flags) {
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (w.size() > 2 && w.starts_with("--")) {
            if (std::find(valued.begin(), valued.end(), w) != valued.end()) {
                if (i + 1 >= words.size()) throw UsageError("option " + w + " needs a value");
                options_.emplace_back(w, words[++i]);
            } else if (std::find(flags.begin(), flags.end(), w) != flags.end()) {
                options_.emplace_back(w, std::string());
            } else {
                throw UsageError("unknown option " + w);
            }
        } else {
            positional_.push_back(w);
        }
    }
}

void Args::expectPositional(size_t min, size_t max) const {
    if (max < min) max = min;
    if (positional_.size() < min) throw UsageError("missing arguments");
    if (positional_.size() > max) throw UsageError("too many arguments");
}

bool Args::flag(std::string_view name) const {
    return std::any_of(options_.begin(), options_.end(), [&](auto& o) { return o.first == name; });
}

std::optional<std::string> Args::value(std::string_view name) const {
    std::optional<std::string> found;
    for (auto& o : options_)
        if (o.first == name) found = o.second;
    return found;
}

std::vector<std::string> Args::values(std::string_view name) const {
    std::vector<std::string> out;
    for (auto& o : options_)
        if (o.first == name) out.push_back(o.second);
    return out;
}

long parseInteger(const std::string& text, long min, long max, std::string_view what) {
    long v = 0;
    int base = 10;
    std::string_view digits = text;
    if (digits.starts_with("0x") || digits.starts_with("0X")) {
        base = 16;
        digits.remove_prefix(2);
    }
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v, base);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || v < min || v > max)
        throw UsageError(std::string(what) + " must be a number from " + std::to_string(min) + " to " +
                         std::to_string(max) + ": " + text);
    return v;
}

long Args::integer(size_t index, long min, long max) const {
    return parseInteger(positional_.at(index), min, max, "argument");
}

long Args::integer(std::string_view name, long fallback, long min, long max) const {
    auto v = value(name);
    return v ? parseInteger(*v, min, max, name) : fallback;
}

std::string programFolder() {
    const std::filesystem::path folder = platform::programFolder();
    return folder.empty() ? std::string(".") : folder.string();
}

std::string resourcesFolder(const Args& args) {
    if (auto dir = args.value("--resources")) return *dir;
    return (std::filesystem::path(programFolder()) / "resources").string();
}

namespace {
std::atomic<bool> verboseOutput{false};
}

void setVerbose(bool on) {
    verboseOutput = on;
}

bool verbose() {
    return verboseOutput;
}

ConnectionSettings linkArgument(const std::string& text) {
    std::string why;
    auto settings = parseLink(text, &why);
    if (!settings) throw UsageError(why);
    return *settings;
}

LinkOptions linkOptions() {
    LinkOptions options;
    if (verboseOutput)
        options.diagnostics = [](std::string_view line) {
            std::cerr << "ktmon740-cli: link: " << line << '\n';
        };
    return options;
}

} // namespace kt::cli
