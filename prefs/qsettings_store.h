#pragma once

#include "prefs/preferences.h"

#include <QSettings>

#include <memory>

namespace kt {

// The preferences in QSettings: organization "Corvane", application "KTMON740", group
// "Preferences" (on Windows the registry key HKEY_CURRENT_USER\SOFTWARE\Corvane\KTMON740).
class QSettingsPreferencesStore : public PreferencesStore {
public:
    // The current user's store.
    QSettingsPreferencesStore();
    // An INI file of its own (tests, or a portable installation).
    explicit QSettingsPreferencesStore(const QString& iniFile);

    bool exists() override;
    bool readable() override;
    std::optional<std::string> read(std::string_view name) override;
    void write(std::string_view name, const PreferenceValue& value) override;
    bool flush() override;

    QString location() const { return settings_->fileName(); }

private:
    std::unique_ptr<QSettings> settings_;
};

} // namespace kt
