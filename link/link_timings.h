#pragma once

// The link's waits, in one record so that tests can shorten them. The program and the
// command-line tool use the defaults; only the tests change them.

#include <chrono>
#include <functional>
#include <string_view>

namespace kt {

struct LinkTimings {
    using ms = std::chrono::milliseconds;

    // The facade's waits for the process-wide lock and its pause after a failed attempt.
    ms readLockWait{1000};
    ms writeLockWait{500};
    ms commandLockWait{2000};
    ms retryPause{5};
    // After a port or socket is closed, the next transport on the same port or address waits
    // until this much time has passed before opening it again (a USB adapter needs the pause).
    // Paid by the next connection only: a program that ends after closing does not wait.
    ms settle{500};
    // How long closing waits for a serial transfer in progress.
    ms closeWait{1000};

    // Serial port time-outs: a read returns after this gap between bytes, or this long after it
    // started; a write gives up after writeTotal.
    int serialIntervalMs = 20;
    int serialReadTotalMs = 500;
    int serialWriteTotalMs = 20;
    // A serial unit may answer after the receive waits have given up. After a request that got
    // no whole answer, the line is drained until it has been quiet for lateAnswerQuiet (at most
    // lateAnswerDrainMax), so that a late answer is thrown away instead of being taken as the
    // answer to the next request.
    ms lateAnswerQuiet{2000};
    ms lateAnswerDrainMax{4000};

    // Modbus TCP: connect and answer time-outs.
    int tcpConnectMs = 2000;
    int tcpReadMs = 1000;

    // A unit command goes out once; its acknowledgement counts when it comes within this wait
    // (the time three attempts would have taken).
    ms commandAnswerWait{3000};
};

// Where the transports' diagnostic lines go (the serial port's "Error!" lines). The library writes
// nothing to standard output; an empty sink drops them.
using LinkDiagnostics = std::function<void(std::string_view line)>;

struct LinkOptions {
    LinkTimings timings;
    LinkDiagnostics diagnostics;
};

} // namespace kt
