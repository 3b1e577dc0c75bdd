#include "probe/virtual_port.h"

#include "config/module_path.h"
#include "platform/base/strings.h"
#include "platform/io/devices.h"
#include "probe/port_state.h"

namespace {

constexpr size_t kNameCapacity = MAX_PATH;

void CloseUnlessRoot(HKEY key, HKEY root) {
    if (key != root) RegCloseKey(key);
}

DWORD StringBytes(const WCHAR* s) {
    return static_cast<DWORD>((wcslen(s) + 1) * sizeof(WCHAR));
}

// True when all four values were written.
bool WriteDriverValues(HKEY key, int index) {
    WCHAR dll[MAX_PATH] = {};
    ModuleFilePath(dll, MAX_PATH, nullptr, VirtualPortDriver);
    const WCHAR prefix[] = TEXT("COM");
    const DWORD order = 0;
    const DWORD deviceIndex = static_cast<DWORD>(index);
    return RegSetValueExW(key, TEXT("Dll"), 0, REG_SZ, reinterpret_cast<const BYTE*>(dll),
                          StringBytes(dll)) == ERROR_SUCCESS &&
           RegSetValueExW(key, TEXT("Prefix"), 0, REG_SZ, reinterpret_cast<const BYTE*>(prefix),
                          StringBytes(prefix)) == ERROR_SUCCESS &&
           RegSetValueExW(key, TEXT("Order"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&order),
                          sizeof(order)) == ERROR_SUCCESS &&
           RegSetValueExW(key, TEXT("Index"), 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&deviceIndex),
                          sizeof(deviceIndex)) == ERROR_SUCCESS;
}

// Opens or creates the key named by the first length characters of name below current.
// A name that does not fit the buffer with its terminator is refused, never cut: a cut name
// would create a key other than the one asked for.
HKEY CreateChild(HKEY current, const WCHAR* name, size_t length) {
    if (length == 0 || length >= kNameCapacity) return nullptr;
    WCHAR buffer[kNameCapacity] = {};
    for (size_t i = 0; i < length; ++i) buffer[i] = name[i];
    HKEY child = nullptr;
    LONG status =
        RegCreateKeyExW(current, buffer, 0, nullptr, 0, KEY_WRITE, nullptr, &child, nullptr);
    return status == ERROR_SUCCESS ? child : nullptr;
}

}  // namespace

int RegisterVirtualPort(HKEY root, LPCWSTR path, int index) {
    if (path == nullptr) return 0;
    HKEY current = root;
    const WCHAR* rest = path;
    do {
        const WCHAR* slash = wcschr(rest, TEXT('\\'));
        HKEY child =
            slash ? CreateChild(current, rest, static_cast<size_t>(slash - rest)) : nullptr;
        CloseUnlessRoot(current, root);
        if (child == nullptr) return 0;
        current = child;
        rest = slash + 1;
    } while (*rest != 0);
    // A failed write fails the trial: the key could still hold the Dll of another
    // installation, which ActivateDevice would then load and run.
    bool written = WriteDriverValues(current, index);
    RegCloseKey(current);
    return written ? 1 : 0;
}

int TryVirtualPort(int index) {
    if (!RegisterVirtualPort(HKEY_LOCAL_MACHINE, VirtualPortKey, index)) return PORT_UNUSABLE;
    HANDLE device = ActivateDevice(VirtualPortKey, 0);
    if (device == nullptr) return PORT_UNUSABLE;
    DeactivateDevice(device);
    return PORT_VIRTUAL_FREE;
}
