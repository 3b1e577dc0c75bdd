// The program's entry: the platform's main() registers the program's resources
// (ProgramResources, platform/ui/resources.h), answers --help and --version from
// DescribeProgram(), makes sure a terminal is there to show its dialogs, and calls WinMain;
// WinMain's result is the process's exit code. A program links the target platform_main and defines
// WinMain, or uses the dialog framework (platform/app/afx.h), which defines it.
#pragma once

#include "platform/base/types.h"
#include "platform/ui/resources.h"

namespace platform {
// The explicit start of the platform's services: builds the device table
// (platform::StartDeviceManager) and registers the system window classes
// (platform::StartWindowClasses). The entry calls it before WinMain; tests that show
// dialogs call it from their fixtures.
void StartPlatform();

// What the program says of itself on the command line: "--help" and "--version" print it
// and end before the terminal is needed.
struct ProgramDescription {
    const char* name;     // the installed command, as in "Usage: <name>"
    const char* summary;  // what it does, one or more lines ending in '\n'
};
}  // namespace platform

// Defined by each program beside ProgramResources.
const platform::ProgramDescription& DescribeProgram();

#ifdef _WIN32
// The system's name for the entry that takes the command line in UTF-16.
#define WinMain wWinMain
#endif
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand);
