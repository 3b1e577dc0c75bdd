// The sample as a program: the platform's main() calls this WinMain. Arguments: the window
// class, and optionally a file for the process id.
#include <string>

#include "platform/app/winmain.h"
#include "sample_dialog.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int) {
    std::u16string line = commandLine ? commandLine : u"";
    size_t space = line.find(u' ');
    std::u16string className = line.substr(0, space);
    std::string pidFile;
    if (space != std::u16string::npos)
        for (char16_t c : line.substr(space + 1)) pidFile += static_cast<char>(c);
    if (className.empty()) className = u"SampleClass";
    return sample::Run(instance, className.c_str(), pidFile.empty() ? nullptr : pidFile.c_str());
}

const platform::ProgramDescription& DescribeProgram() {
    static const platform::ProgramDescription description{"sample_dialog_terminal",
                                                          "A sample dialog.\n"};
    return description;
}
