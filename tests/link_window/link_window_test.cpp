// The main window when the link stalls under a request: Disable and closing the window while a
// unit command or a clock write waits behind a poll that gets no answer (the simulator stopped
// with SIGSTOP) or a slow one (answers held back). The window ends the connection at once and
// cleanly, the waiting request never reaches the unit and is never reported as "Done", and
// nothing of the ended connection reaches the next one. The window is used through its object
// names and menu actions only.
#include "tests/support/sim_process.h"
#include "tests/ui/main_form_fixture.h"

#include <QAction>
#include <QPushButton>

#include <gmock/gmock.h>

#include <algorithm>
#include <csignal>

namespace {

using kt::MessageResult;
using kt::test::MainFormTest;
using kt::test::SimProcess;
using namespace std::chrono_literals;

// Keeps the simulator stopped (SIGSTOP) until resumed or destroyed, so that a failing test never
// leaves it stopped.
class Stopped {
public:
    explicit Stopped(const SimProcess& sim) : pid_(sim.pid()) { ::kill(pid_, SIGSTOP); }
    ~Stopped() { resume(); }
    Stopped(const Stopped&) = delete;
    Stopped& operator=(const Stopped&) = delete;
    void resume() {
        if (pid_ > 0) ::kill(pid_, SIGCONT);
        pid_ = -1;
    }

private:
    int pid_;
};

class LinkWindowTest : public MainFormTest {
protected:
    std::unique_ptr<SimProcess> startSim(std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"--tcp", "127.0.0.1:0", "--firmware", "300", "--set", "199=1"};
        args.insert(args.end(), extra.begin(), extra.end());
        return std::make_unique<SimProcess>(args);
    }
    // The window, connected to the simulator at start-up, online.
    void connect(const SimProcess& sim) {
        start(*kt::parseLink(sim.tcpLink())).show();
        ASSERT_TRUE(waitFor([&] { return text("netstatus_P") == "ONLINE"; }))
            << text("netstatus_P").toStdString();
    }
    void trigger(const char* action) { child<QAction>(action)->trigger(); }
    static bool logged(const SimProcess& sim, const std::string& prefix) {
        const auto lines = sim.logLines();
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& l) { return l.starts_with(prefix); });
    }
    bool saidDone() const {
        return std::any_of(messages.begin(), messages.end(), [](const auto& m) { return m.text == "Done"; });
    }
    // Runs the event loop for `time`, as the window would go on living.
    static void live(std::chrono::milliseconds time) { QTest::qWait(static_cast<int>(time.count())); }
};

constexpr const char* ResetCommand = "fc=16 start=6 count=1 values=5";
constexpr const char* ClockWrite = "fc=16 start=152 count=2";

// Disable while Reset to Defaults waits behind a poll that the stopped unit does not answer.
TEST_F(LinkWindowTest, DisableCancelsAQueuedCommandAndTheNextConnectionHearsNothingOfIt) {
    auto sim = startSim();
    connect(*sim);
    {
        Stopped stopped(*sim);
        live(1000ms); // the next poll pass (750 ms apart) now waits for the stopped unit
        trigger("mnuRemoteCal");
        trigger("ResettoDefaults1"); // queued behind the poll and the calibration
        live(100ms);
        child<QPushButton>("Comm_Button")->click(); // Disable
        EXPECT_EQ(text("Comm_Button"), "Enable");
        EXPECT_EQ(text("netstatus_P"), "OFFLINE");
        live(1500ms); // the ended connection's poll gives up meanwhile
    }
    // The unit runs again: Enable, and the new connection polls it.
    child<QPushButton>("Comm_Button")->click();
    ASSERT_TRUE(waitFor([&] { return text("netstatus_P") == "ONLINE"; }))
        << text("netstatus_P").toStdString();
    live(2000ms); // several passes, and time for any result of the old connection to arrive
    EXPECT_FALSE(logged(*sim, ResetCommand)) << "the cancelled command reached the unit";
    EXPECT_FALSE(saidDone());
    EXPECT_TRUE(messages.empty()) << messages.front().text.toStdString();
    EXPECT_EQ(text("Comm_Button"), "Disable");
}

// Closing the window while the clock write (register writes, then command 3) waits: the window
// goes, the writes never reach the unit.
TEST_F(LinkWindowTest, ClosingTheWindowWithAWriteQueuedEndsCleanly) {
    auto sim = startSim();
    connect(*sim);
    {
        Stopped stopped(*sim);
        live(1000ms); // the next poll pass now waits for the stopped unit
        answer = MessageResult::Yes; // "Use the time and date on this computer ...?"
        trigger("mnuSetDate");
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].title, "Set Date//Time");
        live(100ms);
        window->close();
        window.reset(); // ends the connection; must neither hang nor crash
    }
    live(1500ms);
    EXPECT_FALSE(logged(*sim, ClockWrite)) << "the cancelled clock write reached the unit";
    EXPECT_FALSE(logged(*sim, "fc=16 start=6 count=1 values=3"));
    EXPECT_EQ(messages.size(), 1u); // only the question
    EXPECT_TRUE(sim->running());
}

// A slow unit (answers held back 600 ms, within the program's 1 s answer wait): Disable and
// closing while a command is under way or waiting. Whether it reached the unit depends on where it was, but it is never reported "Done"
// once its connection has ended, and the window ends cleanly.
TEST_F(LinkWindowTest, ASlowUnitsCommandIsNeverDoneAfterTheConnectionEnded) {
    for (bool close : {false, true}) {
        SCOPED_TRACE(close ? "closing the window" : "Disable");
        iniName = close ? "close.ini" : "disable.ini";
        messages.clear();
        auto sim = startSim({"--delay-ms", "600"});
        start(*kt::parseLink(sim->tcpLink())).show();
        ASSERT_TRUE(waitFor([&] { return text("netstatus_P") == "ONLINE"; }, 30s));
        trigger("ResettoDefaults1");
        live(300ms);
        if (close) {
            window->close();
            window.reset();
        } else {
            child<QPushButton>("Comm_Button")->click();
            EXPECT_EQ(text("Comm_Button"), "Enable");
        }
        live(4000ms); // long enough for the unit to have answered everything sent
        EXPECT_FALSE(saidDone());
        EXPECT_TRUE(messages.empty()) << messages.front().text.toStdString();
        window.reset();
        store.reset();
    }
}

} // namespace
