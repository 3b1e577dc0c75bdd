#include "sample_dialog.h"

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/ui/dialog_template.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/resources.h"
#include "platform/ui/shell.h"

namespace {

const BYTE kIconGroup[] = {0, 0, 1, 0, 1, 0, 16, 16, 16, 0, 1, 0, 4, 0, 0x28, 1, 0, 0, 1, 0};
const platform::Resource kResources[] = {
    {RT_GROUP_ICON, MAKEINTRESOURCEW(8001), 0x409, kIconGroup, sizeof kIconGroup},
};
const platform::ResourceTable kTable{kResources, 1};

int g_presses = 0;

INT_PTR CALLBACK SampleProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: {
            SHINITDLGINFO info{SHIDIM_FLAGS, dialog, 0x2D};
            SHInitDialog(&info);
            for (const char16_t* line : {u"COM3: - Bluetooth", u"COM1 - Serial Cable",
                                         u"GPD0 - GPS Intermediate", u"COM2 - Infrared"})
                SendDlgItemMessageW(dialog, sample::kList, LB_ADDSTRING, 0,
                                    reinterpret_cast<LPARAM>(line));
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK) {
                EndDialog(dialog, 1);
                return TRUE;
            }
            if (LOWORD(wParam) == sample::kGo) {
                std::u16string text = u"Presses: " + std::u16string(1, u'0' + (++g_presses % 10));
                SetDlgItemTextW(dialog, sample::kCounter, text.c_str());
                return TRUE;
            }
            if (LOWORD(wParam) == sample::kOff) {
                SetDlgItemTextW(dialog, sample::kCounter, u"Off pressed!");
                return TRUE;
            }
            return FALSE;
        case WM_CLOSE:
            EndDialog(dialog, 0);
            return TRUE;
        case WM_SIZE:
            return TRUE;
        default:
            return FALSE;
    }
}

std::vector<WORD> BuildTemplate(const char16_t* className) {
    constexpr DWORD child = WS_CHILD | WS_VISIBLE;
    return platform::BuildDialogTemplate(
        {0x80880840, 0, 6, 18, 289, 150, u"Sample", className, 8, u"Tahoma"},
        {
            {child | WS_TABSTOP, 0, 114, 113, 88, 22, IDOK, u"BUTTON", u"OK"},
            {child | WS_TABSTOP, 0, 7, 113, 50, 22, sample::kGo, u"BUTTON", u"&Go"},
            {child | WS_TABSTOP | WS_DISABLED, 0, 60, 113, 50, 22, sample::kOff, u"BUTTON", u"Off"},
            {0x50A10003, 0, 67, 28, 180, 80, sample::kList, u"LISTBOX", u""},
            {0x50000203, 0, 4, 4, 20, 20, 4004, u"STATIC", u"", 8001},
            {0x50020001, 0, 100, 2, 100, 8, sample::kCounter, u"STATIC", u"Presses: 0"},
        });
}

}  // namespace

const platform::ResourceTable& ProgramResources() {
    return kTable;
}

namespace sample {

int Run(HINSTANCE instance, const char16_t* className, const char* pidFile) {
    if (pidFile) {
        if (FILE* f = std::fopen(pidFile, "w")) {
            std::fprintf(f, "%d\n", static_cast<int>(getpid()));
            std::fclose(f);
        }
    }
    SHInitExtraControls();
    if (HWND other = FindWindowW(className, nullptr)) {
        SetForegroundWindow(reinterpret_cast<HWND>(reinterpret_cast<UINT_PTR>(other) | 1));
        return 0;
    }
    WNDCLASSW cls{};
    if (!GetClassInfoW(nullptr, u"Dialog", &cls)) return 0;
    cls.hInstance = instance;
    cls.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(8001));
    cls.lpszClassName = className;
    if (!RegisterClassW(&cls)) return 0;
    // The template is a resource of its own, made for the class this run was given.
    static std::vector<WORD> words = BuildTemplate(className);
    static const platform::Resource dialog{RT_DIALOG, MAKEINTRESOURCEW(1001), 0x409, words.data(),
                                           static_cast<DWORD>(words.size() * sizeof(WORD))};
    static const platform::ResourceTable table{&dialog, 1};
    platform::RegisterResources(table);
    HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(1001), RT_DIALOG);
    auto* source = static_cast<LPCDLGTEMPLATEW>(LockResource(LoadResource(instance, found)));
    return static_cast<int>(DialogBoxIndirectParamW(instance, source, nullptr, SampleProc, 0));
}

}  // namespace sample
