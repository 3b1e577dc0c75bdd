// A program directory in a temporary directory, with Belv.ini beside the program, for the
// profile store's tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "config/profile.h"
#include "platform/io/files.h"
#include "support/test_support.h"

namespace configtest {

using String = std::basic_string<WCHAR>;

class ProfileFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        programDir = dir.file("nav");
        std::filesystem::create_directory(programDir);
        SetProgramDirectory(programDir);
        ini = programDir + "/Belv.ini";
    }
    void TearDown() override { platform::SetModuleFileNameForTesting(nullptr); }

    static void SetProgramDirectory(const std::string& hostDir) {
        platform::SetModuleFileNameForTesting(
            platform::WindowsPath(hostDir + "/Belvane.exe").c_str());
    }
    static String W(const std::string& hostPath) { return platform::WindowsPath(hostPath); }

    void Put(const std::string& bytes) const { testsupport::WriteFileBytes(ini, bytes); }
    std::string Bytes() const { return testsupport::ReadFileBytes(ini); }
    bool TempLeft() const { return std::filesystem::exists(programDir + "/config_tmp"); }

    int WriteText(const WCHAR* section, const WCHAR* key, const WCHAR* value) const {
        return WriteProfileValue(W(ini).c_str(), section, key, value, PROFILE_TYPE_TEXT);
    }
    int WriteInt(const WCHAR* section, const WCHAR* key, int32_t value) const {
        return WriteProfileValue(W(ini).c_str(), section, key, &value, PROFILE_TYPE_INT);
    }
    // The text read, or "<code>" when the read fails.
    String ReadText(const WCHAR* section, const WCHAR* key, int capacity = 260) const {
        WCHAR value[300];
        const int rc =
            ReadProfileValue(W(ini).c_str(), section, key, value, capacity, PROFILE_TYPE_TEXT);
        if (rc != PROFILE_OK) {
            const std::string code = std::to_string(rc);
            return String(TEXT("<")) + String(code.begin(), code.end()) + TEXT(">");
        }
        return value;
    }

    testsupport::TempDir dir;
    std::string programDir;
    std::string ini;
};

}  // namespace configtest
