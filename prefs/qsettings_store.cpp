#include "prefs/qsettings_store.h"

#include <QStringList>

namespace kt {

namespace {
const QString Group = QStringLiteral("Preferences");

QString key(std::string_view name) {
    return Group + '/' + QString::fromUtf8(name.data(), qsizetype(name.size()));
}
} // namespace

QSettingsPreferencesStore::QSettingsPreferencesStore()
    : settings_(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, "Corvane",
                                            "KTMON740")) {}

QSettingsPreferencesStore::QSettingsPreferencesStore(const QString& iniFile)
    : settings_(std::make_unique<QSettings>(iniFile, QSettings::IniFormat)) {}

bool QSettingsPreferencesStore::exists() {
    return settings_->childGroups().contains(Group);
}

bool QSettingsPreferencesStore::readable() {
    return settings_->status() == QSettings::NoError;
}

std::optional<std::string> QSettingsPreferencesStore::read(std::string_view name) {
    QVariant v = settings_->value(key(name));
    if (!v.isValid()) return std::nullopt;
    // An INI text with an unquoted comma reads back as a list; keep it as the text it was.
    if (v.typeId() == QMetaType::QStringList) return v.toStringList().join(", ").toStdString();
    return v.toString().toStdString();
}

void QSettingsPreferencesStore::write(std::string_view name, const PreferenceValue& value) {
    QVariant v;
    if (auto s = std::get_if<std::string>(&value))
        v = QString::fromStdString(*s);
    else if (auto b = std::get_if<bool>(&value))
        v = *b;
    else
        v = std::get<int32_t>(value);
    settings_->setValue(key(name), v);
}

bool QSettingsPreferencesStore::flush() {
    settings_->sync();
    return settings_->status() == QSettings::NoError;
}

} // namespace kt
