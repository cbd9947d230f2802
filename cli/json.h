#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace kt::cli {

// A small streaming JSON writer for the tool's --json outputs: commas and escaping are handled
// here so that every command prints valid JSON.
class JsonWriter {
public:
    explicit JsonWriter(std::ostream& os) : os_(os) {}

    JsonWriter& beginObject();
    JsonWriter& endObject();
    JsonWriter& beginArray();
    JsonWriter& endArray();
    JsonWriter& key(std::string_view name);

    JsonWriter& value(std::string_view text);
    JsonWriter& value(const char* text) { return value(std::string_view(text)); }
    JsonWriter& value(bool b);
    JsonWriter& value(int v) { return value(static_cast<long long>(v)); }
    JsonWriter& value(unsigned v) { return value(static_cast<unsigned long long>(v)); }
    JsonWriter& value(long v) { return value(static_cast<long long>(v)); }
    JsonWriter& value(unsigned long v) { return value(static_cast<unsigned long long>(v)); }
    JsonWriter& value(long long v);
    JsonWriter& value(unsigned long long v);
    JsonWriter& value(double v);
    JsonWriter& null();

    // key(name).value(v) in one call.
    template <typename T> JsonWriter& field(std::string_view name, const T& v) { return key(name).value(v); }

    // A JSON string. Text that is not valid UTF-8 (bytes from a file, a path or the link) keeps
    // each stray byte as the character of that number, so the output is always valid UTF-8.
    static void escape(std::ostream& os, std::string_view text);

private:
    void separate();

    std::ostream& os_;
    std::vector<bool> first_; // one entry per open container: nothing written in it yet
    bool afterKey_ = false;
};

// Text for the terminal: control characters (escape sequences included), DEL, C1 controls and
// bytes that are not UTF-8 are shown as \xNN, tabs and line breaks as \t, \n, \r, and the
// bidirectional overrides and isolates as \uNNNN, so nothing read from a file or the link can
// drive the terminal, reorder what it shows or break the tool's columns.
std::string printable(std::string_view text);

// The length of the valid UTF-8 sequence at the start of `text` (1..4), or 0 when it is not one.
size_t utf8SequenceLength(std::string_view text);

} // namespace kt::cli
