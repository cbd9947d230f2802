// Every way an answer can be wrong, against reads, writes and commands over both links: no damaged,
// mismatched, refused or missing answer is taken as success, a read's destination is never
// touched by one, and each failure says what was wrong with the answer.
#include "link/protocol.h"
#include "scripted_unit.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <optional>

namespace {

using namespace std::chrono_literals;
using kt::LinkStatus;
using kt::test::Bytes;
using kt::test::LinkKind;
using kt::test::Reply;
using kt::test::ScriptedUnit;
using kt::test::UnitFrame;
using ::testing::HasSubstr;

enum Op { Read = 1, Write = 2, Command = 4 };
constexpr unsigned AllOps = Read | Write | Command;

const char* opName(Op op) {
    return op == Read ? "Read" : op == Write ? "Write" : "Command";
}

// What a case comes to: the status, and words that describeLinkResult must contain.
struct Expect {
    LinkStatus status;
    std::string names;
};

struct Case {
    std::string what;
    unsigned ops;
    // The answer's fields, before the link frames it.
    std::function<void(UnitFrame&, Op)> edit;
    // The framed bytes, per link.
    std::function<void(Bytes&, LinkKind)> damage;
    // What each link makes of it, per operation (nothing: the case does not apply).
    std::function<std::optional<Expect>(LinkKind, Op)> expect;
};

// The same result on both links and for every operation the case applies to.
auto always(LinkStatus status, std::string names) {
    return [=](LinkKind, Op) { return std::optional<Expect>(Expect{status, names}); };
}

void setWord(Bytes& pdu, size_t at, uint16_t v) {
    pdu.at(at) = static_cast<uint8_t>(v >> 8);
    pdu.at(at + 1) = static_cast<uint8_t>(v & 0xFF);
}

// The answers a unit must not be believed for. Reads ask for registers 10..13, writes write them,
// the command is 18 (coil 18 over serial, register 6 = 18 over TCP).
std::vector<Case> damagedAnswers() {
    std::vector<Case> cases = {
        {"another unit id", AllOps, [](UnitFrame& a, Op) { a.unit = 1; }, nullptr,
         always(LinkStatus::Mismatch, "unit 1, expected 254")},
        {"another function", AllOps, [](UnitFrame& a, Op) { a.pdu[0] ^= 0x07; }, nullptr,
         always(LinkStatus::Mismatch, "function")},
        {"the byte count one register short", Read, [](UnitFrame& a, Op) { a.pdu[1] -= 2; }, nullptr,
         always(LinkStatus::Damaged, "byte count 6, expected 8")},
        {"one register short", Read,
         [](UnitFrame& a, Op) {
             a.pdu.resize(a.pdu.size() - 2);
             a.pdu[1] -= 2;
         },
         nullptr,
         [](LinkKind k, Op) {
             return std::optional<Expect>(
                 k == LinkKind::Rtu ? Expect{LinkStatus::Damaged, "answer cut short: 11 bytes, expected 13"}
                                    : Expect{LinkStatus::Damaged, "byte count 6, expected 8"});
         }},
        {"one register too many", Read,
         [](UnitFrame& a, Op) {
             a.pdu.insert(a.pdu.end(), {0x12, 0x34});
             a.pdu[1] += 2;
         },
         nullptr,
         [](LinkKind k, Op) {
             return std::optional<Expect>(k == LinkKind::Rtu
                                              ? Expect{LinkStatus::Damaged, "bytes after the answer"}
                                              : Expect{LinkStatus::Damaged, "byte count 10, expected 8"});
         }},
        // Start register of a write; the coil of a serial command; register 6 of a TCP command.
        {"the echoed start", Write | Command,
         [](UnitFrame& a, Op) { setWord(a.pdu, 1, kt::test::pduWord(a.pdu, 1) + 1); }, nullptr,
         [](LinkKind k, Op op) {
             if (op == Write)
                 return std::optional<Expect>(Expect{LinkStatus::Mismatch, "echoed start 11, expected 10"});
             return std::optional<Expect>(k == LinkKind::Rtu
                                              ? Expect{LinkStatus::Mismatch, "echoed coil 19, expected 18"}
                                              : Expect{LinkStatus::Mismatch, "echoed start 7, expected 6"});
         }},
        // The count of a write (and of the TCP command's one register); the ON value of a coil.
        {"the echoed count or value", Write | Command, [](UnitFrame& a, Op) { setWord(a.pdu, 3, 0); },
         nullptr,
         [](LinkKind k, Op op) {
             if (op == Write)
                 return std::optional<Expect>(Expect{LinkStatus::Mismatch, "echoed count 0, expected 4"});
             return std::optional<Expect>(k == LinkKind::Rtu
                                              ? Expect{LinkStatus::Mismatch, "echoed value 0, expected 65280"}
                                              : Expect{LinkStatus::Mismatch, "echoed count 0, expected 1"});
         }},
        {"an exception answer one byte long", AllOps,
         [](UnitFrame& a, Op) {
             a.pdu = {static_cast<uint8_t>(a.pdu[0] | 0x80), 0x02, 0x00};
         },
         nullptr,
         [](LinkKind k, Op) {
             return std::optional<Expect>(
                 k == LinkKind::Rtu
                     ? Expect{LinkStatus::Damaged, "bytes after the answer: 6 bytes, expected 5"}
                     : Expect{LinkStatus::Damaged, "exception answer of the wrong length"});
         }},
        // The framing.
        {"a wrong CRC", AllOps, nullptr,
         [](Bytes& b, LinkKind k) {
             if (k == LinkKind::Rtu) b.back() ^= 0x01;
         },
         [](LinkKind k, Op) {
             return k == LinkKind::Rtu ? std::optional<Expect>(Expect{LinkStatus::Damaged, "CRC error"})
                                       : std::nullopt;
         }},
        {"a data bit flipped on the line", Read, nullptr,
         [](Bytes& b, LinkKind k) {
             if (k == LinkKind::Rtu) b[4] ^= 0x10;
         },
         [](LinkKind k, Op) {
             return k == LinkKind::Rtu ? std::optional<Expect>(Expect{LinkStatus::Damaged, "CRC error"})
                                       : std::nullopt;
         }},
        {"cut short by three bytes", AllOps, nullptr, [](Bytes& b, LinkKind) { b.resize(b.size() - 3); },
         [](LinkKind k, Op op) {
             if (k == LinkKind::Tcp)
                 return std::optional<Expect>(Expect{LinkStatus::Damaged, "answer cut short"});
             const int whole = op == Read ? 13 : 8;
             return std::optional<Expect>(
                 Expect{LinkStatus::Damaged, "answer cut short: " + std::to_string(whole - 3) +
                                                 " bytes, expected " + std::to_string(whole)});
         }},
        {"only the address", AllOps, nullptr,
         [](Bytes& b, LinkKind k) { b.resize(k == LinkKind::Rtu ? 1 : 7); },
         [](LinkKind k, Op) {
             return std::optional<Expect>(k == LinkKind::Rtu
                                              ? Expect{LinkStatus::NoAnswer, "1 byte arrived"}
                                              : Expect{LinkStatus::Damaged, "answer cut short"});
         }},
        // Over TCP the MBAP length covers them: without that they would be the next answer's start,
        // which the next request's purge removes.
        {"two bytes too many", AllOps, nullptr,
         [](Bytes& b, LinkKind k) {
             b.insert(b.end(), {0x00, 0x00});
             if (k == LinkKind::Tcp) b[5] += 2;
         },
         [](LinkKind k, Op) {
             return std::optional<Expect>(k == LinkKind::Rtu
                                              ? Expect{LinkStatus::Damaged, "bytes after the answer"}
                                              : Expect{LinkStatus::Damaged, "answer of the wrong length"});
         }},
        {"a later transaction number", AllOps, nullptr,
         [](Bytes& b, LinkKind k) {
             if (k == LinkKind::Tcp) b[1] += 3;
         },
         [](LinkKind k, Op op) -> std::optional<Expect> {
             if (k == LinkKind::Rtu) return std::nullopt;
             // Writes and commands go out as transaction 0: any other number answers a read that
             // was given up on, and is skipped while the right answer is awaited.
             if (op == Read) return Expect{LinkStatus::Mismatch, "transaction"};
             return Expect{LinkStatus::NoAnswer, "no answer from unit 254"};
         }},
        {"protocol id 1", AllOps, nullptr,
         [](Bytes& b, LinkKind k) {
             if (k == LinkKind::Tcp) b[3] = 1;
         },
         [](LinkKind k, Op) {
             return k == LinkKind::Tcp
                        ? std::optional<Expect>(Expect{LinkStatus::Mismatch, "protocol id 1, expected 0"})
                        : std::nullopt;
         }},
        {"an MBAP length one short", AllOps, nullptr,
         [](Bytes& b, LinkKind k) {
             if (k == LinkKind::Tcp) b[5] -= 1;
         },
         [](LinkKind k, Op) {
             return k == LinkKind::Tcp
                        ? std::optional<Expect>(Expect{LinkStatus::Damaged, "answer of the wrong length"})
                        : std::nullopt;
         }},
        {"an MBAP length of 0", AllOps, nullptr,
         [](Bytes& b, LinkKind k) {
             if (k == LinkKind::Tcp) b[5] = 0;
         },
         [](LinkKind k, Op) {
             return k == LinkKind::Tcp ? std::optional<Expect>(Expect{LinkStatus::Damaged, "MBAP length 0"})
                                       : std::nullopt;
         }},
        // Over TCP with an MBAP length that fits, so that the whole of it is read as one answer.
        {"noise", AllOps, nullptr,
         [](Bytes& b, LinkKind k) {
             const uint8_t noise[] = {0x55, 0xAA, 0x13, 0x11, 0x00, 0x09, 0x7E,
                                      0x0D, 0x0A, 0x00, 0x01, 0xC3, 0x3C};
             for (size_t i = 0; i < b.size(); ++i) b[i] = noise[i % sizeof noise];
             if (k == LinkKind::Tcp) b[5] = static_cast<uint8_t>(b.size() - 6);
         },
         [](LinkKind k, Op op) -> std::optional<Expect> {
             if (k == LinkKind::Rtu) return Expect{LinkStatus::Damaged, "CRC error"};
             // A write awaits transaction 0 and takes any other number for a late read's answer.
             if (op == Read) return Expect{LinkStatus::Mismatch, "protocol id 4881, expected 0"};
             return Expect{LinkStatus::NoAnswer, "no answer from unit 254"};
         }},
        {"no answer at all", AllOps, [](UnitFrame& a, Op) { a.pdu.clear(); },
         [](Bytes& b, LinkKind) { b.clear(); }, always(LinkStatus::NoAnswer, "no answer from unit 254")},
    };
    // Every exception code, the ones Modbus names and the ones it does not.
    for (uint8_t code : {1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 255}) {
        cases.push_back({"exception " + std::to_string(code), AllOps,
                         [code](UnitFrame& a, Op) {
                             a.pdu = {static_cast<uint8_t>(a.pdu[0] | 0x80), code};
                         },
                         nullptr,
                         always(LinkStatus::Exception, kt::modbusExceptionText(code) + " (exception " +
                                                           std::to_string(code) + ")")});
    }
    return cases;
}

// Waits short enough for a table of failures; the rules are the program's.
kt::LinkOptions shortWaits() {
    kt::LinkOptions o;
    o.timings.serialReadTotalMs = 150;
    o.timings.lateAnswerQuiet = 100ms;
    o.timings.lateAnswerDrainMax = 300ms;
    o.timings.tcpReadMs = 300;
    o.timings.commandAnswerWait = 300ms;
    o.timings.settle = 0ms;
    return o;
}

class DamagedAnswers : public ::testing::TestWithParam<std::tuple<LinkKind, Op>> {
protected:
    const LinkKind kind = std::get<0>(GetParam());
    const Op op = std::get<1>(GetParam());
    std::unique_ptr<ScriptedUnit> unit = ScriptedUnit::open(kind);
    kt::ConnectionSettings settings = unit->settings();
    kt::Protocol facade{settings, shortWaits()};

    kt::LinkResult run(std::array<uint16_t, 4>& dest) {
        static const std::array<uint16_t, 4> values{0x0102, 0x0304, 0x0506, 0x0708};
        switch (op) {
        case Read:
            return facade.ReadRegisters(settings, 10, 4, dest.data());
        case Write:
            return facade.WriteRegisters(settings, 10, 4, values.data());
        case Command:
            return facade.WriteCoil(settings, 18);
        }
        return {};
    }
    kt::TransferWhat what() const {
        if (op == Command) return {kt::TransferWhat::Command, 18, 1};
        return {op == Read ? kt::TransferWhat::Read : kt::TransferWhat::Write, 10, 4};
    }
};

TEST_P(DamagedAnswers, NoneIsTakenAsSuccessAndEachSaysWhy) {
    for (const Case& c : damagedAnswers()) {
        if (!(c.ops & op)) continue;
        const std::optional<Expect> expect = c.expect(kind, op);
        if (!expect) continue;
        SCOPED_TRACE(c.what + ", " + opName(op));
        unit->byDefault([&c, op = op, kind = kind](const UnitFrame& request) {
            Reply r = Reply::sound(request);
            if (c.edit) c.edit(r.answer, op);
            if (c.damage) r.damage = [&c, kind](Bytes& b) { c.damage(b, kind); };
            return r;
        });
        const size_t before = unit->requests().size();
        std::array<uint16_t, 4> dest{0xDEAD, 0xBEEF, 0xCAFE, 0xF00D};
        const kt::LinkResult r = run(dest);
        EXPECT_FALSE(r.ok());
        EXPECT_EQ(r.status, expect->status) << kt::linkStatusName(r.status) << ": " << r.detail;
        const std::string words = kt::describeLinkResult(r, 254, unit->where(), what());
        EXPECT_THAT(words, HasSubstr(expect->names));
        EXPECT_TRUE(r.sent);
        // A read's destination is written only from an answer that passed.
        EXPECT_EQ(dest, (std::array<uint16_t, 4>{0xDEAD, 0xBEEF, 0xCAFE, 0xF00D}));
        // Reads and writes are tried three times; a command that went out never again.
        const size_t attempts = op == Command ? 1 : 3;
        EXPECT_EQ(int(r.attempts), int(attempts));
        EXPECT_EQ(unit->requests().size() - before, attempts);

        // Nothing of it is left to spoil the next exchange.
        unit->byDefault([](const UnitFrame& request) { return Reply::sound(request); });
        const kt::LinkResult next = run(dest);
        EXPECT_TRUE(next.ok()) << kt::linkStatusName(next.status) << ": " << next.detail;
        if (op == Read) {
            EXPECT_EQ(dest, (std::array<uint16_t, 4>{0x100A, 0x100B, 0x100C, 0x100D}));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(BothLinks, DamagedAnswers,
                         ::testing::Combine(::testing::Values(LinkKind::Rtu, LinkKind::Tcp),
                                            ::testing::Values(Read, Write, Command)),
                         [](const auto& info) {
                             return std::string(kt::test::linkKindName(std::get<0>(info.param))) +
                                    opName(std::get<1>(info.param));
                         });

} // namespace
