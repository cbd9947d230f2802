// kt740sim: a simulated KT-740 relay on Modbus TCP and on a pseudo-terminal with Modbus RTU, and an
// older unit pushing status frames on a pseudo-terminal of its own.

#include "sim/fault_plan.h"
#include "sim/legacy_endpoint.h"
#include "sim/legacy_unit.h"
#include "sim/modbus_service.h"
#include "sim/options.h"
#include "sim/register_profile.h"
#include "sim/request_log.h"
#include "sim/rtu_endpoint.h"
#include "sim/tcp_endpoint.h"
#include "sim/unit.h"

#include <csignal>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>
#include <vector>

namespace {

int fail(const std::string& message) {
    std::fprintf(stderr, "kt740sim: %s\n", message.c_str());
    return 1;
}

int run(const kt::sim::Options& options) {
    using namespace kt::sim;

    // SIGINT, SIGTERM, SIGUSR1 (a trip) and SIGUSR2 (fall silent / answer again) are taken by sigwait below:
    // blocked here, before any thread exists, so that every thread inherits the mask and none is interrupted
    // by them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    sigaddset(&signals, SIGUSR2);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN); // a master that hung up is seen as a failed send
    if (options.exitWithParent) {
        const pid_t parent = getppid();
        ::prctl(PR_SET_PDEATHSIG, SIGTERM); // arrives through the sigwait below like any SIGTERM
        if (parent == 1 || getppid() != parent) ::raise(SIGTERM); // the parent ended before we asked
    }

    for (const auto& warning : optionWarnings(options))
        std::fprintf(stderr, "kt740sim: warning: %s\n", warning.c_str());

    std::unique_ptr<RequestLog> log;
    if (!options.logPath.empty()) {
        std::string error;
        log = RequestLog::open(options.logPath, &error);
        if (!log) return fail(error);
    }
    UnitSetup setup{.identity = options.identity, .presets = options.presets, .options = options.unit};
    ProfileLoad load = loadRegisterProfile(options.unit.resourcesFolder, options.identity.firmware,
                                           options.identity.modelType);
    if (load.profile) {
        const RegisterProfile& p = *load.profile;
        std::fprintf(stderr, "kt740sim: serving %s", p.path.c_str());
        if (p.fellBack()) std::fprintf(stderr, " (no file for version %d)", p.requestedVersion);
        std::fputc('\n', stderr);
        if (options.unit.unverified && !p.at(Unit::VerifiedRegister))
            std::fprintf(stderr, "kt740sim: warning: --unverified has no effect: this register file has no "
                                 "register 199\n");
        setup.profile = std::make_shared<const RegisterProfile>(std::move(*load.profile));
    } else {
        std::fprintf(stderr, "kt740sim: warning: %s; serving the identification only\n",
                     load.failure.c_str());
        for (const auto& warning : unitOptionWarnings(options))
            std::fprintf(stderr, "kt740sim: warning: %s\n", warning.c_str());
    }
    Unit unit(std::move(setup), [](std::string_view note) {
        std::fprintf(stderr, "kt740sim: %.*s\n", int(note.size()), note.data());
    });
    FaultPlan faults(options.faults);
    ModbusService service(unit, faults, log.get());

    std::unique_ptr<TcpEndpoint> tcp;
    std::unique_ptr<RtuEndpoint> rtu;
    std::unique_ptr<LegacyUnit> legacyUnit;
    std::unique_ptr<LegacyEndpoint> legacy;
    std::string error;
    if (options.tcp) {
        tcp = std::make_unique<TcpEndpoint>(service, faults, std::chrono::milliseconds(options.tcpIdleMs));
        if (!tcp->open(*options.tcp, &error)) return fail(error);
    }
    if (options.rtu) {
        rtu = std::make_unique<RtuEndpoint>(service, faults, options.paceBaud);
        if (!rtu->open(&error)) return fail(error);
    }
    if (options.legacy) {
        legacyUnit = std::make_unique<LegacyUnit>(options.legacyUnit, options.identity, options.unit);
        legacy = std::make_unique<LegacyEndpoint>(*legacyUnit, options.legacyUnit, options.faults.silent,
                                                  log.get());
        if (!legacy->open(&error)) return fail(error);
    }
    if (tcp) {
        tcp->start();
        std::printf("listening tcp %s\n", tcp->address().c_str());
    }
    if (rtu) {
        rtu->start();
        std::printf("listening rtu %s\n", rtu->device().c_str());
    }
    if (legacy) {
        legacy->start();
        std::printf("listening legacy %s\n", legacy->device().c_str());
    }
    std::fflush(stdout);
    unit.start();

    int signal = 0;
    while (sigwait(&signals, &signal) == 0 && (signal == SIGUSR1 || signal == SIGUSR2)) {
        if (signal == SIGUSR2) {
            std::fprintf(stderr, faults.toggleSilence()
                                     ? "kt740sim: silent: requests are logged, none is answered\n"
                                     : "kt740sim: answering again\n");
            continue;
        }
        unit.trip();
        if (legacyUnit) {
            legacyUnit->trip(std::chrono::steady_clock::now());
            std::fprintf(stderr, "kt740sim: legacy ground-fault trip (%zu records)\n",
                         legacyUnit->eventCount());
        }
    }
    if (legacy) legacy->stop();
    if (rtu) rtu->stop();
    if (tcp) tcp->stop();
    unit.stop();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    kt::sim::Options options;
    try {
        options = kt::sim::parseOptions(args);
    } catch (const kt::sim::UsageError& e) {
        std::fprintf(stderr, "kt740sim: %s\nTry 'kt740sim --help' for the options.\n", e.what());
        return 2;
    }
    if (options.help) {
        std::fputs(kt::sim::usageText(), stdout);
        return 0;
    }
    try {
        return run(options);
    } catch (const std::exception& e) {
        return fail(e.what());
    }
}
