// Shared test helpers: temporary directories, scoped environment variables and
// pseudo-terminal pairs. Tests never open the host's own serial devices.
#pragma once

#include <string>

#include "platform/base/types.h"

namespace testsupport {

// A fresh directory under $TMPDIR, removed with its contents at the end of the scope.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Sets (or with null unsets) an environment variable for the scope.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::string old_;
    bool had_;
};

// A pseudo-terminal pair: the master end for the test, the slave path for the code under
// test. The master is non-blocking. Under Wine the pair is made on the host
// (cmake/wine-ports.sh): the code under test has one COM port of it, the test the other.
class PtyPair {
  public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;
#ifndef _WIN32
    int master() const {
        return master_;
    }
#else
    // The number n of the port under test, COMn.
    int portNumber() const {
        return port_number_;
    }
#endif
    const std::string& slavePath() const {
        return slave_path_;
    }
    // Writes all bytes to the master end.
    void Write(const std::string& bytes);
    // Reads what the slave side wrote, waiting up to timeoutMs for at least wantBytes.
    std::string Read(size_t wantBytes, int timeoutMs);
    // Baud rate the slave end is set to (as the other end of a serial line would see it).
    // Under Wine the rate is read through a second handle to the port under test (Wine
    // holds no port exclusively).
    unsigned SlaveBaud() const;
    // Closes the master end: the slave side sees a hang-up.
    void CloseMaster();

  private:
#ifndef _WIN32
    int master_ = -1;
    int keep_slave_ = -1;
#else
    void* far_end_ = nullptr;  // the test's port of the pair
    int port_number_ = 0;
#endif
    std::string slave_path_;
};

std::string ReadFileBytes(const std::string& path);

// A serial port opened through the platform at that rate, 8N1, its reads returning at once
// with what is queued; INVALID_HANDLE_VALUE when it cannot be opened.
HANDLE OpenPort8N1(LPCWSTR name, DWORD baud);

// The platform's account of failures so far, a line each, and empties it.
std::string TakeAccount();
void WriteFileBytes(const std::string& path, const std::string& bytes);

}  // namespace testsupport
