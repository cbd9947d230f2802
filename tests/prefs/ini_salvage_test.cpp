#include "prefs/ini_salvage.h"

#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using kt::decodeIniValue;
using kt::salvageIni;

TEST(IniSalvage, DecodesValuesAsQSettingsWritesThem) {
    const struct {
        const char* raw;
        const char* text;
    } cases[] = {
        {"COM4", "COM4"},
        {"  /dev/ttyUSB0  ", "/dev/ttyUSB0"},
        {"\"C:\\\\Data, Site 4\\\\KT = \\\"north\\\"; 100%\\\\KTMON740\"",
         "C:\\Data, Site 4\\KT = \"north\"; 100%\\KTMON740"},
        {"\"  spaced  \"", "  spaced  "},
        {"@@at", "@at"},
        {"@String(abc)", "abc"},
        {"Z\xc3\xbcrich\\x20\\x41", "Z\xc3\xbcrich A"},
        {"\\x20ac", "\xe2\x82\xac"},
        {"\\101\\102", "AB"},
        {"one, two", "one, two"},
        {"x;comment", "x"},
        {"", ""},
        {"true", "true"},
        {"-42", "-42"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.raw);
        auto text = decodeIniValue(c.raw);
        ASSERT_TRUE(text);
        EXPECT_EQ(*text, c.text);
    }
    // Not a text QSettings would give back: unknown escapes, cut-off quotes and escapes, other
    // types, code points that are not characters.
    for (const char* raw : {"a\\qb", "\"open", "end\\", "@Variant(\\0\\0)", "@ByteArray(x)", "\\x", "\\xd800",
                            "\\x110000", "\xff\xfe"}) {
        SCOPED_TRACE(raw);
        EXPECT_FALSE(decodeIniValue(raw));
    }
}

TEST(IniSalvage, RecognisesUtf8) {
    EXPECT_TRUE(kt::isValidUtf8("plain"));
    EXPECT_TRUE(kt::isValidUtf8("Z\xc3\xbcrich \xe2\x82\xac \xf0\x9f\x94\x8c"));
    for (const char* bad :
         {"\xff", "\xc3", "\xc0\x80", "\xe0\x80\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "a\x80"})
        EXPECT_FALSE(kt::isValidUtf8(bad)) << bad;
}

class IniSalvageFile : public ::testing::Test {
protected:
    std::filesystem::path write(const std::string& content) { return dir.write("prefs.ini", content); }
    kt::test::TempDir dir;
    const std::vector<std::string> keys{"port", "FileName", "save_rate", "running"};
};

TEST_F(IniSalvageFile, KeepsEveryGoodLineAroundTheDamage) {
    const char junkLine[] = "\x01\x02\xff\xfe junk\x00\x00 =\n";
    const std::string junk(junkLine, sizeof junkLine - 1); // with its NULs
    auto s = salvageIni(write("[General]\nport=not ours\n"
                              "[Preferences]\n"
                              "port=COM4\n" +
                              junk +
                              "\xc3\x28 broken utf-8\n"
                              "no equals sign here\n"
                              "[Broken header\n"
                              "save_rate=7\r\n"
                              "FileName=\"cut off\n"
                              "unknown=1\n"
                              "running=true\n"
                              "[Other]\n"
                              "running=false\n"),
                        "Preferences", keys);
    EXPECT_TRUE(s.opened);
    EXPECT_TRUE(s.sectionFound);
    EXPECT_EQ(s.values, (std::map<std::string, std::string, std::less<>>{
                            {"port", "COM4"}, {"save_rate", "7"}, {"running", "true"}}));
    EXPECT_EQ(s.unreadable, (std::set<std::string, std::less<>>{"FileName"}));
    EXPECT_EQ(s.skippedLines, 5u);
    EXPECT_FALSE(s.truncated);
}

TEST_F(IniSalvageFile, OverlongLinesAreSkippedAndNamed) {
    kt::IniSalvageLimits limits;
    limits.maxLineBytes = 64;
    auto s =
        salvageIni(write("[Preferences]\nFileName=" + std::string(1000, 'x') + "\nport=COM2\n" +
                         std::string(500, 'y') + "\nsave_rate=" + std::string(100, '1') + "\nsave_rate=3\n"),
                   "Preferences", keys, limits);
    EXPECT_EQ(s.values,
              (std::map<std::string, std::string, std::less<>>{{"port", "COM2"}, {"save_rate", "3"}}));
    // A later good line for the same value takes it back.
    EXPECT_EQ(s.unreadable, (std::set<std::string, std::less<>>{"FileName"}));
    EXPECT_EQ(s.skippedLines, 3u);
}

TEST_F(IniSalvageFile, StopsAtTheScanBound) {
    kt::IniSalvageLimits limits;
    limits.maxScanBytes = 40;
    auto s = salvageIni(write("[Preferences]\nport=COM2\nFileName=abcdefghijklmnopqrstuvwxyz\nsave_rate=3\n"),
                        "Preferences", keys, limits);
    EXPECT_TRUE(s.truncated);
    EXPECT_EQ(s.values, (std::map<std::string, std::string, std::less<>>{{"port", "COM2"}}));
    EXPECT_EQ(s.unreadable, (std::set<std::string, std::less<>>{"FileName"}));
}

TEST_F(IniSalvageFile, MissingFileIsNotOpened) {
    auto s = salvageIni(dir.file("absent.ini"), "Preferences", keys);
    EXPECT_FALSE(s.opened);
    EXPECT_FALSE(s.sectionFound);
    EXPECT_TRUE(s.values.empty());
}

} // namespace
