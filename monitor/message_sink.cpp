#include "monitor/message_sink.h"

#include <iostream>

namespace kt {

void StderrMessageSink::showMessage(const std::string& text, const std::string& title) {
    std::cerr << title << ": " << text << '\n';
}

} // namespace kt
