#include "monitor/text_file.h"

#include <cerrno>
#include <system_error>

namespace kt {

namespace fs = std::filesystem;

std::string systemErrorText(int error) {
    return std::generic_category().message(error);
}

OpenedTextFile openTextFile(const fs::path& path, TextFileMode mode) {
    OpenedTextFile out;
    // Looked at before opening: opening a FIFO blocks until someone opens its other end, and a
    // character device can be read without end.
    std::error_code ec;
    fs::file_status st = fs::status(path, ec);
    if (fs::exists(st)) {
        if (fs::is_directory(st)) {
            out.reason = "it is a folder";
            return out;
        }
        if (!fs::is_regular_file(st)) {
            out.reason = "it is not a regular file";
            return out;
        }
    } else if (mode == TextFileMode::Read) {
        out.reason = "the file does not exist";
        return out;
    }

    const char* how = mode == TextFileMode::Append ? "ab" : mode == TextFileMode::Replace ? "wb" : "rb";
    errno = 0;
    out.file.reset(std::fopen(path.string().c_str(), how));
    if (!out.file) {
        out.reason = errno ? systemErrorText(errno) : "the file cannot be opened";
        return out;
    }
    if (mode != TextFileMode::Read) std::setvbuf(out.file.get(), nullptr, _IONBF, 0);
    uintmax_t size = fs::file_size(path, ec);
    out.size = ec ? 0 : size;
    return out;
}

bool writeAll(std::FILE* file, std::string_view data, std::string* reason) {
    if (data.empty()) return true;
    errno = 0;
    size_t n = std::fwrite(data.data(), 1, data.size(), file);
    if (n == data.size()) return true;
    if (reason) *reason = errno ? systemErrorText(errno) : "the file could not be written";
    return false;
}

bool closeTextFile(FilePtr& file, std::string* reason) {
    if (!file) return true;
    errno = 0;
    int rc = std::fclose(file.release());
    if (rc == 0) return true;
    if (reason) *reason = errno ? systemErrorText(errno) : "the file could not be closed";
    return false;
}

} // namespace kt
