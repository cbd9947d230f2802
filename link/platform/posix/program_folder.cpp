#include "link/platform/program_folder.h"

namespace kt::platform {

std::filesystem::path programFolder() {
    // Linux names the executable itself here, whatever link it was started through.
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : exe.parent_path();
}

} // namespace kt::platform
