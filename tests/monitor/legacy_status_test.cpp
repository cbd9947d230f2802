// The legacy units' frame decoding without a port: switch positions, the identification byte and
// its memory, the bit texts, the event block and the status view of a frame.
#include "monitor/event_texts.h"
#include "monitor/legacy_frame.h"
#include "monitor/status_decoding.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

using namespace kt;

namespace {

using VC = ValueControl;

// A clean frame of a KT-740 version 10 at switch positions 3, 4, 2.
LegacyFrame frameOf(uint8_t identification = 0x0A) {
    LegacyFrame f{};
    f[LegacyByte::GfTime] = 3;
    f[LegacyByte::GfLevel] = 4;
    f[LegacyByte::PulseTime] = 2;
    putLegacyWord(f, LegacyByte::Calibration, 512);
    f[LegacyByte::NgrCurrent] = 50;
    f[LegacyByte::NgrVoltage] = 25;
    putLegacyWord(f, LegacyByte::ResistanceChange, -10);
    f[LegacyByte::TripStatus] = 0x02;
    f[LegacyByte::SetpointStatus] = 0x80;
    f[LegacyByte::RelayStatus] = 7;
    f[LegacyByte::NetSwitches] = 18;
    f[LegacyByte::PortA] = 0x04 | 0x01;
    f[LegacyByte::PortG] = 0x40;
    f[LegacyByte::PortH] = 0x20;
    f[LegacyByte::Identification] = identification;
    return f;
}

struct Legacy {
    LegacyStatusState state;
    LegacyIdentityMemory memory;
    CtVoltageSelection sel;
    LegacyStatusView view;
    const LegacyStatusView& show(const LegacyFrame& f, LegacyStatusInputs in = {}) {
        UpdateLegacyStatus(f, state, memory, sel, view, in);
        return view;
    }
    std::string field(ValueControl c) const { return view.values[controlIndex(c)]; }
};

} // namespace

TEST(LegacyDecoders, SwitchPositions) {
    // The KT-740AU's earth-fault level is in amperes, six times as much with the TR50 series.
    EXPECT_EQ(DecodeGfLevel(5, ModelKt740AU, true, CtSeriesZsct), (DecodedText{"0.75 A", true}));
    EXPECT_EQ(DecodeGfLevel(5, ModelKt740AU, true, CtSeriesTr50), (DecodedText{"4.5 A", true}));
    EXPECT_EQ(DecodeGfLevel(2, ModelKt740AU, true, CtSeriesTr50), (DecodedText{"1.8 A", true}));
    EXPECT_EQ(DecodeGfLevel(5, ModelKt740, true, 0).text, "15");
    EXPECT_EQ(DecodeGfLevel(5, ModelKt740HV, false, 0).text, "20");
    EXPECT_EQ(DecodeGfLevel(10, ModelKt740, false, 0).text, "0"); // the memory position
    EXPECT_EQ(DecodeGfLevel(11, ModelKt740, true, 0), (DecodedText{"Error", false}));
    EXPECT_EQ(DecodeGfTime(10, ModelKt740).text, "10.0");
    EXPECT_EQ(DecodeGfTime(10, ModelKt740AU).text, "0.50");
    EXPECT_EQ(DecodeGfTime(-1, ModelKt740), (DecodedText{"Error", false}));
    EXPECT_EQ(DecodePulseTime(0).text, "1.0");
    EXPECT_FALSE(DecodePulseTime(11).ok);
}

TEST(LegacyDecoders, IdentificationByteAndBitTexts) {
    EXPECT_EQ(decodeLegacyIdentity(0x8A), (LegacyIdentity{ModelKt740HV, false, 10}));
    EXPECT_EQ(decodeLegacyIdentity(0x44), (LegacyIdentity{ModelKt740AU, false, 4}));
    EXPECT_EQ(decodeLegacyIdentity(0x2B), (LegacyIdentity{ModelKt740, true, 11}));
    for (uint8_t b : {0x8A, 0x44, 0x2B, 0x1F}) EXPECT_EQ(encodeLegacyIdentity(decodeLegacyIdentity(b)), b);

    EXPECT_THAT(legacyBitTexts(LegacyBitRow::PortA, 0x04, ModelKt740HV),
                ::testing::ElementsAre("Non Latching", "Non Latching", "200 K", "60 Hz", "Non Fail Safe",
                                       "Pulsing", "0", "0"));
    EXPECT_EQ(legacyBitText(LegacyBitRow::PortA, 2, true, ModelKt740AU), "20 K");
    EXPECT_EQ(legacyBitText(LegacyBitRow::PortG, 6, true, ModelKt740), "Off");
    EXPECT_EQ(legacyBitText(LegacyBitRow::Trip, 6, true, ModelKt740), "Internal Fault");
    EXPECT_EQ(legacyBitText(LegacyBitRow::Setpoint, 7, false, ModelKt740), "No Trip");
    EXPECT_EQ(legacyBitText(LegacyBitRow::PortH, 5, false, ModelKt740), "Fault");
}

TEST(LegacyDecoders, EventBlock) {
    LegacyEventBlock block{};
    const uint8_t first[] = {0x10, 0x32, 0x14, 0xFF, 0xF6};
    std::copy(std::begin(first), std::end(first), block.begin());
    block[5] = 0x03;
    const LegacyEventRecords records = decodeLegacyEventBlock(block).value();
    EXPECT_EQ(records[0], (LegacyEventRecord{0x10, 50, 20, -10}));
    EXPECT_EQ(LegacyTripCauseText(records[0].tripCause), "Voltage Trip");
    EXPECT_EQ(LegacyTripCauseText(records[1].tripCause), "0"); // several bits
    EXPECT_EQ(LegacyTripCauseText(0), "0");
    EXPECT_EQ(buildLegacyEventBlock(records), block);
}

TEST(LegacyStatus, AFrameIsShownOnlyWhenItsVersionIsSeenTwice) {
    Legacy u;
    u.sel.ct_series = CtSeriesZsct;
    u.sel.ct_selected = true;
    const LegacyStatusView& first = u.show(frameOf(0x8A));
    EXPECT_TRUE(first.laidOut); // the legacy pages come up with the first frame
    EXPECT_TRUE(first.topStatusVisible);
    EXPECT_FALSE(first.accepted);
    EXPECT_EQ(first.rejection, LegacyRejection::VersionChanged);
    EXPECT_EQ(u.field(VC::main_gftime), "-----");
    EXPECT_EQ(u.sel.model_type, ModelKt740HV);

    const LegacyStatusView& second = u.show(frameOf(0x8A));
    EXPECT_TRUE(second.accepted);
    EXPECT_TRUE(second.laidOut); // nothing was shown yet
    EXPECT_EQ(second.version_P.text, "Firmware Version: 10");
    EXPECT_EQ(second.packetcount_P.text, "Packets: 0000000");
    EXPECT_EQ(pageShown(second.pages, StatusPage::TabSheet3), true); // KT-740HV from version 10
    EXPECT_EQ(u.field(VC::main_gftime), "0.4");
    EXPECT_EQ(u.field(VC::detail_gfsetting), "10");
    EXPECT_EQ(u.field(VC::main_ngrchange), "-10");
    EXPECT_EQ(u.field(VC::detail_ngrcal), "512");
    EXPECT_EQ(u.field(VC::detail_netswitches), "18");
    EXPECT_EQ(u.field(VC::main_config2), "200 K"); // the KT-740HV's sensing resistor
    EXPECT_EQ(u.field(VC::main_config0), "Latching");
    EXPECT_EQ(u.field(VC::main_tripstat1), "Trip");
    EXPECT_EQ(u.field(VC::main_S7), "Trip");
    EXPECT_EQ(u.field(VC::PG6), "Off");
    EXPECT_EQ(u.field(VC::main_portH5), "Healthy");
    EXPECT_EQ(u.field(VC::main_current), "2.50"); // 50 % of the ZSCT's 5 A
    EXPECT_EQ(u.field(VC::main_voltage), "Not Configured");
    EXPECT_EQ(u.sel.voltageMultiplier, 2);
    EXPECT_FALSE(second.captions.isShown(VC::main_pulsetime));
    EXPECT_TRUE(second.captions.isShown(VC::main_current));
    EXPECT_EQ(second.captions.captionOf(VC::main_voltage), "*NGR Voltage (V)");
    EXPECT_EQ(second.selectionPanels.of(SelectionPanel::unit_P), "KT-740HV");

    const LegacyStatusView& third = u.show(frameOf(0x8A));
    EXPECT_FALSE(third.laidOut);
    EXPECT_EQ(third.packetcount_P.text, "Packets: 0000001");
    EXPECT_EQ(pageShown(third.pages, StatusPage::TabSheet3), std::nullopt);

    // A garbled version is not shown, and neither is the next frame of the right version.
    EXPECT_FALSE(u.show(frameOf(0x8B)).accepted);
    EXPECT_EQ(u.field(VC::main_gftime), "-----");
    EXPECT_FALSE(u.show(frameOf(0x8A)).accepted);
    EXPECT_TRUE(u.show(frameOf(0x8A)).accepted);
}

TEST(LegacyStatus, AnotherVariantClearsTheSelection) {
    Legacy u;
    u.show(frameOf(0x0A));
    u.sel.ct_selected = true;
    u.sel.voltage_selected = true;
    EXPECT_FALSE(u.show(frameOf(0x0A)).settingsChanged);
    EXPECT_TRUE(u.sel.ct_selected);
    const LegacyStatusView& au = u.show(frameOf(0x4A)); // a KT-740AU now
    EXPECT_TRUE(au.settingsChanged);
    EXPECT_FALSE(u.sel.ct_selected);
    EXPECT_FALSE(u.sel.voltage_selected);
    EXPECT_EQ(u.sel.model_type, ModelKt740AU);
    // The memory outlives the connection: a QM-5740 on the next one is another variant too.
    u.state.connectionStarted();
    u.sel.ct_selected = true;
    EXPECT_TRUE(u.show(frameOf(0x2A)).settingsChanged);
    EXPECT_TRUE(u.sel.siblingModel);
}

TEST(LegacyStatus, SwitchOutsideItsTableRejectsTheFrame) {
    Legacy u;
    u.show(frameOf());
    ASSERT_TRUE(u.show(frameOf()).accepted);
    struct Case {
        size_t byte;
        LegacyRejection why;
    } cases[] = {{LegacyByte::GfTime, LegacyRejection::GfTime},
                 {LegacyByte::GfLevel, LegacyRejection::GfLevel},
                 {LegacyByte::PulseTime, LegacyRejection::PulseTime}};
    for (const Case& c : cases) {
        LegacyFrame f = frameOf();
        f[c.byte] = 11;
        const LegacyStatusView& v = u.show(f);
        EXPECT_FALSE(v.accepted);
        EXPECT_EQ(v.rejection, c.why);
        EXPECT_EQ(u.field(VC::T0), "-----");
        EXPECT_EQ(v.netstatus_P.text, "ONLINE");
    }
}

TEST(LegacyStatus, EventPageByModelAndVersion) {
    EXPECT_FALSE(legacyEventPageShown(ModelKt740, 9));
    EXPECT_TRUE(legacyEventPageShown(ModelKt740, 10));
    EXPECT_TRUE(legacyEventPageShown(ModelKt740HV, 10));
    EXPECT_FALSE(legacyEventPageShown(ModelKt740AU, 3));
    EXPECT_TRUE(legacyEventPageShown(ModelKt740AU, 4));
}

TEST(LegacyStatus, DataLogLineEverySaveRateFramesAndPacketWrap) {
    Legacy u;
    LegacyStatusInputs in{.datalogEnabled = true, .saveRate = 3};
    u.show(frameOf(), in); // rejected: the version is new
    std::vector<bool> written;
    for (int i = 0; i < 7; ++i) {
        written.push_back(u.show(frameOf(), in).writeLegacyLine);
        if (u.view.writeLegacyLine) u.state.lineWritten();
    }
    EXPECT_THAT(written, ::testing::ElementsAre(false, false, true, false, false, true, false));
    EXPECT_EQ(u.view.datalog_P, (PanelText{"PC Datalog ON", TextColour::Lime}));
    EXPECT_EQ(u.show(frameOf()).datalog_P, (PanelText{"PC Datalog OFF", TextColour::Red}));

    u.state.packetCount = PacketCountWrap;
    u.show(frameOf());
    EXPECT_EQ(u.state.packetCount, 1);
}

TEST(LegacyStatus, AnyFrameIsEitherShownWholeOrBlanked) {
    // Bytes off a noisy line: the same identification byte (so the version check passes), every
    // other byte random. A frame is shown exactly when its three switch positions are in their
    // tables, and then every field has a value; otherwise every field is blanked.
    Legacy u;
    std::mt19937 rng(740);
    int shown = 0;
    for (int i = 0; i < 3000; ++i) {
        LegacyFrame f;
        for (uint8_t& b : f) b = static_cast<uint8_t>(rng() % (i % 2 ? 12 : 256));
        f[LegacyByte::Identification] = static_cast<uint8_t>(0x40 | (i % 3 == 0 ? 0x80 : 0) | 0x0C);
        const bool positionsValid = f[0] <= 10 && f[1] <= 10 && f[2] <= 10;
        const LegacyStatusView& v = u.show(f);
        if (i == 0) continue; // the first frame carries a new version
        ASSERT_EQ(v.accepted, positionsValid) << i;
        shown += v.accepted;
        for (size_t c = 0; c < ValueControlCount; ++c)
            ASSERT_EQ(v.values[c] == "-----", !v.accepted)
                << i << " " << baseName(static_cast<ValueControl>(c));
    }
    EXPECT_GT(shown, 100);
}
