#include "prefs/preferences.h"

#include "prefs/ini_salvage.h"
#include "ui/address_text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>

namespace kt {

namespace {

template <auto Member> PreferenceValue getMember(const ProgramPreferences& p) {
    return PreferenceValue(p.*Member);
}

template <auto Member> void setMember(ProgramPreferences& p, const PreferenceValue& v) {
    using T = std::remove_cvref_t<decltype(p.*Member)>;
    p.*Member = std::get<T>(v);
}

template <auto Member> constexpr PreferenceField field(std::string_view name) {
    return {name, &getMember<Member>, &setMember<Member>};
}

template <auto Member>
constexpr PreferenceField textField(std::string_view name, size_t maxLength,
                                    bool (*usable)(std::string_view) = nullptr) {
    return {name, &getMember<Member>, &setMember<Member>, 0, 0, false, maxLength, usable};
}

template <auto Member>
constexpr PreferenceField ranged(std::string_view name, int32_t min, int32_t max, bool clamp = false) {
    return {name, &getMember<Member>, &setMember<Member>, min, max, clamp};
}

constexpr int32_t IntMin = std::numeric_limits<int32_t>::min();
constexpr int32_t IntMax = std::numeric_limits<int32_t>::max();

using P = ProgramPreferences;

// An empty log name would write files named only by the date.
bool notEmpty(std::string_view t) {
    return !t.empty();
}
// The address field's own rule; empty is "not chosen yet".
bool ipAddressText(std::string_view t) {
    return t.empty() || parseIpv4Endpoint(t).has_value();
}

// Ranges: the voltage index addresses an eleven-entry list, the model and CT codes are the
// dialog's choices, the primary is what the CT dialog's spin edit accepts (clamped like the
// control would), the legacy log rate counts packets per line. Window positions may be
// negative on a multi-monitor desktop, so they take any number. Port names are device paths
// (/dev/serial/by-id/... runs to about a hundred bytes), the log name a path.
constexpr std::array Fields{
    textField<&P::port>("port", 255),
    textField<&P::FileName>("FileName", 4096, notEmpty),
    field<&P::datalog_enable>("datalog_enable"),
    field<&P::save_main>("save_main"),
    field<&P::save_network>("save_network"),
    field<&P::save_tripstat>("save_tripstat"),
    field<&P::save_setpointstat>("save_setpointstat"),
    field<&P::save_portA>("save_portA"),
    field<&P::save_portG>("save_portG"),
    field<&P::save_portH>("save_portH"),
    field<&P::ct_selected>("ct_selected"),
    field<&P::voltage_selected>("voltage_selected"),
    field<&P::show_prompt>("show_prompt"),
    field<&P::use_settings>("use_settings"),
    field<&P::running>("running"),
    ranged<&P::save_rate>("save_rate", 1, 10000),
    ranged<&P::Top>("Top", IntMin, IntMax),
    ranged<&P::Left>("Left", IntMin, IntMax),
    ranged<&P::voltage>("voltage", 0, 10),
    ranged<&P::model_type>("model_type", 0, 2),
    ranged<&P::ct_series>("ct_series", 0, 3),
    ranged<&P::ef_connection>("ef_connection", 0, 2),
    ranged<&P::ct_primary>("ct_primary", 5, 5000, true),
    ranged<&P::ct_secondary>("ct_secondary", 0, 1),
    ranged<&P::network>("network", 0, 1),
    textField<&P::ip_address>("ip_address", 64, ipAddressText),
};

// A corrected CT value means the stored selection is no longer the one the operator confirmed,
// so it is shown as unselected instead of yielding wrong amperes; the same for the voltage. A
// corrected link value would reconnect somewhere the operator never chose, so the program
// does not reconnect by itself.
struct Dependent {
    std::string_view source;
    bool ProgramPreferences::*flag;
    std::string_view flagName;
    bool (*applies)(const ProgramPreferences&) = nullptr; // nothing: always
};
constexpr std::array Dependents{
    Dependent{"ct_series", &P::ct_selected, "ct_selected"},
    Dependent{"ef_connection", &P::ct_selected, "ct_selected"},
    Dependent{"ct_primary", &P::ct_selected, "ct_selected"},
    Dependent{"ct_secondary", &P::ct_selected, "ct_selected"},
    Dependent{"voltage", &P::voltage_selected, "voltage_selected"},
    Dependent{"model_type", &P::voltage_selected, "voltage_selected"},
    Dependent{"network", &P::running, "running"},
    Dependent{"port", &P::running, "running", [](const P& p) { return p.network == 0; }},
    Dependent{"ip_address", &P::running, "running", [](const P& p) { return p.network == 1; }},
};

std::string_view trim(std::string_view t) {
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
    return t;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

bool hasControlCharacter(std::string_view t) {
    return std::any_of(t.begin(), t.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

bool usableText(const PreferenceField& f, std::string_view t) {
    if (t.size() > f.maxLength || !isValidUtf8(t) || hasControlCharacter(t)) return false;
    return !f.usable || f.usable(t);
}

// The corrected value for `text`, or nothing when the text is usable as it is.
std::optional<PreferenceValue> readField(const PreferenceField& f, const PreferenceValue& def,
                                         const std::string& text, bool& corrected) {
    corrected = false;
    if (std::holds_alternative<std::string>(def)) {
        if (!usableText(f, text)) {
            corrected = true;
            return def;
        }
        return PreferenceValue(text);
    }
    if (std::holds_alternative<bool>(def)) {
        if (auto b = parsePreferenceBool(text)) return PreferenceValue(*b);
        corrected = true;
        return def;
    }
    auto n = parsePreferenceInt(text);
    if (!n) {
        corrected = true;
        return def;
    }
    if (*n < f.min || *n > f.max) {
        corrected = true;
        return PreferenceValue(f.clamp ? std::clamp(*n, f.min, f.max) : std::get<int32_t>(def));
    }
    return PreferenceValue(*n);
}

} // namespace

std::span<const PreferenceField> preferenceFields() {
    return Fields;
}

std::optional<bool> parsePreferenceBool(std::string_view text) {
    text = trim(text);
    if (equalsNoCase(text, "true") || text == "1") return true;
    if (equalsNoCase(text, "false") || text == "0") return false;
    return std::nullopt;
}

std::optional<int32_t> parsePreferenceInt(std::string_view text) {
    text = trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    int32_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

PreferencesLoadReport loadPreferences(ProgramPreferences& prefs, PreferencesStore& store) {
    PreferencesLoadReport report;
    const ProgramPreferences defaults;
    prefs = defaults;
    if (!store.readable()) {
        report.readable = false;
        return report;
    }
    report.damaged = store.damaged();
    const std::vector<std::string> unreadable = store.unreadableValues();
    for (const PreferenceField& f : Fields) {
        if (std::find(unreadable.begin(), unreadable.end(), f.name) != unreadable.end()) {
            report.corrected.emplace_back(f.name); // there, but lost: the default stays
            continue;
        }
        auto text = store.read(f.name);
        if (!text) continue; // missing: the default stays
        bool corrected = false;
        if (auto v = readField(f, f.get(defaults), *text, corrected)) f.set(prefs, *v);
        if (corrected) report.corrected.emplace_back(f.name);
    }
    for (const Dependent& d : Dependents) {
        bool sourceCorrected =
            std::find(report.corrected.begin(), report.corrected.end(), d.source) != report.corrected.end();
        if (sourceCorrected && prefs.*d.flag && (!d.applies || d.applies(prefs))) {
            prefs.*d.flag = false;
            report.corrected.emplace_back(d.flagName);
        }
    }
    return report;
}

std::string preferencesLoadNotice(const PreferencesLoadReport& report) {
    if (!report.readable) return "The stored preferences could not be read; the defaults are used.";
    std::string text;
    if (report.damaged) text = "The stored preferences were damaged; the values that could be read are used.";
    if (!report.corrected.empty()) {
        if (!text.empty()) text += ' ';
        text += "Reset to their defaults: ";
        for (size_t i = 0; i < report.corrected.size(); ++i) text += (i ? ", " : "") + report.corrected[i];
        text += '.';
    }
    return text;
}

bool storePreferences(const ProgramPreferences& prefs, PreferencesStore& store) {
    for (const PreferenceField& f : Fields) store.write(f.name, f.get(prefs));
    return store.flush();
}

bool writeDefaultPreferences(PreferencesStore& store) {
    return storePreferences(ProgramPreferences{}, store);
}

bool preferencesExist(PreferencesStore& store) {
    return store.exists();
}

ProgramPreferences builtInWorkingDefaults(std::string_view programFolder) {
    ProgramPreferences p;
    std::string folder(programFolder);
    if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += '/';
    p.FileName = folder + "KTMON740";
    p.ef_connection = 2;
    return p;
}

WorkingPreferences workingPreferences(const ProgramPreferences& stored, std::string_view programFolder) {
    if (stored.use_settings) return {stored, true};
    WorkingPreferences w{builtInWorkingDefaults(programFolder), false};
    w.values.show_prompt = stored.show_prompt;
    return w;
}

} // namespace kt
