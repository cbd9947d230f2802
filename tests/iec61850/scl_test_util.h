#pragma once

// Shared helpers of the SCL tests: temporary files, scripted operator answers, schema checks.

#include "iec61850/icd_parser.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace kt::test {

inline std::string templatePath() {
    return sourcePath("resources/KT-740.icd");
}
inline std::string fixturePath(const std::string& name) {
    return sourcePath("tests/iec61850/fixtures/" + name);
}

inline std::string readText(const std::string& file) {
    return readFile(file);
}

// An SCL document around `body`.
inline std::string scl(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<SCL xmlns=\"http://www.iec.ch/61850/2003/SCL\" version=\"2007\" revision=\"B\" release=\"4\">\n"
           "<Header id=\"t\"/>\n" +
           body + "\n</SCL>\n";
}

// Answers from a script and remembers what was asked.
class ScriptedPrompts : public OperatorPrompts {
public:
    std::vector<std::optional<size_t>> choices; // one per chooseEntry, in order
    std::vector<bool> answers;                  // one per confirm, in order
    std::vector<std::pair<std::string, std::vector<std::string>>> asked;
    std::vector<std::string> questions;

    std::optional<size_t> chooseEntry(std::string_view caption,
                                      const std::vector<std::string>& entries) override {
        asked.emplace_back(std::string(caption), entries);
        size_t i = asked.size() - 1;
        return i < choices.size() ? choices[i] : std::optional<size_t>(0);
    }
    bool confirm(std::string_view text) override {
        questions.emplace_back(text);
        size_t i = questions.size() - 1;
        return i < answers.size() && answers[i];
    }
};

inline std::string schemaPath() {
    return KT_SCL_XSD;
}

// Runs xmllint against the IEC 61850-6 schema. Skips the calling test when the tool or the
// schema is not there.
struct SchemaCheck {
    bool valid = false;
    std::string output;
};

inline bool schemaToolsPresent(std::string* why) {
    if (std::system("xmllint --version >/dev/null 2>&1") != 0) {
        *why = "xmllint is not installed (Debian package libxml2-utils)";
        return false;
    }
    if (!std::filesystem::exists(schemaPath())) {
        *why = "the SCL schema is not at " + schemaPath();
        return false;
    }
    return true;
}

inline SchemaCheck validateAgainstSchema(const std::string& file) {
    SchemaCheck result;
    std::string command = "xmllint --noout --schema '" + schemaPath() + "' '" + file + "' 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return result;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) result.output.append(buf, n);
    result.valid = ::pclose(pipe) == 0;
    return result;
}

#define KT_REQUIRE_SCHEMA_TOOLS()                                                                            \
    do {                                                                                                     \
        std::string why_;                                                                                    \
        if (!::kt::test::schemaToolsPresent(&why_)) FAIL() << why_;                                          \
    } while (0)

#define EXPECT_SCHEMA_VALID(file)                                                                            \
    do {                                                                                                     \
        auto check_ = ::kt::test::validateAgainstSchema(file);                                               \
        EXPECT_TRUE(check_.valid) << (file) << ":\n" << check_.output;                                       \
    } while (0)

} // namespace kt::test
