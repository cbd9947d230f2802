#include "cli/json.h"

#include <cmath>
#include <cstdio>

namespace kt::cli {

void JsonWriter::separate() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!first_.empty()) {
        if (!first_.back()) os_ << ',';
        first_.back() = false;
    }
}

JsonWriter& JsonWriter::beginObject() {
    separate();
    os_ << '{';
    first_.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::endObject() {
    os_ << '}';
    first_.pop_back();
    return *this;
}

JsonWriter& JsonWriter::beginArray() {
    separate();
    os_ << '[';
    first_.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::endArray() {
    os_ << ']';
    first_.pop_back();
    return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
    separate();
    escape(os_, name);
    os_ << ':';
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::value(std::string_view text) {
    separate();
    escape(os_, text);
    return *this;
}

JsonWriter& JsonWriter::value(bool b) {
    separate();
    os_ << (b ? "true" : "false");
    return *this;
}

JsonWriter& JsonWriter::value(long long v) {
    separate();
    os_ << v;
    return *this;
}

JsonWriter& JsonWriter::value(unsigned long long v) {
    separate();
    os_ << v;
    return *this;
}

JsonWriter& JsonWriter::value(double v) {
    separate();
    if (!std::isfinite(v)) {
        os_ << "null";
    } else {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.17g", v);
        os_ << buf;
    }
    return *this;
}

JsonWriter& JsonWriter::null() {
    separate();
    os_ << "null";
    return *this;
}

size_t utf8SequenceLength(std::string_view text) {
    if (text.empty()) return 0;
    const auto b = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char c = b(0);
    if (c < 0x80) return 1;
    size_t n = 0;
    uint32_t cp = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (text.size() < n) return 0;
    for (size_t i = 1; i < n; ++i) {
        if ((b(i) & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (b(i) & 0x3F);
    }
    // Overlong forms, surrogates and code points past Unicode are not UTF-8.
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

namespace {

void hexEscape(std::string& out, const char* prefix, unsigned value, int digits) {
    char buf[12];
    std::snprintf(buf, sizeof buf, "%s%0*x", prefix, digits, value);
    out += buf;
}

// The code point of a valid sequence of two bytes (C1 controls are U+0080..U+009F).
unsigned twoByteCodePoint(std::string_view s) {
    return (static_cast<unsigned char>(s[0]) & 0x1Fu) << 6 | (static_cast<unsigned char>(s[1]) & 0x3Fu);
}

unsigned threeByteCodePoint(std::string_view s) {
    return (static_cast<unsigned char>(s[0]) & 0x0Fu) << 12 |
           (static_cast<unsigned char>(s[1]) & 0x3Fu) << 6 | (static_cast<unsigned char>(s[2]) & 0x3Fu);
}

// The embeddings, overrides and isolates of the Unicode bidirectional algorithm.
bool isBidiControl(unsigned cp) {
    return (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

} // namespace

void JsonWriter::escape(std::ostream& os, std::string_view text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const size_t n = utf8SequenceLength(text.substr(i));
        const auto c = static_cast<unsigned char>(text[i]);
        if (n == 0) {
            hexEscape(out, "\\u", c, 4); // a stray byte: the character of that number
            ++i;
            continue;
        }
        if (n == 1) {
            switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7F)
                    hexEscape(out, "\\u", c, 4);
                else
                    out += static_cast<char>(c);
            }
        } else if (n == 2 && twoByteCodePoint(text.substr(i)) < 0xA0) {
            hexEscape(out, "\\u", twoByteCodePoint(text.substr(i)), 4); // C1 control
        } else {
            out.append(text.substr(i, n));
        }
        i += n;
    }
    out += '"';
    os << out;
}

std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t n = utf8SequenceLength(text.substr(i));
        const auto c = static_cast<unsigned char>(text[i]);
        if (n == 0) {
            hexEscape(out, "\\x", c, 2);
            ++i;
            continue;
        }
        if (n == 1) {
            if (c == '\t')
                out += "\\t";
            else if (c == '\n')
                out += "\\n";
            else if (c == '\r')
                out += "\\r";
            else if (c < 0x20 || c == 0x7F)
                hexEscape(out, "\\x", c, 2);
            else
                out += static_cast<char>(c);
        } else if (n == 2 && twoByteCodePoint(text.substr(i)) < 0xA0) {
            hexEscape(out, "\\x", static_cast<unsigned char>(text[i]), 2);
            hexEscape(out, "\\x", static_cast<unsigned char>(text[i + 1]), 2);
        } else if (n == 3 && isBidiControl(threeByteCodePoint(text.substr(i)))) {
            // A direction override makes the terminal show the line in another order than it is.
            hexEscape(out, "\\u", threeByteCodePoint(text.substr(i)), 4);
        } else {
            out.append(text.substr(i, n));
        }
        i += n;
    }
    return out;
}

} // namespace kt::cli
