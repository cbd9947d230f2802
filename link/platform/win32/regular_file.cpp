#include "link/platform/regular_file.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>

namespace kt::platform {

namespace {

std::wstring wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string systemText(DWORD error) {
    wchar_t* buffer = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text;
    if (n && buffer) {
        int len = WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
        text.resize(static_cast<size_t>(len));
        WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(n), text.data(), len, nullptr, nullptr);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.'))
            text.pop_back();
    }
    if (buffer) LocalFree(buffer);
    return text.empty() ? "system error " + std::to_string(error) : text;
}

std::string quoted(const std::string& path) {
    return "\"" + path + "\"";
}

FileResult failure(FileProblem problem, const std::string& head, std::string reason) {
    return {problem, head + reason, std::move(reason)};
}

std::string head(const char* doing, std::string_view what, const std::string& path) {
    return std::string("Cannot ") + doing + " the " + std::string(what) + " " + quoted(path) + ": ";
}

FileResult openFailure(DWORD error, const std::string& path, std::string_view what, const char* doing) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return failure(FileProblem::Missing, head(doing, what, path), "it does not exist");
    case ERROR_ACCESS_DENIED:
        return failure(FileProblem::NoPermission, head(doing, what, path), "permission denied");
    default:
        return failure(FileProblem::Failed, head(doing, what, path), systemText(error));
    }
}

FileResult tooLarge(const std::string& path, std::string_view what, uint64_t size, uint64_t maxBytes) {
    return failure(FileProblem::TooLarge, head("open", what, path),
                   "it is too large (" + std::to_string(size) + " bytes; at most " +
                       std::to_string(maxBytes) + ")");
}

class Handle {
public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }
    void reset(HANDLE h) {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
        h_ = h;
    }
    bool close() {
        bool ok = CloseHandle(h_) != 0;
        h_ = INVALID_HANDLE_VALUE;
        return ok;
    }

private:
    HANDLE h_;
};

// Devices (NUL, CON, COM1) and pipes are not files on disk.
FileResult checkAttributes(const std::wstring& name, const std::string& path, std::string_view what,
                           bool mayBeMissing, DWORD* attributes, const char* doing) {
    *attributes = GetFileAttributesW(name.c_str());
    if (*attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        if (mayBeMissing && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)) return {};
        return openFailure(error, path, what, doing);
    }
    if (*attributes & FILE_ATTRIBUTE_DIRECTORY)
        return failure(FileProblem::Folder, head(doing, what, path), "it is a folder");
    if (*attributes & FILE_ATTRIBUTE_DEVICE)
        return failure(FileProblem::NotRegular, head(doing, what, path), "it is a device, not a file");
    return {};
}

// Opens a file on disk for reading; devices and pipes are refused before and after the open.
FileResult openForReading(const std::string& path, std::string_view what, Handle& file) {
    const std::wstring name = wide(path);
    DWORD attributes = 0;
    if (FileResult r = checkAttributes(name, path, what, false, &attributes, "open"); !r.ok()) return r;
    file.reset(CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) return openFailure(GetLastError(), path, what, "open");
    if (GetFileType(file.get()) != FILE_TYPE_DISK)
        return failure(FileProblem::NotRegular, head("open", what, path),
                       "it is a device or a pipe, not a file");
    return {};
}

// Writes all of bytes in pieces WriteFile takes; 0, or the error that stopped it.
DWORD writeAll(HANDLE file, std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        DWORD n = 0;
        if (!WriteFile(file, bytes.data() + done, chunk, &n, nullptr)) return GetLastError();
        if (n == 0) return ERROR_WRITE_FAULT;
        done += n;
    }
    return 0;
}

} // namespace

FileResult readRegularFile(const std::string& path, uint64_t maxBytes, std::string& bytes,
                           std::string_view what) {
    bytes.clear();
    Handle file(INVALID_HANDLE_VALUE);
    if (FileResult r = openForReading(path, what, file); !r.ok()) return r;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) return openFailure(GetLastError(), path, what, "read");
    if (static_cast<uint64_t>(size.QuadPart) > maxBytes)
        return tooLarge(path, what, static_cast<uint64_t>(size.QuadPart), maxBytes);
    bytes.reserve(static_cast<size_t>(size.QuadPart));
    char buffer[65536];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(file.get(), buffer, sizeof buffer, &n, nullptr)) {
            DWORD error = GetLastError();
            bytes.clear();
            return failure(FileProblem::Failed, head("read", what, path), systemText(error));
        }
        if (n == 0) break;
        bytes.append(buffer, n);
        if (bytes.size() > maxBytes) {
            uint64_t grown = bytes.size();
            bytes.clear();
            return tooLarge(path, what, grown, maxBytes);
        }
    }
    return {};
}

FileResult readRegularFileInPieces(const std::string& path,
                                   const std::function<bool(std::string_view)>& piece,
                                   std::string_view what) {
    Handle file(INVALID_HANDLE_VALUE);
    if (FileResult r = openForReading(path, what, file); !r.ok()) return r;
    std::string buffer(size_t(1) << 20, '\0');
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr))
            return failure(FileProblem::Failed, head("read", what, path), systemText(GetLastError()));
        if (n == 0) break;
        if (!piece(std::string_view(buffer.data(), n))) break;
    }
    return {};
}

FileResult appendRegularFile(const std::string& path, std::string_view whenNew, std::string_view whenOld,
                             std::string_view what, bool* wasNew) {
    const std::wstring name = wide(path);
    DWORD attributes = 0;
    if (FileResult r = checkAttributes(name, path, what, true, &attributes, "write"); !r.ok()) return r;
    Handle file(CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_PATH_NOT_FOUND)
            return failure(FileProblem::Missing, head("write", what, path), "its folder does not exist");
        return openFailure(error, path, what, "write");
    }
    if (GetFileType(file.get()) != FILE_TYPE_DISK)
        return failure(FileProblem::NotRegular, head("write", what, path),
                       "it is a device or a pipe, not a file");
    LARGE_INTEGER before{};
    if (!GetFileSizeEx(file.get(), &before)) return openFailure(GetLastError(), path, what, "write");
    const std::string_view bytes = before.QuadPart == 0 ? whenNew : whenOld;
    if (wasNew) *wasNew = before.QuadPart == 0;
    LARGE_INTEGER zero{};
    if (!SetFilePointerEx(file.get(), zero, nullptr, FILE_END))
        return openFailure(GetLastError(), path, what, "write");
    // Put the file back as it was: a line written in part would run into the next one.
    auto undo = [&](DWORD error) {
        if (SetFilePointerEx(file.get(), before, nullptr, FILE_BEGIN)) SetEndOfFile(file.get());
        return failure(error == ERROR_ACCESS_DENIED ? FileProblem::NoPermission : FileProblem::Failed,
                       head("write", what, path), systemText(error));
    };
    if (DWORD error = writeAll(file.get(), bytes)) return undo(error);
    if (!file.close())
        return failure(FileProblem::Failed, head("write", what, path), systemText(GetLastError()));
    return {};
}

FileResult checkRegularFile(const std::string& path, bool mayBeMissing, std::string_view what) {
    DWORD attributes = 0;
    return checkAttributes(wide(path), path, what, mayBeMissing, &attributes, "open");
}

FileResult replaceRegularFile(const std::string& path, std::string_view bytes, std::string_view what) {
    const std::wstring target = wide(path);
    DWORD attributes = 0;
    if (FileResult r = checkAttributes(target, path, what, true, &attributes, "write"); !r.ok()) return r;
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && (attributes & FILE_ATTRIBUTE_READONLY))
        return failure(FileProblem::ReadOnly, head("write", what, path), "it is read-only");

    static std::atomic<unsigned> counter{0};
    std::wstring temp;
    HANDLE created = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && created == INVALID_HANDLE_VALUE; ++attempt) {
        wchar_t suffix[48];
        swprintf(suffix, 48, L".%lu-%04x.part", static_cast<unsigned long>(GetCurrentProcessId()),
                 counter.fetch_add(1) & 0xFFFFu);
        temp = target + suffix;
        // CREATE_NEW never opens what is already there under that name.
        created =
            CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (created == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) {
            DWORD error = GetLastError();
            if (error == ERROR_PATH_NOT_FOUND)
                return failure(FileProblem::Missing, head("write", what, path), "its folder does not exist");
            return openFailure(error, path, what, "write");
        }
    }
    if (created == INVALID_HANDLE_VALUE)
        return failure(FileProblem::Failed, head("write", what, path), "no free name for its temporary file");
    Handle file(created);
    auto abandon = [&](DWORD error) {
        DeleteFileW(temp.c_str());
        return failure(error == ERROR_ACCESS_DENIED ? FileProblem::NoPermission : FileProblem::Failed,
                       head("write", what, path), systemText(error));
    };
    if (DWORD error = writeAll(file.get(), bytes)) {
        file.close();
        return abandon(error);
    }
    if (!FlushFileBuffers(file.get())) {
        DWORD error = GetLastError();
        file.close();
        return abandon(error);
    }
    if (!file.close()) return abandon(GetLastError());
    // ReplaceFileW keeps the old file's attributes and permissions on the new one.
    BOOL moved = exists ? ReplaceFileW(target.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                                       nullptr, nullptr)
                        : MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
    if (!moved) return abandon(GetLastError());
    return {};
}

} // namespace kt::platform
