// The program LumbraPorts: one running lister at a time, showing its port list until the
// user leaves it. The exit code is the dialog's result: 1 after OK or Done, 0 otherwise; a
// start that finds a lister running brings it forward, says which process it is on stderr
// and ends with 0.
#include <cstdio>

#include "lister/lister_resources.h"
#include "lister/lister_window.h"
#include "platform/app/winmain.h"
#include "platform/base/messages.h"
#include "platform/base/strings.h"
#include "platform/io/textfile.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/resources.h"
#include "platform/ui/shell.h"

namespace {

// The lowest bit of the handle also brings the window's owned windows forward.
HWND WithOwnedWindows(HWND window) {
    return reinterpret_cast<HWND>(reinterpret_cast<ULONG_PTR>(window) | 1);
}

// Tells whoever started this one where the running lister is, for when its window is not
// in sight.
void SayAlreadyRunning(HWND running) {
    DWORD process = 0;
    if (GetWindowThreadProcessId(running, &process) == 0) return;
    WCHAR line[80];
    StringCchPrintfW(line, 80, TEXT("LumbraPorts is already running as process %lu\n"),
                     static_cast<unsigned long>(process));
    fputws(line, stderr);
}

}  // namespace

const platform::ResourceTable& ProgramResources() {
    return ListerResources();
}

const platform::ProgramDescription& DescribeProgram() {
    static const platform::ProgramDescription description{
        "LumbraPorts", "Lists the serial ports of this machine with their COM numbers.\n"};
    return description;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    SHInitExtraControls();
    if (HWND running = FindWindowW(LISTER_CLASS_NAME, nullptr)) {
        SayAlreadyRunning(running);
        SetForegroundWindow(WithOwnedWindows(running));
        return 0;
    }
    if (!RegisterListerClass(instance)) return 0;
    HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(IDD_LISTER), RT_DIALOG);
    auto dialogTemplate = static_cast<LPCDLGTEMPLATEW>(LoadResource(instance, found));
    return static_cast<int>(
        DialogBoxIndirectParamW(instance, dialogTemplate, nullptr, ListerDialogProc, 0));
}
