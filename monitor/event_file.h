#pragma once

// "Save as Text" of the Event Records pages: the event grid as a UTF-8 text file with a
// byte-order mark, CR LF line ends and tab-terminated cells.

#include "monitor/event_texts.h"

#include <string>
#include <string_view>

namespace kt {

inline constexpr std::string_view EventFileMaker = "Halvorn CORVANE";
inline constexpr std::string_view EventFileErrorText = "Cannot Open File";
inline constexpr std::string_view EventFileErrorTitle = "File Error 2";
inline constexpr std::string_view EventFileWriteErrorText = "Cannot Write File";
inline constexpr std::string_view EventFileDialogTitle = "Save Event Records";
inline constexpr std::string_view EventFileDefaultName = "events";

// The three header items; the window passes today's date in the system's short date format and
// the captions of `unit_P` and `version_P`.
struct EventFileHeader {
    std::string date;
    std::string unitText;
    std::string versionText;
};

// A grid cell as the file holds it: the last line feed becomes a blank, then blanks and control
// characters are cut from both ends (line feeds between causes stay).
std::string cleanEventCell(std::string_view cell);

// The whole file, byte-order mark included: the header, then the header row and every record
// row of `StrgdEvents` (all eight cells, each cleaned and followed by a tab).
std::string eventFileText(const EventFileHeader& header, const EventGrid& grid);
// Legacy units: the header, the record order sentence and an empty line, then the eleven rows of
// `events_Old740_G`, every cell followed by a tab. Saving it also asks the data log for a new
// header block (`datalogHeaderPending`), which is the caller's to set.
std::string legacyEventFileText(const EventFileHeader& header, const LegacyEventGrid& grid);

enum class EventFileStatus : uint8_t {
    Saved,
    CannotOpen,  // nothing written: "Cannot Open File" / "File Error 2"
    WriteFailed, // not all written (a full disk); the file is as it was before
};

struct EventFileResult {
    EventFileStatus status = EventFileStatus::CannotOpen;
    std::string reason; // the system's words, for the message
};

// Creates the file, or replaces it whole, with `content` (`path` in UTF-8). Only a regular file
// is replaced; a folder, a FIFO or a device at `path` is refused.
EventFileResult saveEventFile(const std::string& path, std::string_view content);

} // namespace kt
