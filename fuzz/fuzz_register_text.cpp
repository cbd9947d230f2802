// Any cache contents, register and type: the codec must give a text without reading outside
// the cache.
#include "monitor/register_codec.h"

#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    static kt::RegisterCacheWords cache;
    const int reg = (data[0] | data[1] << 8) % 1100; // beyond the cache too
    const int type = static_cast<int8_t>(data[2]);   // negative and unknown codes too
    size_t n = std::min(size - 3, sizeof(uint16_t) * 40);
    const int at = reg < kt::RegisterCacheSize ? reg : 0;
    const size_t room = (kt::RegisterCacheSize - static_cast<size_t>(at)) * sizeof(uint16_t);
    std::memcpy(cache.data() + at, data + 3, std::min(n, room));
    std::string text = kt::registerText(cache, reg, type);
    if (text.size() > 200) __builtin_trap(); // the longest text is 64 characters
    return 0;
}
