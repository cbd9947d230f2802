#pragma once
// A scripted Modbus RTU unit on the far side of a pseudo-terminal pair.

#include "link/modbus_frames.h"

#include <chrono>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kt::test {

using Bytes = std::vector<uint8_t>;

inline Bytes withCrc(Bytes frame) {
    uint16_t crc = modbusCrc(frame);
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    return frame;
}

// The answer a sound unit gives to `request`, with register r holding `base + r`.
inline Bytes soundAnswer(const Bytes& request, uint16_t base = 0x1000) {
    if (request.size() < 8) return {};
    const int first = request[2] << 8 | request[3];
    const int count = request[4] << 8 | request[5];
    switch (request[1]) {
    case 0x03: {
        Bytes a{request[0], 0x03, static_cast<uint8_t>(2 * count)};
        for (int i = 0; i < count; ++i) {
            uint16_t v = static_cast<uint16_t>(base + first + i);
            a.push_back(static_cast<uint8_t>(v >> 8));
            a.push_back(static_cast<uint8_t>(v & 0xFF));
        }
        return withCrc(a);
    }
    case 0x10:
        return withCrc(Bytes(request.begin(), request.begin() + 6));
    case 0x05:
        return Bytes(request.begin(), request.begin() + 8); // the echo
    }
    return {};
}

class PtyResponder {
public:
    using Handler = std::function<Bytes(const Bytes& request)>;

    PtyResponder() {
        char name[256] = {};
        if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        path_ = name;
        // Raw from the start, so nothing is echoed or translated before the port sets it up.
        termios t{};
        ::tcgetattr(slave_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(slave_, TCSANOW, &t);
        thread_ = std::jthread([this](std::stop_token stop) { serve(stop); });
    }
    ~PtyResponder() {
        thread_.request_stop();
        thread_.join();
        ::close(master_);
        ::close(slave_); // held so the pty lives on while the port is closed and reopened
    }

    const std::string& path() const { return path_; }

    // Requests are answered by the queued handlers in turn, then by the default one.
    void then(Handler h) {
        std::lock_guard g(mutex_);
        script_.push_back(std::move(h));
    }
    void then(Bytes reply) {
        then([reply](const Bytes&) { return reply; });
    }
    void byDefault(Handler h) {
        std::lock_guard g(mutex_);
        fallback_ = std::move(h);
    }
    std::vector<Bytes> requests() const {
        std::lock_guard g(mutex_);
        return requests_;
    }

private:
    void serve(std::stop_token stop) {
        Bytes frame;
        while (!stop.stop_requested()) {
            pollfd p{master_, POLLIN, 0};
            // A request ends after 5 ms without a byte (3.5 characters is far less than that).
            int r = ::poll(&p, 1, frame.empty() ? 20 : 5);
            if (r > 0 && (p.revents & POLLIN)) {
                uint8_t buf[512];
                ssize_t n = ::read(master_, buf, sizeof buf);
                if (n > 0) frame.insert(frame.end(), buf, buf + n);
                continue;
            }
            if (r == 0 && !frame.empty()) {
                Handler h;
                {
                    std::lock_guard g(mutex_);
                    requests_.push_back(frame);
                    if (!script_.empty()) {
                        h = std::move(script_.front());
                        script_.pop_front();
                    } else {
                        h = fallback_;
                    }
                }
                Bytes reply = h ? h(frame) : Bytes{};
                if (!reply.empty()) (void)!::write(master_, reply.data(), reply.size());
                frame.clear();
            }
        }
    }

    int master_ = -1;
    int slave_ = -1;
    std::string path_;
    mutable std::mutex mutex_;
    std::deque<Handler> script_;
    Handler fallback_ = [](const Bytes& request) { return soundAnswer(request); };
    std::vector<Bytes> requests_;
    std::jthread thread_;
};

} // namespace kt::test
