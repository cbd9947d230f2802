// Any bytes as a register description file: loading must fail cleanly or fill the tables within
// their bounds, and every value of a loaded file must convert.
#include "monitor/register_tables.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);

    kt::RegisterDataset dataset;
    std::string error;
    dataset.loadText(text, &error);

    // The loader proper reads a file, as the program does.
    char path[] = "/tmp/kt-fuzz-regfile-XXXXXX";
    int fd = ::mkstemp(path);
    if (fd < 0) return 0;
    bool written = ::write(fd, data, size) == static_cast<ssize_t>(size);
    ::close(fd);
    if (written) {
        static kt::RegisterTables tables;
        if (kt::loadRegisterFile(path, tables)) {
            for (int r = 0; r < tables.pollCount; ++r) {
                const auto& d = tables.RegisterTable[static_cast<size_t>(r)];
                std::string value = kt::registerText(tables.RegisterCache, r, d.type);
                if (value.empty() && kt::isConvertibleValueType(d.type) && d.type != 10 && d.type != 11 &&
                    d.type != 14 && d.type != 18)
                    __builtin_trap(); // only character texts may be empty
            }
        }
    }
    std::remove(path);
    return 0;
}
