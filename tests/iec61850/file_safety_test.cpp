// Files the operator names: only regular files are read, within a size limit, and a save
// replaces its file whole or not at all.
#include "scl_test_util.h"

#include "link/platform/regular_file.h"
#include "monitor/register_dataset.h"

#include <gmock/gmock.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

namespace kt {
namespace {

using platform::FileProblem;
using test::TempDir;
using ::testing::HasSubstr;

std::vector<std::string> namesIn(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

mode_t modeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

TEST(ReadRegularFile, RefusesWhatIsNotAnOrdinaryFileWithoutBlocking) {
    TempDir dir;
    const std::string fifo = dir.file("pipe.icd");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_directory(dir.file("folder.icd"));
    const std::string big = dir.file("big.icd");
    {
        int fd = ::open(big.c_str(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, 2000), 0); // sparse: a size without the bytes
        ::close(fd);
    }
    const std::string small = dir.write("small.icd", "<SCL/>");
    struct Case {
        std::string path;
        FileProblem problem;
        std::string message;
    } cases[] = {
        {fifo, FileProblem::NotRegular,
         "Cannot open the SCL file \"" + fifo + "\": it is a named pipe, not a file"},
        {"/dev/zero", FileProblem::NotRegular,
         "Cannot open the SCL file \"/dev/zero\": it is a character device, not a file"},
        {dir.file("folder.icd"), FileProblem::Folder,
         "Cannot open the SCL file \"" + dir.file("folder.icd") + "\": it is a folder"},
        {dir.file("missing.icd"), FileProblem::Missing,
         "Cannot open the SCL file \"" + dir.file("missing.icd") + "\": it does not exist"},
        {dir.file("small.icd/x"), FileProblem::Missing,
         "Cannot open the SCL file \"" + dir.file("small.icd/x") + "\": it does not exist"},
        {big, FileProblem::TooLarge,
         "Cannot open the SCL file \"" + big + "\": it is too large (2000 bytes; at most 1000)"},
    };
    for (const Case& c : cases) {
        std::string bytes = "stale";
        platform::FileResult r = platform::readRegularFile(c.path, 1000, bytes, "SCL file");
        EXPECT_EQ(r.problem, c.problem) << c.path;
        EXPECT_EQ(r.message, c.message);
        EXPECT_EQ(r.message, "Cannot open the SCL file \"" + c.path + "\": " + r.reason);
        EXPECT_EQ(bytes, "");
    }
    std::string bytes;
    platform::FileResult ok = platform::readRegularFile(small, 1000, bytes, "SCL file");
    EXPECT_TRUE(ok.ok()) << ok.message;
    EXPECT_EQ(bytes, "<SCL/>");
    EXPECT_TRUE(platform::checkRegularFile(dir.file("new.log"), true).ok());
    EXPECT_EQ(platform::checkRegularFile(fifo, true).problem, FileProblem::NotRegular);
    EXPECT_EQ(platform::checkRegularFile(dir.file("new.log"), false).problem, FileProblem::Missing);
}

TEST(ReadRegularFile, SclAndRegisterFilesUseIt) {
    TempDir dir;
    const std::string fifo = dir.file("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_directory(dir.file("folder"));
    for (const std::string& path : {fifo, std::string("/dev/zero"), dir.file("folder")}) {
        try {
            TICDParser p(path, -1);
            ADD_FAILURE() << "read " << path;
        } catch (const SclError& e) {
            EXPECT_THAT(e.what(), HasSubstr("SCL file")) << path;
        }
        RegisterDataset registers;
        std::string error;
        EXPECT_FALSE(registers.loadFile(path, &error)) << path;
        EXPECT_THAT(error, HasSubstr(": cannot open the file: it is a")) << path;
    }
    std::string error;
    RegisterDataset registers;
    EXPECT_FALSE(registers.loadFile(dir.file("folder"), &error));
    EXPECT_EQ(error, dir.file("folder") + ": cannot open the file: it is a folder");
}

class SaveTest : public ::testing::Test {
protected:
    TempDir dir;
    TICDParser p{test::templatePath(), -1};
};

TEST_F(SaveTest, AnExistingFileKeepsItsModeAndAReadOnlyOneIsRefused) {
    const std::string out = dir.write("private.icd", "old");
    ::chmod(out.c_str(), 0640);
    p.SaveICD(out);
    EXPECT_EQ(modeOf(out), 0640u);
    EXPECT_THAT(test::readText(out), HasSubstr("<SCL"));

    const std::string locked = dir.write("locked.icd", "keep me");
    ::chmod(locked.c_str(), 0444);
    try {
        p.SaveICD(locked);
        ADD_FAILURE() << "a read-only file was replaced";
    } catch (const SclError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot write the SCL file \"" + locked + "\": it is read-only");
    }
    EXPECT_EQ(test::readText(locked), "keep me");
    EXPECT_EQ(namesIn(dir), (std::vector<std::string>{"locked.icd", "private.icd"}));
}

TEST_F(SaveTest, PlantedLinksBesideTheFileAreNeverWrittenThrough) {
    TempDir elsewhere;
    const std::string victim = elsewhere.write("victim", "precious");
    const std::string out = dir.file("out.icd");
    // The name the writer once used for its temporary file, and a pattern-guessing link.
    ASSERT_EQ(::symlink(victim.c_str(), (out + ".part").c_str()), 0);
    p.SaveICD(out);
    EXPECT_EQ(test::readText(victim), "precious");
    EXPECT_THAT(test::readText(out), HasSubstr("<SCL"));
    EXPECT_EQ(namesIn(dir), (std::vector<std::string>{"out.icd", "out.icd.part"}));

    // OUT itself a link: the file it names is replaced, the link stays.
    const std::string target = elsewhere.write("target.icd", "old");
    const std::string link = dir.file("link.icd");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    p.SaveICD(link);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_THAT(test::readText(target), HasSubstr("<SCL"));
}

TEST_F(SaveTest, AFileSizeLimitLeavesTheOldFileAndNothingBeside) {
    const std::string out = dir.write("out.icd", "old contents");
    // In a child: the limit and the signal it raises belong to that process only.
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        try {
            p.SaveICD(out);
            ::_exit(1);
        } catch (const SclError& e) {
            std::string what = e.what();
            ::_exit(what.find("file-size limit") != std::string::npos ? 0 : 2);
        }
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(test::readText(out), "old contents");
    EXPECT_EQ(namesIn(dir), (std::vector<std::string>{"out.icd"}));
}

TEST_F(SaveTest, FoldersDevicesAndMissingFoldersAreRefused) {
    std::filesystem::create_directory(dir.file("taken.icd"));
    const std::string fifo = dir.file("pipe.icd");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::string path;
        std::string message;
    } cases[] = {
        {dir.file("taken.icd"),
         "Cannot write the SCL file \"" + dir.file("taken.icd") + "\": it is a folder"},
        {fifo, "Cannot write the SCL file \"" + fifo + "\": it is a named pipe, not a file"},
        {dir.file("no/such/x.icd"),
         "Cannot write the SCL file \"" + dir.file("no/such/x.icd") + "\": its folder does not exist"},
    };
    for (const Case& c : cases) {
        try {
            p.SaveICD(c.path);
            ADD_FAILURE() << "saved " << c.path;
        } catch (const SclError& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
    EXPECT_EQ(namesIn(dir), (std::vector<std::string>{"pipe.icd", "taken.icd"}));
}

} // namespace
} // namespace kt
