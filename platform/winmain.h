// The program's entry: the platform's main() registers the program's resources
// (ProgramResources, platform/resources.h), makes sure a terminal is there to show its
// dialogs, and calls WinMain; WinMain's result is the process's exit code. A program
// links the target platform_main and defines WinMain, or uses the dialog framework
// (platform/afx.h), which defines it.
#pragma once

#include "platform/resources.h"
#include "platform/types.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand);
