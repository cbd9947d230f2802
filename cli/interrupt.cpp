#include "cli/interrupt.h"

#include <csignal>

namespace kt::cli {

namespace {
volatile std::sig_atomic_t interruptFlag = 0;
extern "C" void onInterrupt(int) {
    interruptFlag = 1;
}
} // namespace

InterruptWatch::InterruptWatch() {
    interruptFlag = 0;
    previousInt_ = std::signal(SIGINT, onInterrupt);
    previousTerm_ = std::signal(SIGTERM, onInterrupt);
}

InterruptWatch::~InterruptWatch() {
    std::signal(SIGINT, previousInt_);
    std::signal(SIGTERM, previousTerm_);
}

bool InterruptWatch::interrupted() {
    return interruptFlag != 0;
}

} // namespace kt::cli
