#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <utility>

namespace kt::sim {

// The unit's holding registers. The Modbus endpoints and the unit's own behaviour (moving
// measurements, the clock, the event ring) touch them from different threads, so every access
// takes the lock and a block read or write is one atomic step: a master never sees half of a write.
class RegisterMap {
public:
    static constexpr size_t Count = 1000;

    static bool contains(size_t start, size_t count) { return start <= Count && count <= Count - start; }

    // The words while the lock is held (see update): the same operations without locking again.
    class Words {
    public:
        bool read(size_t start, std::span<uint16_t> out) const;
        bool write(size_t start, std::span<const uint16_t> values);
        uint16_t get(size_t reg) const { return reg < Count ? words_[reg] : 0; }
        bool set(size_t reg, uint16_t value);

    private:
        friend class RegisterMap;
        explicit Words(std::array<uint16_t, Count>& words) : words_(words) {}
        std::array<uint16_t, Count>& words_;
    };

    // The whole range or nothing: false when [start, start + out.size()) leaves the map.
    bool read(size_t start, std::span<uint16_t> out) const;
    bool write(size_t start, std::span<const uint16_t> values);

    uint16_t get(size_t reg) const;       // 0 outside the map
    bool set(size_t reg, uint16_t value); // false outside the map

    // Runs `f(Words&)` under the lock, so that several changes (a write and what the unit does on
    // it) are seen by readers as one step. The unit keeps its own state under this lock too.
    template <class F> decltype(auto) update(F&& f) {
        std::lock_guard lock(mutex_);
        Words words(words_);
        return std::forward<F>(f)(words);
    }

private:
    mutable std::mutex mutex_;
    std::array<uint16_t, Count> words_{};
};

} // namespace kt::sim
