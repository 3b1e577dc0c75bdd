#include <cstdio>
#include <string>

#include "platform/app/winmain.h"
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
    platform::StartPlatform();
    std::basic_string<WCHAR> line = CommandLine(argc, argv);
    return WinMain(GetModuleHandleW(nullptr), nullptr, line.data(), SW_SHOW);
}
