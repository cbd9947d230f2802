#include "prefs/ini_salvage.h"

#include <algorithm>
#include <array>
#include <fstream>

namespace kt {

namespace {

std::string_view trimBlanks(std::string_view t) {
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
    return t;
}

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
int hexValue(char c) {
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

// The items of a value; a comma outside quotes separates them, a semicolon outside quotes
// starts a comment, blanks outside quotes around an item are dropped.
std::optional<std::vector<std::string>> decodeItems(std::string_view raw) {
    std::vector<std::string> items(1);
    std::string blanks; // unquoted blanks, kept only when more unquoted text follows
    bool quoted = false;
    for (size_t i = 0; i < raw.size(); ++i) {
        char c = raw[i];
        if (c == '"') {
            quoted = !quoted;
            blanks.clear();
            continue;
        }
        if (!quoted && (c == ' ' || c == '\t')) {
            if (!items.back().empty()) blanks += c;
            continue;
        }
        if (!quoted && c == ';') break;
        if (!quoted && c == ',') {
            items.emplace_back();
            blanks.clear();
            continue;
        }
        if (!quoted) {
            items.back() += blanks;
            blanks.clear();
        }
        if (c != '\\') {
            items.back() += c;
            continue;
        }
        if (++i == raw.size()) return std::nullopt; // a continuation line: not written by QSettings
        c = raw[i];
        static constexpr std::array<std::pair<char, char>, 11> Simple{{{'a', '\a'},
                                                                       {'b', '\b'},
                                                                       {'f', '\f'},
                                                                       {'n', '\n'},
                                                                       {'r', '\r'},
                                                                       {'t', '\t'},
                                                                       {'v', '\v'},
                                                                       {'"', '"'},
                                                                       {'\'', '\''},
                                                                       {'?', '?'},
                                                                       {'\\', '\\'}}};
        auto simple = std::find_if(Simple.begin(), Simple.end(), [c](auto p) { return p.first == c; });
        if (simple != Simple.end()) {
            items.back() += simple->second;
        } else if (c == 'x' || (c >= '0' && c <= '7')) {
            const bool hex = c == 'x';
            size_t j = hex ? i + 1 : i;
            uint32_t cp = 0;
            size_t digits = 0;
            while (j < raw.size() && (hex ? isHex(raw[j]) : (raw[j] >= '0' && raw[j] <= '7'))) {
                cp = cp * (hex ? 16 : 8) + uint32_t(hex ? hexValue(raw[j]) : raw[j] - '0');
                if (cp > 0x10FFFF) return std::nullopt;
                ++j;
                ++digits;
            }
            if (digits == 0 || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
            appendUtf8(items.back(), cp);
            i = j - 1;
        } else {
            return std::nullopt;
        }
    }
    if (quoted) return std::nullopt; // an unterminated quote: the line was cut
    return items;
}

} // namespace

bool isValidUtf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        auto b = static_cast<unsigned char>(text[i]);
        size_t extra;
        uint32_t cp;
        if (b < 0x80) {
            ++i;
            continue;
        } else if ((b & 0xE0) == 0xC0) {
            extra = 1;
            cp = b & 0x1F;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2;
            cp = b & 0x0F;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3;
            cp = b & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size()) return false;
        for (size_t k = 1; k <= extra; ++k) {
            auto c = static_cast<unsigned char>(text[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        static constexpr uint32_t Smallest[] = {0, 0x80, 0x800, 0x10000};
        if (cp < Smallest[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}

std::optional<std::string> decodeIniValue(std::string_view raw) {
    raw = trimBlanks(raw);
    if (raw.starts_with("@@")) {
        raw.remove_prefix(1);
    } else if (raw.starts_with("@String(") && raw.ends_with(")")) {
        raw = raw.substr(8, raw.size() - 9);
    } else if (raw.starts_with("@")) {
        return std::nullopt; // a byte array, a variant or another type: not a text
    }
    auto items = decodeItems(raw);
    if (!items) return std::nullopt;
    std::string text;
    for (size_t i = 0; i < items->size(); ++i) text += (i ? ", " : "") + (*items)[i];
    if (!isValidUtf8(text)) return std::nullopt;
    return text;
}

IniSalvage salvageIni(const std::filesystem::path& path, std::string_view section,
                      const std::vector<std::string>& keys, const IniSalvageLimits& limits) {
    IniSalvage result;
    std::ifstream in(path, std::ios::binary);
    if (!in) return result;
    result.opened = true;

    bool inSection = false;
    std::string line;
    bool overlong = false;
    line.reserve(std::min<size_t>(limits.maxLineBytes, 4096));

    auto keyOf = [](std::string_view l) -> std::string_view {
        size_t eq = l.find('=');
        return eq == std::string_view::npos ? std::string_view{} : trimBlanks(l.substr(0, eq));
    };
    auto wanted = [&](std::string_view key) {
        return std::find(keys.begin(), keys.end(), key) != keys.end();
    };
    auto finishLine = [&] {
        std::string_view l = line;
        if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
        if (overlong) {
            ++result.skippedLines;
            // The start of the line still names the value it held.
            if (std::string_view key = keyOf(l); inSection && wanted(key) && isValidUtf8(key))
                result.unreadable.emplace(key);
            return;
        }
        std::string_view t = trimBlanks(l);
        if (t.empty() || t.front() == ';' || t.front() == '#') return;
        if (!isValidUtf8(t)) {
            ++result.skippedLines;
            return;
        }
        if (t.front() == '[') {
            // A damaged header leaves the section as it was: the lines after it are more
            // likely to belong where they were written than anywhere else.
            if (t.back() != ']') {
                ++result.skippedLines;
                return;
            }
            inSection = t.substr(1, t.size() - 2) == section;
            if (inSection) result.sectionFound = true;
            return;
        }
        std::string_view key = keyOf(t);
        if (key.empty()) {
            ++result.skippedLines;
            return;
        }
        if (!inSection || !wanted(key)) return;
        auto value = decodeIniValue(t.substr(t.find('=') + 1));
        if (!value) {
            ++result.skippedLines;
            result.unreadable.emplace(key);
            return;
        }
        result.values.insert_or_assign(std::string(key), std::move(*value));
        if (auto it = result.unreadable.find(key); it != result.unreadable.end()) result.unreadable.erase(it);
    };

    std::array<char, 64 * 1024> chunk;
    uint64_t scanned = 0;
    while (in && scanned < limits.maxScanBytes) {
        size_t want = size_t(std::min<uint64_t>(chunk.size(), limits.maxScanBytes - scanned));
        in.read(chunk.data(), std::streamsize(want));
        size_t got = size_t(in.gcount());
        if (got == 0) break;
        scanned += got;
        std::string_view data(chunk.data(), got);
        while (!data.empty()) {
            size_t nl = data.find('\n');
            std::string_view piece = data.substr(0, nl);
            if (!overlong) {
                if (line.size() + piece.size() > limits.maxLineBytes) {
                    line.append(piece.substr(0, limits.maxLineBytes - line.size()));
                    overlong = true;
                } else {
                    line.append(piece);
                }
            }
            if (nl == std::string_view::npos) break;
            finishLine();
            line.clear();
            overlong = false;
            data.remove_prefix(nl + 1);
        }
    }
    if (scanned >= limits.maxScanBytes && in.peek() != std::char_traits<char>::eof()) {
        result.truncated = true;
        // The line in progress was cut by the bound, not by its end.
        overlong = true;
    }
    if (!line.empty() || overlong) finishLine();
    return result;
}

} // namespace kt
