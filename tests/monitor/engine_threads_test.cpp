// The monitor engine's threads: hand-overs to a GUI queue and their cancellation, stopping while
// the link is busy, a new engine started while the old one still ends, and readers of the
// register values beside the polling thread.
#include "engine_fake_unit.h"

#include <gmock/gmock.h>

namespace {

using namespace kt;
using namespace kt::test;
using Clock = std::chrono::steady_clock;
using ::testing::HasSubstr;

class EngineThreads : public ::testing::Test {
protected:
    FakeResources resources;
    std::string folder() const { return resources.dir.str(); }
};

// Runs queued calls (the GUI loop) until `done` holds or 10 s passed.
template <typename Pred> bool pump(QueuedDispatcher& gui, Pred done) {
    const auto end = Clock::now() + 10s;
    while (!done() && Clock::now() < end)
        if (gui.waitForCall(10ms)) gui.runOne();
    return done();
}

TEST_F(EngineThreads, NotificationsRunOnTheGuiLoopWhileThePollerWaits) {
    FakeLink link(FakeLink::unit());
    QueuedDispatcher gui;
    auto engine = std::make_unique<Monitor_Thread>(link.settings, link.notifier, gui, [&] {
        MonitorOptions o = link.options;
        o.resourcesFolder = folder();
        return o;
    }());
    ASSERT_TRUE(engine->waitForIdentification(10s));
    // The first pass is posted and the poller waits for it: no second pass meanwhile.
    ASSERT_TRUE(gui.waitForCall());
    const int readsAtPost = [&] {
        std::lock_guard g(link.fake().mutex);
        return link.fake().readsDone;
    }();
    std::this_thread::sleep_for(100ms); // twenty poll intervals
    {
        std::lock_guard g(link.fake().mutex);
        EXPECT_EQ(link.fake().readsDone, readsAtPost);
    }
    EXPECT_EQ(link.notifier.passCount(), 0);
    ASSERT_TRUE(gui.runOne());
    EXPECT_EQ(link.notifier.passCount(), 1);
    ASSERT_TRUE(pump(gui, [&] { return link.notifier.passCount() >= 3; }));
}

TEST_F(EngineThreads, AStopCancelsAPendingHandOverForGood) {
    auto notifier = std::make_unique<RecordingNotifier>();
    FakeLink link(FakeLink::unit());
    QueuedDispatcher gui;
    MonitorOptions options = link.options;
    options.resourcesFolder = folder();
    auto engine = std::make_unique<Monitor_Thread>(link.settings, *notifier, gui, options);
    ASSERT_TRUE(engine->waitForIdentification(10s));
    ASSERT_TRUE(gui.waitForCall());
    // The GUI is busy elsewhere; the window disconnects and even deletes the engine.
    engine->requestStop();
    engine->join();
    EXPECT_TRUE(engine->finished());
    engine.reset();
    notifier.reset(); // a cancelled call must not touch it
    // The GUI loop gets round to the queued call: it does nothing.
    EXPECT_TRUE(gui.runOne());
    EXPECT_FALSE(gui.runOne());
}

TEST_F(EngineThreads, ALoaderMessageWaitingForTheGuiIsCancelledByAStop) {
    FakeLink link(FakeLink::unit(290, 2)); // falls back from 2.90 to 2.50: a message first
    QueuedDispatcher gui;
    MonitorOptions options = link.options;
    options.resourcesFolder = folder();
    auto engine = std::make_unique<Monitor_Thread>(link.settings, link.notifier, gui, options);
    ASSERT_TRUE(gui.waitForCall());
    engine->requestStop();
    engine->join();
    EXPECT_FALSE(engine->identified());
    while (gui.runOne()) {
    }
    std::lock_guard g(link.notifier.mutex);
    EXPECT_TRUE(link.notifier.messages.empty());
    EXPECT_EQ(link.notifier.fallbacks, 0); // a stop is no identification failure
}

TEST_F(EngineThreads, AHandOverAlreadyRunningIsWaitedFor) {
    FakeLink link(FakeLink::unit());
    QueuedDispatcher gui;
    MonitorOptions options = link.options;
    options.resourcesFolder = folder();
    std::atomic<bool> insideRefresh{false};
    std::atomic<bool> endedDuringRefresh{false};
    Monitor_Thread* self = nullptr;
    link.notifier.duringPass = [&] {
        insideRefresh = true;
        self->requestStop(); // e.g. the window disconnects from inside the refresh
        std::this_thread::sleep_for(100ms);
        endedDuringRefresh = self->finished();
        insideRefresh = false;
    };
    auto engine = std::make_unique<Monitor_Thread>(link.settings, link.notifier, gui, options);
    self = engine.get();
    ASSERT_TRUE(gui.waitForCall());
    gui.runOne();
    engine->join();
    EXPECT_FALSE(endedDuringRefresh);
    EXPECT_EQ(link.notifier.passCount(), 1);
}

TEST_F(EngineThreads, AStopDuringASlowPassIsSeenBetweenRequests) {
    FakeLink link(FakeLink::unit());
    Monitor_Thread& engine = link.start(folder());
    ASSERT_TRUE(engine.waitForIdentification(10s));
    ASSERT_TRUE(link.notifier.waitForPasses(1));
    {
        std::lock_guard g(link.fake().mutex);
        link.fake().readDelay = 200ms; // each of a pass's five requests
    }
    const int readsBefore = [&] {
        std::lock_guard g(link.fake().mutex);
        return link.fake().readsDone;
    }();
    ASSERT_TRUE(link.fake().waitFor([&](FakeUnit& u) { return u.readsDone > readsBefore + 1; }));
    const int passes = link.notifier.passCount();
    const auto stopAt = Clock::now();
    engine.requestStop();
    engine.join();
    const auto took = Clock::now() - stopAt;
    // The request under way ends, no further one starts, and the cut pass is not handed over.
    std::lock_guard g(link.fake().mutex);
    EXPECT_LE(link.fake().readsDone, readsBefore + 4);
    EXPECT_EQ(link.notifier.passCount(), passes);
    // One request, then the facade's teardown; far below a whole pass plus its retries.
    EXPECT_LT(took, 5s);
}

TEST_F(EngineThreads, AStopEndsTheRetriesOfASilentUnit) {
    auto unit = FakeLink::unit();
    FakeLink link(unit);
    Monitor_Thread& engine = link.start(folder());
    ASSERT_TRUE(engine.waitForIdentification(10s));
    {
        std::lock_guard g(unit->mutex);
        unit->silent = true;
        unit->readDelay = 300ms; // a serial unit waits for answers that never come
    }
    const int before = [&] {
        std::lock_guard g(unit->mutex);
        return unit->readsDone;
    }();
    ASSERT_TRUE(unit->waitFor([&](FakeUnit& u) { return u.readsDone > before; }));
    const int passes = link.notifier.passCount();
    engine.requestStop();
    const int atStop = [&] {
        std::lock_guard g(unit->mutex);
        return unit->readsDone;
    }();
    engine.join();
    std::lock_guard g(unit->mutex);
    EXPECT_LE(unit->readsDone, atStop + 1); // the attempt under way, no retry after it
    EXPECT_EQ(link.notifier.passCount(), passes);
}

TEST_F(EngineThreads, ANewEngineWaitsUntilTheOldOneHasLetGoOfTheLink) {
    std::mutex mutex;
    std::vector<std::string> order;
    auto note = [&](std::string what) {
        std::lock_guard g(mutex);
        order.push_back(std::move(what));
    };

    auto oldLink = std::make_unique<FakeLink>(FakeLink::unit());
    oldLink->onTransportGone = [&] { note("old link closed"); };
    Monitor_Thread& oldEngine = oldLink->start(folder());
    ASSERT_TRUE(oldEngine.waitForIdentification(10s));
    {
        std::lock_guard g(oldLink->fake().mutex);
        oldLink->fake().readDelay = 300ms; // its last pass is slow
    }
    oldEngine.requestStop(); // the window does not wait

    FakeLink newLink(FakeLink::unit(300, 3));
    newLink.onBuild = [&] {
        note(std::string("new link built, old finished: ") + (oldEngine.finished() ? "yes" : "no"));
    };
    Monitor_Thread& newEngine = newLink.start(folder());
    EXPECT_FALSE(oldEngine.finished());
    ASSERT_TRUE(newEngine.waitForIdentification(20s)) << newEngine.failure();
    ASSERT_TRUE(newLink.notifier.waitForPasses(3));
    {
        std::lock_guard g(mutex);
        EXPECT_EQ(order, (std::vector<std::string>{"old link closed", "new link built, old finished: yes"}));
    }
    // The old engine's tables were replaced by the new unit's.
    EXPECT_EQ(newEngine.identification()->registerFile, "registersHV_300.xml");
    EXPECT_EQ(newLink.builds(), 1);
    oldLink.reset(); // deleting the old engine now disturbs nothing
    const int passes = newLink.notifier.passCount();
    ASSERT_TRUE(newLink.notifier.waitForPasses(passes + 2));
}

TEST_F(EngineThreads, ANewEngineAskedToStopWhileWaitingEndsWithoutTouchingTheLink) {
    FakeLink oldLink(FakeLink::unit());
    Monitor_Thread& oldEngine = oldLink.start(folder());
    ASSERT_TRUE(oldEngine.waitForIdentification(10s));

    FakeLink newLink(FakeLink::unit());
    Monitor_Thread& newEngine = newLink.start(folder());
    std::this_thread::sleep_for(50ms);
    newEngine.requestStop();
    newEngine.join(); // returns although the old engine still runs
    EXPECT_TRUE(newEngine.finished());
    EXPECT_EQ(newLink.builds(), 0);
    EXPECT_FALSE(oldEngine.finished());
    EXPECT_FALSE(newEngine.waitForIdentification(0ms));
}

TEST_F(EngineThreads, ReadersNeverSeeAHalfWrittenValue) {
    auto unit = FakeLink::unit();
    // Register 11 is a 16-register text; the unit flips it between two full texts.
    auto text = [](char c) {
        std::vector<uint16_t> words(16, static_cast<uint16_t>(c << 8 | c));
        return words;
    };
    const std::vector<uint16_t> a = text('A'), b = text('B');
    std::atomic<int> flips{0};
    unit->onRead = [&](int first) {
        if (first != 0) return;
        std::lock_guard g(unit->mutex);
        const auto& words = (flips++ % 2) ? a : b;
        std::copy(words.begin(), words.end(), unit->regs.begin() + 11);
    };
    FakeLink link(unit);
    Monitor_Thread& engine = link.start(folder());
    ASSERT_TRUE(engine.waitForIdentification(10s));

    std::atomic<bool> done{false};
    std::atomic<int> torn{0}, reads{0};
    std::jthread reader([&] {
        while (!done) {
            std::string v;
            {
                auto lock = lockRegisterValues();
                v = link.tables.RegisterValues[11].value;
            }
            ++reads;
            if (!v.empty() && v != std::string(32, 'A') && v != std::string(32, 'B')) ++torn;
        }
    });
    // The GUI's own reads beside the poller: the event reader and register texts.
    for (int i = 0; i < 20; ++i) {
        const std::string t = engine.registerText(11, ValueType::Text32);
        EXPECT_TRUE(t == std::string(32, 'A') || t == std::string(32, 'B') || t.empty()) << t;
        engine.readBlock(0, 30);
    }
    ASSERT_TRUE(link.notifier.waitForPasses(20));
    done = true;
    reader.join();
    EXPECT_EQ(torn, 0);
    EXPECT_GT(reads, 0);
}

TEST_F(EngineThreads, TheDestructorStopsAndJoins) {
    auto unit = FakeLink::unit();
    std::weak_ptr<FakeUnit> alive = unit;
    {
        FakeLink link(std::move(unit));
        Monitor_Thread& engine = link.start(folder());
        ASSERT_TRUE(engine.waitForIdentification(10s));
        ASSERT_TRUE(link.notifier.waitForPasses(1));
    }
    // Engine, facade and transport are all gone with it: nothing holds the unit any more.
    EXPECT_TRUE(alive.expired());
}

TEST_F(EngineThreads, ANotifierThatThrowsEndsTheEngineNotTheProcess) {
    FakeLink link(FakeLink::unit());
    link.notifier.duringPass = [] { throw std::runtime_error("refresh failed"); };
    Monitor_Thread& engine = link.start(folder());
    ASSERT_TRUE(engine.waitForIdentification(10s));
    engine.join();
    EXPECT_TRUE(engine.finished());
    EXPECT_THAT(engine.failure(), HasSubstr("refresh failed"));
}

} // namespace
