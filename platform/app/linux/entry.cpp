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

// "--help" or "--version" anywhere on the command line, the first one found; the programs
// take no other arguments and ignore them.
const char* InformationAsked(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "--version") == 0)
            return argv[i];
    return nullptr;
}

void PrintInformation(const char* asked) {
    const platform::ProgramDescription& program = DescribeProgram();
    if (std::strcmp(asked, "--version") == 0) {
        std::printf("%s %s\n", program.name, BELVANE_VERSION);
        return;
    }
    std::printf(
        "Usage: %s [--help | --version]\n%s"
        "It shows its window full-screen in the terminal it is started from.\n\n"
        "  --help     print this help and exit\n"
        "  --version  print the version and exit\n\n"
        "See %s(1).\n",
        program.name, program.summary, program.name);
}

}  // namespace

// The dialogs are shown in the terminal. Without one the program could never be answered:
// it says so and ends before it does anything else. Help and version need no terminal, so
// they come first.
int main(int argc, char** argv) {
    if (const char* asked = InformationAsked(argc, argv)) {
        PrintInformation(asked);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
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
