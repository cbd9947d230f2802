#include "sim/modbus_service.h"

#include "link/modbus_frames.h"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>

namespace kt::sim {

namespace {

constexpr int MaxReadRegisters = 125;  // what fits one answer
constexpr int MaxWriteRegisters = 123; // what fits one request

} // namespace

bool setRtuUnitAddress(modbus_t* ctx, int address) {
#ifdef MODBUS_QUIRK_MAX_SLAVE
    modbus_enable_quirks(ctx, MODBUS_QUIRK_MAX_SLAVE);
#endif
    if (modbus_set_slave(ctx, address) == 0) return true;
    // libmodbus before 3.1.8 refuses addresses above 247 (the serial-line limit) and then ignores
    // every request that is not sent to its own address, while the KT-740 answers at 254. The
    // address is the first field of the library's context; its setter proves that layout on two
    // values before the field is written directly.
    int* field = reinterpret_cast<int*>(ctx);
    for (int probe : {17, 42})
        if (modbus_set_slave(ctx, probe) != 0 || *field != probe) return false;
    *field = address;
    return modbus_get_slave(ctx) == address;
}

ModbusMapping ModbusService::makeScratch() {
    // Every coil number can be written (coil n is command n); 1000 holding registers.
    return ModbusMapping(modbus_mapping_new(0x10000, 0, RegisterMap::Count, 0));
}

bool ModbusService::addressedToUnit(uint8_t unit, Transport transport) {
    if (unit == KtUnitId || unit == MODBUS_BROADCAST_ADDRESS) return true;
    return transport == Transport::Tcp && unit == 255;
}

std::vector<uint8_t> ModbusService::exceptionAnswer(std::span<const uint8_t> adu, Transport transport,
                                                    uint8_t code) {
    const size_t header = transport == Transport::Tcp ? 7 : 1;
    if (adu.size() <= header) return {};
    const auto function = static_cast<uint8_t>(adu[header] | 0x80);
    if (transport == Transport::Tcp) return {adu[0], adu[1], 0, 0, 0, 3, adu[6], function, code};
    std::vector<uint8_t> answer{adu[0], function, code};
    const uint16_t crc = modbusCrc(answer);
    answer.push_back(static_cast<uint8_t>(crc & 0xFF));
    answer.push_back(static_cast<uint8_t>(crc >> 8));
    return answer;
}

bool ModbusService::sendException(modbus_t* ctx, std::span<const uint8_t> adu, Transport transport,
                                  uint8_t code, const StopFd& stop) {
    const std::vector<uint8_t> answer = exceptionAnswer(adu, transport, code);
    const int fd = modbus_get_socket(ctx);
    std::span<const uint8_t> left(answer);
    while (!left.empty()) {
        const ssize_t n = transport == Transport::Tcp ? ::send(fd, left.data(), left.size(), MSG_NOSIGNAL)
                                                      : ::write(fd, left.data(), left.size());
        if (n > 0) {
            left = left.subspan(static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        if (stop.wait(fd, POLLOUT, 1000) != StopFd::Wait::Ready) return false;
    }
    return true;
}

uint8_t ModbusService::refusal(const Request& r, Transport transport) {
    switch (r.function) {
    case FcReadHoldingRegisters:
        if (!r.wellFormed || r.count < 1 || r.count > MaxReadRegisters) return ExceptionIllegalDataValue;
        if (!RegisterMap::contains(r.start, r.count)) return ExceptionIllegalDataAddress;
        return 0;
    case FcWriteMultipleRegisters:
        if (!r.wellFormed || r.count < 1 || r.count > MaxWriteRegisters || r.byteCount != 2 * r.count ||
            r.values.size() != r.count)
            return ExceptionIllegalDataValue;
        if (!RegisterMap::contains(r.start, r.count)) return ExceptionIllegalDataAddress;
        return 0;
    case FcWriteSingleCoil:
        if (transport != Transport::Rtu)
            return ExceptionIllegalFunction; // commands go to register 6 over TCP
        if (!r.wellFormed || (r.value != CoilOn && r.value != 0)) return ExceptionIllegalDataValue;
        return 0;
    default:
        return ExceptionIllegalFunction;
    }
}

void ModbusService::apply(const Request& r, Transport transport, modbus_mapping_t* scratch) {
    switch (r.function) {
    case FcReadHoldingRegisters:
        unit_.readRegisters(r.start, {scratch->tab_registers + r.start, r.count});
        break;
    case FcWriteMultipleRegisters:
        unit_.writeRegisters(r.start, r.values);
        if (transport == Transport::Tcp && r.start <= Unit::CommandRegister &&
            Unit::CommandRegister < r.start + r.count)
            unit_.executeCommand(r.values[Unit::CommandRegister - r.start], Transport::Tcp);
        break;
    case FcWriteSingleCoil:
        if (r.value == CoilOn) unit_.executeCommand(r.start, Transport::Rtu);
        break;
    default:
        break;
    }
}

ModbusService::Outcome ModbusService::serve(modbus_t* ctx, std::span<const uint8_t> adu, Transport transport,
                                            const StopFd& stop, modbus_mapping_t* scratch) {
    const size_t header = static_cast<size_t>(modbus_get_header_length(ctx));
    const size_t trailer = transport == Transport::Rtu ? 2 : 0;
    // libmodbus hands over nothing shorter than a function code; a guard all the same.
    if (header == 0 || adu.size() < header + 1 + trailer) return Outcome::Unanswered;

    const Request request = parseRequest(adu[header - 1], adu.subspan(header, adu.size() - header - trailer));
    // Not for this unit: neither logged nor answered, as the unit never takes it in.
    if (!addressedToUnit(request.unit, transport)) return Outcome::Ignored;
    if (log_) log_->write(logLine(request));

    // A serial broadcast is carried out but never answered.
    const bool broadcast = transport == Transport::Rtu && request.unit == MODBUS_BROADCAST_ADDRESS;
    const Verdict verdict = faults_.judge(request);
    if (verdict.silent) return Outcome::Unanswered;
    if (verdict.delay.count() > 0 && !stop.sleepFor(verdict.delay)) return Outcome::Stopped;

    const uint8_t exception = verdict.exception ? verdict.exception : refusal(request, transport);
    if (exception) {
        if (broadcast) return Outcome::Refused;
        return sendException(ctx, adu, transport, exception, stop) ? Outcome::Refused : Outcome::SendFailed;
    }
    apply(request, transport, scratch);
    if (broadcast) return Outcome::Answered;
    return modbus_reply(ctx, adu.data(), static_cast<int>(adu.size()), scratch) < 0 ? Outcome::SendFailed
                                                                                    : Outcome::Answered;
}

} // namespace kt::sim
