#include "link/platform/serial_port.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

namespace kt::platform {

namespace {

using Clock = std::chrono::steady_clock;

struct BaudRate {
    int bits;
    speed_t code;
};

constexpr BaudRate baudRates[] = {
    {1200, B1200},       {2400, B2400},     {4800, B4800},     {9600, B9600},
    {19200, B19200},     {38400, B38400},   {57600, B57600},   {115200, B115200},
    {230400, B230400},   {460800, B460800}, {921600, B921600},
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
};

// Milliseconds left until `deadline`, rounded up so that a poll never returns just before it.
int msUntil(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

} // namespace

struct SerialPort::Impl {
    int fd = -1;
    bool isTty = false;
    termios line{};
    bool haveLine = false;
    SerialTimeouts timeouts;
    std::string openError;
};

SerialPort::SerialPort() : impl_(std::make_unique<Impl>()) {}

SerialPort::~SerialPort() {
    close();
}

std::string SerialPort::devicePath(const std::string& portName) {
    return portName;
}

const std::string& SerialPort::openError() const {
    return impl_->openError;
}

SerialOpenResult SerialPort::open(const std::string& devicePath) {
    close();
    impl_->openError.clear();
    if (devicePath.empty()) {
        impl_->openError = "no port name";
        return SerialOpenResult::NotFound;
    }
    int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        impl_->openError = std::strerror(e);
        if (e == ENOENT || e == ENODEV || e == ENXIO) return SerialOpenResult::NotFound;
        if (e == EBUSY) return SerialOpenResult::Busy;
        return SerialOpenResult::Failed;
    }
    // Frames written into a regular file or a pipe named by mistake would go nowhere useful.
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) {
        ::close(fd);
        impl_->openError = "not a serial device";
        return SerialOpenResult::Failed;
    }
    // flock keeps out other programs that lock (and other port objects of this one); TIOCEXCL
    // keeps out every later open of the tty by non-root programs.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        impl_->openError = "in use by another program";
        return SerialOpenResult::Busy;
    }
    impl_->isTty = ::isatty(fd) == 1;
    // Not fatal: root ignores it anyway, and the flock already stands.
    if (impl_->isTty) (void)::ioctl(fd, TIOCEXCL);
    impl_->fd = fd;
    impl_->haveLine = false;
    return SerialOpenResult::Ok;
}

bool SerialPort::isOpen() const {
    return impl_->fd >= 0;
}

void SerialPort::close() {
    if (impl_->fd < 0) return;
    // The exclusive flag outlives this descriptor while anyone else holds the tty open (a pty
    // peer), which would lock out our own reopen.
    if (impl_->isTty) (void)::ioctl(impl_->fd, TIOCNXCL);
    ::close(impl_->fd); // releases the flock too
    impl_->fd = -1;
    impl_->haveLine = false;
}

bool SerialPort::setTimeouts(const SerialTimeouts& timeouts) {
    if (impl_->fd < 0) return false;
    impl_->timeouts = timeouts;
    return true;
}

bool SerialPort::getLineSettings() {
    impl_->haveLine = impl_->fd >= 0 && ::tcgetattr(impl_->fd, &impl_->line) == 0;
    return impl_->haveLine;
}

bool SerialPort::setLine(int baudRate) {
    if (impl_->fd < 0 || !impl_->haveLine) return false;
    termios t = impl_->line;
    // Raw bytes in and out. Software flow control goes too: XON/XOFF bytes are ordinary data in
    // a binary frame. Hardware flow control (CRTSCTS) stays as the port had it.
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~(CSIZE | PARENB | CSTOPB);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    // Reads never block in the kernel; the time-outs are done with poll.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    auto rate = std::find_if(std::begin(baudRates), std::end(baudRates),
                             [&](const BaudRate& b) { return b.bits == baudRate; });
    // An unknown rate still gets the raw 8-N-1 line at the speed the port had; the caller
    // hears about it through the result.
    bool speedOk = rate != std::end(baudRates);
    if (speedOk) speedOk = ::cfsetispeed(&t, rate->code) == 0 && ::cfsetospeed(&t, rate->code) == 0;
    if (::tcsetattr(impl_->fd, TCSANOW, &t) != 0) return false;
    return speedOk;
}

long SerialPort::read(uint8_t* buffer, size_t count) {
    if (impl_->fd < 0) return -1;
    const auto start = Clock::now();
    const auto totalDeadline = start + std::chrono::milliseconds(impl_->timeouts.readTotalMs);
    const auto interval = std::chrono::milliseconds(impl_->timeouts.readIntervalMs);
    size_t got = 0;
    auto lastByte = start;
    while (got < count) {
        auto deadline = got == 0 ? totalDeadline : std::min(totalDeadline, lastByte + interval);
        int waitMs = msUntil(deadline);
        if (waitMs == 0) break;
        pollfd p{impl_->fd, POLLIN, 0};
        int r = ::poll(&p, 1, waitMs);
        if (r < 0) {
            if (errno == EINTR) continue;
            return got > 0 ? static_cast<long>(got) : -1;
        }
        if (r == 0) break;
        ssize_t n = ::read(impl_->fd, buffer + got, count - got);
        if (n > 0) {
            got += static_cast<size_t>(n);
            lastByte = Clock::now();
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        } else {
            // End of file or an error (EIO once a pty's other side is gone): the port is dead.
            return got > 0 ? static_cast<long>(got) : -1;
        }
    }
    return static_cast<long>(got);
}

bool SerialPort::write(const uint8_t* buffer, size_t count) {
    if (impl_->fd < 0) return false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(impl_->timeouts.writeTotalMs);
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::write(impl_->fd, buffer + done, count - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        int waitMs = msUntil(deadline);
        if (waitMs == 0) return false;
        pollfd p{impl_->fd, POLLOUT, 0};
        if (::poll(&p, 1, waitMs) < 0 && errno != EINTR) return false;
    }
    return true;
}

bool SerialPort::purge() {
    return impl_->fd >= 0 && ::tcflush(impl_->fd, TCIOFLUSH) == 0;
}

long SerialPort::waiting() const {
    int n = 0;
    if (impl_->fd < 0 || ::ioctl(impl_->fd, FIONREAD, &n) != 0) return -1;
    return n;
}

namespace {

bool startsWithNumbered(std::string_view name, std::string_view prefix) {
    if (!name.starts_with(prefix) || name.size() == prefix.size()) return false;
    return std::all_of(name.begin() + prefix.size(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool pathExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

// The kernel keeps a ttyS node for every possible 8250 port; only those with a UART type are
// real. sysfs tells without opening the device; TIOCGSERIAL asks the driver when it does not.
bool isRealUart(const std::string& device, const std::string& sysEntry) {
    if (std::ifstream typeFile(sysEntry + "/type"); typeFile) {
        int type = 0;
        if (typeFile >> type) return type != 0; // 0 = PORT_UNKNOWN
    }
#ifdef __linux__
    int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        serial_struct info{};
        bool known = ::ioctl(fd, TIOCGSERIAL, &info) == 0;
        ::close(fd);
        if (known) return info.type != PORT_UNKNOWN;
    }
#endif
    // Neither answered (no permission to open, say): a port bound to a device is worth offering.
    return pathExists(sysEntry + "/device");
}

} // namespace

std::vector<std::string> listSerialPortsIn(const std::string& devDir, const std::string& sysTtyDir) {
    std::vector<std::string> ports;
    DIR* dir = ::opendir(devDir.c_str());
    if (!dir) return ports;
    while (const dirent* entry = ::readdir(dir)) {
        std::string_view name = entry->d_name;
        std::string device = devDir + "/" + std::string(name);
        if (startsWithNumbered(name, "ttyUSB") || startsWithNumbered(name, "ttyACM") ||
            startsWithNumbered(name, "rfcomm")) {
            ports.push_back(device);
        } else if (startsWithNumbered(name, "ttyS")) {
            if (isRealUart(device, sysTtyDir + "/" + std::string(name))) ports.push_back(device);
        }
    }
    ::closedir(dir);
    std::sort(ports.begin(), ports.end(),
              [](const std::string& a, const std::string& b) { return naturalLess(a, b); });
    return ports;
}

std::vector<std::string> listSerialPorts() {
    return listSerialPortsIn("/dev", "/sys/class/tty");
}

} // namespace kt::platform
