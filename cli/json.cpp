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

void JsonWriter::escape(std::ostream& os, std::string_view text) {
    os << '"';
    for (unsigned char c : text) {
        switch (c) {
        case '"': os << "\\\""; break;
        case '\\': os << "\\\\"; break;
        case '\n': os << "\\n"; break;
        case '\r': os << "\\r"; break;
        case '\t': os << "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                os << buf;
            } else {
                os << c; // texts are UTF-8 already
            }
        }
    }
    os << '"';
}

} // namespace kt::cli
