#include "monitor/number_text.h"

#include "monitor/register_dataset.h"

#include <array>
#include <charconv>
#include <cmath>

namespace kt {

std::string formatFixed(double value, int decimals) {
    std::array<char, 400> buf{};
    auto [end, ec] =
        std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed, decimals);
    if (ec != std::errc()) return "--"; // only for values far beyond anything a relay reports
    std::string text(buf.data(), end);
    if (text.starts_with('-') && text.find_first_not_of("-0.") == std::string::npos) text.erase(0, 1);
    return text;
}

std::string formatGeneral(double value) {
    if (!std::isfinite(value)) return "--";
    std::array<char, 64> buf{};
    // 15 significant digits hide the binary noise of a product such as 0.3 * 6.
    auto [end, ec] =
        std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::general, 15);
    if (ec != std::errc()) return "--";
    std::string text(buf.data(), end);
    if (text == "-0") text = "0";
    return text;
}

std::optional<int64_t> textToInt(std::string_view text) {
    return parseDatasetInteger(text);
}

std::optional<double> textToDouble(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    double v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::fixed);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

} // namespace kt
