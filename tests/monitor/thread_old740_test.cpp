// The legacy listener against the simulator's legacy unit: frames in step and out of step, the
// event block, the clear command, a silent line and a port that does not exist.
#include "monitor/thread_old740.h"

#include "tests/support/sim_process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

using namespace kt;
using namespace std::chrono_literals;

namespace {

// Runs posted calls in order on a thread of its own, as the window's event loop does, without
// making the poster wait.
class QueueDispatcher : public GuiDispatcher {
public:
    QueueDispatcher() : thread_([this](std::stop_token stop) { run(stop); }) {}
    ~QueueDispatcher() override {
        thread_.request_stop();
        wake_.notify_all();
    }
    void post(std::function<void()> call) override {
        ++posted;
        {
            std::lock_guard lock(mutex_);
            calls_.push_back(std::move(call));
        }
        wake_.notify_all();
    }
    std::thread::id id() const { return thread_.get_id(); }
    std::atomic<int> posted{0};

private:
    void run(std::stop_token stop) {
        std::unique_lock lock(mutex_);
        while (wake_.wait(lock, stop, [this] { return !calls_.empty(); })) {
            auto call = std::move(calls_.front());
            calls_.pop_front();
            lock.unlock();
            call();
            lock.lock();
        }
    }
    std::mutex mutex_;
    std::condition_variable_any wake_;
    std::deque<std::function<void()>> calls_;
    std::jthread thread_;
};

// What the window would be told.
struct Recorder : LegacyNotifier {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<LegacyFrame> frames;
    std::vector<LegacyEventBlock> blocks;
    std::vector<LegacyFailure> failures;
    std::vector<LegacyCommandOutcome> clears;
    std::vector<std::thread::id> threads;

    template <class F> void record(F f) {
        std::lock_guard g(mutex);
        threads.push_back(std::this_thread::get_id());
        f();
        changed.notify_all();
    }
    void legacyStatusUpdate(const LegacyFrame& frame) override {
        record([&] { frames.push_back(frame); });
    }
    void legacyEventUpdate(const LegacyEventBlock& block) override {
        record([&] { blocks.push_back(block); });
    }
    void legacyFailure(const LegacyFailure& failure) override {
        record([&] { failures.push_back(failure); });
    }
    void legacyClearDone(LegacyCommandOutcome outcome) override {
        record([&] { clears.push_back(outcome); });
    }
    template <class Pred> bool waitFor(Pred pred, std::chrono::milliseconds timeout = 10s) {
        std::unique_lock g(mutex);
        return changed.wait_for(g, timeout, pred);
    }
};

LegacyTimings quickTimings() {
    LegacyTimings t;
    t.openSettle = 50ms;
    return t;
}

struct Rig {
    explicit Rig(std::vector<std::string> simArgs, LegacyTimings timings = quickTimings())
        : sim(withLegacy(std::move(simArgs))), notifier(std::make_shared<Recorder>()),
          listener(std::make_unique<Thread_Old740>(sim.legacyDevice(), notifier, dispatcher, timings)) {}

    static std::vector<std::string> withLegacy(std::vector<std::string> args) {
        args.insert(args.begin(), "--legacy");
        return args;
    }
    // Sequence numbers (byte 20) of the frames delivered so far.
    std::vector<int> sequences() {
        std::lock_guard g(notifier->mutex);
        std::vector<int> out;
        for (const LegacyFrame& f : notifier->frames) out.push_back(f[LegacyByte::Spare]);
        return out;
    }

    kt::test::SimProcess sim;
    QueueDispatcher dispatcher;
    std::shared_ptr<Recorder> notifier;
    std::unique_ptr<Thread_Old740> listener;
};

} // namespace

TEST(LegacyListener, SpoiledFramesAreDroppedAndCleanOnesDelivered) {
    // Every third frame with a noise byte before it; every fourth cut short.
    struct Case {
        const char* option;
        int every;
    } cases[] = {{"--noise-every", 3}, {"--partial-every", 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option);
        Rig rig({c.option, std::to_string(c.every), "--frame-ms", "60", "--model-type", "3", "--switches",
                 "7,5,1"});
        ASSERT_TRUE(rig.notifier->waitFor([&] { return rig.notifier->frames.size() >= 8; }));
        rig.listener->requestStop();
        rig.listener->join();
        EXPECT_TRUE(rig.listener->finished());
        const std::vector<int> seq = rig.sequences();
        for (int n : seq) EXPECT_NE(n % c.every, 0) << "frame " << n << " was spoiled but delivered";
        // Frames in step follow each other: some pairs of consecutive clean frames arrived.
        int followers = 0;
        for (size_t i = 1; i < seq.size(); ++i) followers += seq[i] == seq[i - 1] + 1;
        EXPECT_GT(followers, 0);
        std::lock_guard g(rig.notifier->mutex);
        const LegacyFrame& f = rig.notifier->frames.back();
        EXPECT_EQ(f[LegacyByte::Identification], 0x8A); // KT-740HV, version 10
        EXPECT_EQ(f[LegacyByte::GfTime], 7);
        EXPECT_EQ(f[LegacyByte::GfLevel], 5);
        EXPECT_TRUE(rig.notifier->failures.empty());
        for (std::thread::id id : rig.notifier->threads) EXPECT_EQ(id, rig.dispatcher.id());
    }
}

TEST(LegacyListener, EventBlockOnRequestAndClear) {
    Rig rig({"--events", "3"});
    ASSERT_TRUE(rig.notifier->waitFor([&] { return !rig.notifier->frames.empty(); }));
    ASSERT_TRUE(rig.listener->requestEvents());
    ASSERT_TRUE(rig.notifier->waitFor([&] { return rig.notifier->blocks.size() == 1; }));
    {
        std::lock_guard g(rig.notifier->mutex);
        const LegacyEventRecords records = decodeLegacyEventBlock(rig.notifier->blocks[0]).value();
        // The simulator's preset records 2, 1, 0, newest first, then nothing.
        EXPECT_EQ(records[0], (LegacyEventRecord{16, 12, 22, -48}));
        EXPECT_EQ(records[1], (LegacyEventRecord{2, 11, 21, -49}));
        EXPECT_EQ(records[2], (LegacyEventRecord{1, 10, 20, -50}));
        EXPECT_EQ(records[3], LegacyEventRecord{});
    }

    ASSERT_TRUE(rig.listener->requestClear());
    ASSERT_TRUE(rig.listener->requestEvents());
    ASSERT_TRUE(rig.notifier->waitFor([&] { return rig.notifier->blocks.size() == 2; }));
    {
        std::lock_guard g(rig.notifier->mutex);
        EXPECT_THAT(rig.notifier->clears, ::testing::ElementsAre(LegacyCommandOutcome::Sent));
        EXPECT_EQ(rig.notifier->blocks[1], LegacyEventBlock{}); // cleared: a zero block
    }
    // Frames keep coming around the requests.
    const size_t frames = rig.sequences().size();
    ASSERT_TRUE(rig.notifier->waitFor([&] { return rig.notifier->frames.size() > frames + 2; }));
    rig.listener.reset();
    const std::vector<std::string> log = rig.sim.logLines();
    const auto count = [&](const std::string& line) { return std::count(log.begin(), log.end(), line); };
    EXPECT_EQ(count("legacy request=c"), 1);
    EXPECT_GE(count("legacy request=d"), 2);
    EXPECT_EQ(rig.sim.stop(), 0);
}

TEST(LegacyListener, SilentLineFailsAfterTenCycles) {
    const auto started = std::chrono::steady_clock::now();
    Rig rig({"--silent"}, LegacyTimings{});
    ASSERT_TRUE(rig.notifier->waitFor([&] { return !rig.notifier->failures.empty(); }, 20s));
    const auto took = std::chrono::steady_clock::now() - started;
    rig.listener->join();
    EXPECT_TRUE(rig.listener->finished());
    std::lock_guard g(rig.notifier->mutex);
    ASSERT_EQ(rig.notifier->failures.size(), 1u);
    EXPECT_EQ(rig.notifier->failures[0].reason, LegacyFailureReason::NoFrames);
    EXPECT_EQ(rig.notifier->failures[0].misses, 10);
    EXPECT_EQ(describe(rig.notifier->failures[0]), "no status frame in 10 tries");
    // Ten reads that each waited their full time.
    EXPECT_GE(took, 10 * LegacyTimings{}.readTotal);
    EXPECT_TRUE(rig.notifier->frames.empty());
    EXPECT_FALSE(rig.listener->requestEvents()); // nobody listens any more
}

TEST(LegacyListener, SilenceAfterTheFirstFrameNeverEndsIt) {
    LegacyTimings t = quickTimings();
    t.readTotal = 40ms; // ten misses in about half a second
    Rig rig({"--silence-after", "20", "--frame-ms", "30"}, t);
    ASSERT_TRUE(rig.notifier->waitFor([&] { return !rig.notifier->frames.empty(); }));
    // The unit's last frame, then silence for several times the listener's ten misses.
    const auto until = std::chrono::steady_clock::now() + 10s;
    auto lastFrameSent = [&] {
        const auto log = rig.sim.logLines();
        return std::find(log.begin(), log.end(), "legacy frame=20") != log.end();
    };
    while (!lastFrameSent() && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(lastFrameSent());
    std::this_thread::sleep_for(1500ms);
    EXPECT_FALSE(rig.listener->finished());
    std::lock_guard g(rig.notifier->mutex);
    EXPECT_TRUE(rig.notifier->failures.empty());
    EXPECT_LE(rig.notifier->frames.size(), 20u);
}

TEST(LegacyListener, PortThatCannotBeOpened) {
    QueueDispatcher dispatcher;
    auto notifier = std::make_shared<Recorder>();
    Thread_Old740 listener("/dev/kt-no-such-port", notifier, dispatcher, quickTimings());
    ASSERT_TRUE(notifier->waitFor([&] { return !notifier->failures.empty(); }));
    listener.join();
    std::lock_guard g(notifier->mutex);
    EXPECT_EQ(notifier->failures[0].reason, LegacyFailureReason::CannotOpenPort);
    EXPECT_THAT(describe(notifier->failures[0]), ::testing::HasSubstr("/dev/kt-no-such-port"));
}

TEST(LegacyListener, NothingArrivesAfterTheStopRequest) {
    Rig rig({"--frame-ms", "20"});
    ASSERT_TRUE(rig.notifier->waitFor([&] { return !rig.notifier->frames.empty(); }));
    const int before = rig.dispatcher.posted;
    rig.listener->requestStop();
    EXPECT_FALSE(rig.listener->requestClear());
    EXPECT_FALSE(rig.listener->requestEvents());
    rig.listener->join();
    // At most the frame the listener was handing over as the request came.
    EXPECT_LE(rig.dispatcher.posted, before + 1);
}
