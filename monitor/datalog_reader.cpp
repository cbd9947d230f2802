#include "monitor/datalog_reader.h"

#include "link/platform/regular_file.h"

#include <array>
#include <charconv>
#include <cstring>
#include <ctime>

namespace kt {

namespace {

constexpr std::string_view Bom = "\xEF\xBB\xBF";
constexpr std::string_view HeaderStart = "Data File for ";
constexpr std::string_view NotADatalog = "This file is not a KT-MON740 data log";

enum Column { CurrentPercent, VoltagePercent, Amps, Volts, ColumnCount };

// Headings of both layouts, either wording (NGR / NER).
struct HeadingName {
    std::string_view text;
    Column column;
};
constexpr std::array<HeadingName, 12> Headings{{
    {"NGR Current (% FS)", CurrentPercent},
    {"NER Current (% FS)", CurrentPercent},
    {"NGR Current (%)", CurrentPercent},
    {"NER Current (%)", CurrentPercent},
    {"NGR Voltage (% Setting)", VoltagePercent},
    {"NER Voltage (% Setting)", VoltagePercent},
    {"NGR Voltage (%)", VoltagePercent},
    {"NER Voltage (%)", VoltagePercent},
    {"NGR Current (A)", Amps},
    {"NER Current (A)", Amps},
    {"NGR Voltage (V)", Volts},
    {"NER Voltage (V)", Volts},
}};

std::string_view trimBlanks(std::string_view t) {
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
    return t;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

float number(std::string_view text) {
    text = trimBlanks(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return NoValue;
    return static_cast<float>(v);
}

bool digit(char c) {
    return c >= '0' && c <= '9';
}

// "HH:MM:SS" at the start of a data line.
bool lineTime(std::string_view line, int& h, int& m, int& s) {
    if (line.size() < 8 || line[2] != ':' || line[5] != ':') return false;
    for (int i : {0, 1, 3, 4, 6, 7})
        if (!digit(line[size_t(i)])) return false;
    h = (line[0] - '0') * 10 + (line[1] - '0');
    m = (line[3] - '0') * 10 + (line[4] - '0');
    s = (line[6] - '0') * 10 + (line[7] - '0');
    return h < 24 && m < 60 && s < 61;
}

class Parser {
public:
    explicit Parser(const DatalogDate& date) : date_(date) { hourStart_.fill(-1); }

    // False once the text has shown it is not a data log.
    bool line(std::string_view text) {
        if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
        if (first_) {
            first_ = false;
            if (text.starts_with(Bom)) text.remove_prefix(Bom.size());
            if (!text.starts_with(HeaderStart)) {
                result.error =
                    std::string(NotADatalog) + ": it does not begin with a \"Data File for\" line.";
                return false;
            }
        }
        if (text.starts_with(HeaderStart)) {
            ++result.headerBlocks;
            inBlock_ = false;
            return true;
        }
        if (text.empty() || text.starts_with("KT-MON740 version")) return true;
        if (text == "Time" || text.starts_with("Time\t")) return headings(text);
        return data(text);
    }

    DatalogReadResult finish() {
        if (!result.error.empty()) {
            result.samples.clear();
            return std::move(result);
        }
        if (first_)
            result.error = std::string(NotADatalog) + ": the file is empty.";
        else if (!sawHeadings_)
            result.error = std::string(NotADatalog) + ": it has no line of column headings.";
        else if (!sawColumns_)
            result.error = "The data log has no NGR current or voltage columns.";
        return std::move(result);
    }

    DatalogReadResult result;

private:
    bool headings(std::string_view text) {
        sawHeadings_ = true;
        inBlock_ = true;
        index_.fill(-1);
        fields_ = 0;
        wanted_ = -1;
        size_t pos = 0;
        while (true) {
            size_t tab = text.find('\t', pos);
            std::string_view h =
                trimBlanks(text.substr(pos, tab == std::string_view::npos ? tab : tab - pos));
            for (const HeadingName& n : Headings)
                if (index_[n.column] < 0 && equalsNoCase(h, n.text)) {
                    index_[n.column] = fields_;
                    wanted_ = std::max(wanted_, fields_);
                }
            ++fields_;
            if (tab == std::string_view::npos) break;
            pos = tab + 1;
        }
        if (wanted_ >= 0) sawColumns_ = true;
        return true;
    }

    bool data(std::string_view text) {
        int h = 0, m = 0, s = 0;
        if (!inBlock_ || !lineTime(text, h, m, s)) {
            ++result.skippedLines;
            return true;
        }
        // A line must have as many cells as its heading line; one with more or fewer would put
        // another column's value under the current or the voltage.
        std::array<std::string_view, ColumnCount> cells{};
        int field = 0;
        size_t pos = 0;
        const char* base = text.data();
        while (true) {
            const void* tabp = std::memchr(base + pos, '\t', text.size() - pos);
            size_t tab = tabp ? size_t(static_cast<const char*>(tabp) - base) : text.size();
            if (field <= wanted_)
                for (int c = 0; c < ColumnCount; ++c)
                    if (index_[size_t(c)] == field) cells[size_t(c)] = text.substr(pos, tab - pos);
            ++field;
            if (!tabp) break;
            pos = tab + 1;
        }
        if (field != fields_) {
            ++result.skippedLines;
            return true;
        }
        if (wanted_ < 0) return true; // a block without current or voltage columns
        if (result.samples.size() >= MaxDatalogSamples) {
            result.error = "The data log has more than " + std::to_string(MaxDatalogSamples) +
                           " lines; it cannot be one day's log.";
            return false;
        }
        DatalogSample sample;
        sample.timeMs = (hourStart(h) + int64_t(m) * 60 + s) * 1000;
        if (index_[CurrentPercent] >= 0) sample.currentPercent = number(cells[CurrentPercent]);
        if (index_[VoltagePercent] >= 0) sample.voltagePercent = number(cells[VoltagePercent]);
        if (index_[Amps] >= 0) sample.amps = number(cells[Amps]);
        if (index_[Volts] >= 0) sample.volts = number(cells[Volts]);
        result.samples.push_back(sample);
        return true;
    }

    // Seconds since the epoch at the start of the hour on the log's day, in the PC's time zone
    // (once per hour, so a day that changes to or from summer time still reads right).
    int64_t hourStart(int hour) {
        int64_t& cached = hourStart_[size_t(hour)];
        if (cached < 0) {
            std::tm tm{};
            tm.tm_year = date_.year - 1900;
            tm.tm_mon = date_.month - 1;
            tm.tm_mday = date_.day;
            tm.tm_hour = hour;
            tm.tm_isdst = -1;
            std::time_t t = std::mktime(&tm);
            cached = t == std::time_t(-1) ? int64_t(hour) * 3600 : int64_t(t);
        }
        return cached;
    }

    DatalogDate date_;
    bool first_ = true;
    bool inBlock_ = false;
    bool sawHeadings_ = false;
    bool sawColumns_ = false;
    std::array<int, ColumnCount> index_{-1, -1, -1, -1};
    int fields_ = 0;
    int wanted_ = -1;
    std::array<int64_t, 24> hourStart_{};
};

bool before(int m1, int d1, int m2, int d2) {
    return m1 < m2 || (m1 == m2 && d1 < d2);
}

} // namespace

std::optional<DatalogDate> datalogFileDate(std::string_view name, const ClockFields& today) {
    // "_MMDD.txt", the extension in any case.
    if (name.size() < 9) return std::nullopt;
    std::string_view tail = name.substr(name.size() - 9);
    if (tail[0] != '_' || !equalsNoCase(tail.substr(5), ".txt")) return std::nullopt;
    for (int i = 1; i <= 4; ++i)
        if (!digit(tail[size_t(i)])) return std::nullopt;
    DatalogDate d;
    d.month = (tail[1] - '0') * 10 + (tail[2] - '0');
    d.day = (tail[3] - '0') * 10 + (tail[4] - '0');
    if (d.month < 1 || d.month > 12 || d.day < 1 || d.day > 31) return std::nullopt;
    d.year = before(today.month, today.day, d.month, d.day) ? today.year - 1 : today.year;
    return d;
}

DatalogReadResult parseDatalog(std::string_view text, const DatalogDate& date) {
    Parser p(date);
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        size_t end = nl == std::string_view::npos ? text.size() : nl;
        if (!p.line(text.substr(pos, end - pos))) break;
        pos = end + 1;
    }
    return p.finish();
}

DatalogReadResult readDatalogFile(const std::string& path, const ClockFields& today) {
    DatalogDate date{today.year, today.month, today.day};
    const size_t slash = path.find_last_of("/\\");
    if (auto d = datalogFileDate(slash == std::string::npos ? path : path.substr(slash + 1), today))
        date = *d;

    Parser p(date);
    std::string pending; // the start of a line that the next piece completes
    bool going = true;
    auto piece = [&](std::string_view bytes) {
        size_t start = 0;
        while (going) {
            size_t nl = bytes.find('\n', start);
            if (nl == std::string_view::npos) break;
            std::string_view line = bytes.substr(start, nl - start);
            if (!pending.empty()) {
                pending.append(line);
                going = p.line(pending);
                pending.clear();
            } else {
                going = p.line(line);
            }
            start = nl + 1;
        }
        if (!going) return false;
        pending.append(bytes.substr(start));
        if (pending.size() > MaxDatalogLineBytes) {
            p.result.error = std::string(NotADatalog) + ": it has a line longer than 1 MiB.";
            return false;
        }
        return true;
    };
    platform::FileResult r = platform::readRegularFileInPieces(path, piece, "data log");
    if (!r.ok()) {
        DatalogReadResult failed;
        failed.error = r.message + ".";
        return failed;
    }
    if (going && !pending.empty() && p.result.error.empty()) p.line(pending);
    return p.finish();
}

} // namespace kt
