#include "link/platform/program_folder.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>

namespace kt::platform {

std::filesystem::path programFolder() {
    // Long paths (\\?\...) can exceed MAX_PATH; grow the buffer until the name fits.
    std::wstring buffer(MAX_PATH, L'\0');
    while (true) {
        DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) return std::filesystem::path(buffer.substr(0, n)).parent_path();
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace kt::platform
