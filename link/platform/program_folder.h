#pragma once

#include <filesystem>

namespace kt::platform {

// The folder of the running program's executable, with links resolved: the programs keep their
// data (resources/, help/, "setpoint assistant/") there, in the build's bin/ as installed
// (/usr/lib/ktmon740 behind the links in /usr/bin, the installation folder on Windows). Empty
// when the system cannot say.
std::filesystem::path programFolder();

} // namespace kt::platform
