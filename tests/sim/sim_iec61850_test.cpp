// The simulator's IEC 61850 windows over Modbus TCP and RTU, against pymodbus as the master:
// a selector write shows that slot, the write window plus the apply command stores a slot.

#include "iec61850/icd_parser.h"
#include "monitor/register_codec.h"
#include "tests/support/modbus_master.h"
#include "tests/support/process.h"
#include "tests/support/sim_process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

using namespace kt::test;
using ::testing::Contains;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

enum class Via { Tcp, Rtu };

std::string valuesText(const std::vector<uint16_t>& words) {
    std::string text;
    for (uint16_t w : words) text += (text.empty() ? "" : ",") + std::to_string(w);
    return text;
}

// Text packed two characters a register, first in the high byte, as the unit keeps it.
std::vector<uint16_t> packed(const std::string& text, int registers) {
    return kt::encodeText(text, registers);
}

class SimIec61850 : public ::testing::TestWithParam<Via> {
protected:
    void start(std::vector<std::string> args) {
        if (GetParam() == Via::Tcp)
            args.insert(args.begin(), {"--tcp", "127.0.0.1:0"});
        else
            args.insert(args.begin(), "--rtu");
        sim = std::make_unique<SimProcess>(args);
    }
    std::vector<MasterReply> master(const std::vector<std::string>& ops) {
        return runModbusMaster(
            GetParam() == Via::Tcp ? "tcp:" + sim->tcpEndpoint() : "rtu:" + sim->rtuDevice(), ops, 2);
    }
    // Command n as the program sends it: register 6 over TCP, coil n over RTU.
    std::string command(int n) const {
        return GetParam() == Via::Tcp ? "write:6:" + std::to_string(n) : "coil:" + std::to_string(n) + ":on";
    }
    std::vector<uint16_t> read(int start, int count) {
        auto r = master({"read:" + std::to_string(start) + ":" + std::to_string(count)});
        EXPECT_TRUE(r.at(0).ok()) << r.at(0).detail;
        return r.at(0).values;
    }
    void TearDown() override {
        if (sim) {
            EXPECT_EQ(sim->stop(), 0) << sim->stderrText();
        }
    }

    std::unique_ptr<SimProcess> sim;
};

TEST_P(SimIec61850, WindowsShowTheDeviceTypesTemplate) {
    start({"--firmware", "320", "--comm-option", "6", "--model-type", "3"});
    kt::TICDParser model(sourcePath("resources/KT-740HV.icd"), -1);
    EXPECT_THAT(sim->stderrText(), HasSubstr("IEC 61850 configuration from"));
    EXPECT_THAT(sim->stderrText(), HasSubstr("KT-740HV.icd"));

    // Server settings: no window.
    std::vector<uint16_t> server = read(200, 32);
    EXPECT_EQ(server, packed(model.IEDName(), 32));
    EXPECT_THAT(read(252, 4), ElementsAre(model.AddressOpts.PSEL & 0xFFFF, model.AddressOpts.PSEL >> 16,
                                          model.AddressOpts.SSEL, model.AddressOpts.TSEL));

    // A dataset slot: name at 311, LD index 344, count 345, members from 346, low word first.
    auto r = master({"write:310:1", "read:310:40"});
    ASSERT_TRUE(r[1].ok()) << r[1].detail;
    const kt::TDatasetConfig ds = model.GetDataSet(1);
    std::vector<uint16_t> expected{1};
    auto name = packed(ds.Name, 32);
    expected.insert(expected.end(), name.begin(), name.end());
    expected.insert(expected.end(), {0, ds.LDIndex, ds.Count});
    for (size_t m = 0; expected.size() < 40; ++m) {
        expected.push_back(static_cast<uint16_t>(ds.Members.at(m) & 0xFFFF));
        expected.push_back(static_cast<uint16_t>(ds.Members.at(m) >> 16));
    }
    EXPECT_EQ(r[1].values, expected);

    // Report control block 5 is urcb01; GOOSE control block 2 with its MAC address words.
    auto blocks = master({"write:260:4", "read:261:42", "write:580:1", "read:581:4"});
    kt::TRCBConfig urcb = model.GetRCB(4);
    EXPECT_EQ(blocks[1].values[0], urcb.DataSetIndex);
    EXPECT_EQ(std::vector<uint16_t>(blocks[1].values.begin() + 1, blocks[1].values.begin() + 33),
              packed(urcb.RptID, 32));
    EXPECT_EQ(blocks[1].values[41], urcb.TrgOps);
    kt::TGCBConfig g = model.GetGCB(1);
    EXPECT_THAT(blocks[3].values,
                ElementsAre(g.DstMAC & 0xFFFF, (g.DstMAC >> 16) & 0xFFFF, g.DstMAC >> 32, g.AppID));

    // A slot the unit does not have shows zeros.
    auto none = master({"write:310:40", "read:311:40"});
    EXPECT_THAT(none[1].values, Each(0));
}

TEST_P(SimIec61850, AWrittenSlotIsStoredByItsApplyCommandOnly) {
    start({"--firmware", "320", "--comm-option", "7"});
    const std::string name = valuesText(packed("LLN0$Mine", 32));
    auto r = master({
        "write:460:5", "write:461:" + name, "write:494:0,1", "write:496:4660,22136", "write:310:5",
        "read:310:36",                             // not applied yet: the slot the template left free
        command(12), "write:310:5", "read:310:38", // now the unit's
        "write:460:32", command(12),               // a slot the unit does not have
    });
    for (const MasterReply& m : r) EXPECT_TRUE(m.ok()) << m.detail;
    EXPECT_THAT(std::vector<uint16_t>(r[5].values.begin() + 1, r[5].values.end()), Each(0));
    std::vector<uint16_t> stored = r[8].values;
    EXPECT_EQ(stored[0], 5);
    EXPECT_EQ(std::vector<uint16_t>(stored.begin() + 1, stored.begin() + 33), packed("LLN0$Mine", 32));
    EXPECT_THAT(std::vector<uint16_t>(stored.begin() + 34, stored.end()), ElementsAre(0, 1, 4660, 22136));
    EXPECT_THAT(sim->stderrText(), HasSubstr("kt740sim: IEC 61850 data set 6 (slot 5) stored"));
    EXPECT_THAT(sim->stderrText(),
                HasSubstr("IEC 61850 data set not applied: register 460 selects slot 32, and there are 32"));
    // Every request is in the log, the selector writes with their slot.
    std::vector<std::string> log = sim->logLines();
    EXPECT_THAT(log, Contains("fc=16 start=460 count=1 values=5"));
    EXPECT_THAT(log, Contains(GetParam() == Via::Tcp ? "fc=16 start=6 count=1 values=12"
                                                     : "fc=5 coil=12 value=65280"));
    EXPECT_EQ(log.size(), r.size());
}

TEST_P(SimIec61850, WithoutTheOptionTheRegistersArePlainStorage) {
    start({"--firmware", "320", "--comm-option", "2"});
    auto r = master({"read:200:2", "write:310:1", "read:311:2", "write:460:3", command(12)});
    EXPECT_THAT(r[0].values, ElementsAre(0, 0));
    EXPECT_THAT(r[2].values, ElementsAre(0, 0));
    EXPECT_THAT(sim->stderrText(),
                HasSubstr("command 12 not applied: communication option 2 has no IEC 61850"));
}

INSTANTIATE_TEST_SUITE_P(Links, SimIec61850, ::testing::Values(Via::Tcp, Via::Rtu),
                         [](const auto& info) { return info.param == Via::Tcp ? "Tcp" : "Rtu"; });

} // namespace
