#include "monitor/register_codec.h"

#include <gtest/gtest.h>

#include <vector>

using namespace kt;

namespace {

RegisterCacheWords cacheWith(int reg, const std::vector<uint16_t>& words) {
    RegisterCacheWords cache{};
    // Words around the value that a wrong register count would pick up.
    cache.fill(0x7777);
    for (size_t i = 0; i < words.size(); ++i) cache[reg + i] = words[i];
    return cache;
}

struct Case {
    int type;
    std::vector<uint16_t> words;
    const char* text;
};

void expectCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.type) + " expecting " + c.text);
        auto cache = cacheWith(100, c.words);
        EXPECT_EQ(registerText(cache, 100, c.type), c.text);
    }
}

} // namespace

TEST(RegisterText, NumbersInEveryPicture) {
    expectCases({
        {ValueType::Unsigned16, {0xFFFF}, "65535"},
        {ValueType::Unsigned16, {0}, "0"},
        {ValueType::Signed16, {0xFFFF}, "-1"},
        {ValueType::Signed16, {0x8000}, "-32768"},
        {ValueType::Signed32Padded, {0x0001, 0x0000}, "000000001"},
        {ValueType::Signed32Padded, {0xFFFF, 0xFFFF}, "-000000001"},
        {ValueType::Signed32Padded, {0x0000, 0x8000}, "-2147483648"},
        {ValueType::Signed32Padded, {0xFFFF, 0x7FFF}, "2147483647"},
        {ValueType::Signed32, {0xFFFE, 0xFFFF}, "-2"},
        {ValueType::Signed32, {100, 0}, "100"},
        {ValueType::Signed32, {0x0000, 0x0001}, "65536"},
        {ValueType::Unsigned32Padded, {0xFFFF, 0xFFFF}, "4294967295"},
        {ValueType::Unsigned32Padded, {5, 0}, "00000005"},
        {ValueType::Unsigned48, {1, 0, 0}, "0000000000000001"},
        {ValueType::Unsigned48, {0xFFFF, 0xFFFF, 0xFFFF}, "0281474976710655"},
        {ValueType::Unsigned48, {0x0001, 0x0000, 0x8000}, "0140737488355329"},
        {ValueType::Hex16, {0x00AB}, "0x00AB"},
        {ValueType::Hex16, {0xBEEF}, "0xBEEF"},
        {ValueType::Hex32, {0x5678, 0x1234}, "0x12345678"},
        {ValueType::Hex32, {0x000F, 0x00A0}, "0x00A0000F"},
        {ValueType::NotPolled, {0x1234}, "-"},
    });
}

TEST(RegisterText, ThousandthsRoundToTwoDecimals) {
    auto words = [](int32_t v) {
        auto w = encode32(v);
        return std::vector<uint16_t>{w[0], w[1]};
    };
    expectCases({
        {ValueType::Thousandths, words(12346), "12.35"},
        {ValueType::Thousandths, words(-12346), "-12.35"},
        {ValueType::Thousandths, words(1000), "1.00"},
        {ValueType::Thousandths, words(5), "0.01"}, // halves away from zero
        {ValueType::Thousandths, words(-5), "-0.01"},
        {ValueType::Thousandths, words(4), "0.00"},
        {ValueType::Thousandths, words(-4), "0.00"}, // no "-0.00"
        {ValueType::Thousandths, words(0), "0.00"},
        {ValueType::Thousandths, words(INT32_MIN), "-2147483.65"},
    });
}

TEST(RegisterText, DateTimeAddressesAndOffsets) {
    expectCases({
        {ValueType::Date, {0x0309, 2021}, "9/3/2021"},
        {ValueType::Date, {0x0C1F, 1999}, "31/12/1999"},
        {ValueType::Time, {0x0900, 0x0705}, "07:05:09"},
        {ValueType::Time, {0x09FF, 0x0705}, "07:05:09"}, // the milliseconds byte is not shown
        {ValueType::Time, {0x3B00, 0x173B}, "23:59:59"},
        {ValueType::IpAddress, {0x010A, 0xC0A8}, "192.168.001.010"},
        {ValueType::IpAddress, {0xFFFF, 0xFFFF}, "255.255.255.255"},
        {ValueType::MacAddress, {0x5566, 0x3344, 0x0211}, "02:11:33:44:55:66"},
        {ValueType::MacAddress, {0x0A0B, 0x0C0D, 0xFEFF}, "FE:FF:0C:0D:0A:0B"},
        {ValueType::UtcOffset, {330}, "+05:30"},
        {ValueType::UtcOffset, {0}, "+00:00"},
        {ValueType::UtcOffset, {59}, "+00:59"},
        {ValueType::UtcOffset, {600}, "+10:00"},
        {ValueType::UtcOffset, {static_cast<uint16_t>(-330)}, "-05:30"},
        {ValueType::UtcOffset, {static_cast<uint16_t>(-60)}, "-01:00"},
        {ValueType::UtcOffset, {static_cast<uint16_t>(-30)}, "-00:30"}, // keeps its sign
        {ValueType::UtcOffset, {0x8000}, "-546:08"},
    });
}

TEST(RegisterText, CharacterTextsHighByteFirstUpToTheFirstZero) {
    std::vector<uint16_t> full64(32);
    std::string expected64;
    for (int i = 0; i < 32; ++i) {
        full64[i] = static_cast<uint16_t>(('A' + i % 26) << 8 | ('a' + i % 26));
        expected64 += static_cast<char>('A' + i % 26);
        expected64 += static_cast<char>('a' + i % 26);
    }
    expectCases({
        {ValueType::Text32, {0x4142, 0x4344, 0x0000, 0x4546}, "ABCD"},
        {ValueType::Text32, {0x4142, 0x4300, 0x4546}, "ABC"},
        {ValueType::Text8, {0x4657, 0x332E, 0x3030, 0x2E37}, "FW3.00.7"}, // full: no terminator
        {ValueType::Text2, {0x5331}, "S1"},
        {ValueType::Text2, {0x4100}, "A"},
        {ValueType::Text2, {0x0041}, ""},
        {ValueType::Text2,
         {0xE941},
         "\xC3\xA9"
         "A"}, // single-byte é arrives as UTF-8
        {ValueType::Text64, full64, expected64.c_str()},
    });
}

TEST(RegisterText, NeverReadsPastTheCache) {
    RegisterCacheWords cache{};
    cache.fill(0x4141);
    struct Bound {
        int reg, type;
        std::string text;
    } cases[] = {
        {999, ValueType::Unsigned16, "16705"},
        {999, ValueType::Signed32Padded, "--"},
        {998, ValueType::Signed32Padded, "1094795585"},
        {998, ValueType::MacAddress, "--"},
        {997, ValueType::MacAddress, "41:41:41:41:41:41"},
        {968, ValueType::Text64, std::string(64, 'A')},
        {969, ValueType::Text64, "--"},
        {985, ValueType::Text32, "--"},
        {-1, ValueType::Unsigned16, "--"},
        {1000, ValueType::Unsigned16, "--"},
        {1000, ValueType::NotPolled, "-"},
    };
    for (const Bound& b : cases) {
        SCOPED_TRACE("register " + std::to_string(b.reg) + " type " + std::to_string(b.type));
        EXPECT_EQ(registerText(cache, b.reg, b.type), b.text);
    }
}

TEST(RegisterText, CodesWithoutAConversionGiveADashNotTheLastText) {
    RegisterCacheWords cache{};
    cache[10] = 1234;
    std::string out;
    for (int type : {12, 20, 99, -1, 65536}) {
        SCOPED_TRACE(type);
        registerTextInto(out, cache, 10, ValueType::Unsigned16);
        ASSERT_EQ(out, "1234");
        registerTextInto(out, cache, 10, type);
        EXPECT_EQ(out, "-");
        EXPECT_FALSE(isConvertibleValueType(type));
        EXPECT_EQ(valueTypeRegisterCount(type), 0);
    }
}

TEST(RegisterText, RegisterCountsPerType) {
    const int counts[20] = {0, 1, 2, 2, 2, 2, 1, 2, 1, 3, 32, 16, 0, 3, 4, 2, 1, 2, 1, 2};
    for (int type = 0; type < 20; ++type) {
        SCOPED_TRACE(type);
        EXPECT_EQ(valueTypeRegisterCount(type), counts[type]);
    }
}

// ---- Inverse encodings: each must read back through its value type. ----

TEST(Encodings, ThirtyTwoBitNumbersGoLowWordFirst) {
    for (int64_t v :
         {int64_t{0}, int64_t{1}, int64_t{-1}, int64_t{123456789}, int64_t{INT32_MIN}, int64_t{INT32_MAX}}) {
        SCOPED_TRACE(v);
        auto w = encode32(v);
        auto cache = cacheWith(0, {w[0], w[1]});
        EXPECT_EQ(registerText(cache, 0, ValueType::Signed32), std::to_string(v));
    }
    auto w = encode32(0x12345678);
    EXPECT_EQ(w[0], 0x5678);
    EXPECT_EQ(w[1], 0x1234);
    auto big = encode32(4294967295LL);
    auto cache = cacheWith(0, {big[0], big[1]});
    EXPECT_EQ(registerText(cache, 0, ValueType::Unsigned32Padded), "4294967295");
}

TEST(Encodings, IpAddressTextFromTheEditMask) {
    struct IpCase {
        const char* text;
        bool valid;
        uint16_t first, second;
    } cases[] = {
        {"192.168.001.010", true, 0x010A, 0xC0A8},
        {"192.168.1  .10 ", true, 0x010A, 0xC0A8}, // blanks the mask leaves
        {"000.000.000.000", true, 0, 0},
        {"255.255.255.255", true, 0xFFFF, 0xFFFF},
        {"256.000.000.000", false, 0, 0},
        {"192.168.001.-01", false, 0, 0},
        {"abc.def.ghi.jkl", false, 0, 0},
        {"192.168.   .010", false, 0, 0},
        {"192.168.1.10", false, 0, 0},
        {"192.168.001.0100", false, 0, 0},
        {"192,168,001,010", false, 0, 0},
        {"", false, 0, 0},
    };
    for (const IpCase& c : cases) {
        SCOPED_TRACE(c.text);
        auto words = encodeIpAddress(std::string_view(c.text));
        ASSERT_EQ(words.has_value(), c.valid);
        if (!c.valid) continue;
        EXPECT_EQ((*words)[0], c.first);
        EXPECT_EQ((*words)[1], c.second);
    }
    auto words = *encodeIpAddress(std::string_view("010.020.030.040"));
    auto cache = cacheWith(101, {words[0], words[1]});
    EXPECT_EQ(registerText(cache, 101, ValueType::IpAddress), "010.020.030.040");
}

TEST(Encodings, MacAddressBytesAndText) {
    auto bytes = parseMacAddress("02:11:33:44:55:66");
    ASSERT_TRUE(bytes);
    auto words = encodeMacAddress(*bytes);
    EXPECT_EQ(words[0], 0x5566);
    EXPECT_EQ(words[1], 0x3344);
    EXPECT_EQ(words[2], 0x0211);
    auto cache = cacheWith(107, {words[0], words[1], words[2]});
    EXPECT_EQ(registerText(cache, 107, ValueType::MacAddress), "02:11:33:44:55:66");

    EXPECT_TRUE(parseMacAddress("A :B :C :D :E :F ")); // trailing blanks of the mask
    for (const char* bad : {"0G:11:33:44:55:66", " 1:11:33:44:55:66", "02:11:33:44:55", "02-11-33-44-55-66",
                            "  :11:33:44:55:66", "-1:11:33:44:55:66", "02:11:33:44:55:666"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(parseMacAddress(bad));
    }
}

TEST(Encodings, ClockWordsReadBackAsDateAndTime) {
    ClockWords w = encodeClock({2021, 3, 9, 7, 5, 9, 300});
    EXPECT_EQ(w.time[0], (9 << 8) | (300 % 256));
    EXPECT_EQ(w.time[1], 0x0705);
    EXPECT_EQ(w.date[0], 0x0309);
    EXPECT_EQ(w.date[1], 2021);
    auto cache = cacheWith(150, {w.date[0], w.date[1], w.time[0], w.time[1]});
    EXPECT_EQ(registerText(cache, 150, ValueType::Date), "9/3/2021");
    EXPECT_EQ(registerText(cache, 152, ValueType::Time), "07:05:09");
}

TEST(Encodings, EveryOfferedUtcOffsetRoundTrips) {
    const char* offsets[] = {"-12:00", "-11:00", "-10:00", "-09:30", "-09:00", "-08:00", "-07:00", "-06:00",
                             "-05:00", "-04:00", "-03:30", "-03:00", "-02:00", "-01:00", "+00:00", "+01:00",
                             "+02:00", "+03:00", "+03:30", "+04:00", "+04:30", "+05:00", "+05:30", "+05:45",
                             "+06:00", "+06:30", "+07:00", "+08:00", "+08:30", "+08:45", "+09:00", "+09:30",
                             "+10:00", "+10:30", "+11:00", "+12:00", "+12:45", "+13:00", "+14:00"};
    for (const char* text : offsets) {
        SCOPED_TRACE(text);
        auto minutes = parseUtcOffset(text);
        ASSERT_TRUE(minutes);
        auto cache = cacheWith(162, {static_cast<uint16_t>(*minutes)});
        EXPECT_EQ(registerText(cache, 162, ValueType::UtcOffset), text);
    }
    EXPECT_EQ(parseUtcOffset("-03:30"), -210);
    EXPECT_EQ(parseUtcOffset("+05:45"), 345);
    EXPECT_EQ(parseUtcOffset("+00:00"), 0);
    for (const char* bad : {"5:30", "+5:30", "+05-30", "05:30", "+05:60", "+ 5:30", "", "+05:3a"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(parseUtcOffset(bad));
    }
}

TEST(Encodings, CharacterTextsPackTwoPerRegister) {
    auto words = encodeText("ABCD", 16);
    ASSERT_EQ(words.size(), 16u);
    EXPECT_EQ(words[0], 0x4142);
    EXPECT_EQ(words[1], 0x4344);
    EXPECT_EQ(words[2], 0);

    std::string full(64, 'x');
    auto fullWords = encodeText(full, 32);
    RegisterCacheWords cache{};
    std::copy(fullWords.begin(), fullWords.end(), cache.begin() + 200);
    cache[232] = 0x4142; // a full text has no terminator: the next register must not join it
    EXPECT_EQ(registerText(cache, 200, ValueType::Text64), full);

    auto odd = encodeText("ABC", 2);
    EXPECT_EQ(odd[1], 0x4300);
    auto cut = encodeText("ABCDEF", 2);
    EXPECT_EQ(cut.size(), 2u);
    EXPECT_EQ(cut[1], 0x4344);

    auto latin = encodeText("\xC3\xA9t\xC3\xA9 \xE2\x82\xAC", 3); // "été €": € has no single byte
    EXPECT_EQ(latin[0], 0xE974);
    EXPECT_EQ(latin[1], 0xE920);
    EXPECT_EQ(latin[2], '?' << 8);
    std::copy(latin.begin(), latin.end(), cache.begin() + 300);
    cache[303] = 0;
    EXPECT_EQ(registerText(cache, 300, ValueType::Text8), "\xC3\xA9t\xC3\xA9 ?");
}

TEST(Utf8, InvalidBytesAreTakenAsLatin1) {
    EXPECT_EQ(toValidUtf8("plain"), "plain");
    EXPECT_EQ(toValidUtf8("\xCE\xA9 ok"), "\xCE\xA9 ok");               // valid UTF-8 stays
    EXPECT_EQ(toValidUtf8("\xE9t\xE9"), "\xC3\xA9t\xC3\xA9");           // Latin-1 été
    EXPECT_EQ(toValidUtf8("25\xB0"), "25\xC2\xB0");                     // degree sign
    EXPECT_EQ(toValidUtf8("\xC3"), "\xC3\x83");                         // truncated sequence
    EXPECT_EQ(toValidUtf8("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xC2\x80"); // surrogate
    EXPECT_EQ(toValidUtf8("\xC0\xAF"), "\xC3\x80\xC2\xAF");             // overlong
}
