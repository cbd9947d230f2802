// legacy: an older unit that pushes 24-byte status frames, through the window's listener and the
// window's decoding (the Summary and "Detailed Status and Config" fields), its event block and
// the clearing of its records.
#include "cli/cli.h"
#include "cli/interrupt.h"
#include "cli/json.h"
#include "link/connection_settings.h"
#include "monitor/event_texts.h"
#include "monitor/legacy_frame.h"
#include "monitor/thread_old740.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <iostream>
#include <mutex>
#include <optional>
#include <sstream>
#include <stdexcept>

namespace kt::cli {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The window disconnects after more than 45 s without a frame once one has arrived; so does this.
constexpr auto SilenceLimit = 45s;
// The listener asks for the block on every cycle (about 210 ms); a unit that has not sent it
// after this long is not going to.
constexpr auto EventBlockLimit = 10s;
// Before the first frame the listener gives up by itself (ten empty cycles); this only bounds a
// listener that could not even start its cycles.
constexpr auto FirstFrameLimit = 30s;

// What the listener reports, kept for the command's thread: the calls arrive on the listener's
// own thread (the tool has no GUI thread to post them to).
class Collector : public LegacyNotifier {
public:
    void legacyStatusUpdate(const LegacyFrame& frame) override {
        std::lock_guard guard(mutex_);
        frames_.push_back(frame);
        ++framesReceived_;
        changed_.notify_all();
    }
    void legacyEventUpdate(const LegacyEventBlock& block) override {
        std::lock_guard guard(mutex_);
        block_ = block;
        changed_.notify_all();
    }
    void legacyFailure(const LegacyFailure& failure) override {
        std::lock_guard guard(mutex_);
        failure_ = failure;
        changed_.notify_all();
    }
    void legacyClearDone(LegacyCommandOutcome outcome) override {
        std::lock_guard guard(mutex_);
        cleared_ = outcome;
        changed_.notify_all();
    }

    // Waits until `ready` holds, the listener failed, `limit` passed or the user interrupted;
    // `ready` and the queue are read under the lock.
    template <class Ready> bool waitFor(Ready ready, Clock::duration limit) {
        std::unique_lock guard(mutex_);
        const auto until = Clock::now() + limit;
        while (!ready() && !failure_ && !InterruptWatch::interrupted()) {
            if (Clock::now() >= until) return false;
            changed_.wait_for(guard, 100ms);
        }
        return ready();
    }
    std::optional<LegacyFrame> nextFrame() {
        std::lock_guard guard(mutex_);
        if (frames_.empty()) return std::nullopt;
        LegacyFrame f = frames_.front();
        frames_.pop_front();
        return f;
    }
    bool hasFrame() const { return !frames_.empty(); } // under the lock (waitFor)
    long framesReceived() const { return framesReceived_; }
    const std::optional<LegacyEventBlock>& block() const { return block_; }
    const std::optional<LegacyCommandOutcome>& cleared() const { return cleared_; }
    std::optional<LegacyFailure> failure() {
        std::lock_guard guard(mutex_);
        return failure_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<LegacyFrame> frames_;
    long framesReceived_ = 0;
    std::optional<LegacyEventBlock> block_;
    std::optional<LegacyCommandOutcome> cleared_;
    std::optional<LegacyFailure> failure_;
};

std::string_view rejectionText(LegacyRejection r) {
    switch (r) {
    case LegacyRejection::VersionChanged:
        return "its firmware version differs from the frame before it";
    case LegacyRejection::GfTime:
        return "the GF trip time switch is outside its positions 0..10";
    case LegacyRejection::GfLevel:
        return "the GF trip level switch is outside its positions 0..10";
    case LegacyRejection::PulseTime:
        return "the pulse period switch is outside its positions 0..10";
    case LegacyRejection::None:
        break;
    }
    return "";
}

// Every field the window shows for the frame, in the order of its pages: the Summary, then
// "Detailed Status and Config". A field on both pages (the trip time, the amperes) is the same
// value and is listed once.
std::vector<ValueControl> shownFields(const CaptionSet& captions) {
    std::vector<ValueControl> fields;
    std::array<bool, ValueControlCount> listed{};
    for (const StatusPanelLayout& panel : statusPanels())
        for (const StatusSection& section : panel.sections)
            for (ValueControl c : section.values) {
                if (!captions.isShown(c) || listed[controlIndex(c)]) continue;
                listed[controlIndex(c)] = true;
                fields.push_back(c);
            }
    return fields;
}

std::string frameText(long number, const LegacyStatusView& view, bool json) {
    std::ostringstream os;
    const std::string_view unit = unitName(view.identity.model, view.identity.siblingModel);
    const std::vector<ValueControl> fields = shownFields(view.captions);
    if (json) {
        JsonWriter j(os);
        j.beginObject()
            .field("frame", number)
            .field("unit", unit)
            .field("version", view.identity.version)
            .key("fields")
            .beginArray();
        for (ValueControl c : fields)
            j.beginObject()
                .field("name", valueControlName(c))
                .field("caption", view.captions.captionOf(c))
                .field("value", view.values[controlIndex(c)])
                .endObject();
        j.endArray().endObject();
        os << '\n';
    } else {
        os << "frame " << number << '\t' << unit << '\t' << view.version_P.text << '\n';
        for (ValueControl c : fields)
            os << valueControlName(c) << '\t' << view.captions.captionOf(c) << '\t'
               << printable(view.values[controlIndex(c)]) << '\n';
    }
    return os.str();
}

void printEvents(const LegacyEventBlock& block, bool json) {
    LegacyEventGrid grid;
    if (!UpdateLegacyEventList(grid, block)) throw std::runtime_error("the event block was not 50 bytes");
    if (json) {
        JsonWriter j(std::cout);
        j.beginObject().key("records").beginArray();
        for (size_t r = 1; r < grid.cells.size(); ++r) {
            j.beginObject();
            for (size_t c = 0; c < grid.cells[r].size(); ++c) j.field(grid.cells[0][c], grid.cells[r][c]);
            j.endObject();
        }
        j.endArray().endObject();
        std::cout << '\n';
        return;
    }
    std::cout << LegacyEventOrderText << '\n';
    for (const auto& row : grid.cells) {
        for (size_t c = 0; c < row.size(); ++c) std::cout << (c ? "\t" : "") << row[c];
        std::cout << '\n';
    }
}

int legacyCommand(std::span<const std::string> words) {
    Args args(words, {"--frames"}, {"--json", "--events", "--clear"});
    args.expectPositional(1);
    const std::string& link = args.positional()[0];
    const ConnectionSettings settings = linkArgument(link);
    if (settings.linkType != LinkSerialRtu)
        throw UsageError("a legacy unit pushes its frames on a serial line: give serial:DEVICE, not " + link);
    const bool json = args.flag("--json");
    const bool events = args.flag("--events");
    const bool clear = args.flag("--clear");
    // Without --events or --clear the frames are the point: until interrupted unless counted.
    const long frames = args.integer("--frames", (events || clear) ? -1 : 0, 1, 1000000);

    auto collector = std::make_shared<Collector>();
    InlineDispatcher dispatcher;
    Thread_Old740 listener(settings.portName, collector, dispatcher);
    auto failed = [&]() -> std::runtime_error {
        const std::optional<LegacyFailure> f = collector->failure();
        return std::runtime_error(std::string(LegacyFailureText) + " on " + settings.portName + ": " +
                                  (f ? describe(*f) : std::string("no status frame")));
    };

    InterruptWatch watch;

    // A unit is there once one clean frame has come; requests go to it only then, as in the window.
    if (!collector->waitFor([&] { return collector->framesReceived() > 0; }, FirstFrameLimit)) {
        if (InterruptWatch::interrupted())
            throw std::runtime_error("interrupted before the first frame");
        throw failed();
    }

    if (frames >= 0) {
        LegacyStatusState state;
        LegacyIdentityMemory memory;
        CtVoltageSelection selection;
        LegacyStatusView view;
        long shown = 0, decoded = 0;
        auto lastFrame = Clock::now();
        while ((frames == 0 || shown < frames) && !InterruptWatch::interrupted()) {
            collector->waitFor([&] { return collector->hasFrame(); }, 200ms);
            if (collector->failure()) throw failed();
            std::optional<LegacyFrame> frame = collector->nextFrame();
            if (!frame) {
                if (Clock::now() - lastFrame > SilenceLimit)
                    throw std::runtime_error(settings.portName +
                                             " went silent: no status frame for 45 s (after " +
                                             std::to_string(shown) + (shown == 1 ? " frame)" : " frames)"));
                continue;
            }
            lastFrame = Clock::now();
            UpdateLegacyStatus(*frame, state, memory, selection, view);
            ++decoded;
            if (!view.accepted) {
                // The first frame only sets the version the next one is checked against.
                if (decoded > 1)
                    std::cerr << "ktmon740-cli legacy: frame not shown: " << rejectionText(view.rejection)
                              << '\n';
                continue;
            }
            std::cout << frameText(++shown, view, json) << std::flush;
        }
        if (frames > 0 && shown < frames)
            throw std::runtime_error("interrupted after " + std::to_string(shown) + " of " +
                                     std::to_string(frames) + " frames");
    }

    if (events) {
        if (!listener.requestEvents()) throw failed();
        if (!collector->waitFor([&] { return collector->block().has_value(); }, EventBlockLimit)) {
            if (collector->failure()) throw failed();
            throw std::runtime_error(InterruptWatch::interrupted()
                                         ? "interrupted while waiting for the event block"
                                         : settings.portName + " sent no event block (asked with \"d\")");
        }
        printEvents(*collector->block(), json);
    }
    if (clear) {
        if (!listener.requestClear()) throw failed();
        if (!collector->waitFor([&] { return collector->cleared().has_value(); }, EventBlockLimit))
            throw std::runtime_error(InterruptWatch::interrupted()
                                         ? "interrupted before the records were cleared"
                                         : "the clear request (\"c\") was not sent");
        if (*collector->cleared() != LegacyCommandOutcome::Sent)
            throw std::runtime_error("the clear request (\"c\") could not be written to " +
                                     settings.portName);
        if (json)
            std::cout << "{\"cleared\":true}\n";
        else
            std::cout << "clear request sent\n";
    }
    return ExitOk;
}

constexpr Command commands[] = {
    {"legacy", "serial:DEVICE [--frames N] [--json] [--events] [--clear]", legacyCommand},
};

} // namespace

std::span<const Command> legacyCommands() {
    return commands;
}

} // namespace kt::cli
