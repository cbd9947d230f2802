// The IEC 61850 settings transfer against a unit in memory. Register numbers in these tests are
// the unit's as its register map gives them, written out here rather than taken from the code.
#include "fake_unit_link.h"
#include "scl_test_util.h"

#include "iec61850/settings_transfer.h"

#include <gmock/gmock.h>

namespace kt {
namespace {

using test::FakeRequest;
using test::FakeUnitLink;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Words of a text, two characters a register, the first in the high byte.
void putText(std::vector<uint16_t>& words, size_t at, const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        uint16_t& w = words.at(at + i / 2);
        w = static_cast<uint16_t>(i % 2 == 0 ? (static_cast<uint8_t>(text[i]) << 8) | (w & 0xFF)
                                             : (w & 0xFF00) | static_cast<uint8_t>(text[i]));
    }
}
void put32(std::vector<uint16_t>& words, size_t at, uint32_t v) {
    words.at(at) = static_cast<uint16_t>(v & 0xFFFF);
    words.at(at + 1) = static_cast<uint16_t>(v >> 16);
}

// A unit whose settings are written into its registers by the register map, field by field.
class TransferTest : public ::testing::Test {
protected:
    FakeUnitLink unit;

    // Slot words are indexed from the register after the selector.
    std::vector<uint16_t>& rcb(int slot) { return unit.slot(260, slot); }
    std::vector<uint16_t>& dataSet(int slot) { return unit.slot(310, slot); }
    std::vector<uint16_t>& gcb(int slot) { return unit.slot(580, slot); }
    std::vector<uint16_t>& ni(int slot) { return unit.slot(630, slot); }

    void fillUnit() {
        std::vector<uint16_t> server(60);
        putText(server, 200 - 200, "NGR_RELAY_7");
        put32(server, 232 - 200, 120);
        server[234 - 200] = 1;
        putText(server, 235 - 200, "1.3.9999.33");
        server[251 - 200] = 33;
        put32(server, 252 - 200, 0x89ABCDEF);
        server[254 - 200] = 0x0102;
        server[255 - 200] = 0xFFFF;
        std::copy(server.begin(), server.end(), unit.unit.begin() + 200);
        for (int s = 0; s < 8; ++s) {
            auto& w = rcb(s);
            w[261 - 261] = static_cast<uint16_t>(s + 1);
            putText(w, 262 - 261, "RPT" + std::to_string(s));
            put32(w, 295 - 261, 100000u + s);
            put32(w, 297 - 261, 250);
            put32(w, 299 - 261, 5000);
            w[301 - 261] = 0x1FE;
            w[302 - 261] = 0x3E;
        }
        for (int s = 0; s < 5; ++s) {
            auto& w = dataSet(s);
            putText(w, 311 - 311, "LLN0$DS" + std::to_string(s + 1));
            w[344 - 311] = 0;
            w[345 - 311] = static_cast<uint16_t>(s == 4 ? 32 : 2);
            for (int m = 0; m < w[345 - 311]; ++m) put32(w, 346 - 311 + 2 * m, 0x80000000u + m);
        }
        for (int s = 0; s < 2; ++s) {
            auto& w = gcb(s);
            w[581 - 581] = 0x0203; // low, middle, high words of 01-0C-CD-01-02-03
            w[582 - 581] = 0xCD01;
            w[583 - 581] = 0x010C;
            w[584 - 581] = static_cast<uint16_t>(0x3FFF - s);
            putText(w, 585 - 581, "GOOSE" + std::to_string(s));
            w[618 - 581] = 4;
            w[619 - 581] = 0xFFF;
            w[620 - 581] = 1;
            w[621 - 581] = 3;
            w[622 - 581] = static_cast<uint16_t>(s);
        }
        for (int s = 0; s < 16; ++s) {
            auto& w = ni(s);
            w[631 - 631] = static_cast<uint16_t>(s);
            w[632 - 631] = 0;
            w[633 - 631] = 0xFFFF;
            w[634 - 631] = static_cast<uint16_t>(s + 1);
            putText(w, 635 - 631, std::string(64, static_cast<char>('a' + s)));
            put32(w, 668 - 631, 0xFFFFFFFF);
            w[670 - 631] = static_cast<uint16_t>(s * 2);
            w[671 - 631] = 15;
            w[672 - 631] = 1;
            w[673 - 631] = s % 2;
        }
        auto pass = std::make_shared<PassSnapshot>();
        pass->values.at(101).value = "192.168.001.100";
        pass->values.at(103).value = "255.255.255.000";
        pass->values.at(105).value = "192.168.001.001";
        pass->values.at(110).value = "010.000.000.020";
        pass->values.at(112).value = "255.000.000.000";
        pass->values.at(114).value = "010.000.000.001";
        pass->cache[160] = (7 << 8) | 8; // 5.6.7.8: 160 holds the third and fourth octet
        pass->cache[161] = (5 << 8) | 6;
        unit.pass = pass;
    }
};

TEST_F(TransferTest, ReadTakesEveryFieldFromItsRegister) {
    fillUnit();
    Struct61850Settings s;
    Read61850Result r = ReadSettings61850(unit, s);
    ASSERT_TRUE(r.ok()) << describe(r);
    EXPECT_EQ(r.errorPosition, 1);

    EXPECT_EQ(s.IP1, "192.168.001.100");
    EXPECT_EQ(s.Gateway2, "010.000.000.001");
    EXPECT_EQ(s.TimeServerIPText, "005.006.007.008");
    EXPECT_EQ(s.IEDName, "NGR_RELAY_7");
    EXPECT_EQ(s.KeepAlive, 120u);
    EXPECT_EQ(s.CheckUpperAddresses, 1);
    EXPECT_EQ(s.APTitle, "1.3.9999.33");
    EXPECT_EQ(s.AEQualifier, 33);
    EXPECT_EQ(s.PSEL, 0x89ABCDEFu); // above 2^31: kept whole through the signed text
    EXPECT_EQ(s.SSEL, 0x0102);
    EXPECT_EQ(s.TSEL, 0xFFFF);
    EXPECT_EQ(s.RCBCount, 8);
    for (int i = 0; i < 8; ++i) {
        const TRCBConfig& b = s.RCB[i];
        EXPECT_EQ(b.DataSetIndex, i + 1);
        EXPECT_EQ(b.RptID, "RPT" + std::to_string(i));
        EXPECT_EQ(b.ConfRev, 100000u + i);
        EXPECT_EQ(b.BufTime, 250u);
        EXPECT_EQ(b.IntgPd, 5000u);
        EXPECT_EQ(b.OptFields, 0x1FE);
        EXPECT_EQ(b.TrgOps, 0x3E);
    }
    EXPECT_EQ(s.RCB[3].Name, "brcb04");
    EXPECT_EQ(s.RCB[4].Name, "urcb01");
    for (int i = 0; i < 32; ++i) EXPECT_EQ(s.DataSet[i].Fixed, i < 3) << i;
    EXPECT_EQ(s.DataSet[1].Name, "LLN0$DS2");
    EXPECT_EQ(s.DataSet[1].Members, (std::vector<uint32_t>{0x80000000u, 0x80000001u}));
    EXPECT_EQ(s.DataSet[4].Count, 32);
    EXPECT_EQ(s.DataSet[4].Members.back(), 0x8000001Fu); // registers 408..409
    EXPECT_EQ(s.DataSet[5].Count, 0);
    EXPECT_TRUE(s.DataSet[5].Members.empty());
    EXPECT_EQ(s.GCB[1].DstMAC, 0x010CCD010203u);
    EXPECT_EQ(s.GCB[1].AppID, 0x3FFE);
    EXPECT_EQ(s.GCB[1].GoID, "GOOSE1");
    EXPECT_EQ(s.GCB[1].VLANPriority, 4);
    EXPECT_EQ(s.GCB[1].VLANID, 0xFFF);
    EXPECT_TRUE(s.GCB[1].Enabled);
    EXPECT_EQ(s.GCB[1].Interface, 3);
    EXPECT_TRUE(s.GCB[1].Test);
    EXPECT_EQ(s.GCB[0].Name, "gcb1");
    const TNIConfig& n = s.NI[15];
    EXPECT_EQ(n.DstMAC, 0xFFFF0000000Fu);
    EXPECT_EQ(n.AppID, 16);
    EXPECT_EQ(n.GoID, std::string(64, 'p'));
    EXPECT_EQ(n.ConfRev, 0xFFFFFFFFu);
    EXPECT_EQ(n.DataIndex, 30);
    EXPECT_EQ(n.BitIndex, 15);
    EXPECT_TRUE(n.Enabled);
    EXPECT_TRUE(n.Inverted);
    EXPECT_EQ(n.Name, "NI16");

    // One block read of the server, then selector, a 10 ms pause and the window per slot.
    std::vector<std::string> log = unit.log();
    ASSERT_EQ(log.size(), 1u + 2 * (8 + 32 + 2 + 16));
    EXPECT_EQ(log[0], "read 200+60");
    EXPECT_EQ(log[1], "write 260 = 0");
    EXPECT_EQ(log[2], "read 260+50");
    EXPECT_EQ(log[17], "write 310 = 0");
    EXPECT_EQ(log[18], "read 310+100");
    EXPECT_EQ(log[81], "write 580 = 0");
    EXPECT_EQ(log[82], "read 580+50");
    EXPECT_EQ(log[85], "write 630 = 0");
    EXPECT_EQ(log[86], "read 630+100");
    EXPECT_EQ(log.back(), "read 630+100");
    EXPECT_EQ(unit.pauses, std::vector<std::chrono::milliseconds>(58, std::chrono::milliseconds(10)));
    // One progress report per step, against 65.
    ASSERT_FALSE(unit.progressCalls.empty());
    EXPECT_EQ(unit.progressCalls.front(), std::make_pair(0, 65));
    EXPECT_EQ(unit.progressCalls.back(), std::make_pair(65, 65));
    EXPECT_EQ(unit.progressCalls.size(), 1u + 67u);
    EXPECT_EQ(r.steps, 67);
    EXPECT_EQ(unit.progressText, "Reading from KT-740");
}

TEST_F(TransferTest, AFailedReadEndsWithThePositionOfItsPart) {
    struct Case {
        const char* failing; // the request that fails
        int position;
        Settings61850Part part;
        int slot;
    } cases[] = {
        {"read 200+60", 2, Settings61850Part::Server, -1},
        {"read 260+50", 3, Settings61850Part::RCB, 0},
        {"write 260 = 5", 3, Settings61850Part::RCB, 5},
        {"read 310+100", 4, Settings61850Part::DataSet, 0},
        {"write 310 = 31", 4, Settings61850Part::DataSet, 31},
        {"read 580+50", 5, Settings61850Part::GCB, 0},
        {"write 630 = 15", 6, Settings61850Part::NI, 15},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failing);
        FakeUnitLink u;
        u.script = [&](const FakeRequest& r) {
            return r.text() == c.failing ? LinkResult::exception(2) : LinkResult::done();
        };
        Struct61850Settings s;
        Read61850Result r = ReadSettings61850(u, s);
        EXPECT_EQ(r.errorPosition, c.position);
        EXPECT_FALSE(r.ok());
        EXPECT_FALSE(r.cancelled);
        EXPECT_EQ(r.failure.place, (SettingsPlace{c.part, c.slot}));
        EXPECT_EQ(r.failure.link.status, LinkStatus::Exception);
        EXPECT_EQ(u.log().back(), c.failing); // nothing after the failed request
        EXPECT_THAT(
            describe(r, "10.0.0.5:502"),
            HasSubstr("Couldn't read settings from KT-740: Error Position " + std::to_string(c.position)));
    }
}

TEST_F(TransferTest, ASilentUnitIsErrorPositionTwo) {
    unit.script = [](const FakeRequest&) { return LinkResult::failure(LinkStatus::NoAnswer); };
    Struct61850Settings s;
    Read61850Result r = ReadSettings61850(unit, s);
    EXPECT_EQ(r.errorPosition, 2);
    EXPECT_EQ(unit.log(), std::vector<std::string>{"read 200+60"});
    EXPECT_EQ(describe(r, "10.0.0.5:502"),
              "Couldn't read settings from KT-740: Error Position 2\n"
              "server settings: no answer from unit 254 at 10.0.0.5:502 to the read "
              "of registers 200..259 after 0 attempts");
}

TEST_F(TransferTest, ADataSetWithMoreMembersThanItsWindowIsNotRead) {
    fillUnit();
    dataSet(7)[345 - 311] = 33;
    Struct61850Settings s;
    Read61850Result r = ReadSettings61850(unit, s);
    EXPECT_EQ(r.errorPosition, 4);
    EXPECT_EQ(r.failure.place, (SettingsPlace{Settings61850Part::DataSet, 7}));
    EXPECT_EQ(r.problem, "data set 8 reports 33 members; its window holds 32");
    EXPECT_EQ(unit.log().back(), "read 310+100");
}

TEST_F(TransferTest, ACancelledReadStopsBetweenRequestsAndSaysWhere) {
    fillUnit();
    unit.cancelAfterRequests = 1 + 2 * 8 + 2 * 3; // server, the blocks, three datasets
    Struct61850Settings s;
    Read61850Result r = ReadSettings61850(unit, s);
    EXPECT_TRUE(r.cancelled);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.failure.place, (SettingsPlace{Settings61850Part::DataSet, 3}));
    EXPECT_EQ(unit.requests.size(), 23u);
    EXPECT_THAT(describe(r), HasSubstr("cancelled at the data set 4"));
}

// ---- writing ----------------------------------------------------------------------------------

Struct61850Settings sample() {
    Struct61850Settings s;
    s.TimeServerIP = 0x0A000005;
    s.IEDName = std::string(64, 'N'); // fills 200..231 without a terminator
    s.KeepAlive = 70000;
    s.CheckUpperAddresses = 1;
    s.APTitle = "1.3.9999.33";
    s.AEQualifier = 33;
    s.PSEL = 1;
    s.SSEL = 2;
    s.TSEL = 3;
    s.RCBCount = 8;
    for (int i = 0; i < 8; ++i) {
        TRCBConfig& b = s.RCB[i];
        b.DataSetIndex = static_cast<uint8_t>(i % 5);
        b.RptID = "R" + std::to_string(i);
        b.ConfRev = 7u + i;
        b.BufTime = 100;
        b.IntgPd = 70000;
        b.OptFields = 0x1DE;
        b.TrgOps = 0x3E;
    }
    for (int i = 0; i < 32; ++i) {
        TDatasetConfig& d = s.DataSet[i];
        d.Fixed = i < 3;
        d.Name = "LLN0$Slot" + std::to_string(i);
        d.Count = i < 6 ? 2 : 0; // 6..31 free
        d.Members.assign(d.Count, 0);
        for (int m = 0; m < d.Count; ++m) d.Members[m] = 0x00104028u + static_cast<uint32_t>(i * 16 + m);
    }
    for (int i = 0; i < 2; ++i) {
        TGCBConfig& g = s.GCB[i];
        g.Enabled = true;
        g.Interface = static_cast<uint8_t>(i + 1);
        g.AppID = 0x3001;
        g.DstMAC = 0x010CCD01A2B3;
        g.VLANPriority = 5;
        g.VLANID = 0x123;
        g.GoID = "GO" + std::to_string(i);
    }
    for (int i = 0; i < 16; ++i) {
        TNIConfig& n = s.NI[i];
        n.Enabled = i % 2 == 0;
        n.Inverted = i % 3 == 0;
        n.AppID = static_cast<uint16_t>(0x100 + i);
        n.DstMAC = 0x010CCD010000 + i;
        n.ConfRev = 1;
        n.DataIndex = static_cast<uint16_t>(i);
        n.BitIndex = 2;
        n.GoID = "IN" + std::to_string(i);
    }
    return s;
}

std::vector<std::string> logBetween(const std::vector<std::string>& log, const std::string& first,
                                    const std::string& last) {
    auto from = std::find(log.begin(), log.end(), first);
    auto to = std::find(from, log.end(), last);
    if (to != log.end()) ++to;
    return {from, to};
}

TEST_F(TransferTest, WriteSendsEachRowAsTheRegisterMapLaysItOut) {
    Write61850Result r = WriteSettings61850(unit, sample());
    ASSERT_TRUE(r.ok()) << describe(r);
    EXPECT_TRUE(r.lastWriteOk);
    const std::vector<std::string> log = unit.log();
    EXPECT_THAT(std::vector<std::string>(log.begin(), log.begin() + 10),
                ElementsAre("write 160..161", "write 200..226", "write 227..231", "write 232..233",
                            "write 234 = 1", "write 235..250", "write 251 = 33", "write 252..253",
                            "write 254 = 2", "write 255 = 3"));
    EXPECT_THAT(logBetween(log, "write 410 = 6", "command 11"),
                ElementsAre("write 410 = 6", "write 411 = 1", "write 412..438", "write 439..443",
                            "write 445..446", "write 447..448", "write 449..450", "write 451 = 478",
                            "write 452 = 62", "command 11"));
    EXPECT_THAT(logBetween(log, "write 460 = 5", "command 12"),
                ElementsAre("write 460 = 5", "write 461..487", "write 488..492", "write 494 = 0",
                            "write 495 = 2", "write 496..497", "write 498..499", "command 12"));
    EXPECT_THAT(logBetween(log, "write 680 = 1", "command 13"),
                ElementsAre("write 680 = 1", "write 681..683", "write 684 = 12289", "write 685..711",
                            "write 712..716", "write 718 = 5", "write 719 = 291", "write 720 = 1",
                            "write 721 = 2", "write 722 = 0", "command 13"));
    EXPECT_THAT(logBetween(log, "write 730 = 15", "command 14"),
                ElementsAre("write 730 = 15", "write 731..733", "write 734 = 271", "write 735..761",
                            "write 762..767", "write 768..769", "write 770 = 15", "write 771 = 2",
                            "write 772 = 0", "write 773 = 1", "command 14"));
    EXPECT_EQ(log.back(), "command 14");
    // 10 server requests, 8 x 9, 3 x 7 + 26 x 10, 2 x 10, 16 x 10, and the 55 apply commands.
    EXPECT_EQ(unit.writes().size(), 10u + 72u + 21u + 260u + 20u + 160u);
    std::vector<int> applies = unit.commands();
    EXPECT_EQ(applies.size(), 55u);
    EXPECT_EQ(std::count(applies.begin(), applies.end(), 12), 29);
    // Words: numbers low word first, the MAC address as its low, middle and high 16 bits.
    EXPECT_THAT(unit.writes()[0].values, ElementsAre(0x0005, 0x0A00));
    EXPECT_THAT(unit.writes()[3].values, ElementsAre(70000 & 0xFFFF, 70000 >> 16));
    EXPECT_THAT(unit.writes()[7].values, ElementsAre(1, 0)); // PSEL 1
    EXPECT_THAT(std::vector<uint16_t>(unit.unit.begin() + 681, unit.unit.begin() + 684),
                ElementsAre(0xA2B3, 0xCD01, 0x010C));
    // Progress against 70, one report per step.
    EXPECT_EQ(unit.progressCalls.front(), std::make_pair(0, 70));
    EXPECT_EQ(r.steps, 60);
    EXPECT_EQ(unit.progressCalls.size(), 61u);
    EXPECT_EQ(unit.progressText, "Writing to KT-740");
}

TEST_F(TransferTest, DataSetSlotsZeroToTwoAreNeverWritten) {
    Struct61850Settings s = sample();
    for (int i = 0; i < 3; ++i) s.DataSet[i].Fixed = false; // whatever the editor holds for them
    ASSERT_TRUE(WriteSettings61850(unit, s).ok());
    int selected = -1;
    for (const FakeRequest& w : unit.writes()) {
        if (w.start == 460) selected = w.values.at(0);
        if (w.start >= 460 && w.start <= 559) {
            EXPECT_GE(selected, 3) << w.text();
        }
    }
    for (int slot = 0; slot < 3; ++slot)
        EXPECT_EQ(unit.slot(310, slot), std::vector<uint16_t>(99, 0)) << "slot " << slot << " was applied";
}

TEST_F(TransferTest, AFreeDataSetSlotIsClearedInTenRequestsThenApplied) {
    Struct61850Settings s = sample();
    ASSERT_TRUE(WriteSettings61850(unit, s).ok());
    const std::vector<FakeRequest> requests = unit.requests;
    auto at = std::find_if(requests.begin(), requests.end(), [](const FakeRequest& r) {
        return r.kind == FakeRequest::Write && r.start == 460 && r.values.at(0) == 6;
    });
    ASSERT_NE(at, requests.end());
    std::vector<uint16_t> expectedFirst(10, 0);
    expectedFirst[0] = 6;
    EXPECT_EQ(at->count, 10);
    EXPECT_EQ(at->values, expectedFirst);
    for (int k = 1; k < 10; ++k) {
        const FakeRequest& r = *(at + k);
        EXPECT_EQ(r.kind, FakeRequest::Write);
        EXPECT_EQ(r.start, 460 + 10 * k);
        EXPECT_EQ(r.count, k < 9 ? 10 : 5); // the last one is 550..554
        EXPECT_EQ(r.values, std::vector<uint16_t>(r.count, 0));
    }
    EXPECT_EQ((at + 10)->text(), "command 12");
}

TEST_F(TransferTest, ValuesRoundTripThroughTheUnit) {
    Struct61850Settings written = sample();
    ASSERT_TRUE(WriteSettings61850(unit, written).ok());
    // The IED name of 64 characters fills its 32 registers with no terminating zero.
    for (int reg = 200; reg <= 231; ++reg) EXPECT_EQ(unit.unit[reg], ('N' << 8) | 'N') << reg;
    Struct61850Settings read;
    FakeUnitLink& u = unit;
    u.requests.clear();
    Read61850Result r = ReadSettings61850(u, read);
    ASSERT_TRUE(r.ok()) << describe(r);
    EXPECT_EQ(read.IEDName, written.IEDName);
    EXPECT_EQ(read.KeepAlive, written.KeepAlive);
    EXPECT_EQ(read.APTitle, written.APTitle);
    EXPECT_EQ(read.PSEL, written.PSEL);
    for (int i = 0; i < 8; ++i) {
        TRCBConfig expected = written.RCB[i];
        expected.Name = read.RCB[i].Name;
        EXPECT_EQ(read.RCB[i], expected) << i;
    }
    for (int i = 3; i < 32; ++i) {
        TDatasetConfig expected = written.DataSet[i];
        if (expected.Count == 0) expected = TDatasetConfig{}; // cleared
        EXPECT_EQ(read.DataSet[i], expected) << i;
    }
    for (int i = 0; i < 2; ++i) {
        TGCBConfig expected = written.GCB[i];
        expected.Name = read.GCB[i].Name;
        EXPECT_EQ(read.GCB[i], expected) << i;
    }
    for (int i = 0; i < 16; ++i) {
        TNIConfig expected = written.NI[i];
        expected.Name = read.NI[i].Name;
        EXPECT_EQ(read.NI[i], expected) << i;
    }
    EXPECT_EQ(read.GCB[0].DstMAC, 0x010CCD01A2B3u); // through 681..683 and the 48-bit text
}

TEST_F(TransferTest, FailedRequestsAreListedAndTheirSlotIsNotApplied) {
    int inverted = 0;
    unit.script = [&](const FakeRequest& r) {
        if (r.text() == "write 412..438" && r.values.at(0) == ('R' << 8 | '2'))
            return LinkResult::exception(4);
        if (r.start == 773 && ++inverted == 16) return LinkResult::failure(LinkStatus::NoAnswer); // input 16
        return LinkResult::done();
    };
    Struct61850Settings s = sample();
    Write61850Result r = WriteSettings61850(unit, s);
    EXPECT_FALSE(r.ok());
    EXPECT_FALSE(r.lastWriteOk);
    ASSERT_EQ(r.failures.size(), 2u) << describe(r);
    EXPECT_EQ(r.failures[0].place, (SettingsPlace{Settings61850Part::RCB, 2}));
    EXPECT_EQ(r.failures[0].what.first, 412);
    EXPECT_EQ(r.failures[0].what.count, 27);
    EXPECT_EQ(r.failures[1].place, (SettingsPlace{Settings61850Part::NI, 15}));
    EXPECT_EQ(r.slotsNotApplied,
              (std::vector<SettingsPlace>{{Settings61850Part::RCB, 2}, {Settings61850Part::NI, 15}}));
    // The rest of block 3 is not sent, and it is not applied; the next block is.
    const std::vector<std::string> log = unit.log();
    auto failed = std::find(log.begin(), log.end(), "write 410 = 2");
    ASSERT_NE(failed, log.end());
    EXPECT_THAT(std::vector<std::string>(failed, failed + 4),
                ElementsAre("write 410 = 2", "write 411 = 2", "write 412..438", "write 410 = 3"));
    std::vector<int> applies = unit.commands();
    EXPECT_EQ(std::count(applies.begin(), applies.end(), 11), 7);
    EXPECT_EQ(std::count(applies.begin(), applies.end(), 14), 15);
    EXPECT_EQ(
        describe(r, "10.0.0.5:502"),
        "Writing to KT-740 finished with 2 failed requests\n"
        "report control block 3: unit 254 at 10.0.0.5:502 refused registers 412..438: server device failure "
        "(exception 4)\n"
        "network input 16: no answer from unit 254 at 10.0.0.5:502 to the write of register 773 after 0 "
        "attempts\n"
        "Not applied: report control block 3, network input 16");
}

TEST_F(TransferTest, ACancelledWriteStopsBetweenRequests) {
    unit.cancelAfterRequests = 10 + 20;
    Write61850Result r = WriteSettings61850(unit, sample());
    EXPECT_TRUE(r.cancelled);
    EXPECT_EQ(r.stoppedAt, (SettingsPlace{Settings61850Part::RCB, 2}));
    EXPECT_EQ(unit.requests.size(), 30u);
    EXPECT_THAT(describe(r), HasSubstr("stopped at the report control block 3"));
}

TEST_F(TransferTest, ARecordThatCannotBeWrittenSendsNothing) {
    struct Case {
        std::function<void(Struct61850Settings&)> spoil;
        const char* problem;
    } cases[] = {
        {[](auto& s) { s.IEDName = std::string(65, 'x'); },
         "is longer than the 64 characters the unit keeps"},
        {[](auto& s) { s.APTitle = std::string(33, '1'); },
         "is longer than the 32 characters the unit keeps"},
        {[](auto& s) { s.AEQualifier = 70000; }, "The AE qualifier 70000 is outside 0..65535"},
        {[](auto& s) { s.RCB[1].DataSetIndex = 33; },
         "Report control block 2: the data set 33 is outside 0..32"},
        {[](auto& s) {
             s.DataSet[9].Count = 33;
             s.DataSet[9].Members.assign(33, 1);
         },
         "Data set 10 (LLN0$Slot9) has 33 members; the unit holds 32"},
        {[](auto& s) { s.DataSet[4].Count = 3; }, "Data set 5 (LLN0$Slot4) counts 3 members but holds 2"},
        {[](auto& s) { s.GCB[0].GoID = "\xE2\x82\xAC"; }, "holds characters the unit cannot store"},
        {[](auto& s) { s.NI[0].DstMAC = 1ull << 48; },
         "Network input 1: the MAC address is longer than 48 bits"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.problem);
        FakeUnitLink u;
        Struct61850Settings s = sample();
        c.spoil(s);
        Write61850Result r = WriteSettings61850(u, s);
        EXPECT_FALSE(r.ok());
        ASSERT_EQ(r.refused.size(), 1u);
        EXPECT_THAT(r.refused[0], HasSubstr(c.problem));
        EXPECT_TRUE(u.requests.empty());
        EXPECT_THAT(describe(r), HasSubstr("Nothing was written to KT-740:"));
    }
}

TEST(TransferResults, AResultThatNeverRanIsNoSuccess) {
    // What the engine delivers for a request that never ran, or whose work failed outside the link.
    Read61850Result read;
    EXPECT_FALSE(read.ok());
    EXPECT_EQ(describe(read),
              "Reading the settings from KT-740 was cancelled: the connection ended before it ran");
    read.link = LinkResult::failure(LinkStatus::Refused, "RCB index out of range");
    EXPECT_EQ(describe(read), "Couldn't read settings from KT-740: RCB index out of range");
    Write61850Result write;
    EXPECT_FALSE(write.ok());
    EXPECT_EQ(describe(write),
              "Writing the settings to KT-740 was cancelled: the connection ended before it ran");
    write.link = LinkResult::failure(LinkStatus::Refused, "GCB index out of range");
    EXPECT_EQ(describe(write), "Nothing was written to KT-740: GCB index out of range");
}

// ---- the pieces around the transfer -----------------------------------------------------------

TEST(TimeServerText, OctetsOfTheServerTab) {
    struct Case {
        const char* text;
        std::optional<uint32_t> ip;
        const char* message = "";
    } cases[] = {
        {"192.168.001.010", 0xC0A8010A},
        {"192.168.  1. 10", 0xC0A8010A},
        {"192.168.1.10", 0xC0A8010A},
        {"   .   .   .   ", 0},
        {"", 0},
        {"192.168.001.300", std::nullopt,
         "The time server address \"192.168.001.300\": octet 4, 300, is above 255"},
        {"999.1.1.1", std::nullopt, "octet 1, 999, is above 255"},
        {"10.0.0", std::nullopt, "is not four numbers separated by points"},
        {"10.0. .1", std::nullopt, "has no octet 3"},
        {"10.0.x.1", std::nullopt, "octet 3, \"x\", is not a number"},
        {"10.0.-1.1", std::nullopt, "octet 3, \"-1\", is not a number"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        if (c.ip) {
            EXPECT_EQ(ParseTimeServerText(c.text), *c.ip);
            continue;
        }
        try {
            ParseTimeServerText(c.text);
            ADD_FAILURE() << "accepted";
        } catch (const SettingsInputError& e) {
            EXPECT_THAT(e.what(), HasSubstr(c.message));
        }
    }
}

TEST(BuildWriteSettings, TakesTheServerTabAndTheParsersBlocks) {
    TICDParser p(test::templatePath(), -1);
    ServerFieldTexts t = ServerFieldTextsFromParser(p);
    EXPECT_EQ(t.psel, "00000001");
    EXPECT_EQ(t.keepAlive, "0");
    t.timeServer = "010.000.000.005";
    t.keepAlive = "60";
    t.checkUpperAddresses = true;
    Struct61850Settings s = BuildWriteSettings(t, p);
    EXPECT_EQ(s.TimeServerIP, 0x0A000005u);
    EXPECT_EQ(s.IEDName, "KT740");
    EXPECT_EQ(s.KeepAlive, 60u);
    EXPECT_EQ(s.CheckUpperAddresses, 1);
    EXPECT_EQ(s.AEQualifier, 33);
    EXPECT_EQ(s.PSEL, 1u);
    EXPECT_EQ(s.RCB[7], p.GetRCB(7));
    EXPECT_EQ(s.DataSet[0], p.GetDataSet(0));
    EXPECT_EQ(s.GCB[1], p.GetGCB(1));
    EXPECT_EQ(s.NI[15], p.GetNI(15));
    EXPECT_EQ(s.RCBCount, 8);

    // Fields that are not what they should be stop the command before anything is sent.
    struct Case {
        std::function<void(ServerFieldTexts&)> spoil;
        const char* message;
    } cases[] = {
        {[](auto& t) { t.timeServer = "10.0.0.300"; }, "octet 4, 300, is above 255"},
        {[](auto& t) { t.keepAlive = "1h"; }, "Keep Alive \"1h\" is not a whole number from 0 to 4294967295"},
        {[](auto& t) { t.keepAlive = ""; }, "Keep Alive \"\" is not a whole number"},
        {[](auto& t) { t.aeQualifier = "65536"; },
         "AE Qualifier \"65536\" is not a whole number from 0 to 65535"},
        {[](auto& t) { t.psel = "0000000G"; },
         "Presentation Selector \"0000000G\" is not a hexadecimal number"},
        {[](auto& t) { t.ssel = "10000"; },
         "Session Selector \"10000\" is not a hexadecimal number of at most 4"},
        {[](auto& t) { t.iedName = "KT-740"; }, "may hold letters, digits and \"_\" only"},
        {[](auto& t) { t.apTitle = "1,3"; }, "must be numbers separated by points"},
    };
    for (const Case& c : cases) {
        ServerFieldTexts bad = ServerFieldTextsFromParser(p);
        c.spoil(bad);
        try {
            BuildWriteSettings(bad, p);
            ADD_FAILURE() << c.message;
        } catch (const SettingsInputError& e) {
            EXPECT_THAT(e.what(), HasSubstr(c.message));
        }
    }
    // A code kept from a unit with another data model is not sent.
    TICDParser kept(test::templatePath(), -1);
    kept.SetDataSet(4, {false, "LLN0$FromUnit", 0, 2, {kept.GetDataSet(0).Members[0], 0xFFFFFFFF}});
    try {
        BuildWriteSettings(ServerFieldTextsFromParser(kept), kept);
        ADD_FAILURE() << "a code not in the model would be sent";
    } catch (const SettingsInputError& e) {
        EXPECT_STREQ(e.what(),
                     "1 data set member is not in this data model: data set 5 member 2 (code 0xFFFFFFFF)");
    }
    // A parser with fewer blocks than the unit: the accessor's own text.
    test::TempDir dir;
    TICDParser small(dir.write("small.icd", test::scl(R"(<IED name="S"><AccessPoint name="P1"><Server>
        <LDevice inst="LD0"><LN0 lnClass="LLN0" inst="" lnType="N"/></LDevice></Server></AccessPoint></IED>)")),
                     -1);
    try {
        BuildWriteSettings(ServerFieldTextsFromParser(small), small);
        ADD_FAILURE() << "built from a parser without blocks";
    } catch (const ModelError& e) {
        EXPECT_STREQ(e.what(), "RCB index out of range");
    }
}

TEST(ApplyReadSettings, AllOrNothingAndCodesNotInTheModelAreSaid) {
    TICDParser p(test::templatePath(), -1);
    Struct61850Settings s = BuildWriteSettings(ServerFieldTextsFromParser(p), p);
    s.RCB[0].RptID = "FROM_UNIT";
    s.RCB[0].Name = "brcb01";
    s.DataSet[3] = {false, "LLN0$Mine", 0, 2, {p.GetDataSet(0).Members[0], 0xFFFFFFFF}};
    s.NI[4].GoID = "UNIT_GO";
    std::vector<std::string> notes = ApplyReadSettings(p, s);
    EXPECT_EQ(p.GetRCB(0).RptID, "FROM_UNIT");
    EXPECT_EQ(p.GetDataSet(3).Name, "LLN0$Mine");
    EXPECT_EQ(p.GetNI(4).GoID, "UNIT_GO");
    EXPECT_THAT(notes,
                ElementsAre("Data set 4 (LLN0$Mine): member 2, code 0xFFFFFFFF, is not in this data model"));
    EXPECT_EQ(p.MemberText(0xFFFFFFFF), ""); // kept in its slot, shown as not in the model

    test::TempDir dir;
    TICDParser few(test::fixturePath("time_server.cid"), -1);
    ASSERT_LT(few.NICount(), 16);
    TICDParser before(test::fixturePath("time_server.cid"), -1);
    EXPECT_THROW(ApplyReadSettings(few, s), ModelError);
    for (int i = 0; i < DataSetSlots; ++i) EXPECT_EQ(few.GetDataSet(i), before.GetDataSet(i)) << i;
    for (int i = 0; i < few.RCBCount(); ++i) EXPECT_EQ(few.GetRCB(i), before.GetRCB(i)) << i;
}

} // namespace
} // namespace kt
