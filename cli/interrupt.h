#pragma once

namespace kt::cli {

// While it lives, Ctrl+C and SIGTERM do not kill the tool: they set a flag that the running
// command's loop reads, so that it ends cleanly (log flushed, threads joined, a clear message).
class InterruptWatch {
public:
    InterruptWatch();  // clears the flag and installs the handlers
    ~InterruptWatch(); // puts the previous handlers back
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    // Whether the last watch saw an interrupt (still readable after it ended).
    static bool interrupted();

private:
    using Handler = void (*)(int);
    Handler previousInt_, previousTerm_;
};

} // namespace kt::cli
