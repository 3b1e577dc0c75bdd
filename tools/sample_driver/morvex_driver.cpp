// The sample virtual COM port driver "Morvex.dll" for demonstrations: the device manager
// loads it with ActivateDevice and unloads it with DeactivateDevice. It accepts every
// instance and keeps no state; opening the port it names is not offered.
#include "platform/base/types.h"

extern "C" DWORD COM_Init(LPCWSTR activeKey, LPCVOID busContext) {
    (void)activeKey;
    (void)busContext;
    return 1;  // any nonzero context: the instance is up
}

extern "C" BOOL COM_Deinit(DWORD context) {
    (void)context;
    return TRUE;
}
