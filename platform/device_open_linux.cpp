// Placeholder until the serial device layer lands: no device can be opened.
#include "platform/internal/device_open.h"

namespace platform::detail {

HANDLE OpenDevice(LPCWSTR, DWORD, DWORD, DWORD) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

}  // namespace platform::detail
