#pragma once
// A scripted Modbus TCP unit on a loopback port, one connection at a time.

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kt::test {

using Bytes = std::vector<uint8_t>;

// The answer a sound unit gives to a Modbus TCP `request`, register r holding `base + r`.
inline Bytes soundTcpAnswer(const Bytes& request, uint16_t base = 0x2000) {
    if (request.size() < 12) return {};
    const int first = request[8] << 8 | request[9];
    const int count = request[10] << 8 | request[11];
    Bytes a(request.begin(), request.begin() + 8); // MBAP, unit, function
    if (request[7] == 0x03) {
        a[4] = 0;
        a[5] = static_cast<uint8_t>(2 * count + 3);
        a.push_back(static_cast<uint8_t>(2 * count));
        for (int i = 0; i < count; ++i) {
            uint16_t v = static_cast<uint16_t>(base + first + i);
            a.push_back(static_cast<uint8_t>(v >> 8));
            a.push_back(static_cast<uint8_t>(v & 0xFF));
        }
    } else {
        a[4] = 0;
        a[5] = 6;
        a.insert(a.end(), request.begin() + 8, request.begin() + 12);
    }
    return a;
}

inline Bytes tcpException(const Bytes& request, uint8_t code = 2) {
    Bytes a(request.begin(), request.begin() + 8);
    a[4] = 0;
    a[5] = 3;
    a[7] |= 0x80;
    a.push_back(code);
    return a;
}

class TcpResponder {
public:
    // What to do with one request: send `reply` (after `delay`), then close if asked.
    struct Action {
        Bytes reply;
        std::chrono::milliseconds delay{0};
        bool closeAfter = false;
    };
    using Handler = std::function<Action(const Bytes& request)>;

    TcpResponder() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener_, 4) != 0)
            throw std::runtime_error("cannot listen on loopback");
        socklen_t len = sizeof a;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::jthread([this](std::stop_token stop) { serve(stop); });
    }
    ~TcpResponder() {
        thread_.request_stop();
        thread_.join();
        ::close(listener_);
    }

    uint16_t port() const { return port_; }

    void then(Handler h) {
        std::lock_guard g(mutex_);
        script_.push_back(std::move(h));
    }
    void then(Bytes reply) {
        then([reply](const Bytes&) { return Action{reply}; });
    }
    void byDefault(Handler h) {
        std::lock_guard g(mutex_);
        fallback_ = std::move(h);
    }
    std::vector<Bytes> requests() const {
        std::lock_guard g(mutex_);
        return requests_;
    }
    int connections() const { return connections_; }
    // Connections the responder closed itself (closeAfter) and has finished closing.
    int closed() const { return closed_; }

private:
    static bool readSome(int fd, uint8_t* buf, size_t n, std::stop_token& stop) {
        size_t got = 0;
        while (got < n && !stop.stop_requested()) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            ssize_t r = ::recv(fd, buf + got, n - got, 0);
            if (r <= 0) return false;
            got += static_cast<size_t>(r);
        }
        return got == n;
    }

    void serve(std::stop_token stop) {
        while (!stop.stop_requested()) {
            pollfd p{listener_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            ++connections_;
            bool closedByUs = false;
            for (;;) {
                Bytes request(6);
                if (!readSome(fd, request.data(), 6, stop)) break;
                size_t rest = static_cast<size_t>(request[4] << 8 | request[5]);
                request.resize(6 + rest);
                if (!readSome(fd, request.data() + 6, rest, stop)) break;
                Handler h;
                {
                    std::lock_guard g(mutex_);
                    requests_.push_back(request);
                    if (!script_.empty()) {
                        h = std::move(script_.front());
                        script_.pop_front();
                    } else {
                        h = fallback_;
                    }
                }
                Action act = h(request);
                if (act.delay.count() > 0) std::this_thread::sleep_for(act.delay);
                if (!act.reply.empty()) (void)::send(fd, act.reply.data(), act.reply.size(), MSG_NOSIGNAL);
                if (act.closeAfter) {
                    closedByUs = true;
                    break;
                }
            }
            ::close(fd);
            if (closedByUs) ++closed_;
        }
    }

    int listener_ = -1;
    uint16_t port_ = 0;
    mutable std::mutex mutex_;
    std::deque<Handler> script_;
    Handler fallback_ = [](const Bytes& request) { return Action{soundTcpAnswer(request)}; };
    std::vector<Bytes> requests_;
    std::atomic<int> connections_{0};
    std::atomic<int> closed_{0};
    std::jthread thread_;
};

} // namespace kt::test
