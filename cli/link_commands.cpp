// read / write / command: raw register access through the link facade.
#include "cli/cli.h"

namespace kt::cli {

std::span<const Command> linkCommands() { return {}; }

} // namespace kt::cli
