#pragma once

// Opening the text files the program writes and reads back (data logs, saved event records).
// Every open goes through openTextFile, so a FIFO, a device or a folder given as a file name is
// refused instead of blocking the GUI thread or being written into.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace kt {

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

enum class TextFileMode : uint8_t {
    Append,  // create when missing, write at the end
    Replace, // create, or empty an existing file
    Read,
};

struct OpenedTextFile {
    FilePtr file;       // null when the file could not be opened
    uint64_t size = 0;  // bytes in the file when it was opened
    std::string reason; // why it could not be opened
    explicit operator bool() const { return file != nullptr; }
};

// Refuses anything that exists and is not a regular file. Files opened for writing are
// unbuffered: each writeAll is one write to the system, so a line is never split across two.
OpenedTextFile openTextFile(const std::filesystem::path& path, TextFileMode mode);

// Writes all of `data`; false (with `reason`) when the system took less.
bool writeAll(std::FILE* file, std::string_view data, std::string* reason = nullptr);

// Closes the file and reports a failure the close itself found (a delayed write error).
bool closeTextFile(FilePtr& file, std::string* reason = nullptr);

// The text of the last system error, for messages.
std::string systemErrorText(int error);

} // namespace kt
