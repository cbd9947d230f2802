// kt740sim serves the register file the program would load for it: for every shipped file, a
// simulator with that file's model type and firmware answers every register the file describes
// with a value that decodes to a plausible text of its type, its value list and its limits.

#include "monitor/register_codec.h"
#include "monitor/register_tables.h"
#include "tests/support/modbus_master.h"
#include "tests/support/process.h"
#include "tests/support/sim_process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>

using namespace kt::test;
using ::testing::HasSubstr;

namespace {

struct ShippedFile {
    std::string name; // registersAU_230.xml
    uint16_t modelType = 0;
    int version = 0;
};

void PrintTo(const ShippedFile& f, std::ostream* os) {
    *os << f.name;
}

std::vector<ShippedFile> shippedFiles() {
    std::vector<ShippedFile> files;
    const std::regex name(R"(registers(AU|HV)?_(\d+)\.xml)");
    for (const auto& entry : std::filesystem::directory_iterator(sourcePath("resources"))) {
        std::smatch m;
        const std::string file = entry.path().filename().string();
        if (!std::regex_match(file, m, name)) continue;
        files.push_back({file,
                         static_cast<uint16_t>(m[1] == "AU"   ? 2
                                               : m[1] == "HV" ? 3
                                                              : 0),
                         std::stoi(m[2])});
    }
    std::sort(files.begin(), files.end(), [](auto& a, auto& b) { return a.name < b.name; });
    return files;
}

struct Identification {
    uint16_t firmware = 0, modelType = 0, commOption = 0;
};

bool hasList(const std::string& translationType) {
    return !translationType.empty() && translationType != "0";
}

// Why `text`, the codec's text of register `reg`, is not what a unit could hold; "" when it is.
std::string implausible(const kt::RegisterTables& t, int reg, const std::string& text,
                        const kt::RegisterCacheWords& cache, const Identification& id) {
    const kt::RegisterDescriptor& d = t.RegisterTable[reg];
    auto is = [&](const std::string& expected) { return text == expected ? "" : "expected " + expected; };
    if (d.label == "DB_MODEL_CODE") return is("740");
    if (d.label == "DB_FIRMWARE_VERSION") return is(std::to_string(id.firmware));
    if (d.label == "DB_SERIAL_NUMBER") return is("123456789");
    if (d.label == "DB_MODEL_TYPE") return is(std::to_string(id.modelType));
    if (d.label == "DB_COMM_CODE") return is(std::to_string(id.commOption));

    static const std::map<int, std::regex> forms = {
        {1, std::regex(R"(\d{1,5})")},
        {2, std::regex(R"(-?\d{9,10})")},
        {3, std::regex(R"((\d{1,2})/(\d{1,2})/(\d{4}))")},
        {4, std::regex(R"((\d\d):(\d\d):(\d\d))")},
        {5, std::regex(R"(-?\d{1,10})")},
        {6, std::regex(R"(-?\d{1,5})")},
        {7, std::regex(R"((\d{3})\.(\d{3})\.(\d{3})\.(\d{3}))")},
        {8, std::regex(R"(0x[0-9A-F]{4})")},
        {9, std::regex(R"(([0-9A-F]{2}):[0-9A-F]{2}:[0-9A-F]{2}:[0-9A-F]{2}:[0-9A-F]{2}:[0-9A-F]{2})")},
        {10, std::regex(R"([ -~]{1,64})")},
        {11, std::regex(R"([ -~]{1,32})")},
        {13, std::regex(R"(\d{16,})")},
        {14, std::regex(R"([ -~]{1,8})")},
        {15, std::regex(R"(-?\d+\.\d\d)")},
        {16, std::regex(R"([+-](\d\d):(\d\d))")},
        {17, std::regex(R"(\d{8,10})")},
        {18, std::regex(R"([ -~]{1,2})")},
        {19, std::regex(R"(0x[0-9A-F]{8})")},
    };
    auto form = forms.find(d.type);
    if (form == forms.end()) return "type " + std::to_string(d.type) + " has no text form";
    std::smatch m;
    if (!std::regex_match(text, m, form->second)) return "not of the form of type " + std::to_string(d.type);
    auto field = [&](int i) { return std::stoi(m[i]); };
    switch (d.type) {
    case 3:
        if (field(1) < 1 || field(1) > 31 || field(2) < 1 || field(2) > 12 || field(3) < 2000 ||
            field(3) > 2100)
            return "no date";
        break;
    case 4:
        if (field(1) > 23 || field(2) > 59 || field(3) > 59) return "no time of day";
        break;
    case 7:
        for (int i = 1; i <= 4; ++i)
            if (field(i) > 255) return "an octet above 255";
        if (text == "000.000.000.000") return "no address";
        break;
    case 9:
        if (std::stoi(m[1], nullptr, 16) & 1) return "a group address";
        if (text == "00:00:00:00:00:00") return "no address";
        break;
    case 16:
        if (field(1) > 14 || field(2) > 59) return "no UTC offset";
        break;
    default:
        break;
    }

    // The rules of the file: the value list, MIN/MAX, a RANGE rule, the program's built-in lists.
    const int64_t value = cache[reg];
    if (hasList(d.translationType)) {
        for (kt::DatasetRow row : t.dataset.translationList(d.translationType))
            if (row.number("TRANSLATIONINDEX") == value) return "";
        return "not an entry of the list " + d.translationType;
    }
    auto within = [&](int64_t lo, int64_t hi) {
        return value >= lo && value <= hi ? "" : "outside " + std::to_string(lo) + ".." + std::to_string(hi);
    };
    kt::RowView rows = t.dataset.rowsOfRegister(static_cast<int64_t>(reg));
    if (auto first = rows.first()) {
        const int64_t lo = first->numberOr("MIN", 0), hi = first->numberOr("MAX", 0);
        if (lo != 0 || hi != 0) return within(lo, hi);
        for (kt::DatasetRow row : rows) {
            if (row.text("D_TYPE") != "RANGE") continue;
            const int64_t source = cache[static_cast<size_t>(row.numberOr("DEPENDENCY", 0))];
            for (kt::DatasetRow entry : t.dataset.dependencyList(row.text("D_LIST")))
                if (entry.number("D_VALUE") == source)
                    return within(entry.numberOr("MIN", 0), entry.numberOr("MAX", 0));
            return "no range for its source's value " + std::to_string(source);
        }
    }
    if (d.access == 1 && reg == 16) return within(2, 100);
    if (d.access == 1 && reg == 120) return within(0, 63);
    return "";
}

class SimServesItsRegisterFile : public ::testing::TestWithParam<ShippedFile> {};

} // namespace

TEST_P(SimServesItsRegisterFile, EveryDescribedRegisterReadsPlausibly) {
    const ShippedFile& f = GetParam();
    // A firmware a little above the file's version still names it; the HV one is a prototype.
    const Identification id{static_cast<uint16_t>((f.version + 7) | (f.modelType == 3 ? 0x8000 : 0)),
                            f.modelType, static_cast<uint16_t>(f.version >= 270 ? 6 : 3)};
    SimProcess sim({"--tcp", "127.0.0.1:0", "--model-type", std::to_string(id.modelType), "--firmware",
                    std::to_string(id.firmware), "--comm-option", std::to_string(id.commOption), "--serial",
                    "123456789", "--events", "3"});
    const std::string served = "kt740sim: serving " + binPath("resources/" + f.name) + "\n";
    EXPECT_THAT(sim.stderrText(), HasSubstr(served));

    kt::RegisterTables tables;
    std::string why;
    ASSERT_TRUE(kt::loadRegisterFile(sourcePath("resources/" + f.name), tables, &why)) << why;
    auto replies = runModbusMaster("tcp:" + sim.tcpEndpoint(), {"read:0:125", "read:125:125"});
    kt::RegisterCacheWords cache{};
    ASSERT_TRUE(replies[0].ok() && replies[1].ok()) << replies[0].detail << replies[1].detail;
    std::copy(replies[0].values.begin(), replies[0].values.end(), cache.begin());
    std::copy(replies[1].values.begin(), replies[1].values.end(), cache.begin() + 125);

    for (int reg = 0; reg < kt::RegisterTableSize; ++reg) {
        const kt::RegisterDescriptor& d = tables.RegisterTable[reg];
        if (d.type <= 0) continue;
        const std::string text = kt::registerText(cache, reg, d.type);
        EXPECT_EQ(implausible(tables, reg, text, cache, id), "")
            << "register " << reg << " " << d.label << " type " << d.type << " reads \"" << text << "\"";
    }
    EXPECT_EQ(sim.stop(), 0) << sim.stderrText();
}

INSTANTIATE_TEST_SUITE_P(Shipped, SimServesItsRegisterFile, ::testing::ValuesIn(shippedFiles()),
                         [](const auto& info) {
                             return info.param.name.substr(0, info.param.name.size() - 4);
                         });

TEST(SimRegisterFileChoice, FallsBackAsTheProgramDoesOrServesTheIdentificationOnly) {
    {
        SimProcess sim({"--tcp", "127.0.0.1:0", "--firmware", "265"});
        EXPECT_THAT(sim.stderrText(), HasSubstr("serving " + binPath("resources/registers_230.xml") +
                                                " (no file for version 260)\n"));
    }
    {
        // Its own folder, holding one file.
        TempDir dir;
        std::filesystem::copy_file(sourcePath("resources/registersHV_280.xml"),
                                   dir.file("registersHV_280.xml"));
        SimProcess sim(
            {"--tcp", "127.0.0.1:0", "--firmware", "300", "--model-type", "3", "--resources", dir.path()});
        EXPECT_THAT(sim.stderrText(),
                    HasSubstr("serving " + dir.file("registersHV_280.xml") + " (no file for version 300)\n"));
    }
    {
        SimProcess sim({"--tcp", "127.0.0.1:0", "--firmware", "190", "--set", "300=5", "--events", "4"});
        EXPECT_THAT(sim.stderrText(), HasSubstr("kt740sim: warning: no register file registers_190.xml"));
        EXPECT_THAT(sim.stderrText(), HasSubstr("; serving the identification only\n"));
        EXPECT_THAT(sim.stderrText(), HasSubstr("warning: --events has no effect without a register file"));
        auto r = runModbusMaster("tcp:" + sim.tcpEndpoint(), {"read:0:125", "read:125:125", "read:300:1"});
        std::vector<uint16_t> expected(125, 0);
        std::copy_n(std::vector<uint16_t>{740, 190, 1, 0, 0, 0}.begin(), 6, expected.begin());
        EXPECT_EQ(r[0].values, expected);
        EXPECT_EQ(r[1].values, std::vector<uint16_t>(125, 0));
        EXPECT_EQ(r[2].values, std::vector<uint16_t>{5});
        EXPECT_EQ(sim.stop(), 0) << sim.stderrText();
    }
}
