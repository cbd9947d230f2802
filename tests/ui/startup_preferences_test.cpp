// Starting on stored preferences that cannot work: the window shows itself without a dialog, stays
// offline and tells on the Communication page what was repaired or could not be used.
#include "tests/support/sim_process.h"
#include "tests/ui/main_form_fixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gmock/gmock.h>

#include <fstream>
#include <random>

namespace {

using kt::test::MainFormTest;
using ::testing::HasSubstr;

class StartupPreferencesTest : public MainFormTest {
protected:
    std::string notice() { return text("Notice_L").toStdString(); }
    bool noticeShown() { return child<QWidget>("Notice_L")->isVisible(); }
};

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::string randomBytes(size_t n) {
    std::mt19937 rng(740);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng());
    return s;
}

TEST_F(StartupPreferencesTest, StoredValuesThatCannotWorkAreToldInTheWindowWhichStaysOffline) {
    const std::string notAPort = dir.file("not-a-port");
    writeFile(notAPort, "a plain file\n");
    struct Case {
        const char* name;
        std::string ini; // the stored file as it is on disk
        std::vector<std::string> says;
    } cases[] = {
        {"address 999.1.1.1",
         "[Preferences]\nuse_settings=true\nrunning=true\nnetwork=1\nip_address=999.1.1.1\n",
         {"Reset to their defaults: ", "ip_address", "running"}},
        {"a port that is a plain file",
         "[Preferences]\nuse_settings=true\nrunning=true\nnetwork=0\nport=" + notAPort + "\n",
         {"Not connected at start: Cannot Open ComPort.", notAPort}},
        {"a 10 MB port name",
         "[Preferences]\nuse_settings=true\nrunning=true\nnetwork=0\nport=" + std::string(10'000'000, 'A') +
             "\n",
         {"The stored preferences were damaged", "port", "running"}},
        {"junk with no preferences left", randomBytes(300), {"The stored preferences were damaged"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        iniName = std::string("start") + std::to_string(&c - cases) + ".ini";
        writeFile(dir.file(iniName), c.ini);
        messages.clear();
        kt::TMainForm& w = start();
        w.show();
        // The reconnect at start comes once the window is shown; give it the time to fail.
        waitFor([&] { return notice().find("Not connected at start") != std::string::npos; },
                std::chrono::milliseconds(1500));
        EXPECT_TRUE(messages.empty()) << messages[0].text.toStdString();
        EXPECT_TRUE(noticeShown());
        for (const std::string& part : c.says) EXPECT_THAT(notice(), HasSubstr(part));
        EXPECT_FALSE(w.linkActive());
        EXPECT_EQ(text("netstatus_P"), "OFFLINE");
        EXPECT_EQ(text("Comm_Button"), "Enable");
        EXPECT_EQ(child<QTabWidget>("PageControl1")->currentWidget(), child<QWidget>("TabCommunication"));
        // What was repaired is stored repaired: the next start is clean.
        window.reset();
        store.reset();
        EXPECT_LT(QFileInfo(iniPath()).size(), 100'000);
        messages.clear();
        start().show();
        QTest::qWait(100);
        EXPECT_TRUE(messages.empty());
        EXPECT_FALSE(window->linkActive());
        window.reset();
        store.reset();
    }
}

TEST_F(StartupPreferencesTest, ANoticeStaysUntilTheOperatorConnects) {
    kt::test::SimProcess sim({"--tcp", "127.0.0.1:0", "--firmware", "300", "--set", "199=1"});
    writeFile(dir.file(iniName),
              "[Preferences]\nuse_settings=true\nrunning=true\nnetwork=1\nip_address=999.1.1.1\n");
    kt::TMainForm& w = start();
    w.show();
    ASSERT_TRUE(noticeShown());
    // A failed attempt is added to what is already said.
    child<QLineEdit>("ip_E")->setText("999.2.2.2");
    child<QPushButton>("Comm_Button")->click();
    ASSERT_EQ(messages.size(), 1u); // the operator's own attempt is answered in a dialog
    EXPECT_TRUE(noticeShown());
    EXPECT_THAT(notice(), HasSubstr("ip_address"));

    w.selectLink(*kt::parseLink(sim.tcpLink()));
    child<QPushButton>("Comm_Button")->click();
    ASSERT_TRUE(w.linkActive());
    EXPECT_FALSE(noticeShown());
    EXPECT_EQ(notice(), "");
}

// The program itself, as an operator starts it: with a stored port that is no port and "running"
// it still shows its window, takes the picture and ends.
TEST_F(StartupPreferencesTest, TheProgramStartsAndTakesItsScreenshotOnPreferencesThatCannotWork) {
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    ASSERT_FALSE(config.isEmpty());
    ASSERT_TRUE(QDir().mkpath(config + "/Corvane"));
    const std::string conf = (config + "/Corvane/KTMON740.conf").toStdString();
    const std::string notAPort = dir.file("not-a-port");
    writeFile(notAPort, "a plain file\n");
    writeFile(conf, "[Preferences]\nuse_settings=true\nrunning=true\nnetwork=0\nport=" + notAPort + "\n");
    const std::string picture = dir.file("start.png");
    auto run =
        kt::test::runCommand({kt::test::binPath("ktmon740"), "--screenshot", picture, "--after", "1000"},
                             std::chrono::seconds(30));
    QFile::remove(QString::fromStdString(conf));
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_GT(QFileInfo(QString::fromStdString(picture)).size(), 0);
}

} // namespace
