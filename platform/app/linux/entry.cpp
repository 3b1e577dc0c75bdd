#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/app/winmain.h"
#include "platform/base/account.h"
#include "platform/io/files.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/linux/terminal.h"

namespace {

// The command line after the program name, as WinMain receives it.
std::basic_string<WCHAR> CommandLine(int argc, char** argv) {
    std::basic_string<WCHAR> line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) line += TEXT(' ');
        for (const char* p = argv[i]; *p; ++p)
            line += static_cast<WCHAR>(static_cast<unsigned char>(*p));
    }
    return line;
}

const char* g_program = "program";

// What went wrong, told once the terminal is handed back, and only when there is something
// to tell; also at an exit from inside the program.
void PrintAccount() {
    size_t leftOut = 0;
    for (const std::string& line : platform::AccountLines(&leftOut))
        std::fprintf(stderr, "%s: %s\n", g_program, line.c_str());
    if (leftOut > 0) std::fprintf(stderr, "%s: ... and %zu more\n", g_program, leftOut);
    platform::ClearAccount();
}

}  // namespace

// The dialogs are shown in the terminal. Without one the program could never be answered:
// it says so and ends before it does anything else.
int main(int argc, char** argv) {
    platform::RegisterResources(ProgramResources());
    platform::UseTerminalFrontEnd();
    std::string why;
    if (!platform::FrontEndUsable(&why)) {
        std::fprintf(stderr, "%s: %s\n", argc > 0 ? argv[0] : "program", why.c_str());
        return 2;
    }
    if (argc > 0) {
        const char* slash = std::strrchr(argv[0], '/');
        g_program = slash ? slash + 1 : argv[0];
    }
    std::atexit(PrintAccount);
    platform::StartPlatform();
    std::basic_string<WCHAR> line = CommandLine(argc, argv);
    int result = WinMain(GetModuleHandleW(nullptr), nullptr, line.data(), SW_SHOW);
    PrintAccount();
    return result;
}
