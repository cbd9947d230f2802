#include "monitor/setting_rules.h"

#include "monitor/number_text.h"
#include "monitor/register_codec.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

namespace kt {

namespace {

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

SettingEntry unchanged() {
    return {};
}

SettingEntry refused(std::string text, std::string_view title) {
    SettingEntry e;
    e.outcome = SettingEntry::Outcome::Refused;
    e.text = std::move(text);
    e.title = title;
    return e;
}

SettingEntry writeOf(SettingWrite w) {
    SettingEntry e;
    e.outcome = SettingEntry::Outcome::Write;
    e.write = std::move(w);
    return e;
}

SettingWrite valueWrite(int reg, int64_t value, std::string newText) {
    SettingWrite w;
    w.kind = SettingWrite::Kind::Value;
    w.reg = reg;
    w.value = value;
    w.newText = std::move(newText);
    return w;
}

// The range a register of `type` holds; nothing for types the setting writers do not write.
std::optional<SettingLimits> typeRange(int64_t type) {
    switch (type) {
    case ValueType::Unsigned16:
        return SettingLimits{0, 65535};
    case ValueType::Signed16:
    case ValueType::UtcOffset:
        return SettingLimits{-32768, 32767};
    case ValueType::Signed32Padded:
    case ValueType::Signed32:
    case ValueType::Thousandths:
        return SettingLimits{INT32_MIN, INT32_MAX};
    case ValueType::Unsigned32Padded:
        return SettingLimits{0, UINT32_MAX};
    default:
        return std::nullopt;
    }
}

} // namespace

// ---- editors ----

SettingEditor editorForAccess(int64_t access) {
    switch (access) {
    case 1:
        return SettingEditor::List;
    case 7:
        return SettingEditor::IpAddress;
    case 9:
        return SettingEditor::MacAddress;
    case 10:
        return SettingEditor::CtDialog;
    case 11:
        return SettingEditor::Number;
    case 16:
        return SettingEditor::UtcOffset;
    default:
        return SettingEditor::None;
    }
}

std::string_view settingEditorName(SettingEditor editor) {
    switch (editor) {
    case SettingEditor::List:
        return "list";
    case SettingEditor::IpAddress:
        return "ip-address";
    case SettingEditor::MacAddress:
        return "mac-address";
    case SettingEditor::CtDialog:
        return "ct-dialog";
    case SettingEditor::Number:
        return "number";
    case SettingEditor::UtcOffset:
        return "utc-offset";
    case SettingEditor::None:
        break;
    }
    return "none";
}

std::string outOfRangeText(int64_t min, int64_t max) {
    return "Value should be between " + std::to_string(min) + "  and " + std::to_string(max) + ".";
}

std::vector<std::string> warningLines(std::string_view warning) {
    constexpr std::string_view Separator = "\\r\\n";
    std::vector<std::string> lines;
    for (;;) {
        const size_t at = warning.find(Separator);
        if (at == std::string_view::npos) break;
        lines.emplace_back(warning.substr(0, at));
        warning.remove_prefix(at + Separator.size());
    }
    lines.emplace_back(warning);
    return lines;
}

// ---- the unit's values ----

std::string_view SettingSource::valueText(int reg) const {
    if (reg < 0 || static_cast<size_t>(reg) >= values.size()) return {};
    return values[static_cast<size_t>(reg)];
}

std::optional<int64_t> SettingSource::current(int reg) const {
    return textToInt(valueText(reg));
}

// ---- lists ----

std::string memoryLevelItemText(int percent, int64_t ctPrimary) {
    return std::to_string(percent) + "%     " +
           formatFixed(static_cast<double>(ctPrimary) * percent / 100.0, 2) + " A";
}

SettingList settingList(const SettingSource& source, int reg, std::string_view translationType) {
    SettingList list;
    const std::optional<int64_t> current = source.current(reg);
    if (reg == MemoryLevelRegister) {
        const int64_t ct = source.current(CtNominalRegister).value_or(0);
        for (int i = MemoryLevelFirst; i <= MemoryLevelLast; ++i)
            list.items.push_back({memoryLevelItemText(i, ct), i});
    } else if (reg == DeviceNetMacIdRegister) {
        for (int i = 0; i <= DeviceNetMacIdLast; ++i) list.items.push_back({std::to_string(i), i});
    } else {
        for (DatasetRow row : source.dataset.translationList(translationType)) {
            const std::string_view text = row.text("TRANSLATIONTEXT");
            const std::optional<int64_t> value = row.number("TRANSLATIONINDEX");
            // A row without a text offers nothing; one without an index could not be written.
            if (text.empty() || !value) continue;
            list.items.push_back({std::string(text), *value});
        }
    }
    if (!current || list.items.empty()) return list;
    for (size_t i = 0; i < list.items.size(); ++i)
        if (list.items[i].value == *current) list.selected = static_cast<int>(i);
    if (list.selected < 0 && *current > list.items.back().value)
        list.selected = static_cast<int>(list.items.size()) - 1;
    return list;
}

// ---- UTC offsets ----

const std::array<std::string_view, UtcOffsetCount> UtcOffsets{
    "-12:00", "-11:00", "-10:00", "-09:30", "-09:00", "-08:00", "-07:00", "-06:00", "-05:00", "-04:00",
    "-03:30", "-03:00", "-02:00", "-01:00", "+00:00", "+01:00", "+02:00", "+03:00", "+03:30", "+04:00",
    "+04:30", "+05:00", "+05:30", "+05:45", "+06:00", "+06:30", "+07:00", "+08:00", "+08:30", "+08:45",
    "+09:00", "+09:30", "+10:00", "+10:30", "+11:00", "+12:00", "+12:45", "+13:00", "+14:00"};

int utcOffsetSelection(std::string_view valueText) {
    int selected = 0;
    for (int i = 0; i < UtcOffsetCount; ++i)
        if (UtcOffsets[static_cast<size_t>(i)] == valueText) selected = i;
    return selected;
}

// ---- numbers ----

std::optional<SettingLimits> numberLimits(const SettingSource& source, int reg) {
    const RowView rows = source.dataset.rowsOfRegister(static_cast<int64_t>(reg));
    const std::optional<DatasetRow> first = rows.first();
    if (!first) return std::nullopt;
    SettingLimits limits{first->number("MIN").value_or(0), first->number("MAX").value_or(0)};
    if (limits.min != 0 || limits.max != 0) return limits;
    for (DatasetRow row : rows) {
        const int64_t dependency = row.number("DEPENDENCY").value_or(0);
        if (dependency <= 0) continue;
        const std::string_view kind = row.text("D_TYPE");
        if (kind != "RANGE" && !kind.empty()) continue;
        const std::optional<int64_t> sourceValue = dependency < static_cast<int64_t>(source.values.size())
                                                       ? source.current(static_cast<int>(dependency))
                                                       : std::nullopt;
        if (sourceValue) {
            for (DatasetRow item : source.dataset.dependencyList(row.text("D_LIST"))) {
                if (item.number("D_VALUE") != *sourceValue) continue;
                if (auto min = item.number("MIN")) limits.min = *min;
                if (auto max = item.number("MAX")) limits.max = *max;
            }
        }
        break; // the walk of the list ends the register's rules
    }
    return limits;
}

std::optional<int64_t> roundTypedNumber(std::string_view text) {
    const std::optional<double> v = textToDouble(text);
    if (!v) return std::nullopt;
    // Far beyond any register: kept beyond every limit instead of overflowing.
    constexpr double Beyond = 9.0e15;
    const double r = std::floor(*v + 0.5);
    if (r >= Beyond) return static_cast<int64_t>(Beyond);
    if (r <= -Beyond) return -static_cast<int64_t>(Beyond);
    return static_cast<int64_t>(r);
}

// ---- entries ----

SettingEntry listEntry(const SettingList& list, int reg, int chosen, std::optional<int64_t> current) {
    if (chosen < 0 || static_cast<size_t>(chosen) >= list.items.size()) return unchanged();
    const ListItem& item = list.items[static_cast<size_t>(chosen)];
    if (current && *current == item.value) return unchanged();
    SettingWrite w = valueWrite(reg, item.value, item.text);
    if (reg == MemoryLevelRegister) w.kind = SettingWrite::Kind::Register16;
    return writeOf(std::move(w));
}

SettingEntry numberEntry(std::string_view text, int reg, const SettingLimits& limits,
                         std::optional<int64_t> current) {
    const std::optional<int64_t> v = roundTypedNumber(text);
    if (!v) return refused(outOfRangeText(limits.min, limits.max), OutOfRangeTitle);
    if (current && *v == *current) return unchanged();
    if (*v < limits.min || *v > limits.max) {
        SettingEntry e = refused(outOfRangeText(limits.min, limits.max), OutOfRangeTitle);
        e.clampedTo = *v > limits.max ? limits.max : limits.min;
        return e;
    }
    return writeOf(valueWrite(reg, *v, std::to_string(*v)));
}

SettingEntry ipEntry(std::string_view editorText, int reg, std::string_view valueText, bool typed) {
    if (!typed || editorText == valueText) return unchanged();
    const std::optional<std::array<uint8_t, 4>> octets = parseIpOctets(editorText);
    if (!octets) return refused(std::string(NotValidIpText), IpAddressErrorTitle);
    // The same address typed differently ("1  " for "001") is no change.
    if (parseIpOctets(valueText) == octets) return unchanged();
    char normal[16];
    std::snprintf(normal, sizeof normal, "%03u.%03u.%03u.%03u", unsigned{(*octets)[0]},
                  unsigned{(*octets)[1]}, unsigned{(*octets)[2]}, unsigned{(*octets)[3]});
    SettingWrite w;
    w.kind = SettingWrite::Kind::IpAddress;
    w.reg = reg;
    w.ipText = normal;
    w.newText = normal;
    return writeOf(std::move(w));
}

SettingEntry macEntry(std::string_view editorText, int reg) {
    std::array<uint8_t, 6> bytes{};
    int blank = 0;
    std::string problem;
    for (int i = 0; i < 6; ++i) {
        const size_t at = static_cast<size_t>(i) * 3;
        const std::string_view pair =
            trimmed(at < editorText.size() ? editorText.substr(at, 2) : std::string_view());
        const std::string name = "pair " + std::to_string(i + 1);
        if (pair.empty()) {
            ++blank;
            if (problem.empty()) problem = name + " is empty";
            continue;
        }
        unsigned value = 0;
        bool hex = true;
        for (char c : pair) {
            const auto u = static_cast<unsigned char>(c);
            if (!std::isxdigit(u)) {
                hex = false;
                break;
            }
            value =
                value * 16 + static_cast<unsigned>(std::isdigit(u) ? u - '0' : std::toupper(u) - 'A' + 10);
        }
        if (!hex) {
            if (problem.empty())
                problem = name + " (\"" + std::string(pair) + "\") is not a hexadecimal number";
            continue;
        }
        bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(value);
    }
    if (blank == 6) return unchanged(); // nothing was entered
    if (!problem.empty()) return refused("Not a valid MAC address: " + problem + ".", MacAddressErrorTitle);
    char text[18];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", unsigned{bytes[0]}, unsigned{bytes[1]},
                  unsigned{bytes[2]}, unsigned{bytes[3]}, unsigned{bytes[4]}, unsigned{bytes[5]});
    SettingWrite w;
    w.kind = SettingWrite::Kind::MacAddress;
    w.reg = reg;
    w.mac = bytes;
    w.newText = text;
    return writeOf(std::move(w));
}

SettingEntry utcEntry(std::string_view chosen, int reg, std::string_view valueText) {
    if (chosen == valueText) return unchanged();
    const std::optional<int> minutes = parseUtcOffset(chosen);
    if (!minutes) return unchanged(); // not an offset of the list: nothing was chosen
    return writeOf(valueWrite(reg, *minutes, std::string(chosen)));
}

SettingEntry ctEntry(int64_t effectiveCtPrimary, int reg) {
    return writeOf(valueWrite(reg, effectiveCtPrimary, std::to_string(effectiveCtPrimary)));
}

SettingEntry fitToRegister(const SettingSource& source, SettingEntry entry) {
    if (!entry.writes() || entry.write.kind != SettingWrite::Kind::Value) return entry;
    const std::optional<DatasetRow> row =
        source.dataset.rowsOfRegister(static_cast<int64_t>(entry.write.reg)).first();
    const int64_t type = row ? row->number("TYPE").value_or(ValueType::Unsigned16) : ValueType::Unsigned16;
    const std::optional<SettingLimits> range = typeRange(type);
    if (range && (entry.write.value < range->min || entry.write.value > range->max))
        return refused(outOfRangeText(range->min, range->max), OutOfRangeTitle);
    return entry;
}

// ---- by text ----

std::optional<std::string> ipEditorText(std::string_view dotted) {
    dotted = trimmed(dotted);
    std::string out;
    for (int part = 0; part < 4; ++part) {
        const size_t dot = dotted.find('.');
        const std::string_view digits = part < 3 ? dotted.substr(0, dot) : dotted;
        if ((part < 3 && dot == std::string_view::npos) || digits.empty() || digits.size() > 3 ||
            !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return std::nullopt;
        out.append(3 - digits.size(), '0');
        out += digits;
        if (part < 3) {
            out += '.';
            dotted.remove_prefix(dot + 1);
        }
    }
    return out;
}

namespace {

// "0a-1b-2c-3d-4e-5f", "a:b:c:d:e:f" and the like in the editor's form "0A:1B:...".
std::optional<std::string> macEditorText(std::string_view text) {
    text = trimmed(text);
    std::string out;
    for (int part = 0; part < 6; ++part) {
        const size_t sep = text.find_first_of(":-");
        const std::string_view pair = part < 5 ? text.substr(0, sep) : text;
        if ((part < 5 && sep == std::string_view::npos) || pair.empty() || pair.size() > 2)
            return std::nullopt;
        if (pair.size() == 1) out += '0';
        out += pair;
        if (part < 5) {
            out += ':';
            text.remove_prefix(sep + 1);
        }
    }
    return out;
}

std::string listChoices(const SettingList& list) {
    std::string out;
    for (const ListItem& item : list.items) {
        if (!out.empty()) out += ", ";
        out += item.text + " (" + std::to_string(item.value) + ")";
    }
    return out;
}

} // namespace

SettingEntry entryFromText(const SettingSource& source, const SettingRow& setting, std::string_view text) {
    const int reg = setting.reg;
    const std::string quoted = "\"" + std::string(text) + "\"";
    auto fitted = [&](SettingEntry e) { return fitToRegister(source, std::move(e)); };
    switch (editorForAccess(setting.access)) {
    case SettingEditor::None:
        return refused(setting.parameter + " (register " + std::to_string(reg) + ") is read-only.",
                       "Read-Only Setting");
    case SettingEditor::List: {
        const SettingList list = settingList(source, reg, setting.translationType);
        int chosen = -1;
        for (size_t i = 0; i < list.items.size() && chosen < 0; ++i)
            if (list.items[i].text == text) chosen = static_cast<int>(i);
        for (size_t i = 0; i < list.items.size() && chosen < 0; ++i)
            if (equalsIgnoringCase(trimmed(list.items[i].text), trimmed(text))) chosen = static_cast<int>(i);
        if (const std::optional<int64_t> n = textToInt(text); n && chosen < 0)
            for (size_t i = 0; i < list.items.size() && chosen < 0; ++i)
                if (list.items[i].value == *n) chosen = static_cast<int>(i);
        if (chosen < 0)
            return refused(quoted + " is not a value of " + setting.parameter +
                               ". Choose one of: " + listChoices(list) + ".",
                           "Not In List");
        return fitted(listEntry(list, reg, chosen, source.current(reg)));
    }
    case SettingEditor::Number: {
        const std::optional<SettingLimits> limits = numberLimits(source, reg);
        if (!limits)
            return refused(setting.parameter + " (register " + std::to_string(reg) +
                               ") has no limits in the register file.",
                           OutOfRangeTitle);
        return fitted(numberEntry(text, reg, *limits, source.current(reg)));
    }
    case SettingEditor::IpAddress: {
        const std::optional<std::string> edit = ipEditorText(text);
        if (!edit) return refused(std::string(NotValidIpText), IpAddressErrorTitle);
        return ipEntry(*edit, reg, source.valueText(reg), true);
    }
    case SettingEditor::MacAddress: {
        const std::optional<std::string> edit = macEditorText(text);
        if (!edit)
            return refused("Not a valid MAC address: " + quoted + " is not six pairs HH:HH:HH:HH:HH:HH.",
                           MacAddressErrorTitle);
        return macEntry(*edit, reg);
    }
    case SettingEditor::UtcOffset: {
        // "5:45" and "+5:45" name the offset "+05:45" of the list.
        std::string offset(trimmed(text));
        if (!offset.empty() && offset.front() >= '0' && offset.front() <= '9') offset.insert(0, "+");
        if (offset.size() == 5 && offset[2] == ':') offset.insert(1, "0");
        if (std::find(UtcOffsets.begin(), UtcOffsets.end(), offset) == UtcOffsets.end()) {
            std::string choices;
            for (std::string_view o : UtcOffsets) choices += (choices.empty() ? "" : ", ") + std::string(o);
            return refused(quoted + " is not one of the UTC offsets: " + choices + ".", "UTC Offset Error");
        }
        return utcEntry(offset, reg, source.valueText(reg));
    }
    case SettingEditor::CtDialog: {
        const std::optional<int64_t> amps = textToInt(text);
        if (!amps || *amps < 1)
            return refused(
                "The effective CT primary must be a whole number of amperes, at least 1: " + quoted + ".",
                OutOfRangeTitle);
        return fitted(ctEntry(*amps, reg));
    }
    }
    return unchanged();
}

} // namespace kt
