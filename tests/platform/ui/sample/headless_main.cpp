// The sample without a terminal, for tests of two processes: it runs its dialog with the
// test front end and ends it with 7 as soon as another process brings it forward.
#include <thread>

#include "platform/base/threads.h"
#include "platform/io/files.h"
#include "platform/ui/dialog_testing.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/resources.h"
#include "sample_dialog.h"

int main(int argc, char** argv) {
    platform::StartWindowClasses();
    platform::testing::UseTestFrontEnd();
    platform::RegisterResources(ProgramResources());
    std::u16string className = u"SampleClass";
    if (argc > 1) className.assign(argv[1], argv[1] + std::char_traits<char>::length(argv[1]));
    std::thread watcher([] {
        HWND dialog = platform::testing::WaitForDialog(20000);
        if (!dialog) return;
        for (int i = 0; i < 2000; ++i) {
            if (platform::testing::ForegroundRequests(dialog) > 0) {
                EndDialog(dialog, 7);
                return;
            }
            if (platform::testing::WaitForDialogEnd(dialog, 10)) return;
        }
        EndDialog(dialog, 3);
    });
    int result = sample::Run(GetModuleHandleW(nullptr), className.c_str(), nullptr);
    if (result != 0)
        watcher.join();  // a second instance ends without a dialog
    else
        watcher.detach();
    return result;
}
