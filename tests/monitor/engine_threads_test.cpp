// The monitor engine's threads: notifications queued for a GUI loop, stopping while the link is
// busy, a new engine started while the old one still ends, and readers of the pass snapshots
// beside the polling thread.
#include "engine_fake_unit.h"

#include <gmock/gmock.h>

#include <future>

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

TEST_F(EngineThreads, PassesGoOnWhileTheGuiIsBusyAndEachKeepsItsOwnValues) {
    auto unit = FakeLink::unit();
    // Register 10 counts the passes' first requests.
    unit->onRead = [&](int first) {
        if (first != 0) return;
        std::lock_guard g(unit->mutex);
        ++unit->regs[10];
    };
    FakeLink link(unit);
    QueuedDispatcher gui;
    MonitorOptions options = link.options;
    options.resourcesFolder = folder();
    auto engine = std::make_unique<Monitor_Thread>(link.settings, link.notifier, gui, options);
    ASSERT_TRUE(engine->waitForIdentification(10s));
    // The GUI does not get round to its queue: the engine does not wait for it.
    ASSERT_TRUE(unit->waitFor([](FakeUnit& u) { return u.regs[10] > 6; }));
    EXPECT_EQ(link.notifier.passCount(), 0);
    // Each queued pass shows the values of its own pass, in order.
    std::vector<std::string> seen;
    link.notifier.duringPass = [&](const PassSnapshot& p) { seen.push_back(p.values[10].value); };
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(gui.runOne());
    ASSERT_EQ(seen.size(), 4u);
    for (size_t i = 1; i < seen.size(); ++i) EXPECT_EQ(std::stoi(seen[i]), std::stoi(seen[i - 1]) + 1);
    engine->requestStop();
    engine->join();
}

TEST_F(EngineThreads, CallsQueuedForADeletedEngineDoNothing) {
    auto notifier = std::make_unique<RecordingNotifier>();
    FakeLink link(FakeLink::unit());
    QueuedDispatcher gui;
    MonitorOptions options = link.options;
    options.resourcesFolder = folder();
    auto engine = std::make_unique<Monitor_Thread>(link.settings, *notifier, gui, options);
    ASSERT_TRUE(engine->waitForIdentification(10s));
    ASSERT_TRUE(gui.waitForCall());
    Results<WriteResult> results;
    engine->writeRegister16(1, results.sink());
    // The GUI is busy elsewhere; the window disconnects and even deletes the engine.
    engine->requestStop();
    engine->join();
    EXPECT_TRUE(engine->finished());
    EXPECT_FALSE(engine->idle()); // calls still wait in the GUI's queue
    engine.reset();
    notifier.reset(); // a queued call must not touch it
    // The GUI loop gets round to the queued calls: they do nothing.
    while (gui.runOne()) {
    }
    EXPECT_EQ(results.count(), 0u);
}

TEST_F(EngineThreads, AnEngineIsIdleOnlyOnceItsResultsHaveRun) {
    FakeLink link(FakeLink::unit());
    QueuedDispatcher gui;
    MonitorOptions options = link.options;
    options.resourcesFolder = folder();
    auto engine = std::make_unique<Monitor_Thread>(link.settings, link.notifier, gui, options);
    ASSERT_TRUE(engine->waitForIdentification(10s));
    Results<WriteResult> results;
    engine->requestStop();
    engine->writeRegister16(1, results.sink()); // too late: cancelled
    engine->join();
    EXPECT_TRUE(engine->finished());
    EXPECT_FALSE(engine->idle());
    while (gui.runOne()) {
    }
    EXPECT_TRUE(engine->idle());
    auto r = results.wait(1, 0ms);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->link.status, LinkStatus::Cancelled);
    // Notifications of a stopped engine were dropped; the cancellation was not.
    EXPECT_EQ(link.notifier.passCount(), 0);
}

TEST_F(EngineThreads, ALoaderMessageQueuedBeforeAStopIsDropped) {
    FakeLink link(FakeLink::unit(290, 2)); // falls back from 2.90 to 2.50: a message first
    QueuedDispatcher gui;
    MonitorOptions options = link.options;
    options.resourcesFolder = folder();
    auto engine = std::make_unique<Monitor_Thread>(link.settings, link.notifier, gui, options);
    ASSERT_TRUE(gui.waitForCall());
    engine->requestStop();
    engine->join();
    while (gui.runOne()) {
    }
    std::lock_guard g(link.notifier.mutex);
    EXPECT_TRUE(link.notifier.messages.empty());
    EXPECT_EQ(link.notifier.fallbacks, 0); // a stop is no identification failure
}

TEST_F(EngineThreads, AStopFromInsideAPassNotificationEndsTheEngine) {
    FakeLink link(FakeLink::unit());
    // The first pass may come before start() has returned: the callback waits for the engine.
    std::promise<Monitor_Thread*> started;
    std::shared_future<Monitor_Thread*> self = started.get_future().share();
    link.notifier.duringPass = [self](const PassSnapshot&) { self.get()->requestStop(); };
    Monitor_Thread& engine = link.start(folder());
    started.set_value(&engine);
    engine.join();
    EXPECT_TRUE(engine.finished());
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
    std::atomic<int> readsStarted{0};
    oldLink->fake().onRead = [&](int) { ++readsStarted; };
    Monitor_Thread& oldEngine = oldLink->start(folder());
    ASSERT_TRUE(oldEngine.waitForIdentification(10s));
    {
        std::lock_guard g(oldLink->fake().mutex);
        oldLink->fake().readDelay = 300ms; // its last pass is slow
    }
    // Stopped in the middle of a slow read, so it is still ending when the new one starts.
    const int before = readsStarted;
    while (readsStarted < before + 2) std::this_thread::sleep_for(1ms);
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

TEST_F(EngineThreads, SnapshotsAreReadBesideThePollerWithoutLocks) {
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
    auto reader = [&] {
        while (!done) {
            PassSnapshotPtr pass = engine.lastPass();
            if (!pass) continue;
            const std::string v = pass->values[11].value;
            const std::string t = pass->registerText(11, ValueType::Text32);
            ++reads;
            if (v != std::string(32, 'A') && v != std::string(32, 'B')) ++torn;
            if (t != v) ++torn;
        }
    };
    std::jthread r1(reader), r2(reader);
    ASSERT_TRUE(link.notifier.waitForPasses(20));
    done = true;
    r1.join();
    r2.join();
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
    link.notifier.duringPass = [](const PassSnapshot&) { throw std::runtime_error("refresh failed"); };
    Monitor_Thread& engine = link.start(folder());
    ASSERT_TRUE(engine.waitForIdentification(10s));
    engine.join();
    EXPECT_TRUE(engine.finished());
    EXPECT_THAT(engine.failure(), HasSubstr("refresh failed"));
}

} // namespace
