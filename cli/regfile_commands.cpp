// regfile: load a register description file as the program does and report it.
#include "cli/cli.h"

namespace kt::cli {

std::span<const Command> regfileCommands() { return {}; }

} // namespace kt::cli
