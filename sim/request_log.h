#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace kt::sim {

// The --log file: one line per request, on disk before the answer leaves, so that a test that
// got its answer can read the line at once.
class RequestLog {
public:
    // Truncates the file. Nothing, with `error` set, when it cannot be opened.
    static std::unique_ptr<RequestLog> open(const std::string& path, std::string* error);
    ~RequestLog();

    void write(std::string_view line);

private:
    explicit RequestLog(std::FILE* file, std::string path) : file_(file), path_(std::move(path)) {}

    std::mutex mutex_;
    std::FILE* file_;
    std::string path_;
    bool failed_ = false;
};

} // namespace kt::sim
