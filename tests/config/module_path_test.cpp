#include "config/module_path.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/io/files.h"

namespace {

using String = std::basic_string<WCHAR>;

constexpr WCHAR kCanary = TEXT('Z');

class ModulePathTest : public ::testing::Test {
  protected:
    void TearDown() override { platform::SetModuleFileNameForTesting(nullptr); }

    // A buffer larger than the capacity handed out, so that writes past it show.
    void FillCanary() {
        for (auto& c : buffer) c = kCanary;
    }
    bool CanaryIntactFrom(size_t index) const {
        for (size_t i = index; i < std::size(buffer); ++i)
            if (buffer[i] != kCanary) return false;
        return true;
    }

    WCHAR buffer[64];
};

TEST_F(ModulePathTest, FileBesideProgramOnStorageCard) {
    platform::SetModuleFileNameForTesting(TEXT("\\Storage Card\\Nav\\X.exe"));
    WCHAR path[MAX_PATH];
    ModuleFilePath(path, MAX_PATH, nullptr, TEXT("Belv.ini"));
    EXPECT_EQ(String(path), TEXT("\\Storage Card\\Nav\\Belv.ini"));

    WCHAR* slash = ModuleDirectory(path, MAX_PATH, nullptr);
    EXPECT_EQ(String(path), TEXT("\\Storage Card\\Nav\\"));
    ASSERT_NE(slash, nullptr);
    EXPECT_EQ(slash, path + 17);
    EXPECT_EQ(slash[1], 0);
}

TEST_F(ModulePathTest, NameWithoutBackslashStaysWholeAndGetsTheFileNameAppended) {
    platform::SetModuleFileNameForTesting(TEXT("X.exe"));
    WCHAR path[MAX_PATH];
    EXPECT_EQ(ModuleDirectory(path, MAX_PATH, nullptr), nullptr);
    EXPECT_EQ(String(path), TEXT("X.exe"));
    ModuleFilePath(path, MAX_PATH, nullptr, TEXT("Belv.ini"));
    EXPECT_EQ(String(path), TEXT("X.exeBelv.ini"));
}

#ifndef _WIN32
TEST_F(ModulePathTest, RealProgramDirectory) {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    ASSERT_FALSE(ec);
    WCHAR path[MAX_PATH];
    ModuleFilePath(path, MAX_PATH, nullptr, TEXT("Belv.ini"));
    EXPECT_EQ(String(path), platform::WindowsPath((exe.parent_path() / "Belv.ini").string()));
}
#endif

// "\Storage Card\Nav\" is 18 characters and "Belv.ini" 8: the whole path needs 27 with its
// terminator.
TEST_F(ModulePathTest, PathThatDoesNotFitGivesEmptyResultAndNeverOverruns) {
    platform::SetModuleFileNameForTesting(TEXT("\\Storage Card\\Nav\\X.exe"));
    FillCanary();
    ModuleFilePath(buffer, 27, nullptr, TEXT("Belv.ini"));
    EXPECT_EQ(String(buffer), TEXT("\\Storage Card\\Nav\\Belv.ini"));
    EXPECT_TRUE(CanaryIntactFrom(27));

    FillCanary();
    ModuleFilePath(buffer, 26, nullptr, TEXT("Belv.ini"));
    EXPECT_EQ(buffer[0], 0);
    EXPECT_TRUE(CanaryIntactFrom(26));
}

// The module file name of 23 characters needs 24 with its terminator; with less the
// platform truncates it, and a cut name must not pass for a directory.
TEST_F(ModulePathTest, TruncatedModuleFileNameGivesEmptyResult) {
    platform::SetModuleFileNameForTesting(TEXT("\\Storage Card\\Nav\\X.exe"));
    FillCanary();
    EXPECT_EQ(ModuleDirectory(buffer, 23, nullptr), nullptr);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_TRUE(CanaryIntactFrom(23));

    FillCanary();
    ModuleFilePath(buffer, 23, nullptr, TEXT("B"));
    EXPECT_EQ(buffer[0], 0) << "no relative name may come out of a failed lookup";
    EXPECT_TRUE(CanaryIntactFrom(23));

    FillCanary();
    EXPECT_EQ(ModuleDirectory(buffer, 24, nullptr), buffer + 17);
    EXPECT_EQ(String(buffer), TEXT("\\Storage Card\\Nav\\"));
    EXPECT_TRUE(CanaryIntactFrom(24));
}

TEST_F(ModulePathTest, DegenerateArgumentsGiveNothing) {
    platform::SetModuleFileNameForTesting(TEXT("\\Nav\\X.exe"));
    FillCanary();
    EXPECT_EQ(ModuleDirectory(buffer, 0, nullptr), nullptr);
    EXPECT_EQ(ModuleDirectory(nullptr, 10, nullptr), nullptr);
    ModuleFilePath(buffer, 0, nullptr, TEXT("Belv.ini"));
    ModuleFilePath(nullptr, 10, nullptr, TEXT("Belv.ini"));
    EXPECT_TRUE(CanaryIntactFrom(0));

    ModuleFilePath(buffer, 64, nullptr, nullptr);
    EXPECT_EQ(buffer[0], 0);
}

TEST_F(ModulePathTest, ModuleThatIsNotLoadedIsNotMistakenForTheProgram) {
    platform::SetModuleFileNameForTesting(TEXT("\\Nav\\X.exe"));
    EXPECT_EQ(ModuleDirectory(buffer, 64, TEXT("NoSuchLibrary.dll")), nullptr);
    EXPECT_EQ(buffer[0], 0);
    ModuleFilePath(buffer, 64, TEXT("NoSuchLibrary.dll"), TEXT("Belv.ini"));
    EXPECT_EQ(buffer[0], 0);
}

}  // namespace
