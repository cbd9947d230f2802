#include "link/platform/serial_port.h"

#include <algorithm>
#include <string>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace kt::platform {

struct SerialPort::Impl {
    HANDLE handle = INVALID_HANDLE_VALUE;
    DCB line{};
    bool haveLine = false;
    std::string openError;
};

namespace {

// The system's text for an error code, without the trailing line break.
std::string systemErrorText(DWORD error) {
    char buffer[256] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, buffer,
                             sizeof buffer, nullptr);
    std::string text(buffer, n);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.')) text.pop_back();
    return text.empty() ? "error " + std::to_string(error) : text;
}

} // namespace

SerialPort::SerialPort() : impl_(std::make_unique<Impl>()) {}

SerialPort::~SerialPort() {
    close();
}

std::string SerialPort::devicePath(const std::string& portName) {
    return "\\\\.\\" + portName;
}

const std::string& SerialPort::openError() const {
    return impl_->openError;
}

SerialOpenResult SerialPort::open(const std::string& devicePath) {
    close();
    impl_->openError.clear();
    HANDLE h = CreateFileA(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0 /* exclusive */, nullptr,
                           OPEN_EXISTING, 0 /* not overlapped */, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        impl_->openError = systemErrorText(error);
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return SerialOpenResult::NotFound;
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) return SerialOpenResult::Busy;
        return SerialOpenResult::Failed;
    }
    if (GetFileType(h) != FILE_TYPE_CHAR) {
        CloseHandle(h);
        impl_->openError = "not a serial device";
        return SerialOpenResult::Failed;
    }
    impl_->handle = h;
    impl_->haveLine = false;
    return SerialOpenResult::Ok;
}

bool SerialPort::isOpen() const {
    return impl_->handle != INVALID_HANDLE_VALUE;
}

void SerialPort::close() {
    if (impl_->handle == INVALID_HANDLE_VALUE) return;
    CloseHandle(impl_->handle);
    impl_->handle = INVALID_HANDLE_VALUE;
    impl_->haveLine = false;
}

bool SerialPort::setTimeouts(const SerialTimeouts& timeouts) {
    if (!isOpen()) return false;
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = static_cast<DWORD>(timeouts.readIntervalMs);
    t.ReadTotalTimeoutMultiplier = 0;
    t.ReadTotalTimeoutConstant = static_cast<DWORD>(timeouts.readTotalMs);
    t.WriteTotalTimeoutMultiplier = 0;
    t.WriteTotalTimeoutConstant = static_cast<DWORD>(timeouts.writeTotalMs);
    return SetCommTimeouts(impl_->handle, &t) != 0;
}

bool SerialPort::getLineSettings() {
    impl_->line = DCB{};
    impl_->line.DCBlength = sizeof(DCB);
    impl_->haveLine = isOpen() && GetCommState(impl_->handle, &impl_->line) != 0;
    return impl_->haveLine;
}

bool SerialPort::setLine(int baudRate) {
    if (!isOpen() || !impl_->haveLine) return false;
    DCB d = impl_->line;
    d.BaudRate = static_cast<DWORD>(baudRate);
    d.ByteSize = 8;
    d.Parity = NOPARITY;
    d.StopBits = ONESTOPBIT;
    // Software flow control would swallow XON/XOFF bytes of binary frames.
    d.fOutX = FALSE;
    d.fInX = FALSE;
    d.fBinary = TRUE;
    return SetCommState(impl_->handle, &d) != 0;
}

long SerialPort::read(uint8_t* buffer, size_t count) {
    if (!isOpen()) return -1;
    DWORD got = 0;
    if (!ReadFile(impl_->handle, buffer, static_cast<DWORD>(count), &got, nullptr)) return -1;
    return static_cast<long>(got);
}

bool SerialPort::write(const uint8_t* buffer, size_t count) {
    if (!isOpen()) return false;
    DWORD done = 0;
    return WriteFile(impl_->handle, buffer, static_cast<DWORD>(count), &done, nullptr) && done == count;
}

bool SerialPort::purge() {
    return isOpen() &&
           PurgeComm(impl_->handle, PURGE_RXABORT | PURGE_TXABORT | PURGE_RXCLEAR | PURGE_TXCLEAR) != 0;
}

long SerialPort::waiting() const {
    COMSTAT stat{};
    DWORD errors = 0;
    if (!isOpen() || !ClearCommError(impl_->handle, &errors, &stat)) return -1;
    return static_cast<long>(stat.cbInQue);
}

std::vector<std::string> listSerialPorts() {
    std::vector<std::string> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return ports; // no key: the machine has no serial ports at all
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameChars = 256;
        wchar_t data[256];
        DWORD dataBytes = sizeof(data);
        DWORD type = 0;
        LONG r = RegEnumValueW(key, index, name, &nameChars, nullptr, &type, reinterpret_cast<BYTE*>(data),
                               &dataBytes);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r != ERROR_SUCCESS || type != REG_SZ) continue; // not a port name ("COM3")
        size_t chars = dataBytes / sizeof(wchar_t);
        while (chars > 0 && data[chars - 1] == L'\0') --chars;
        if (chars == 0) continue;
        int bytes =
            WideCharToMultiByte(CP_UTF8, 0, data, static_cast<int>(chars), nullptr, 0, nullptr, nullptr);
        std::string port(static_cast<size_t>(bytes), '\0');
        WideCharToMultiByte(CP_UTF8, 0, data, static_cast<int>(chars), port.data(), bytes, nullptr, nullptr);
        ports.push_back(std::move(port));
    }
    RegCloseKey(key);
    std::sort(ports.begin(), ports.end(),
              [](const std::string& a, const std::string& b) { return naturalLess(a, b); });
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    return ports;
}

} // namespace kt::platform
