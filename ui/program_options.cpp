#include "ui/program_options.h"

#include "ui/address_text.h"

#include <charconv>

namespace kt {

namespace {

std::optional<ConnectionSettings> parseProgramLink(const std::string& text, std::string& error) {
    std::string why;
    auto link = parseLink(text, &why);
    if (!link) {
        error = "--connect " + text + ": " + why;
        return std::nullopt;
    }
    if (link->linkType == LinkModbusTcp) {
        // The window's address field takes IPv4 addresses only; refuse here what it would refuse.
        auto endpoint = parseIpv4Endpoint(link->ipAddress);
        if (!endpoint || link->ipAddress.find(':') != std::string::npos) {
            error = "--connect " + text + ": \"" + link->ipAddress +
                    "\" is not an IPv4 address (expected tcp://A.B.C.D[:PORT])";
            return std::nullopt;
        }
        link->ipAddress = endpoint->address;
    }
    return link;
}

} // namespace

std::optional<ProgramOptions> parseProgramOptions(std::span<const std::string> args, std::string& error) {
    ProgramOptions options;
    bool afterGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](const char* name) -> const std::string* {
            if (i + 1 >= args.size()) {
                error = std::string(name) + " needs a value";
                return nullptr;
            }
            return &args[++i];
        };
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--connect") {
            const std::string* link = value("--connect");
            if (!link) return std::nullopt;
            options.connect = parseProgramLink(*link, error);
            if (!options.connect) return std::nullopt;
        } else if (arg == "--screenshot") {
            const std::string* file = value("--screenshot");
            if (!file) return std::nullopt;
            if (file->empty()) {
                error = "--screenshot needs a file name";
                return std::nullopt;
            }
            options.screenshotFile = *file;
        } else if (arg == "--page") {
            const std::string* page = value("--page");
            if (!page) return std::nullopt;
            if (page->empty()) {
                error = "--page needs the caption of a page";
                return std::nullopt;
            }
            options.screenshotPage = *page;
        } else if (arg == "--after") {
            const std::string* ms = value("--after");
            if (!ms) return std::nullopt;
            int n = 0;
            auto [end, ec] = std::from_chars(ms->data(), ms->data() + ms->size(), n);
            if (ms->empty() || ec != std::errc() || end != ms->data() + ms->size() || n < 0 || n > 3600000) {
                error = "--after " + *ms + ": expected milliseconds from 0 to 3600000";
                return std::nullopt;
            }
            options.screenshotAfterMs = n;
            afterGiven = true;
        } else if (arg.starts_with("--")) {
            error = "unknown option " + arg;
            return std::nullopt;
        } else if (arg.starts_with("-") && arg.size() > 1) {
            // A Qt option; its value, if any, is the next word.
            if (i + 1 < args.size() && !args[i + 1].starts_with("-")) ++i;
        } else {
            error = "unexpected argument " + arg;
            return std::nullopt;
        }
    }
    if (afterGiven && options.screenshotFile.empty()) {
        error = "--after only goes with --screenshot";
        return std::nullopt;
    }
    if (!options.screenshotPage.empty() && options.screenshotFile.empty()) {
        error = "--page only goes with --screenshot";
        return std::nullopt;
    }
    return options;
}

const char* programUsageText() {
    return "Usage: ktmon740 [--connect LINK] [--screenshot FILE [--after MS] [--page PAGE]]\n"
           "Monitors and configures a KT-740 series relay.\n"
           "\n"
           "  --connect LINK     select LINK and connect once the window is up\n"
           "                     LINK: tcp://A.B.C.D[:PORT] (Modbus TCP, port 502 when omitted)\n"
           "                           serial:DEVICE (Modbus RTU, e.g. serial:/dev/ttyUSB0, serial:COM3)\n"
           "  --screenshot FILE  save a picture of the main window to FILE (PNG), then close\n"
           "  --after MS         wait MS milliseconds after start-up before the picture (default 2000)\n"
           "  --page PAGE        show the page with the caption PAGE in the picture (e.g. \"Detailed "
           "Status\")\n"
           "  --help             show this text\n";
}

} // namespace kt
