// The test-support helpers that other tests rely on to run programs.

#include "tests/support/process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

using namespace kt::test;
using ::testing::ElementsAre;

TEST(TestSupport, RunCommandCapturesOutputAndExitCode) {
    auto r = runCommand({"/bin/sh", "-c", "cat; echo out; echo err >&2; exit 3"}, 30s, "typed\n");
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.out, "typed\nout\n");
    EXPECT_EQ(r.err, "err\n");
    EXPECT_THAT(splitLines(r.out), ElementsAre("typed", "out"));

    auto signalled = runCommand({"/bin/sh", "-c", "kill -TERM $$"}, 30s);
    EXPECT_EQ(signalled.exitCode, 128 + 15);
}

TEST(TestSupport, RunCommandKillsWhatOverrunsItsTime) {
    auto r = runCommand({"/bin/sleep", "30"}, 200ms);
    EXPECT_TRUE(r.timedOut);
    EXPECT_EQ(r.exitCode, 128 + 9);
}

TEST(TestSupport, StartFailuresAreReported) {
    EXPECT_THROW(runCommand({"/nonexistent/program"}), std::runtime_error);
}

TEST(TestSupport, TempDirIsRemovedWithItsFiles) {
    std::string path;
    {
        TempDir dir;
        path = dir.path();
        runCommand({"/bin/sh", "-c", "echo x > '" + dir.file("a") + "'"});
        EXPECT_EQ(readFile(dir.file("a")), "x\n");
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(Process, ShellWordsSplitAtBlanksOutsideQuotes) {
    EXPECT_EQ(kt::test::shellWords("regfile '/tmp/a b/c.xml'  --json"),
              (std::vector<std::string>{"regfile", "/tmp/a b/c.xml", "--json"}));
    EXPECT_EQ(kt::test::shellWords("x '' y"), (std::vector<std::string>{"x", "", "y"}));
    EXPECT_TRUE(kt::test::shellWords("   ").empty());
}
