// The program's entry: the platform's main() registers the program's resources
// (ProgramResources, platform/ui/resources.h), makes sure a terminal is there to show its
// dialogs, and calls WinMain; WinMain's result is the process's exit code. A program
// links the target platform_main and defines WinMain, or uses the dialog framework
// (platform/app/afx.h), which defines it.
#pragma once

#include "platform/base/types.h"
#include "platform/ui/resources.h"

namespace platform {
// The explicit start of the platform's services: builds the device table
// (platform::StartDeviceManager) and registers the system window classes
// (platform::StartWindowClasses). The entry calls it before WinMain; tests that show
// dialogs call it from their fixtures.
void StartPlatform();
}  // namespace platform

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand);
