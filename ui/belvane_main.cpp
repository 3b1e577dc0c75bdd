// The program Belvane: the framework's entry runs this application object.
#include "platform/app/winmain.h"
#include "ui/belvane_app.h"

BelvaneApp theApp;

const platform::ProgramDescription& DescribeProgram() {
    static const platform::ProgramDescription description{
        "Belvane",
        "Finds GPS receivers and radar detectors on the serial ports COM0 to COM9 and writes\n"
        "the ports found into the file Belv.ini beside the program.\n"};
    return description;
}
