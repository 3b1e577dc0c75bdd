// The framework's WinMain, in a file of its own: a program that defines its own WinMain
// never pulls this one in from the library.
#include "platform/app/afx.h"
#include "platform/app/winmain.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand) {
    return AfxWinMain(instance, previous, commandLine, showCommand);
}
