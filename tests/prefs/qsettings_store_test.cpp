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
