#pragma once

#include <cstdint>
#include <ostream>
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

    static void escape(std::ostream& os, std::string_view text);

private:
    void separate();

    std::ostream& os_;
    std::vector<bool> first_; // one entry per open container: nothing written in it yet
    bool afterKey_ = false;
};

} // namespace kt::cli
