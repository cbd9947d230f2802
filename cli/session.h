#pragma once

// One connection of a command: the monitor engine on the link, its notifications on standard
// error, and waiting for a request's result. Shared by the commands that talk to a unit.

#include "cli/cli.h"
#include "cli/json.h"
#include "link/link_timings.h"
#include "monitor/monitor_thread.h"

#include <condition_variable>
#include <functional>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

namespace kt::cli {

// The engine's notifications for a tool without a GUI thread: they arrive on the engine's
// thread and are passed on to the command.
class CliNotifier : public MonitorNotifier {
public:
    explicit CliNotifier(std::string command) : command_(std::move(command)) {}

    std::function<void(const PassSnapshotPtr&)> onPass;

    // The loader's messages, one line each on stderr. Its abort text opens the command's error
    // line instead, which adds the precise reason.
    void showMessage(const std::string& text, const std::string& title) override {
        if (text == NoRegisterFileText) {
            std::lock_guard guard(mutex_);
            abortMessage_ = title + ": " + text;
            return;
        }
        std::string line = text;
        while (!line.empty() && line.back() == '\n') line.pop_back();
        for (char& c : line)
            if (c == '\n') c = ' ';
        std::cerr << "ktmon740-cli " << command_ << ": " << printable(title) << ": " << printable(line)
                  << '\n';
    }
    void passCompleted(PassSnapshotPtr pass) override {
        if (onPass) onPass(pass);
    }
    void identificationFailed(const std::string&) override {} // the engine's failure text says what happened

    std::string abortMessage() {
        std::lock_guard guard(mutex_);
        return abortMessage_;
    }

private:
    std::string command_;
    std::mutex mutex_;
    std::string abortMessage_;
};

// Waits for the result of one request (delivered on the engine's thread).
template <class Result> class Awaited {
public:
    std::function<void(Result)> callback() {
        return [this](Result r) {
            std::lock_guard guard(mutex_);
            result_ = std::move(r);
            changed_.notify_all();
        };
    }
    Result get() {
        std::unique_lock guard(mutex_);
        changed_.wait(guard, [&] { return result_.has_value(); });
        return std::move(*result_);
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<Result> result_;
};

// One connection: the engine on the link, identified before any operation. The notifier's
// handlers are set before start(), since the polling thread calls them.
class Session {
public:
    Session(const std::string& command, const std::string& link, const Args& args)
        : link_(link), settings_(linkArgument(link)), resources_(resourcesFolder(args)), notifier(command) {}
    ~Session() { engine_.reset(); } // stops and joins before the notifier goes

    void start() {
        MonitorOptions options;
        options.resourcesFolder = resources_;
        options.link = linkOptions();
        options.clock = [this] {
            ClockFields now = systemLocalClock();
            std::lock_guard guard(clockMutex_);
            clockSent_ = now;
            return now;
        };
        engine_ = std::make_unique<Monitor_Thread>(settings_, notifier, dispatcher_, std::move(options));
    }

    Monitor_Thread& engine() { return *engine_; }
    const std::string& link() const { return link_; }
    const ConnectionSettings& settings() const { return settings_; }
    // The failure of a request in one line naming the unit, the link and the registers.
    std::string describe(const LinkResult& r, TransferWhat what) const {
        return describeLinkResult(r, settings_.slaveAddress, linkName(settings_), what);
    }
    ClockFields clockSent() {
        std::lock_guard guard(clockMutex_);
        return clockSent_;
    }

    // Starts the engine and waits for the identification; throws with a clear reason when the
    // unit cannot be identified.
    UnitIdentification identify() {
        start();
        if (engine_->waitForIdentification()) return *engine_->identification();
        const std::string why = engine_->failure();
        std::optional<UnitIdentification> id = engine_->identification();
        if (!id)
            throw std::runtime_error(
                (why.empty() ? link_ + " did not answer the Modbus identification" : why) +
                "; the program would now listen for an older unit's legacy frames");
        const std::string aborted = notifier.abortMessage();
        throw std::runtime_error(
            (aborted.empty() ? "" : aborted + " ") + link_ + " answered (model code " +
            std::to_string(id->modelCode) + ", firmware " + std::to_string(id->firmwareRaw) +
            ", model type " + std::to_string(id->modelType) + ") but no register file could be used: " + why);
    }

private:
    std::string link_;
    ConnectionSettings settings_;
    std::string resources_;
    InlineDispatcher dispatcher_;
    std::mutex clockMutex_;
    ClockFields clockSent_;

public:
    CliNotifier notifier;

private:
    std::unique_ptr<Monitor_Thread> engine_;
};

} // namespace kt::cli
