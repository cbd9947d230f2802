// scl-info / scl-import: the IEC 61850 SCL reader and writer for scripts and support.
#include "cli/cli.h"

namespace kt::cli {

std::span<const Command> sclCommands() { return {}; }

} // namespace kt::cli
