#include "prefs/qsettings_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>

namespace kt {

namespace {
const QString Group = QStringLiteral("Preferences");

QString key(std::string_view name) {
    return Group + '/' + QString::fromUtf8(name.data(), qsizetype(name.size()));
}

std::vector<std::string> fieldNames() {
    std::vector<std::string> names;
    for (const PreferenceField& f : preferenceFields()) names.emplace_back(f.name);
    return names;
}
} // namespace

QSettingsPreferencesStore::QSettingsPreferencesStore() {
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    // The file QSettings' native format uses here, named so that it can be checked before
    // QSettings reads it.
    file_ =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/Corvane/KTMON740.conf";
    openFile();
#else
    settings_ =
        std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, "Corvane", "KTMON740");
#endif
}

QSettingsPreferencesStore::QSettingsPreferencesStore(const QString& iniFile) : file_(iniFile) {
    openFile();
}

void QSettingsPreferencesStore::openFile() {
    QFileInfo info(file_);
    if (info.isFile()) {
        // Looked at first: QSettings' own verdict is only given to the first reader of a file
        // in a process (it shares what it parsed), and it would read a huge file whole.
        IniSalvage look = salvageIni(info.filesystemFilePath(), Group.toStdString(), fieldNames());
        if (info.size() > MaxFileBytes || look.skippedLines > 0 || !look.unreadable.empty()) {
            salvage_ = std::move(look);
            return;
        }
    }
    settings_ = std::make_unique<QSettings>(file_, QSettings::IniFormat);
    // QSettings reads the file at the first question, and only then knows its status.
    (void)settings_->childGroups();
    if (settings_->status() == QSettings::FormatError) {
        settings_.reset();
        salvage_ = salvageIni(info.filesystemFilePath(), Group.toStdString(), fieldNames());
    }
}

bool QSettingsPreferencesStore::exists() {
    if (salvage_) return salvage_->sectionFound;
    return settings_->childGroups().contains(Group);
}

bool QSettingsPreferencesStore::readable() {
    if (salvage_) return salvage_->opened;
    return settings_->status() == QSettings::NoError;
}

std::optional<std::string> QSettingsPreferencesStore::read(std::string_view name) {
    if (salvage_) {
        auto it = salvage_->values.find(name);
        if (it == salvage_->values.end()) return std::nullopt;
        return it->second;
    }
    QVariant v = settings_->value(key(name));
    if (!v.isValid()) return std::nullopt;
    // An INI text with an unquoted comma reads back as a list; keep it as the text it was.
    if (v.typeId() == QMetaType::QStringList) return v.toStringList().join(", ").toStdString();
    return v.toString().toStdString();
}

std::vector<std::string> QSettingsPreferencesStore::unreadableValues() {
    if (!salvage_) return {};
    return {salvage_->unreadable.begin(), salvage_->unreadable.end()};
}

bool QSettingsPreferencesStore::replaceDamagedFile() {
    // Kept for whoever wants to look at what went wrong; a previous copy gives way.
    const QString copy = file_ + ".damaged";
    QFile::remove(copy);
    if (QFile::rename(file_, copy))
        damagedCopy_ = copy;
    else if (QFileInfo::exists(file_) && !QFile::remove(file_))
        return false;
    settings_ = std::make_unique<QSettings>(file_, QSettings::IniFormat);
    salvage_.reset();
    return true;
}

void QSettingsPreferencesStore::write(std::string_view name, const PreferenceValue& value) {
    if (!settings_) {
        // Writing through QSettings would read the damaged file again (all of it) and keep
        // its junk; a clean file replaces it.
        if (!replaceDamagedFile()) {
            writeFailed_ = true;
            return;
        }
    }
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
    if (writeFailed_) return false;
    if (!settings_) return true; // nothing written
    settings_->sync();
    return settings_->status() == QSettings::NoError;
}

} // namespace kt
