#pragma once

#include "link/connection_settings.h"

#include <optional>
#include <span>
#include <string>

namespace kt {

// The command line of the ktmon740 program.
struct ProgramOptions {
    bool help = false;
    // --connect LINK: select the link and press Enable once the window has started.
    std::optional<ConnectionSettings> connect;
    // --screenshot FILE [--after MS]: save a picture of the window, then close it.
    std::string screenshotFile;
    int screenshotAfterMs = 2000;
    // --page PAGE: the page (its tab caption or object name) shown in the picture.
    std::string screenshotPage;
};

// Parses the arguments after the program name. Qt's own single-dash options (-platform xcb,
// -style fusion) are left for Qt. Returns nothing and sets `error` to one sentence for a
// command line that cannot be used.
std::optional<ProgramOptions> parseProgramOptions(std::span<const std::string> args, std::string& error);

const char* programUsageText();

} // namespace kt
