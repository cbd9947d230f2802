#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

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

} // namespace kt::platform
