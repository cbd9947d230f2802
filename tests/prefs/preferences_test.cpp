#include "prefs/preferences.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using kt::PreferenceValue;
using kt::ProgramPreferences;

// A store held in memory, keeping values as the text a registry or INI file would give back.
class MemoryStore : public kt::PreferencesStore {
public:
    std::map<std::string, std::string, std::less<>> values;
    bool canRead = true;
    bool canWrite = true;

    bool exists() override { return !values.empty(); }
    bool readable() override { return canRead; }
    std::optional<std::string> read(std::string_view name) override {
        auto it = values.find(name);
        if (it == values.end()) return std::nullopt;
        return it->second;
    }
    void write(std::string_view name, const PreferenceValue& v) override {
        std::string text;
        if (auto s = std::get_if<std::string>(&v))
            text = *s;
        else if (auto b = std::get_if<bool>(&v))
            text = *b ? "true" : "false";
        else
            text = std::to_string(std::get<int32_t>(v));
        values[std::string(name)] = text;
    }
    bool flush() override { return canWrite; }
};

TEST(Preferences, FirstStartWritesEveryDefaultAndReadsThemBack) {
    MemoryStore store;
    EXPECT_FALSE(kt::preferencesExist(store));
    ASSERT_TRUE(kt::writeDefaultPreferences(store));
    EXPECT_TRUE(kt::preferencesExist(store));

    const std::map<std::string, std::string, std::less<>> expected{
        {"port", "COM1"},
        {"FileName", "KTMON740"},
        {"datalog_enable", "false"},
        {"save_main", "true"},
        {"save_network", "true"},
        {"save_tripstat", "true"},
        {"save_setpointstat", "true"},
        {"save_portA", "true"},
        {"save_portG", "true"},
        {"save_portH", "true"},
        {"ct_selected", "false"},
        {"voltage_selected", "false"},
        {"show_prompt", "true"},
        {"use_settings", "false"},
        {"running", "false"},
        {"save_rate", "5"},
        {"Top", "0"},
        {"Left", "0"},
        {"voltage", "0"},
        {"model_type", "0"},
        {"ct_series", "0"},
        {"ef_connection", "0"},
        {"ct_primary", "200"},
        {"ct_secondary", "0"},
        {"network", "0"},
        {"ip_address", ""},
    };
    EXPECT_EQ(store.values, expected);

    ProgramPreferences read;
    read.port = "junk";
    auto report = kt::loadPreferences(read, store);
    EXPECT_TRUE(report.readable);
    EXPECT_TRUE(report.corrected.empty());
    EXPECT_EQ(read, ProgramPreferences{});
}

TEST(Preferences, RoundTripKeepsEveryValue) {
    ProgramPreferences p;
    p.port = "/dev/ttyUSB1";
    p.FileName = "C:\\logs, site 4\\KTMON740";
    p.datalog_enable = true;
    p.save_portG = false;
    p.ct_selected = true;
    p.voltage_selected = true;
    p.show_prompt = false;
    p.use_settings = true;
    p.running = true;
    p.save_rate = 2;
    p.Top = -40;
    p.Left = 1930;
    p.voltage = 10;
    p.model_type = 2;
    p.ct_series = 3;
    p.ef_connection = 1;
    p.ct_primary = 5000;
    p.ct_secondary = 1;

    MemoryStore store;
    ASSERT_TRUE(kt::storePreferences(p, store));
    ProgramPreferences back;
    kt::loadPreferences(back, store);
    EXPECT_EQ(back, p);
}

TEST(Preferences, MissingValuesTakeTheirDefaults) {
    MemoryStore store;
    store.values = {{"port", "COM7"}, {"ct_primary", "400"}};
    ProgramPreferences p;
    auto report = kt::loadPreferences(p, store);
    EXPECT_TRUE(report.corrected.empty());
    ProgramPreferences expected;
    expected.port = "COM7";
    expected.ct_primary = 400;
    EXPECT_EQ(p, expected);
}

TEST(Preferences, UnreadableStoreLeavesTheDefaults) {
    MemoryStore store;
    store.values = {{"port", "COM7"}};
    store.canRead = false;
    ProgramPreferences p;
    p.port = "left over";
    auto report = kt::loadPreferences(p, store);
    EXPECT_FALSE(report.readable);
    EXPECT_EQ(p, ProgramPreferences{});
}

TEST(Preferences, FailedFlushIsReported) {
    MemoryStore store;
    store.canWrite = false;
    EXPECT_FALSE(kt::storePreferences(ProgramPreferences{}, store));
    EXPECT_FALSE(kt::writeDefaultPreferences(store));
}

TEST(Preferences, BadValuesAreCorrected) {
    struct Case {
        const char* name;
        const char* text;
        const char* expected; // the value read back, as the store would write it
    } cases[] = {
        {"save_rate", "abc", "5"},
        {"save_rate", "0", "5"},
        {"save_rate", "-3", "5"},
        {"save_rate", "99999999999", "5"},
        {"voltage", "-1", "0"},
        {"voltage", "11", "0"},
        {"model_type", "3", "0"},
        {"ct_series", "9", "0"},
        {"ef_connection", "7", "0"},
        {"ct_secondary", "2", "0"},
        {"ct_primary", "9999", "5000"},
        {"ct_primary", "1", "5"},
        {"ct_primary", "2.5", "200"},
        {"datalog_enable", "yes", "false"},
        {"show_prompt", "", "true"},
        {"FileName", "", "KTMON740"},
        {"Top", "12x", "0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + "=" + c.text);
        MemoryStore store;
        store.values[c.name] = c.text;
        ProgramPreferences p;
        auto report = kt::loadPreferences(p, store);
        ASSERT_FALSE(report.corrected.empty());
        EXPECT_EQ(report.corrected.front(), c.name);
        MemoryStore out;
        kt::storePreferences(p, out);
        EXPECT_EQ(out.values[c.name], c.expected);
    }
}

TEST(Preferences, UsableSpellingsAreAccepted) {
    MemoryStore store;
    store.values = {{"running", "TRUE"}, {"use_settings", "1"}, {"save_main", " false "},
                    {"Left", "-1280"},   {"ct_primary", "+25"}, {"save_rate", " 7"}};
    ProgramPreferences p;
    auto report = kt::loadPreferences(p, store);
    EXPECT_TRUE(report.corrected.empty());
    EXPECT_TRUE(p.running);
    EXPECT_TRUE(p.use_settings);
    EXPECT_FALSE(p.save_main);
    EXPECT_EQ(p.Left, -1280);
    EXPECT_EQ(p.ct_primary, 25);
    EXPECT_EQ(p.save_rate, 7);
}

TEST(Preferences, CorrectedSelectionIsNoLongerConfirmed) {
    MemoryStore store;
    store.values = {
        {"ct_selected", "true"}, {"ct_series", "9"}, {"voltage_selected", "true"}, {"voltage", "3"}};
    ProgramPreferences p;
    auto report = kt::loadPreferences(p, store);
    EXPECT_FALSE(p.ct_selected);
    EXPECT_TRUE(p.voltage_selected) << "a good voltage keeps its selection";
    EXPECT_EQ(p.voltage, 3);
    EXPECT_EQ(report.corrected, (std::vector<std::string>{"ct_series", "ct_selected"}));

    store.values = {{"voltage_selected", "true"}, {"voltage", "40"}};
    kt::loadPreferences(p, store);
    EXPECT_FALSE(p.voltage_selected);
}

TEST(Preferences, WorkingCopyFollowsUseSettings) {
    ProgramPreferences stored;
    stored.port = "COM9";
    stored.Top = 300;
    stored.show_prompt = false;
    stored.running = true;
    stored.ct_selected = true;

    auto w = kt::workingPreferences(stored, "/opt/ktmon740");
    EXPECT_FALSE(w.restorePosition);
    EXPECT_EQ(w.values.port, "COM1");
    EXPECT_EQ(w.values.FileName, "/opt/ktmon740/KTMON740");
    EXPECT_EQ(w.values.ef_connection, 2);
    EXPECT_FALSE(w.values.running);
    EXPECT_FALSE(w.values.ct_selected);
    EXPECT_FALSE(w.values.show_prompt) << "show_prompt is always taken from the store";

    stored.use_settings = true;
    w = kt::workingPreferences(stored, "/opt/ktmon740");
    EXPECT_TRUE(w.restorePosition);
    EXPECT_EQ(w.values, stored);
}

TEST(Preferences, BuiltInDefaultsDifferFromStoredDefaultsInTwoPlaces) {
    auto d = kt::builtInWorkingDefaults("C:\\KTMON740\\");
    ProgramPreferences expected;
    expected.FileName = "C:\\KTMON740\\KTMON740";
    expected.ef_connection = 2;
    EXPECT_EQ(d, expected);
}

} // namespace
