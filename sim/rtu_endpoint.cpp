#include "sim/rtu_endpoint.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>

namespace kt::sim {

namespace {

// Opens a pty pair; returns the master and sets `slavePath`.
UniqueFd openPty(std::string& slavePath, std::string* error) {
    UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    char name[128];
    if (!master.valid() || ::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0 ||
        ::ptsname_r(master.get(), name, sizeof name) != 0) {
        if (error) *error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        return {};
    }
    int flags = ::fcntl(master.get(), F_GETFL);
    ::fcntl(master.get(), F_SETFL, flags | O_NONBLOCK);
    slavePath = name;
    return master;
}

// A raw line: no echo (which would send the program's own request back to it), no line editing,
// no character translation.
bool makeRaw(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) return false;
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

} // namespace

RtuEndpoint::RtuEndpoint(ModbusService& service, FaultPlan& faults, uint32_t paceBaud)
    : service_(service), faults_(faults), paceBaud_(paceBaud) {}

RtuEndpoint::~RtuEndpoint() {
    stop();
}

bool RtuEndpoint::open(std::string* error) {
    unitMaster_ = openPty(unitDevice_, error);
    if (!unitMaster_.valid()) return false;
    lineMaster_ = openPty(lineDevice_, error);
    if (!lineMaster_.valid()) return false;

    // Holding the program's slave side open keeps the line alive between the program's opens.
    lineHold_.reset(::open(lineDevice_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!lineHold_.valid() || !makeRaw(lineHold_.get())) {
        if (error) *error = "cannot set up " + lineDevice_ + ": " + std::strerror(errno);
        return false;
    }

    ctx_.reset(modbus_new_rtu(unitDevice_.c_str(), 115200, 'N', 8, 1));
    if (!ctx_) {
        if (error) *error = std::string("cannot create the RTU context: ") + modbus_strerror(errno);
        return false;
    }
    if (!setRtuUnitAddress(ctx_.get(), KtUnitId)) {
        if (error) *error = "this libmodbus cannot answer at unit id 254";
        return false;
    }
    if (modbus_connect(ctx_.get()) != 0) {
        if (error) *error = "cannot open " + unitDevice_ + ": " + modbus_strerror(errno);
        return false;
    }
    relay_ = std::make_unique<PtyRelay>(unitMaster_.get(), lineMaster_.get(), lineHold_.get(), KtUnitId,
                                        faults_, paceBaud_);
    return true;
}

void RtuEndpoint::start() {
    relay_->start();
    server_ = std::jthread([this](std::stop_token token) { serve(token); });
}

void RtuEndpoint::stop() {
    if (server_.joinable()) {
        server_.request_stop();
        server_.join();
    }
    if (relay_) relay_->stop();
}

void RtuEndpoint::endWaitForOtherUnit(int fd) {
    // libmodbus ignored a request for another unit id (one the relay could not frame, so it came
    // through) and, as on a shared bus, takes the next frame for that unit's answer and skips it.
    // This line has no other unit, so that frame would be the program's next request: end the
    // wait at once while nothing is pending.
    pollfd pending{fd, POLLIN, 0};
    if (::poll(&pending, 1, 0) != 0) return;
    uint32_t sec = 0, usec = 0;
    modbus_get_response_timeout(ctx_.get(), &sec, &usec);
    modbus_set_response_timeout(ctx_.get(), 0, 1);
    uint8_t ignored[MODBUS_RTU_MAX_ADU_LENGTH];
    modbus_receive(ctx_.get(), ignored); // times out at once and clears libmodbus's expectation
    modbus_set_response_timeout(ctx_.get(), sec, usec);
}

void RtuEndpoint::serve(std::stop_token token) {
    StopFd stop(token);
    ModbusMapping scratch = ModbusService::makeScratch();
    uint8_t adu[MODBUS_RTU_MAX_ADU_LENGTH];
    const int fd = modbus_get_socket(ctx_.get());
    while (stop.wait(fd, POLLIN, -1) == StopFd::Wait::Ready) {
        int n = modbus_receive(ctx_.get(), adu);
        if (n > 0) {
            if (service_.serve(ctx_.get(), {adu, static_cast<size_t>(n)}, Transport::Rtu, stop,
                               scratch.get()) == ModbusService::Outcome::Stopped)
                break;
        } else if (n < 0) {
            // A bad CRC, a frame cut short or noise: a serial unit drops it and waits for silence.
            // What is left of it in the buffer must not become the start of the next request.
            std::fprintf(stderr, "kt740sim: RTU request dropped: %s\n", modbus_strerror(errno));
            modbus_flush(ctx_.get());
        } else {
            endWaitForOtherUnit(fd);
        }
    }
}

} // namespace kt::sim
