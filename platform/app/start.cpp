#include "platform/app/winmain.h"
#include "platform/io/devices.h"
#include "platform/ui/dialogs.h"

void platform::StartPlatform() {
    StartDeviceManager();
    StartWindowClasses();
}
