// Platform-private: how windows are found and brought forward across processes.
//
// A top-level window of a class that the program registered listens on an abstract local
// socket named after the user and the class. Another process finds the window by
// connecting to that name, and asks it to come forward by sending one byte. The owner
// thread serves its sockets from its message loop, so no extra thread is needed.
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

void ListenForWindowClass(WindowRecord& record);
void StopListening(WindowRecord& record);
// The sockets that the thread of queue serves.
std::vector<WindowSocketFd> WindowSocketFds(const MessageQueue* queue);
void ServeWindowSocket(const WindowSocketFd& socket);
bool WindowClassListening(const std::u16string& className);
bool RemoteWindowAlive(const WindowRecord& record);
bool AskWindowClassForward(const std::u16string& className);
// Posts the private message that runs the foreground hook on the window's thread.
void PostForeground(HWND window);
// Classes that the platform registers itself; their windows do not listen.
void RegisterSystemClass(const WNDCLASSW& windowClass);
bool IsSystemClass(const std::u16string& className);

}  // namespace platform::detail
