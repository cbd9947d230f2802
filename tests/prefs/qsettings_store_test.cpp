#include "prefs/qsettings_store.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using kt::ProgramPreferences;

// Every store here is an INI file in a temporary folder; the user's own settings are never
// opened.
class QSettingsStore : public ::testing::Test {
protected:
    QString path() const { return dir.filePath("KTMON740.ini"); }
    void writeFile(const QByteArray& text) {
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    QTemporaryDir dir;
};

TEST_F(QSettingsStore, FirstStartWritesDefaultsAndSecondStartReadsThem) {
    {
        kt::QSettingsPreferencesStore store(path());
        EXPECT_FALSE(kt::preferencesExist(store));
        ASSERT_TRUE(kt::writeDefaultPreferences(store));
    }
    kt::QSettingsPreferencesStore again(path());
    EXPECT_TRUE(kt::preferencesExist(again));
    ProgramPreferences p;
    p.port = "changed";
    auto report = kt::loadPreferences(p, again);
    EXPECT_TRUE(report.readable);
    EXPECT_TRUE(report.corrected.empty());
    EXPECT_EQ(p, ProgramPreferences{});

    QSettings raw(path(), QSettings::IniFormat);
    EXPECT_EQ(raw.childGroups(), QStringList{"Preferences"});
    EXPECT_EQ(raw.allKeys().size(), 26);
}

TEST_F(QSettingsStore, RoundTripKeepsAwkwardTexts) {
    ProgramPreferences p;
    p.port = "/dev/ttyUSB0";
    p.FileName = "C:\\Data, Site 4\\KT = \"north\"; 100%\\KTMON740";
    p.use_settings = true;
    p.running = true;
    p.Top = -20;
    p.ct_primary = 1200;
    {
        kt::QSettingsPreferencesStore store(path());
        ASSERT_TRUE(kt::storePreferences(p, store));
    }
    kt::QSettingsPreferencesStore store(path());
    ProgramPreferences back;
    kt::loadPreferences(back, store);
    EXPECT_EQ(back, p);
}

TEST_F(QSettingsStore, HandEditedBadValuesAreCorrected) {
    writeFile("[Preferences]\n"
              "voltage=-1\n"
              "ct_series=9\n"
              "ct_selected=true\n"
              "save_rate=abc\n"
              "running=maybe\n"
              "port=COM4, COM5\n"
              "ct_primary=70000\n");
    kt::QSettingsPreferencesStore store(path());
    ProgramPreferences p;
    auto report = kt::loadPreferences(p, store);
    EXPECT_TRUE(report.readable);
    EXPECT_EQ(p.voltage, 0);
    EXPECT_EQ(p.ct_series, 0);
    EXPECT_FALSE(p.ct_selected);
    EXPECT_EQ(p.save_rate, 5);
    EXPECT_FALSE(p.running);
    EXPECT_EQ(p.port, "COM4, COM5");
    EXPECT_EQ(p.ct_primary, 5000);
    EXPECT_EQ(report.corrected.size(), 6u);
}

// Values away from every default, as an operator's file holds them.
ProgramPreferences operatorValues() {
    ProgramPreferences p;
    p.port = "/dev/serial/by-id/usb-FTDI_FT232R_A50285BI-if00-port0";
    p.FileName = "C:\\Data, Site 4\\KT = \"north\"; 100% Z\u00fcrich \u20ac\\@KTMON740";
    p.datalog_enable = true;
    p.save_network = false;
    p.ct_selected = true;
    p.voltage_selected = true;
    p.show_prompt = false;
    p.use_settings = true;
    p.running = true;
    p.save_rate = 10000;
    p.Top = -20;
    p.Left = 2560;
    p.voltage = 10;
    p.model_type = 2;
    p.ct_series = 3;
    p.ef_connection = 1;
    p.ct_primary = 5000;
    p.ct_secondary = 1;
    p.network = 1;
    p.ip_address = "192.168.10.20:1502";
    return p;
}

TEST_F(QSettingsStore, OneLineOfJunkKeepsEveryValidValue) {
    const ProgramPreferences p = operatorValues();
    {
        kt::QSettingsPreferencesStore store(path());
        ASSERT_TRUE(kt::storePreferences(p, store));
    }
    // Junk after the section header, in the middle and at the end.
    QFile f(path());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = f.readAll().split('\n');
    f.close();
    const char junkLine[] = "\x01\x02\xff\xfe\x00junk\x00";
    const QByteArray junk(junkLine, sizeof junkLine - 1); // with its NULs
    lines.insert(1, junk);
    lines.insert(lines.size() / 2, "\xc3\x28\xa0 = \xff");
    lines.append(junk);
    writeFile(lines.join('\n'));

    QSettings raw(path(), QSettings::IniFormat);
    (void)raw.childGroups(); // reads the file
    ASSERT_EQ(raw.status(), QSettings::FormatError) << "QSettings alone would give up on this file";

    kt::QSettingsPreferencesStore store(path());
    EXPECT_TRUE(kt::preferencesExist(store));
    ProgramPreferences back;
    auto report = kt::loadPreferences(back, store);
    EXPECT_TRUE(report.readable);
    EXPECT_TRUE(report.damaged);
    EXPECT_TRUE(report.corrected.empty());
    EXPECT_EQ(back, p);
}

TEST_F(QSettingsStore, HugeFileIsReadAroundItsHugeValue) {
    QByteArray text = "[Preferences]\nport=COM9\nrunning=true\nuse_settings=true\nFileName=";
    text += QByteArray(10 * 1000 * 1000, 'x');
    text += "\nct_primary=400\n";
    writeFile(text);
    kt::QSettingsPreferencesStore store(path());
    ProgramPreferences p;
    auto report = kt::loadPreferences(p, store);
    EXPECT_TRUE(report.readable);
    EXPECT_TRUE(report.damaged);
    EXPECT_EQ(report.corrected, std::vector<std::string>{"FileName"});
    EXPECT_EQ(p.FileName, "KTMON740");
    EXPECT_EQ(p.port, "COM9");
    EXPECT_TRUE(p.running);
    EXPECT_EQ(p.ct_primary, 400) << "values after the huge one are kept";
}

TEST_F(QSettingsStore, FirstSaveReplacesTheDamagedFile) {
    writeFile("[Preferences]\nport=COM9\n\x01\xff junk\nsave_rate=7\n");
    ProgramPreferences p;
    {
        kt::QSettingsPreferencesStore store(path());
        kt::loadPreferences(p, store);
        p.ct_primary = 1200;
        ASSERT_TRUE(kt::storePreferences(p, store));
        EXPECT_EQ(store.damagedCopy(), path() + ".damaged");
    }
    QFile copy(path() + ".damaged");
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_TRUE(copy.readAll().contains("\x01\xff junk")) << "the damaged file is kept aside as it was";

    QSettings raw(path(), QSettings::IniFormat);
    EXPECT_EQ(raw.allKeys().size(), 26) << "the new file holds the values and nothing else";
    EXPECT_EQ(raw.status(), QSettings::NoError);
    kt::QSettingsPreferencesStore again(path());
    ProgramPreferences back;
    auto report = kt::loadPreferences(back, again);
    EXPECT_FALSE(report.damaged);
    EXPECT_EQ(back, p);
    EXPECT_EQ(back.port, "COM9");
    EXPECT_EQ(back.save_rate, 7);
}

TEST_F(QSettingsStore, ValuesThatCannotWorkAreRepairedAndReported) {
    // What a damaged file can hold for the link: the window must not try to reconnect with it.
    writeFile(QByteArray("[Preferences]\nuse_settings=true\nrunning=true\nnetwork=1\nip_address=999.1.1.1\n"
                         "port=\"COM1\\x1b[2J\"\n"));
    kt::QSettingsPreferencesStore store(path());
    ProgramPreferences p;
    auto report = kt::loadPreferences(p, store);
    EXPECT_EQ(p.ip_address, "");
    EXPECT_EQ(p.port, "COM1");
    EXPECT_FALSE(p.running);
    EXPECT_TRUE(p.use_settings);
    EXPECT_EQ(report.corrected, (std::vector<std::string>{"port", "ip_address", "running"}));
}

TEST_F(QSettingsStore, UnreadableStoreLeavesTheDefaults) {
    // A folder where the file should be cannot be read as settings.
    ASSERT_TRUE(QDir(dir.path()).mkdir("KTMON740.ini"));
    kt::QSettingsPreferencesStore store(path());
    ProgramPreferences p;
    p.port = "left over";
    auto report = kt::loadPreferences(p, store);
    EXPECT_FALSE(report.readable);
    EXPECT_EQ(p, ProgramPreferences{});
    EXPECT_FALSE(kt::storePreferences(p, store)) << "the failed save is reported";
}

} // namespace
