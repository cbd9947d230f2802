#include "monitor/event_file.h"

#include "link/platform/regular_file.h"

namespace kt {

namespace {

constexpr std::string_view Bom = "\xEF\xBB\xBF";
constexpr std::string_view Crlf = "\r\n";

bool blankOrControl(unsigned char c) {
    return c <= ' ';
}

void appendHeader(std::string& out, const EventFileHeader& h) {
    out += Bom;
    out += EventFileMaker;
    out += " Event Records \t";
    out += h.date;
    out += Crlf;
    out += "Unit Type \t";
    out += h.unitText;
    out += Crlf;
    out += h.versionText;
    out += Crlf;
    out += Crlf;
}

} // namespace

std::string cleanEventCell(std::string_view cell) {
    std::string text(cell);
    if (auto lf = text.rfind('\n'); lf != std::string::npos) text[lf] = ' ';
    size_t first = 0;
    while (first < text.size() && blankOrControl(static_cast<unsigned char>(text[first]))) ++first;
    size_t last = text.size();
    while (last > first && blankOrControl(static_cast<unsigned char>(text[last - 1]))) --last;
    return text.substr(first, last - first);
}

std::string eventFileText(const EventFileHeader& header, const EventGrid& grid) {
    std::string out;
    appendHeader(out, header);
    for (std::string_view h : eventGridHeadings()) {
        out += cleanEventCell(h);
        out += '\t';
    }
    out += Crlf;
    for (const EventGridRow& row : grid.rows) {
        for (const std::string& cell : row.cells) {
            out += cleanEventCell(cell);
            out += '\t';
        }
        out += Crlf;
    }
    return out;
}

std::string legacyEventFileText(const EventFileHeader& header, const LegacyEventGrid& grid) {
    std::string out;
    appendHeader(out, header);
    out += LegacyEventOrderText;
    out += Crlf;
    out += Crlf;
    for (const auto& row : grid.cells) {
        for (const std::string& cell : row) {
            out += cell;
            out += '\t';
        }
        out += Crlf;
    }
    return out;
}

EventFileResult saveEventFile(const std::string& path, std::string_view content) {
    // Written beside the target and renamed over it: a save that fails part way (a full disk)
    // leaves the old file, or none, never a cut-off record list that would pass for a whole one.
    platform::FileResult r = platform::replaceRegularFile(path, content, "event records file");
    EventFileResult result;
    result.reason = r.reason;
    switch (r.problem) {
    case platform::FileProblem::None:
        result.status = EventFileStatus::Saved;
        break;
    case platform::FileProblem::Failed:
    case platform::FileProblem::TooLarge:
        result.status = EventFileStatus::WriteFailed;
        break;
    default:
        result.status = EventFileStatus::CannotOpen;
        break;
    }
    return result;
}

} // namespace kt
