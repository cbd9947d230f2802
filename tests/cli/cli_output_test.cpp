// What ktmon740-cli prints when a file, a path or the link carries hostile bytes: the text output
// drives no terminal (no control characters, no escape sequences, valid UTF-8), and the JSON output
// is valid JSON in valid UTF-8 that still carries the bytes' characters.
#include "tests/support/process.h"
#include "tests/support/sim_process.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringDecoder>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

namespace {

using namespace std::chrono_literals;
using namespace kt::test;
using ::testing::HasSubstr;

// Text as a terminal would take it: valid UTF-8, no C0 control but the line break and the tab, no
// DEL, no C1 control, no bidirectional override. Returns what is wrong, or "".
std::string terminalHazard(const std::string& text) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = utf8(QByteArray::fromStdString(text));
    if (utf8.hasError()) return "not valid UTF-8";
    for (QChar c : decoded) {
        const char16_t u = c.unicode();
        // Line breaks and tabs are the tool's own (lines and columns).
        if ((u < 0x20 && u != '\n' && u != '\t') || u == 0x7F)
            return "C0 control or DEL " + std::to_string(u);
        if (u >= 0x80 && u <= 0x9F) return "C1 control " + std::to_string(u);
        if ((u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069))
            return "bidirectional control " + std::to_string(u);
    }
    return {};
}

// The JSON document of `text` (one line), or a failure.
QJsonDocument parseJson(const std::string& text) {
    QJsonParseError error{};
    QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString() << "\n" << text;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    (void)utf8(QByteArray::fromStdString(text));
    EXPECT_FALSE(utf8.hasError()) << "the JSON is not valid UTF-8";
    return doc;
}

CommandResult cli(std::vector<std::string> args) {
    args.insert(args.begin(), binPath("ktmon740-cli"));
    CommandResult r = runCommand(args, 60s);
    EXPECT_FALSE(r.timedOut);
    return r;
}

// Hostile texts: a screen clear, a window-title sequence with its BEL, a C1 CSI as a raw byte and as
// UTF-8, DEL, a right-to-left override, a byte that is no UTF-8.
const std::string Clear = "\x1b[2J";
const std::string Title = "\x1b]0;owned\x07";
const std::string Hostile = Clear + Title + "\x9b" + "31m \xc2\x9b" + "0m\x7f \xe2\x80\xae" + "gnp.exe \xff";

// A shipped register file with hostile bytes in a group's main name, its title and a label.
std::string hostileRegisterFile(const TempDir& dir, const std::string& folder = "") {
    std::string xml = readFile(sourcePath("resources/registers_300.xml"));
    auto replaceAll = [&](const std::string& from, const std::string& to) {
        for (size_t at = xml.find(from); at != std::string::npos; at = xml.find(from, at + to.size()))
            xml.replace(at, from.size(), to);
    };
    replaceAll("TITLE=\"Unit Status\"", "TITLE=\"Unit " + Hostile + "\"");
    replaceAll("MAIN=\"Status\"", "MAIN=\"Sta" + Clear + "tus\"");
    replaceAll("LABEL=\"DB_SITE_CODE\"", "LABEL=\"DB_SITE_CODE" + Title + "\"");
    std::filesystem::path where = dir.path() / folder;
    std::filesystem::create_directories(where);
    const std::string path = (where / "registers_300.xml").string();
    std::ofstream(path, std::ios::binary) << xml;
    return path;
}

TEST(CliOutput, ARegisterFileCannotDriveTheTerminal) {
    TempDir dir;
    // The file's folder name is hostile too: the summary names the file.
    const std::string file = hostileRegisterFile(dir, "res" + Clear + "\x9b");
    CommandResult text = cli({"regfile", file});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_EQ(terminalHazard(text.out), "");
    EXPECT_EQ(terminalHazard(text.err), "");
    // The bytes are shown, escaped, rather than dropped (the file's stray bytes are read as Latin-1).
    EXPECT_THAT(text.out, HasSubstr("\"Unit \\x1b[2J\\x1b]0;owned\\x07\\xc2\\x9b31m \\xc2\\x9b0m\\x7f "
                                    "\\u202egnp.exe \xc3\xbf\""));
    EXPECT_THAT(text.out, HasSubstr("Sta\\x1b[2Jtus"));
    EXPECT_THAT(text.out, HasSubstr("DB_SITE_CODE\\x1b]0;owned\\x07"));
    EXPECT_THAT(text.out, HasSubstr("/res\\x1b[2J\\x9b/registers_300.xml: "));

    CommandResult json = cli({"regfile", file, "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    const QJsonDocument doc = parseJson(json.out);
    // Every character survives: the stray bytes as the characters of their numbers.
    bool found = false;
    for (const QJsonValue g : doc.object()["groups"].toArray())
        if (g["title"].toString().startsWith("Unit ")) {
            found = true;
            const QString title = g["title"].toString();
            EXPECT_TRUE(title.contains(QString::fromUtf8(Clear)));
            EXPECT_TRUE(title.contains(QChar(0x9B)));
            EXPECT_TRUE(title.endsWith(QChar(0xFF)));
        }
    EXPECT_TRUE(found) << json.out;
    EXPECT_TRUE(doc.object()["file"].toString().contains(QString::fromUtf8(Clear)));
}

TEST(CliOutput, ErrorLinesCarryNoControlCharacters) {
    TempDir dir;
    const std::string port = dir.file("tty" + Clear + "\x9b\xff");
    const std::string link = "serial:" + port;
    struct Case {
        std::vector<std::string> args;
        int exitCode;
    } cases[] = {
        {{"read", link, "0", "1"}, 1},                      // the port's path in the link error
        {{"identify", link}, 1},                            // the same through the engine
        {{"regfile", dir.file("no" + Title + ".xml")}, 1},  // a file that is not there
        {{"read", "tcp://" + Clear + ":502", "0", "1"}, 1}, // a host name that cannot be found
        {{"read", link, "0", "1", "--" + Title}, 2},        // an unknown option
        {{"frobnicate" + Clear}, 2},                        // an unknown command
        {{"regfile", hostileRegisterFile(dir) + Clear}, 1}, // a path with a hostile tail
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front());
        CommandResult r = cli(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(terminalHazard(r.err), "") << r.err;
        EXPECT_THAT(r.err, HasSubstr("\\x1b"));
    }
}

// Register texts from the link (a type-11 text register) in the monitor's output.
TEST(CliOutput, TextFromTheLinkCannotDriveTheTerminal) {
    // "ESC [ 2 J", C1 CSI, "7", BEL: high byte first, two characters a register.
    SimProcess sim({"--tcp", "127.0.0.1:0", "--firmware", "300", "--set", "199=1", "--set",
                    "80=" + std::to_string(0x1B5B) + "," + std::to_string(0x324A) + "," +
                        std::to_string(0x9B37) + "," + std::to_string(0x0700)});
    CommandResult text = cli({"monitor", sim.tcpLink(), "--passes", "1"});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_EQ(terminalHazard(text.out), "");
    EXPECT_THAT(text.out, HasSubstr("80\tDB_RELAY_TAG\t\\x1b[2J\\xc2\\x9b7\\x07\n"));

    CommandResult json = cli({"monitor", sim.tcpLink(), "--passes", "1", "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    const QJsonDocument doc = parseJson(json.out);
    EXPECT_EQ(doc.object()["values"].toObject()["80"].toObject()["value"].toString(),
              QString::fromUtf8("\x1b[2J\xc2\x9b"
                                "7\x07"));

    // A resources folder (with a hostile name) that holds no register file: the error names it.
    TempDir dir;
    const std::string empty = dir.file("res" + Clear + Title);
    std::filesystem::create_directories(empty);
    CommandResult failed = cli({"identify", sim.tcpLink(), "--resources", empty});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_EQ(terminalHazard(failed.err), "");
    EXPECT_THAT(failed.err, HasSubstr("res\\x1b[2J\\x1b]0;owned\\x07"));
}

} // namespace
