// A private registry file and private sysfs, /dev and /proc trees for device manager tests,
// so that no test ever sees the host's own devices; and the open of a COM name that tests
// of opens share.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/io/files.h"
#include "support/test_support.h"

namespace testsupport {

class DeviceTreeTest : public ::testing::Test {
  public:
    static HANDLE Open(LPCWSTR name) {
        return CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    }
    // Opens and closes a port; the last error tells why it could not be opened.
    static bool Opens(LPCWSTR name) {
        HANDLE port = Open(name);
        if (port == INVALID_HANDLE_VALUE) return false;
        CloseHandle(port);
        return true;
    }

  protected:
    TempDir dir;
    std::string sys = dir.file("sys"), dev = dir.file("dev"), proc = dir.file("proc");
    std::string file = dir.file("registry.reg");
    ScopedEnv registry{"BELVANE_REGISTRY", file.c_str()};
    ScopedEnv sysfs{"BELVANE_SYSFS_ROOT", sys.c_str()};
    ScopedEnv devRoot{"BELVANE_DEV_ROOT", dev.c_str()};
    ScopedEnv procRoot{"BELVANE_PROC_ROOT", proc.c_str()};
};

}  // namespace testsupport
