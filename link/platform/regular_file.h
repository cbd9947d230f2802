#pragma once

// Files the operator names (SCL files, register description files, data logs, event saves) are
// read and written only when they are ordinary files: a FIFO must not hang the program in open(),
// a device such as /dev/zero must not be read until memory runs out, and a folder must get a
// message that says it is a folder. Saving goes through a temporary file beside the target, so a
// failed save leaves the old file whole and nothing behind.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kt::platform {

enum class FileProblem : uint8_t {
    None,
    Missing,      // no such file (or a folder on its path is missing)
    NoPermission, // not allowed to read it (or, for a save, to write it or its folder)
    Folder,       // a folder, not a file
    NotRegular,   // a FIFO, a device, a socket
    TooLarge,     // larger than the caller's limit
    ReadOnly,     // a save would replace a file marked read-only
    Failed,       // any other failure of the system (the message says which)
};

// What a read or a save came to. `message` is a whole sentence naming the file ("Cannot open the
// SCL file "x": it is a folder"), `reason` its part after the colon; both empty on success.
struct FileResult {
    FileProblem problem = FileProblem::None;
    std::string message;
    std::string reason;

    bool ok() const { return problem == FileProblem::None; }
};

// Reads a whole regular file of at most `maxBytes` bytes into `bytes`. Never blocks on a FIFO or
// a device and never reads more than `maxBytes` + 1 bytes, also from a file that grows meanwhile.
// `what` names the kind of file in messages ("SCL file", "register file").
// `path` is UTF-8 on every platform.
FileResult readRegularFile(const std::string& path, uint64_t maxBytes, std::string& bytes,
                           std::string_view what = "file");

// Checks, without opening it for reading or writing, that `path` is a regular file (or, with
// `mayBeMissing`, does not exist yet): the check before a file is opened for appending.
FileResult checkRegularFile(const std::string& path, bool mayBeMissing, std::string_view what = "file");

// Reads a regular file piece by piece, for files too large to hold whole (a day's data log):
// `piece` gets the bytes in order and returns false to stop early. The same refusals as
// readRegularFile.
FileResult readRegularFileInPieces(const std::string& path,
                                   const std::function<bool(std::string_view)>& piece,
                                   std::string_view what = "file");

// Appends to `path`, a regular file that is created when missing, in one write: `whenNew` when
// the file is new or empty, `whenOld` otherwise (a byte-order mark and a header belong at a
// file's start only). A write the system takes only in part (a full disk, a file-size limit) is
// undone, so the file ends as it was or with all of the bytes, never with part of a line. A FIFO
// or a device at `path` is refused without blocking. `wasNew` (optional) tells which was written.
FileResult appendRegularFile(const std::string& path, std::string_view whenNew, std::string_view whenOld,
                             std::string_view what = "file", bool* wasNew = nullptr);

// Replaces `path` by a file holding `bytes`. The bytes go to a new temporary file created
// exclusively, with a unique name, beside `path` (so a symbolic link planted there is never
// followed), which is then renamed over `path`. An existing `path` keeps its permissions (and
// its owner and group as far as the system allows); a read-only one, a folder and anything that
// is not a regular file are refused. A `path` that is a symbolic link replaces the file it points
// to. On any failure (a full disk, a file-size limit) the temporary file is removed and `path`
// is left as it was.
FileResult replaceRegularFile(const std::string& path, std::string_view bytes,
                              std::string_view what = "file");

} // namespace kt::platform
