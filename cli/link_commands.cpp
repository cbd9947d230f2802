// read / write / command: raw register access through the link facade.
#include "cli/cli.h"
#include "cli/json.h"
#include "link/modbustcp.h"
#include "link/protocol.h"

#include <algorithm>
#include <iostream>
#include <stdexcept>
#include <vector>

namespace kt::cli {

namespace {

// Request sizes the program itself uses.
constexpr int ReadChunk = 50;
constexpr int WriteChunk = 27;
constexpr long MaxReadCount = 1000;

ConnectionSettings linkArgument(const std::string& text) {
    std::string why;
    auto settings = parseLink(text, &why);
    if (!settings) throw UsageError(why);
    return *settings;
}

// The highest register reachable on this link: TCP units are addressed up to 9999, and the
// serial frame carries 16 bits.
long lastRegister(const ConnectionSettings& settings) {
    return settings.linkType == LinkModbusTcp ? ModbusTCP::MaxFirstRegister : 0xFFFF;
}

void checkRange(const ConnectionSettings& settings, long start, long count) {
    const long last = lastRegister(settings);
    if (start + count - 1 > last)
        throw UsageError("registers " + std::to_string(start) + ".." + std::to_string(start + count - 1) +
                         " reach past register " + std::to_string(last) + " of this link");
}

std::string range(long first, long last) {
    return std::to_string(first) + ".." + std::to_string(last);
}

int readCommand(std::span<const std::string> words) {
    Args args(words, {}, {"--json"});
    args.expectPositional(3);
    const std::string& link = args.positional()[0];
    ConnectionSettings settings = linkArgument(link);
    const long start = args.integer(1, 0, lastRegister(settings));
    const long count = args.integer(2, 1, MaxReadCount);
    checkRange(settings, start, count);

    std::vector<uint16_t> values(static_cast<size_t>(count));
    {
        Protocol facade(settings);
        for (long done = 0; done < count; done += ReadChunk) {
            const int n = static_cast<int>(std::min<long>(ReadChunk, count - done));
            if (!facade.ReadRegisters(settings, static_cast<int>(start + done), n, values.data() + done))
                throw std::runtime_error("no answer from " + link + " (registers " +
                                         range(start + done, start + done + n - 1) + ")");
        }
    }
    if (args.flag("--json")) {
        JsonWriter json(std::cout);
        json.beginObject().field("link", link).key("registers").beginArray();
        for (long i = 0; i < count; ++i)
            json.beginObject().field("register", start + i).field("value", unsigned{values[i]}).endObject();
        json.endArray().endObject();
        std::cout << '\n';
    } else {
        for (long i = 0; i < count; ++i) std::cout << start + i << '\t' << values[i] << '\n';
    }
    return ExitOk;
}

int writeCommand(std::span<const std::string> words) {
    Args args(words, {}, {});
    const auto& pos = args.positional();
    if (pos.size() < 3) throw UsageError("missing arguments");
    const std::string& link = pos[0];
    ConnectionSettings settings = linkArgument(link);
    const long start = args.integer(1, 0, lastRegister(settings));
    std::vector<uint16_t> values;
    for (size_t i = 2; i < pos.size(); ++i)
        values.push_back(static_cast<uint16_t>(parseInteger(pos[i], 0, 0xFFFF, "value")));
    const long count = static_cast<long>(values.size());
    checkRange(settings, start, count);

    {
        Protocol facade(settings);
        for (long done = 0; done < count; done += WriteChunk) {
            const int n = static_cast<int>(std::min<long>(WriteChunk, count - done));
            if (!facade.WriteRegisters(settings, static_cast<int>(start + done), n, values.data() + done)) {
                std::string what = "no acknowledgement from " + link + " (registers " +
                                   range(start + done, start + done + n - 1) + ")";
                // Say what did reach the unit, so nobody has to guess which settings changed.
                if (done > 0) what += "; registers " + range(start, start + done - 1) + " were written";
                throw std::runtime_error(what);
            }
        }
    }
    std::cout << "wrote " << count << (count == 1 ? " register (" : " registers (")
              << range(start, start + count - 1) << ")\n";
    return ExitOk;
}

int commandCommand(std::span<const std::string> words) {
    Args args(words, {}, {});
    args.expectPositional(2);
    const std::string& link = args.positional()[0];
    ConnectionSettings settings = linkArgument(link);
    const long n = args.integer(1, 0, 0xFFFF);
    bool acknowledged = false;
    {
        Protocol facade(settings);
        acknowledged = facade.WriteCoil(settings, static_cast<int>(n));
    }
    if (!acknowledged) {
        // Over serial the one request may have been executed with its echo lost.
        std::string what = "no acknowledgement from " + link + " for command " + std::to_string(n);
        if (settings.linkType == LinkSerialRtu) what += " (sent once; the unit may still have executed it)";
        throw std::runtime_error(what);
    }
    std::cout << "command " << n << " acknowledged\n";
    return ExitOk;
}

constexpr Command commands[] = {
    {"read", "LINK START COUNT [--json]", readCommand},
    {"write", "LINK START VALUE...", writeCommand},
    {"command", "LINK N", commandCommand},
};

} // namespace

std::span<const Command> linkCommands() {
    return commands;
}

} // namespace kt::cli
