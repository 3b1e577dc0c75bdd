// A small program shaped like the port lister: a single instance found by its window
// class, a full-screen dialog with a Done button, a sorted list, a press counter, a
// disabled button and an icon. Tests run it in a terminal and without one.
#pragma once

#include "platform/base/types.h"

namespace sample {

constexpr int kGo = 1001;
constexpr int kOff = 1003;
constexpr int kList = 4001;
constexpr int kCounter = 4005;

// argv-style arguments after the program name: the window class, and optionally a file
// that receives the process id.
int Run(HINSTANCE instance, const char16_t* className, const char* pidFile);

}  // namespace sample
