// Any bytes as a data-log file opened into the trend view: reading must end cleanly, and the
// file read piece by piece must give what the same bytes give when held whole.
#include "monitor/datalog_reader.h"
#include "monitor/monitor_thread.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const kt::ClockFields today = kt::systemLocalClock();
    const kt::DatalogReadResult whole = kt::parseDatalog(text, {today.year, today.month, today.day});
    if (whole.ok() && !whole.samples.empty() && whole.headerBlocks < 1) __builtin_trap();

    // A name without a date: the file's lines are taken on today's date, as above.
    char path[] = "/tmp/kt-fuzz-datalog-XXXXXX";
    int fd = ::mkstemp(path);
    if (fd < 0) return 0;
    const bool written = ::write(fd, data, size) == static_cast<ssize_t>(size);
    ::close(fd);
    if (written && size < kt::MaxDatalogLineBytes) {
        const kt::DatalogReadResult read = kt::readDatalogFile(path, today);
        if (read.ok() != whole.ok() || read.samples.size() != whole.samples.size() ||
            read.skippedLines != whole.skippedLines || read.headerBlocks != whole.headerBlocks)
            __builtin_trap();
    }
    std::remove(path);
    return 0;
}
