// The walks' lines go to the lister window's port list, which sorts them itself.
#include "lister/lister_resources.h"
#include "lister/port_enum.h"
#include "platform/ui/dialogs.h"

namespace {

void AddToPortList(void* context, LPCWSTR line) {
    SendMessageW(static_cast<HWND>(context), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
}

}  // namespace

LONG ListActivePorts(HWND window) {
    return WalkActivePorts(AddToPortList, GetDlgItem(window, IDC_PORT_LIST));
}

LONG ListBluetoothPorts(HWND window) {
    return WalkBluetoothPorts(AddToPortList, GetDlgItem(window, IDC_PORT_LIST));
}
