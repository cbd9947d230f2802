#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kt::platform {

// Time-outs in the classic serial-port model: a read returns when the requested bytes have
// arrived, when `readIntervalMs` pass between two bytes, or `readTotalMs` after it started;
// a write gives up `writeTotalMs` after it started.
struct SerialTimeouts {
    int readIntervalMs = 20;
    int readTotalMs = 500;
    int writeTotalMs = 20;
};

enum class SerialOpenResult {
    Ok,
    NotFound, // no such device
    Busy,     // another program (or another port object) has it
    Failed,   // anything else: no permission, not a serial device, ...
};

// One serial port, opened exclusively, blocking and thread-agnostic. Every operation on a port
// that is not open fails (false, -1) instead of touching anything.
class SerialPort {
public:
    SerialPort();
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // The system's device path for a port name as the operator chose it: the name itself on
    // POSIX (/dev/ttyUSB0, /dev/pts/3), "\\.\" + name on Windows (COM12 and above need it).
    static std::string devicePath(const std::string& portName);

    SerialOpenResult open(const std::string& devicePath);
    // Why the last open failed, in the system's words ("No such file or directory"); empty after
    // a successful open.
    const std::string& openError() const;
    bool isOpen() const;
    void close();

    bool setTimeouts(const SerialTimeouts& timeouts);
    // Reads the line settings the port has now; setLine starts from them.
    bool getLineSettings();
    // Raw 8-N-1 at `baudRate`, every other setting (hardware flow control) as read before.
    bool setLine(int baudRate);

    // Bytes read (0 when the time-outs expired first), or -1 on an error.
    long read(uint8_t* buffer, size_t count);
    // True when all bytes were handed to the port within the write time-out.
    bool write(const uint8_t* buffer, size_t count);
    // Discards everything in both directions.
    bool purge();
    // Bytes received and not yet read, or -1.
    long waiting() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The serial ports the system has, by the names the operator picks from (/dev/ttyUSB0, COM3),
// in natural order. Empty when there are none or they cannot be listed. Linux: the 16550-style
// ports /dev/ttyS* that have a UART behind them, and every /dev/ttyUSB*, /dev/ttyACM* and
// /dev/rfcomm*. Windows: the ports the registry's SERIALCOMM map names.
std::vector<std::string> listSerialPorts();

#ifndef _WIN32
// listSerialPorts over another device folder and sysfs tty folder (/dev, /sys/class/tty).
std::vector<std::string> listSerialPortsIn(const std::string& devDir, const std::string& sysTtyDir);
#endif

// Port names in the order people count: runs of digits compare by value, so COM2 comes before
// COM10 and ttyS9 before ttyS10.
inline bool naturalLess(std::string_view a, std::string_view b) {
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            size_t si = i, sj = j;
            while (si < a.size() && a[si] == '0') ++si; // leading zeros do not count
            while (sj < b.size() && b[sj] == '0') ++sj;
            size_t ei = si, ej = sj;
            while (ei < a.size() && digit(a[ei])) ++ei;
            while (ej < b.size() && digit(b[ej])) ++ej;
            if (ei - si != ej - sj) return ei - si < ej - sj;
            if (int c = a.substr(si, ei - si).compare(b.substr(sj, ej - sj)); c != 0) return c < 0;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

} // namespace kt::platform
