// The framework's WinMain, in a file of its own: a program that defines its own WinMain
// never pulls this one in from the library.
#include "platform/afx.h"
#include "platform/winmain.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand) {
    return AfxWinMain(instance, previous, commandLine, showCommand);
}
