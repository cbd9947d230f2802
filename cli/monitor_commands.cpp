// identify / monitor / events and the unit commands, driven through the monitor engine.
#include "cli/cli.h"

namespace kt::cli {

std::span<const Command> monitorCommands() { return {}; }

} // namespace kt::cli
