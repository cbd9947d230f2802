#pragma once

#include <string>

namespace kt {

// Where the engine's few messages to the operator go ("Cannot Open File", "Write Failed"). The
// GUI shows them as modal boxes on the GUI thread (the caller waits until the box is closed); the
// command-line tool prints them on standard error.
struct MessageSink {
    virtual ~MessageSink() = default;
    virtual void showMessage(const std::string& text, const std::string& title) = 0;
};

// Prints "title: text" on standard error, one message per block of lines.
struct StderrMessageSink : MessageSink {
    void showMessage(const std::string& text, const std::string& title) override;
};

} // namespace kt
