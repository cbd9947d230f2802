#include "link/platform/program_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

TEST(ProgramFolder, IsTheFolderOfTheRunningExecutable) {
    // Test programs are built into bin/, beside the programs and their resources.
    const std::filesystem::path folder = kt::platform::programFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_TRUE(folder.is_absolute()) << folder;
    EXPECT_TRUE(std::filesystem::equivalent(folder, KT_BIN_DIR)) << folder << " vs " << KT_BIN_DIR;
    EXPECT_TRUE(std::filesystem::is_directory(folder / "resources"));
}

} // namespace
