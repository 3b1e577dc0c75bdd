// The program's entry on Windows: main() answers --help and --version, registers the
// program's resources (ProgramResources, platform/ui/resources.h), starts the platform and
// calls WinMain with the command line after the program's name; WinMain's result is the
// process's exit code. The programs run in the Windows subsystem, with no console of their
// own, so the dialogs need nothing to be usable.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/app/winmain.h"
#include "platform/base/account.h"
#include "platform/base/strings.h"

namespace {

// The command line after the program's name, as the system hands it to WinMain.
LPWSTR CommandTail() {
    LPWSTR p = GetCommandLineW();
    for (bool quoted = false; *p && (quoted || (*p != TEXT(' ') && *p != TEXT('\t'))); ++p)
        if (*p == TEXT('"')) quoted = !quoted;
    while (*p == TEXT(' ') || *p == TEXT('\t')) ++p;
    return p;
}

// "--help" or "--version" anywhere on the command line, the first one found; the programs
// take no other arguments and ignore them.
const char* InformationAsked(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "--version") == 0)
            return argv[i];
    return nullptr;
}

std::string Information(const char* asked) {
    const platform::ProgramDescription& program = DescribeProgram();
    std::string name = program.name;
    if (std::strcmp(asked, "--version") == 0) return name + " " + BELVANE_VERSION + "\n";
    return "Usage: " + name + " [--help | --version]\n" + program.summary +
           "It shows its window over the screen's work area.\n\n"
           "  --help     print this help and exit\n"
           "  --version  print the version and exit\n";
}

// The text goes to the standard output the program was given, else to the console of
// whoever started it, else into a message box.
bool Tell(const std::string& text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if ((!out || out == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS))
        out = CreateFileW(TEXT("CONOUT$"), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                          0, nullptr);
    DWORD written = 0;
    if (out && out != INVALID_HANDLE_VALUE &&
        WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
        return written == text.size();
    const std::basic_string<WCHAR> wide = platform::FromUtf8(text);
    const std::basic_string<WCHAR> caption = platform::FromUtf8(DescribeProgram().name);
    return MessageBoxW(nullptr, wide.c_str(), caption.c_str(), MB_OK | MB_ICONINFORMATION) != 0;
}

// What went wrong, told at the end on the standard error the program was given, if any.
void PrintAccount() {
    size_t leftOut = 0;
    const char* name = DescribeProgram().name;
    for (const std::string& line : platform::AccountLines(&leftOut))
        std::fprintf(stderr, "%s: %s\n", name, line.c_str());
    if (leftOut > 0) std::fprintf(stderr, "%s: ... and %zu more\n", name, leftOut);
    platform::ClearAccount();
}

}  // namespace

int main(int argc, char** argv) {
    if (const char* asked = InformationAsked(argc, argv)) return Tell(Information(asked)) ? 0 : 1;
    platform::RegisterResources(ProgramResources());
    platform::StartPlatform();
    int result = WinMain(GetModuleHandleW(nullptr), nullptr, CommandTail(), SW_SHOWNORMAL);
    PrintAccount();
    return result;
}
