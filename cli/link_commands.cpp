// read / write / command: raw register access through the link facade.
#include "cli/cli.h"
#include "cli/json.h"
#include "link/link_timings.h"
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

// The failure of one transfer in the words of describeLinkResult.
std::runtime_error linkError(const ConnectionSettings& settings, const LinkResult& r, TransferWhat what) {
    return std::runtime_error(describeLinkResult(r, settings.slaveAddress, linkName(settings), what));
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
        Protocol facade(settings, linkOptions());
        for (long done = 0; done < count; done += ReadChunk) {
            const int n = static_cast<int>(std::min<long>(ReadChunk, count - done));
            const int first = static_cast<int>(start + done);
            if (LinkResult r = facade.ReadRegisters(settings, first, n, values.data() + done); !r)
                throw linkError(settings, r, {TransferWhat::Read, first, n});
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
        Protocol facade(settings, linkOptions());
        for (long done = 0; done < count; done += WriteChunk) {
            const int n = static_cast<int>(std::min<long>(WriteChunk, count - done));
            const int first = static_cast<int>(start + done);
            if (LinkResult r = facade.WriteRegisters(settings, first, n, values.data() + done); !r) {
                std::string what = describeLinkResult(r, settings.slaveAddress, linkName(settings),
                                                      {TransferWhat::Write, first, n});
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
    ConnectionSettings settings = linkArgument(args.positional()[0]);
    const long n = args.integer(1, 0, 0xFFFF);
    LinkResult r;
    {
        Protocol facade(settings, linkOptions());
        r = facade.WriteCoil(settings, static_cast<int>(n));
    }
    if (!r) {
        std::string what = describeLinkResult(r, settings.slaveAddress, linkName(settings),
                                              {TransferWhat::Command, int(n), 1});
        // The one request may have been executed with its acknowledgement lost.
        if (r.sent && r.status != LinkStatus::Exception)
            what += " (sent once; the unit may still have executed it)";
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
