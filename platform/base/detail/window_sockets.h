// Platform-private: how windows are found and brought forward across processes.
//
// A top-level window of a class that the program registered listens on a local socket named
// after the class, in a folder that only its user may enter (internal/runtime_folder.h). Another
// process finds the window by connecting to that name, and asks it to come forward by sending one
// byte. The owner thread serves its sockets from its message loop, so no extra thread is needed.
#pragma once

#include <string>
#include <vector>

#include "platform/base/detail/windows.h"

namespace platform::detail {

struct WindowSocketFd {
    int fd;
    HWND window;
    bool listener;
};

// Not for the windows of system classes (IsSystemClass), which nobody looks for.
void ListenForWindowClass(WindowRecord& record);
void StopListening(WindowRecord& record);
// The sockets that the thread of queue serves.
std::vector<WindowSocketFd> WindowSocketFds(const MessageQueue* queue);
// Serves a ready socket; returns the window a request asks to come forward, else null.
HWND ServeWindowSocket(const WindowSocketFd& socket);
bool WindowClassListening(const std::u16string& className);
bool RemoteWindowAlive(const WindowRecord& record);
bool AskWindowClassForward(const std::u16string& className);
// The process that runs the class's listener, as the system tells it; 0 when none does.
DWORD WindowClassProcess(const std::u16string& className);

}  // namespace platform::detail
