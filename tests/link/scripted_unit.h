#pragma once
// A scripted unit on either link, behind one interface: the script sees each request as a unit id
// and a PDU and answers the same way, and the serial or TCP framing is added here (address and
// CRC, or the MBAP header carrying the request's transaction). Damage to the framing itself (a
// wrong CRC, a wrong MBAP field, bytes cut or added) is an edit of the framed bytes. Tests written
// against it run over both transports with TEST_P.

#include "link/connection_settings.h"
#include "link/link_timings.h"
#include "link/mbprotocol.h"
#include "link/modbustcp.h"
#include "pty_responder.h"
#include "tcp_responder.h"
#include "tests/support/link_kind.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace kt::test {

// A request or an answer without its transport's framing.
struct UnitFrame {
    uint8_t unit = 0;
    Bytes pdu;                // function code onward
    uint16_t transaction = 0; // Modbus TCP: the MBAP transaction number
};

inline uint16_t pduWord(const Bytes& pdu, size_t at) {
    return static_cast<uint16_t>(pdu.at(at) << 8 | pdu.at(at + 1));
}

// What a sound unit answers to `request`, register r holding `base + r`: a read's values, a
// write's echo of start and count, a coil write's echo.
inline UnitFrame soundReply(const UnitFrame& request, uint16_t base = 0x1000) {
    UnitFrame a{request.unit, {}, request.transaction};
    const Bytes& q = request.pdu;
    if (q.size() < 5) return a;
    switch (q[0]) {
    case 0x03: {
        const int first = pduWord(q, 1), count = pduWord(q, 3);
        a.pdu = {0x03, static_cast<uint8_t>(2 * count)};
        for (int i = 0; i < count; ++i) {
            const auto v = static_cast<uint16_t>(base + first + i);
            a.pdu.push_back(static_cast<uint8_t>(v >> 8));
            a.pdu.push_back(static_cast<uint8_t>(v & 0xFF));
        }
        break;
    }
    case 0x10:
    case 0x05:
        a.pdu.assign(q.begin(), q.begin() + 5);
        break;
    default:
        break;
    }
    return a;
}

// One answer of the script.
struct Reply {
    bool silent = false;
    UnitFrame answer;
    // Applied to the framed bytes before they leave (RTU: address, PDU, CRC; TCP: MBAP and PDU).
    std::function<void(Bytes&)> damage;
    // How long after the request the answer leaves.
    std::chrono::milliseconds delay{0};

    static Reply sound(const UnitFrame& request, uint16_t base = 0x1000) {
        Reply r;
        r.answer = soundReply(request, base);
        return r;
    }
    static Reply none() {
        Reply r;
        r.silent = true;
        return r;
    }
};

class ScriptedUnit {
public:
    using Handler = std::function<Reply(const UnitFrame& request)>;

    static std::unique_ptr<ScriptedUnit> open(LinkKind kind);
    virtual ~ScriptedUnit() = default;

    virtual LinkKind kind() const = 0;
    // The settings that reach this unit, unit id 254.
    virtual ConnectionSettings settings() const = 0;
    // The link as describeLinkResult names it.
    virtual std::string where() const = 0;
    // The transport of the link on its own (no facade), with these options.
    virtual std::unique_ptr<Transport> transport(LinkOptions options = {}) const = 0;

    // Requests are answered by the queued handlers in turn, then by the default (a sound unit).
    virtual void then(Handler h) = 0;
    virtual void byDefault(Handler h) = 0;
    // Every request received, in order, without its framing.
    virtual std::vector<UnitFrame> requests() const = 0;

    // The request's own framing applied to `reply`: what this link carries.
    virtual Bytes frame(const UnitFrame& request, const UnitFrame& reply) const = 0;
};

namespace detail {

inline void sleepFor(std::chrono::milliseconds delay) {
    if (delay.count() > 0) std::this_thread::sleep_for(delay);
}

class RtuScriptedUnit final : public ScriptedUnit {
public:
    RtuScriptedUnit() {
        byDefault([](const UnitFrame& r) { return Reply::sound(r); });
    }
    LinkKind kind() const override { return LinkKind::Rtu; }
    ConnectionSettings settings() const override {
        ConnectionSettings s;
        s.linkType = LinkSerialRtu;
        s.portName = pty_.path();
        return s;
    }
    std::string where() const override { return pty_.path(); }
    std::unique_ptr<Transport> transport(LinkOptions options) const override {
        return std::make_unique<MBProtocol>(pty_.path(), 115200, std::move(options));
    }
    void then(Handler h) override { pty_.then(adapt(std::move(h))); }
    void byDefault(Handler h) override { pty_.byDefault(adapt(std::move(h))); }
    std::vector<UnitFrame> requests() const override {
        std::vector<UnitFrame> out;
        for (const Bytes& raw : pty_.requests()) out.push_back(unframe(raw));
        return out;
    }
    Bytes frame(const UnitFrame&, const UnitFrame& reply) const override {
        Bytes b{reply.unit};
        b.insert(b.end(), reply.pdu.begin(), reply.pdu.end());
        return withCrc(b);
    }

private:
    static UnitFrame unframe(const Bytes& raw) {
        if (raw.size() < 3) return {raw.empty() ? uint8_t{0} : raw[0], {}};
        return {raw[0], Bytes(raw.begin() + 1, raw.end() - 2)};
    }
    PtyResponder::Handler adapt(Handler h) const {
        return [this, h = std::move(h)](const Bytes& raw) {
            const UnitFrame request = unframe(raw);
            Reply r = h(request);
            sleepFor(r.delay);
            if (r.silent) return Bytes{};
            Bytes out = frame(request, r.answer);
            if (r.damage) r.damage(out);
            return out;
        };
    }

    PtyResponder pty_;
};

class TcpScriptedUnit final : public ScriptedUnit {
public:
    TcpScriptedUnit() {
        byDefault([](const UnitFrame& r) { return Reply::sound(r); });
    }
    LinkKind kind() const override { return LinkKind::Tcp; }
    ConnectionSettings settings() const override {
        ConnectionSettings s;
        s.linkType = LinkModbusTcp;
        s.ipAddress = "127.0.0.1";
        s.tcpPort = tcp_.port();
        return s;
    }
    std::string where() const override { return "127.0.0.1:" + std::to_string(tcp_.port()); }
    std::unique_ptr<Transport> transport(LinkOptions options) const override {
        return std::make_unique<ModbusTCP>("127.0.0.1", tcp_.port(), std::move(options));
    }
    void then(Handler h) override { tcp_.then(adapt(std::move(h))); }
    void byDefault(Handler h) override { tcp_.byDefault(adapt(std::move(h))); }
    std::vector<UnitFrame> requests() const override {
        std::vector<UnitFrame> out;
        for (const Bytes& raw : tcp_.requests()) out.push_back(unframe(raw));
        return out;
    }
    // The answer carries the request's transaction number.
    Bytes frame(const UnitFrame& request, const UnitFrame& reply) const override {
        const size_t following = 1 + reply.pdu.size();
        Bytes b{static_cast<uint8_t>(request.transaction >> 8),
                static_cast<uint8_t>(request.transaction & 0xFF),
                0,
                0,
                static_cast<uint8_t>(following >> 8),
                static_cast<uint8_t>(following & 0xFF),
                reply.unit};
        b.insert(b.end(), reply.pdu.begin(), reply.pdu.end());
        return b;
    }

private:
    static UnitFrame unframe(const Bytes& raw) {
        if (raw.size() < 7) return {};
        return {raw[6], Bytes(raw.begin() + 7, raw.end()), static_cast<uint16_t>(raw[0] << 8 | raw[1])};
    }
    TcpResponder::Handler adapt(Handler h) const {
        return [this, h = std::move(h)](const Bytes& raw) {
            const UnitFrame request = unframe(raw);
            Reply r = h(request);
            if (r.silent) return TcpResponder::Action{{}, r.delay};
            Bytes out = frame(request, r.answer);
            if (r.damage) r.damage(out);
            return TcpResponder::Action{out, r.delay};
        };
    }

    TcpResponder tcp_;
};

} // namespace detail

inline std::unique_ptr<ScriptedUnit> ScriptedUnit::open(LinkKind kind) {
    if (kind == LinkKind::Rtu) return std::make_unique<detail::RtuScriptedUnit>();
    return std::make_unique<detail::TcpScriptedUnit>();
}

} // namespace kt::test
