#include "sim/register_map.h"

#include <algorithm>

namespace kt::sim {

bool RegisterMap::Words::read(size_t start, std::span<uint16_t> out) const {
    if (!contains(start, out.size())) return false;
    std::copy_n(words_.begin() + start, out.size(), out.begin());
    return true;
}

bool RegisterMap::Words::write(size_t start, std::span<const uint16_t> values) {
    if (!contains(start, values.size())) return false;
    std::copy(values.begin(), values.end(), words_.begin() + start);
    return true;
}

bool RegisterMap::Words::set(size_t reg, uint16_t value) {
    if (reg >= Count) return false;
    words_[reg] = value;
    return true;
}

bool RegisterMap::read(size_t start, std::span<uint16_t> out) const {
    if (!contains(start, out.size())) return false;
    std::lock_guard lock(mutex_);
    std::copy_n(words_.begin() + start, out.size(), out.begin());
    return true;
}

bool RegisterMap::write(size_t start, std::span<const uint16_t> values) {
    if (!contains(start, values.size())) return false;
    std::lock_guard lock(mutex_);
    std::copy(values.begin(), values.end(), words_.begin() + start);
    return true;
}

uint16_t RegisterMap::get(size_t reg) const {
    uint16_t v = 0;
    read(reg, {&v, 1});
    return v;
}

bool RegisterMap::set(size_t reg, uint16_t value) {
    return write(reg, {&value, 1});
}

} // namespace kt::sim
