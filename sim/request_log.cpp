#include "sim/request_log.h"

#include <cerrno>
#include <cstring>

namespace kt::sim {

std::unique_ptr<RequestLog> RequestLog::open(const std::string& path, std::string* error) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f) {
        if (error) *error = "cannot open the log file " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<RequestLog>(new RequestLog(f, path));
}

RequestLog::~RequestLog() {
    std::fclose(file_);
}

void RequestLog::write(std::string_view line) {
    std::lock_guard lock(mutex_);
    bool ok = std::fwrite(line.data(), 1, line.size(), file_) == line.size() &&
              std::fputc('\n', file_) != EOF && std::fflush(file_) == 0;
    // A full disk must not stop the unit from answering; say so once and keep serving.
    if (!ok && !failed_) {
        failed_ = true;
        std::fprintf(stderr, "kt740sim: writing the log file %s failed: %s; later lines may be missing\n",
                     path_.c_str(), std::strerror(errno));
    }
}

} // namespace kt::sim
