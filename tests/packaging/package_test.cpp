#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <thread>

namespace {

namespace fs = std::filesystem;
using kt::test::readFile;
using kt::test::runCommand;
using kt::test::splitLines;
using kt::test::TempDir;
using namespace std::chrono_literals;

// One package for all tests: cpack from the build's install rules into a folder of its own,
// then unpacked into an empty root with dpkg, as it lands on a user's machine.
class Package : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        work = new TempDir;
        auto made =
            runCommand({"/usr/bin/cpack", "--config", std::string(KT_BUILD_DIR) + "/CPackConfig.cmake", "-B",
                        work->file("cpack"), "-D", "CPACK_OUTPUT_FILE_PREFIX=" + work->file("out")},
                       300s);
        buildLog = made.out + made.err;
        if (made.exitCode != 0) return;
        for (const auto& entry : fs::directory_iterator(work->file("out")))
            if (entry.path().extension() == ".deb") deb = entry.path().string();
        if (!deb.empty()) unpacked = runCommand({"/usr/bin/dpkg", "-x", deb, root()}, 120s).exitCode == 0;
    }
    static void TearDownTestSuite() {
        delete work;
        work = nullptr;
    }
    void SetUp() override {
        ASSERT_FALSE(deb.empty()) << "cpack made no package:\n" << buildLog;
        ASSERT_TRUE(unpacked) << "dpkg -x failed on " << deb;
    }

    static std::string root() { return work->file("root"); }
    static std::string installed(const std::string& path) { return root() + path; }
    static std::string field(const std::string& name) {
        auto r = runCommand({"/usr/bin/dpkg-deb", "-f", deb, name});
        return r.out.empty() ? "" : r.out.substr(0, r.out.find_last_not_of('\n') + 1);
    }

    static inline TempDir* work = nullptr;
    static inline std::string deb;
    static inline std::string buildLog;
    static inline bool unpacked = false;
};

TEST_F(Package, DescribesItselfAndHoldsEveryPart) {
    EXPECT_EQ(fs::path(deb).filename(), "ktmon740_4.1_amd64.deb");
    EXPECT_EQ(field("Package"), "ktmon740");
    EXPECT_EQ(field("Version"), "4.1");
    EXPECT_EQ(field("Architecture"), "amd64");
    // dpkg-shlibdeps found the libraries the programs link.
    const std::string depends = field("Depends");
    for (const char* lib : {"libqt6widgets6", "libmodbus5", "libc6", "qt6-qpa-plugins"})
        EXPECT_NE(depends.find(lib), std::string::npos) << lib << " missing from: " << depends;

    for (const char* path : {
             "/usr/lib/ktmon740/ktmon740",
             "/usr/lib/ktmon740/ktmon740-cli",
             "/usr/lib/ktmon740/kt740sim",
             "/usr/lib/ktmon740/resources/registers_300.xml",
             "/usr/lib/ktmon740/resources/KT-740.icd",
             "/usr/lib/ktmon740/help/KT-MON740-R0-I-113019.pdf",
             "/usr/lib/ktmon740/setpoint assistant/kt_index.html",
             "/usr/share/applications/example.corvane_relays.ktmon740.desktop",
             "/usr/share/icons/hicolor/scalable/apps/example.corvane_relays.ktmon740.svg",
             "/usr/share/metainfo/example.corvane_relays.ktmon740.metainfo.xml",
             "/usr/share/man/man1/ktmon740.1.gz",
             "/usr/share/man/man1/ktmon740-cli.1.gz",
             "/usr/share/man/man1/kt740sim.1.gz",
         })
        EXPECT_TRUE(fs::is_regular_file(installed(path))) << path;
    EXPECT_FALSE(fs::exists(installed("/usr/lib/ktmon740/resources/CMakeLists.txt")));

    for (const char* program : {"ktmon740", "ktmon740-cli", "kt740sim"}) {
        const std::string link = installed(std::string("/usr/bin/") + program);
        ASSERT_TRUE(fs::is_symlink(link)) << link;
        EXPECT_EQ(fs::read_symlink(link), fs::path("../lib/ktmon740") / program);
    }
    // Installed programs carry no debugging information (CPACK_STRIP_FILES).
    auto sections = runCommand({"/usr/bin/objdump", "-h", installed("/usr/lib/ktmon740/ktmon740")});
    EXPECT_EQ(sections.out.find(".debug_info"), std::string::npos);
}

TEST_F(Package, DesktopFilesPassTheirValidators) {
    auto desktop = runCommand({"/usr/bin/desktop-file-validate",
                               installed("/usr/share/applications/example.corvane_relays.ktmon740.desktop")});
    EXPECT_EQ(desktop.exitCode, 0) << desktop.out << desktop.err;
    auto metainfo =
        runCommand({"/usr/bin/appstreamcli", "validate", "--no-net", "--explain",
                    installed("/usr/share/metainfo/example.corvane_relays.ktmon740.metainfo.xml")});
    EXPECT_EQ(metainfo.exitCode, 0) << metainfo.out << metainfo.err;
    for (const char* page : {"ktmon740", "ktmon740-cli", "kt740sim"}) {
        // groff's warnings are what a broken page shows; a good one renders silently.
        auto man = runCommand({"/usr/bin/sh", "-c", "zcat \"$0\" | groff -man -Tutf8 -ww -z",
                               installed(std::string("/usr/share/man/man1/") + page + ".1.gz")});
        EXPECT_EQ(man.exitCode, 0) << page;
        EXPECT_EQ(man.err, "") << page;
    }
}

TEST_F(Package, InstalledToolFindsItsRegisterFiles) {
    auto r = runCommand({installed("/usr/bin/ktmon740-cli"), "regfile", "--firmware", "300"}, 60s);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    // The file chosen is the one installed beside the tool, not one from the build.
    EXPECT_NE(r.out.find(installed("/usr/lib/ktmon740/resources/registers_300.xml")), std::string::npos)
        << r.out;
}

TEST_F(Package, InstalledWindowStartsWithItsData) {
    // The window lists the device templates of its resources at start-up and saves a picture
    // of itself; the preferences go to a folder of the test's own.
    TempDir home;
    const std::string shot = home.file("window.png");
    auto r = runCommand({"/usr/bin/env", "QT_QPA_PLATFORM=offscreen", "XDG_CONFIG_HOME=" + home.str(),
                         installed("/usr/bin/ktmon740"), "--screenshot", shot, "--after", "0"},
                        60s);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(fs::is_regular_file(shot));
    EXPECT_TRUE(fs::is_regular_file(home.file("Corvane/KTMON740.conf")));
}

TEST_F(Package, InstalledSimulatorAnswersTheInstalledTool) {
    TempDir run;
    int pid = kt::test::spawnProcess({installed("/usr/bin/kt740sim"), "--tcp", "127.0.0.1:0", "--firmware",
                                      "300", "--serial", "4242", "--exit-with-parent"},
                                     run.file("out"), run.file("err"));
    ASSERT_GT(pid, 0);
    std::string endpoint;
    for (auto until = std::chrono::steady_clock::now() + 20s;
         endpoint.empty() && std::chrono::steady_clock::now() < until;) {
        for (const auto& line : splitLines(readFile(run.file("out"))))
            if (line.starts_with("listening tcp ")) endpoint = line.substr(14);
        if (endpoint.empty()) std::this_thread::sleep_for(20ms);
    }
    // Served from the installed register file.
    const std::string notes = readFile(run.file("err"));
    std::string identify, serial;
    if (!endpoint.empty()) {
        auto r = runCommand({installed("/usr/bin/ktmon740-cli"), "identify", "tcp://" + endpoint}, 60s);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        identify = r.out;
        r = runCommand({installed("/usr/bin/ktmon740-cli"), "read", "tcp://" + endpoint, "2", "1"}, 60s);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        serial = r.out;
    }
    ::kill(pid, SIGTERM);
    EXPECT_EQ(kt::test::waitProcess(pid, 10s), 0);
    ASSERT_FALSE(endpoint.empty()) << "the installed simulator did not start: " << readFile(run.file("err"));
    EXPECT_NE(notes.find(installed("/usr/lib/ktmon740/resources/registers_300.xml")), std::string::npos)
        << notes;
    EXPECT_NE(identify.find("firmware\t300\n"), std::string::npos) << identify;
    EXPECT_NE(identify.find("register file\tregisters_300.xml\n"), std::string::npos) << identify;
    EXPECT_EQ(serial, "2\t4242\n");
}

} // namespace
