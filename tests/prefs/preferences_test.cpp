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
    bool isDamaged = false;
    std::vector<std::string> lost;

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
    bool damaged() override { return isDamaged; }
    std::vector<std::string> unreadableValues() override { return lost; }
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
        {"network", "2", "0"},
        // Texts that cannot work: too long, control characters, not UTF-8, not an address.
        {"port", "COM1\x01", "COM1"},
        {"port", "COM3\nCOM4", "COM1"},
        {"FileName", "log\tname", "KTMON740"},
        {"FileName", "caf\xe9", "KTMON740"},
        {"ip_address", "999.1.1.1", ""},
        {"ip_address", "10.0.0.1:0", ""},
        {"ip_address", "relay.local", ""},
        {"ip_address", "10.0.0.1\x7f", ""},
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

TEST(Preferences, OverlongTextsAreCorrected) {
    const struct {
        const char* name;
        size_t length;
        const char* expected;
    } cases[] = {{"port", 256, "COM1"}, {"FileName", 4097, "KTMON740"}, {"FileName", 10'000'000, "KTMON740"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " of " + std::to_string(c.length));
        MemoryStore store;
        store.values = {{c.name, std::string(c.length, 'x')}, {"save_rate", "7"}};
        ProgramPreferences p;
        auto report = kt::loadPreferences(p, store);
        EXPECT_EQ(report.corrected, std::vector<std::string>{c.name});
        EXPECT_EQ(c.name == std::string("port") ? p.port : p.FileName, c.expected);
        EXPECT_EQ(p.save_rate, 7) << "the other values are kept";
    }
}

TEST(Preferences, ValuesAtTheirLimitsAreKept) {
    const std::map<std::string, std::string, std::less<>> limits[] = {
        {{"save_rate", "1"},
         {"voltage", "0"},
         {"model_type", "0"},
         {"ct_series", "0"},
         {"ef_connection", "0"},
         {"ct_primary", "5"},
         {"ct_secondary", "0"},
         {"network", "0"},
         {"Top", "-2147483648"},
         {"Left", "-2147483648"},
         {"port", "x"},
         {"FileName", "x"},
         {"ip_address", "0.0.0.0"}},
        {{"save_rate", "10000"},
         {"voltage", "10"},
         {"model_type", "2"},
         {"ct_series", "3"},
         {"ef_connection", "2"},
         {"ct_primary", "5000"},
         {"ct_secondary", "1"},
         {"network", "1"},
         {"Top", "2147483647"},
         {"Left", "2147483647"},
         {"port", std::string(255, 'p')},
         {"FileName", std::string(4096, 'f')},
         {"ip_address", "255.255.255.255:65535"}},
    };
    for (const auto& values : limits) {
        MemoryStore store;
        store.values = values;
        store.values["ct_selected"] = "true";
        store.values["voltage_selected"] = "true";
        store.values["running"] = "true";
        ProgramPreferences p;
        auto report = kt::loadPreferences(p, store);
        EXPECT_TRUE(report.corrected.empty()) << report.corrected.front();
        EXPECT_TRUE(p.ct_selected && p.voltage_selected && p.running);
        MemoryStore out;
        kt::storePreferences(p, out);
        for (const auto& [name, text] : values) EXPECT_EQ(out.values[name], text) << name;
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

    // The voltage list depends on the model: a damaged model makes the stored index meaningless.
    store.values = {{"voltage_selected", "true"}, {"voltage", "3"}, {"model_type", "7"}};
    report = kt::loadPreferences(p, store);
    EXPECT_FALSE(p.voltage_selected);
    EXPECT_EQ(p.voltage, 3);
    EXPECT_EQ(report.corrected, (std::vector<std::string>{"model_type", "voltage_selected"}));
}

TEST(Preferences, DamagedLinkValueStopsTheReconnect) {
    const struct {
        const char* network;
        const char* name;
        const char* text;
        bool running;
        std::vector<std::string> corrected;
    } cases[] = {
        {"0", "port", "COM1\x1b[2J", false, {"port", "running"}},
        {"1", "ip_address", "999.1.1.1", false, {"ip_address", "running"}},
        {"x", "port", "COM4", false, {"network", "running"}},
        // The other link's value is not used to reconnect.
        {"1", "port", "COM1\x01", true, {"port"}},
        {"0", "ip_address", "999.1.1.1", true, {"ip_address"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + "=" + c.text + " on network " + c.network);
        MemoryStore store;
        store.values = {
            {"use_settings", "true"}, {"running", "true"}, {"network", c.network}, {c.name, c.text}};
        ProgramPreferences p;
        auto report = kt::loadPreferences(p, store);
        EXPECT_EQ(p.running, c.running);
        EXPECT_TRUE(p.use_settings);
        EXPECT_EQ(report.corrected, c.corrected);
    }
}

TEST(Preferences, DamagedStoreKeepsWhatItCouldRead) {
    MemoryStore store;
    store.values = {{"port", "COM7"}, {"ct_selected", "true"}, {"ct_series", "1"}};
    store.isDamaged = true;
    store.lost = {"ct_primary"}; // there, but cut off
    ProgramPreferences p;
    auto report = kt::loadPreferences(p, store);
    EXPECT_TRUE(report.readable);
    EXPECT_TRUE(report.damaged);
    EXPECT_EQ(p.port, "COM7");
    EXPECT_EQ(p.ct_series, 1);
    EXPECT_EQ(p.ct_primary, 200);
    EXPECT_FALSE(p.ct_selected) << "a lost CT value unconfirms the CT";
    EXPECT_EQ(report.corrected, (std::vector<std::string>{"ct_primary", "ct_selected"}));
    EXPECT_EQ(kt::preferencesLoadNotice(report),
              "The stored preferences were damaged; the values that could be read are used. "
              "Reset to their defaults: ct_primary, ct_selected.");

    EXPECT_EQ(kt::preferencesLoadNotice({}), "");
    EXPECT_EQ(kt::preferencesLoadNotice({false, false, {}}),
              "The stored preferences could not be read; the defaults are used.");
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
