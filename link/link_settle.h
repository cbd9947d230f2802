#pragma once

#include <atomic>
#include <chrono>
#include <string>

namespace kt {

// When a port or address was last closed, process-wide, so the next transport that opens it can
// give the device its pause first. Keys are the device path or "host:port".
void markLinkClosed(const std::string& key, std::chrono::milliseconds settle);
// Waits until `key` has settled. False (at once) when `abort` turns true first.
bool waitLinkSettled(const std::string& key, const std::atomic<bool>& abort);

} // namespace kt
