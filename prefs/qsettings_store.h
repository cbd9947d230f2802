#pragma once

#include "prefs/ini_salvage.h"
#include "prefs/preferences.h"

#include <QSettings>

#include <memory>
#include <optional>

namespace kt {

// The preferences in QSettings: organization "Corvane", application "KTMON740", group
// "Preferences" (on Windows the registry key HKEY_CURRENT_USER\SOFTWARE\Corvane\KTMON740, on
// Linux the INI file ~/.config/Corvane/KTMON740.conf).
//
// QSettings reads an INI file whole and gives up on all of it at the first damaged line. So
// the file is first looked at line by line (salvageIni, within fixed bounds); a file larger
// than any the program writes, or one with damaged lines, is read that way only: what can be
// read is kept, the rest is reported. The first write then sets the damaged file aside as
// "<file>.damaged" and starts a clean one.
class QSettingsPreferencesStore : public PreferencesStore {
public:
    // A file the program writes is under 2 kB; this leaves room for long paths.
    static constexpr qint64 MaxFileBytes = 64 * 1024;

    // The current user's store.
    QSettingsPreferencesStore();
    // An INI file of its own (tests, or a portable installation).
    explicit QSettingsPreferencesStore(const QString& iniFile);

    bool exists() override;
    bool readable() override;
    std::optional<std::string> read(std::string_view name) override;
    void write(std::string_view name, const PreferenceValue& value) override;
    bool flush() override;
    bool damaged() override { return salvage_.has_value(); }
    std::vector<std::string> unreadableValues() override;

    QString location() const { return file_.isEmpty() ? settings_->fileName() : file_; }
    // Where the damaged file was set aside; empty when nothing was.
    QString damagedCopy() const { return damagedCopy_; }

private:
    void openFile();
    bool replaceDamagedFile();

    QString file_; // empty for the registry
    std::unique_ptr<QSettings> settings_;
    std::optional<IniSalvage> salvage_; // set while a damaged file is read around its damage
    QString damagedCopy_;
    bool writeFailed_ = false;
};

} // namespace kt
