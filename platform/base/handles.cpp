#include "platform/base/handles.h"

#include <mutex>
#include <unordered_map>

#include "platform/base/detail/handle_table.h"

namespace platform::detail {
namespace {

// Handle values count up in steps of 4 from 0x1000 and are never reused, so a stale
// handle can never name a newer object.
struct HandleTable {
    std::mutex mutex;
    std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> objects;
    uintptr_t next = 0x1000;
};

HandleTable& Table() {
    static HandleTable* table = new HandleTable;  // lives until exit, also for late closes
    return *table;
}

}  // namespace

bool KernelObject::Read(void*, DWORD, DWORD* read) {
    if (read) *read = 0;
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
}

bool KernelObject::Write(const void*, DWORD, DWORD* written) {
    if (written) *written = 0;
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
}

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
    HandleTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    uintptr_t value = table.next;
    table.next += 4;
    table.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
    HandleTable& table = Table();
    {
        std::lock_guard<std::mutex> lock(table.mutex);
        auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
        if (it != table.objects.end()) return it->second;
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

}  // namespace platform::detail

BOOL CloseHandle(HANDLE handle) {
    using namespace platform::detail;
    std::shared_ptr<KernelObject> object;
    {
        HandleTable& table = Table();
        std::lock_guard<std::mutex> lock(table.mutex);
        auto it = table.objects.find(reinterpret_cast<uintptr_t>(handle));
        if (it == table.objects.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        object = std::move(it->second);
        table.objects.erase(it);
    }
    object->Close();
    return TRUE;
}
