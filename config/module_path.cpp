#include "config/module_path.h"

#include "platform/base/strings.h"
#include "platform/io/files.h"

namespace {

void ClearBuffer(LPWSTR buffer, DWORD capacity) {
    for (DWORD i = 0; i < capacity; ++i) buffer[i] = 0;
}

}  // namespace

LPWSTR ModuleDirectory(LPWSTR buffer, DWORD capacity, LPCWSTR moduleName) {
    if (buffer == nullptr || capacity == 0) return nullptr;
    ClearBuffer(buffer, capacity);
    HMODULE module = nullptr;
    if (moduleName != nullptr) {
        module = GetModuleHandleW(moduleName);
        // A named module that is not loaded must not silently turn into the running program,
        // which is what a null handle means to GetModuleFileNameW.
        if (module == nullptr) return nullptr;
    }
    const DWORD length = GetModuleFileNameW(module, buffer, capacity);
    if (length == 0 || length >= capacity) {
        // Failed, or truncated to capacity - 1 characters: a cut name is no usable path.
        ClearBuffer(buffer, capacity);
        return nullptr;
    }
    WCHAR* slash = wcsrchr(buffer, TEXT('\\'));
    if (slash != nullptr) slash[1] = 0;
    return slash;
}

void ModuleFilePath(LPWSTR buffer, DWORD capacity, LPCWSTR moduleName, LPCWSTR fileName) {
    ModuleDirectory(buffer, capacity, moduleName);
    if (buffer == nullptr || capacity == 0) return;
    if (buffer[0] == 0 || fileName == nullptr) {
        buffer[0] = 0;
        return;
    }
    if (wcslen(buffer) + wcslen(fileName) >= capacity) {
        ClearBuffer(buffer, capacity);
        return;
    }
    wcscat(buffer, fileName);
}
