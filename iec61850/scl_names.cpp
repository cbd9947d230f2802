#include "iec61850/scl_names.h"

#include <cstdint>

namespace kt::scl {

namespace {

bool upper(char c) {
    return c >= 'A' && c <= 'Z';
}
bool lower(char c) {
    return c >= 'a' && c <= 'z';
}
bool letter(char c) {
    return upper(c) || lower(c);
}
bool digit(char c) {
    return c >= '0' && c <= '9';
}
bool alnum(char c) {
    return letter(c) || digit(c);
}
bool word(char c) {
    return alnum(c) || c == '_';
}

bool allOf(std::string_view s, bool (*pred)(char)) {
    for (char c : s)
        if (!pred(c)) return false;
    return true;
}

// [A-Za-z][0-9A-Za-z_]*
bool acsiName(std::string_view s) {
    return !s.empty() && letter(s[0]) && allOf(s.substr(1), word);
}

// name(index)? with name = [a-zA-Z][a-zA-Z0-9]* (first letter class given)
bool indexedName(std::string_view s, bool (*first)(char)) {
    size_t open = s.find('(');
    std::string_view name = s.substr(0, open);
    if (name.empty() || !first(name[0]) || !allOf(name.substr(1), alnum)) return false;
    if (open == std::string_view::npos) return true;
    std::string_view index = s.substr(open + 1);
    return index.size() >= 2 && index.back() == ')' && allOf(index.substr(0, index.size() - 1), digit);
}

} // namespace

bool isIEDName(std::string_view s) {
    return s.size() <= 64 && acsiName(s) && s != "None";
}

bool isIEDNameOrRelative(std::string_view s) {
    return s == "@" || isIEDName(s);
}

bool isDataSetName(std::string_view s) {
    return s.size() <= 32 && acsiName(s);
}

bool isLDInst(std::string_view s) {
    return !s.empty() && s.size() <= 64 && alnum(s[0]) && allOf(s.substr(1), word);
}

bool isPrefix(std::string_view s) {
    return s.empty() || (s.size() <= 11 && acsiName(s));
}

bool isLNClass(std::string_view s) {
    return s == "LLN0" || (s.size() == 4 && allOf(s, upper));
}

bool isLNInst(std::string_view s) {
    return !s.empty() && s.size() <= 12 && allOf(s, digit);
}

bool isFullDOName(std::string_view s) {
    size_t dot = s.find('.');
    std::string_view object = s.substr(0, dot);
    if (object.empty() || object.size() > 12 || !upper(object[0]) || !allOf(object.substr(1), alnum))
        return false;
    if (dot == std::string_view::npos) return true;
    return indexedName(s.substr(dot + 1), lower);
}

bool isFullAttributeName(std::string_view s) {
    size_t start = 0;
    for (;;) {
        size_t dot = s.find('.', start);
        if (!indexedName(s.substr(start, dot == std::string_view::npos ? dot : dot - start), letter))
            return false;
        if (dot == std::string_view::npos) return true;
        start = dot + 1;
    }
}

bool isMessageID(std::string_view s) {
    if (s.empty() || s.size() > 129) return false;
    for (char c : s)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

bool isXmlText(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        auto b = static_cast<unsigned char>(s[i]);
        uint32_t cp;
        size_t len;
        if (b < 0x80) {
            cp = b, len = 1;
        } else if ((b & 0xE0) == 0xC0) {
            cp = b & 0x1F, len = 2;
        } else if ((b & 0xF0) == 0xE0) {
            cp = b & 0x0F, len = 3;
        } else if ((b & 0xF8) == 0xF0) {
            cp = b & 0x07, len = 4;
        } else {
            return false;
        }
        if (i + len > s.size()) return false;
        for (size_t k = 1; k < len; ++k) {
            auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        static constexpr uint32_t shortest[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < shortest[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        if (cp < 0x20 && cp != '\t' && cp != '\n' && cp != '\r') return false;
        if (cp == 0xFFFE || cp == 0xFFFF) return false;
        i += len;
    }
    return true;
}

} // namespace kt::scl
