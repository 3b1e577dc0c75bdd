// Shared pieces of the serial tests: recorders for what the receivers get, a test window
// on its own message loop, and pseudo-terminals registered as serial devices.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/channel.h"
#include "support/test_support.h"

namespace serialtest {

struct Piece {
    char who;  // 'W' window, 'F' frameCallback, 'C' chunkCallback
    LONG id;
    std::string bytes;
    bool operator==(const Piece&) const = default;
};

// Collects the pieces of one channel, in the order they arrive.
class Recorder {
  public:
    void Add(Piece piece);
    std::vector<Piece> Pieces();
    std::vector<std::string> Bytes(char who);
    // Waits (at most a few seconds, as a guard against hangs) until count pieces of who.
    bool WaitFor(char who, size_t count, int timeoutMs = 10000);

    // What frameCallback returns, one value per call; 0 once they run out.
    std::vector<LONG> results;
    // Run inside frameCallback, on the reader thread.
    std::function<void(SerialChannel*)> onFrame;

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Piece> pieces_;
    size_t calls_ = 0;
    friend LONG RecordFrame(SerialChannel*, LONG, const BYTE*, LONG);
};

// Ties a channel to a recorder through portIndex, as callbacks learn their port.
void Bind(SerialChannel* channel, Recorder* recorder);
LONG RecordFrame(SerialChannel* channel, LONG id, const BYTE* data, LONG count);
LONG RecordChunk(SerialChannel* channel, LONG id, const BYTE* data, LONG count);

// A window on a thread of its own that records WM_CHANNEL_DATA into a recorder.
class TestWindow {
  public:
    explicit TestWindow(Recorder* recorder);
    ~TestWindow();
    HWND hwnd() const { return hwnd_; }

  private:
    std::thread thread_;
    HWND hwnd_ = nullptr;
};

// A window of the calling thread (no message loop runs unless the test pumps).
HWND CreateRecordingWindow(Recorder* recorder);

// Pseudo-terminals registered as COM0: to COM<kPorts-1>: in a temporary registry, set up
// once per process before the first device is opened. Device names have one digit; under
// Wine, which has no COM0, there are nine (COM1: to COM9:).
#ifdef _WIN32
constexpr int kPorts = 9;
// Wine lets a second handle open a port that one holds already.
constexpr bool kExclusiveOpen = false;
#else
constexpr int kPorts = 10;
constexpr bool kExclusiveOpen = true;
#endif
testsupport::PtyPair& Pty(int index);
// The port number that OpenChannel takes for Pty(index); index itself past the ports.
LONG PortNumber(int index);
void EnsurePorts();

// Starts the reader and waits until it has purged the port twice, so that bytes written
// from then on reach it.
bool StartReaderAndWait(SerialChannel* channel);

// Forced terminations so far (every TerminateThread call of the channel).
int Terminations();

// Called by the wrappers of TerminateThread and PurgeComm that the link puts in front of
// the system's (linux/wraps.cpp, windows/wraps.cpp).
void CountTermination();
void CountPurge(HANDLE port);

}  // namespace serialtest
