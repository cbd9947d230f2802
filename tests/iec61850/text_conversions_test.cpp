#include "iec61850/iec61850_errors.h"
#include "iec61850/text_conversions.h"

#include <gtest/gtest.h>

namespace kt {
namespace {

TEST(IPText, DottedAddressesBothWays) {
    EXPECT_EQ(TextToIP("192.168.1.10"), 0xC0A8010Au);
    EXPECT_EQ(IPToText(0xC0A8010A), "192.168.1.10");
    EXPECT_EQ(IPToText(0), "0.0.0.0");
    EXPECT_EQ(IPToText(0xFFFFFFFF), "255.255.255.255");
}

TEST(IPText, PartsThatAreNotNumbersCountAsZero) {
    struct Case {
        const char* text;
        uint32_t ip;
    } cases[] = {
        {"", 0},
        {"10", 0x0A000000},       // missing parts are empty
        {"10.0.x.1", 0x0A000001}, // a part that is not a number is 0
        {" 10 . 1 . 2 . 3 ", 0x0A010203},
        {"1.2.3.4.5", 0x01020304}, // a fifth part is not read
        {"0.0.1.256", 0x00000100}, // no range check: 256 is ORed over the octet before
        {"-1.0.0.0", 0xFF000000},
        {"99999999999999999999.0.0.1", 1}, // beyond 64 bits is not a number
    };
    for (const Case& c : cases) EXPECT_EQ(TextToIP(c.text), c.ip) << c.text;
}

TEST(MACText, SixOctetsFirstMostSignificant) {
    EXPECT_EQ(MACToText(0x010CCD010002), "01-0C-CD-01-00-02");
    EXPECT_EQ(TextToMAC("01-0c-cd-01-00-02"), 0x010CCD010002u);
    EXPECT_EQ(MACToText(0xFFFF010CCD010002), "01-0C-CD-01-00-02"); // only the low 48 bits
    EXPECT_EQ(TextToMAC(""), 0u);
    EXPECT_EQ(TextToMAC("01-02"), 0x010200000000u); // missing octets are 0
    EXPECT_EQ(TextToMAC("01-0G-03-04-05-06"), 0x010003040506u);
    EXPECT_EQ(TextToMAC("1FF-02-03-04-05-06"), 0xFF0203040506u); // an octet keeps eight bits
    EXPECT_EQ(TextToMAC("  -  -  -  -  -  "), 0u);               // the editor's empty mask
}

TEST(HexText, ToHexPadsAndHexToIntStopsAtJunk) {
    EXPECT_EQ(ToHex(3, 4), "0003");
    EXPECT_EQ(ToHex(0x1F, 1), "1F");
    EXPECT_EQ(ToHex(0xABCDEF, 8), "00ABCDEF");
    EXPECT_EQ(ToHex(0xFFFFFFFFFFFFFFFF, 4), "FFFFFFFFFFFFFFFF");
    EXPECT_EQ(HexToInt("3fff"), 0x3FFFu);
    EXPECT_EQ(HexToInt("00000001"), 1u);
    EXPECT_EQ(HexToInt(""), 0u);
    EXPECT_EQ(HexToInt("12G4"), 0u);
    EXPECT_EQ(HexToInt("0x10"), 0u);
    EXPECT_EQ(HexToInt(" 1"), 0u);
}

TEST(DecimalText, WholeNumbersOnly) {
    EXPECT_EQ(ParseDecimal("42"), 42);
    EXPECT_EQ(ParseDecimal(" -7 "), -7);
    EXPECT_EQ(ParseDecimal("+5"), 5);
    EXPECT_EQ(ParseDecimal("9223372036854775807"), INT64_MAX);
    for (const char* bad : {"", " ", "4x", "x4", "1.5", "9223372036854775808", "+-1", "0x10"})
        EXPECT_FALSE(ParseDecimal(bad).has_value()) << bad;
    EXPECT_EQ(StrToInt64Def("junk", 12), 12);
    try {
        StrToInt64("12a");
        FAIL() << "no ConversionError";
    } catch (const ConversionError& e) {
        EXPECT_STREQ(e.what(), "'12a' is not a valid integer value");
    }
}

TEST(Utf8Text, PrefixCountsCharactersNotBytes) {
    EXPECT_EQ(Utf8Prefix("abcdef", 4), "abcd");
    EXPECT_EQ(Utf8Prefix("abc", 64), "abc");
    EXPECT_EQ(Utf8Prefix("\xC3\xA4\xC3\xB6\xC3\xBC", 2), "\xC3\xA4\xC3\xB6"); // äöü
    EXPECT_EQ(Utf8Prefix("\xE2\x82\xAC"
                         "x",
                         1),
              "\xE2\x82\xAC");
}

} // namespace
} // namespace kt
