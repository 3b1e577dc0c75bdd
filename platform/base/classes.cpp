// The window class table: RegisterClassW and its kin, and which classes the platform
// registered itself (the system classes, whose windows other processes do not look for).
#include "internal/classes.h"

#include <map>
#include <mutex>
#include <set>

#include "platform/base/detail/windows.h"

namespace platform::detail {
namespace {

struct ClassTable {
    std::mutex mutex;
    std::map<std::u16string, WNDCLASSW> classes;     // key: ClassKey of the name
    std::map<std::u16string, std::u16string> names;  // keeps the names classes point to
    std::set<std::u16string> system;                 // stays when a class is unregistered
};

ClassTable& Classes() {
    static ClassTable* table = new ClassTable;  // lives until exit, also for late calls
    return *table;
}

}  // namespace

std::u16string ClassKey(std::u16string_view className) {
    std::u16string out(className);
    for (auto& c : out)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    return out;
}

void RegisterSystemClass(const WNDCLASSW& windowClass) {
    {
        ClassTable& table = Classes();
        std::lock_guard<std::mutex> lock(table.mutex);
        table.system.insert(ClassKey(windowClass.lpszClassName));
    }
    RegisterClassW(&windowClass);
}

bool IsSystemClass(const std::u16string& className) {
    ClassTable& table = Classes();
    std::lock_guard<std::mutex> lock(table.mutex);
    return table.system.count(ClassKey(className)) != 0;
}

}  // namespace platform::detail

using namespace platform::detail;

ATOM RegisterClassW(const WNDCLASSW* windowClass) {
    if (!windowClass || !windowClass->lpszClassName || !windowClass->lpfnWndProc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    ClassTable& table = Classes();
    std::u16string name(windowClass->lpszClassName);
    std::lock_guard<std::mutex> lock(table.mutex);
    auto key = ClassKey(name);
    if (table.classes.count(key)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    auto stored = table.names.emplace(key, name).first;
    WNDCLASSW copy = *windowClass;
    copy.lpszClassName = stored->second.c_str();
    copy.lpszMenuName = nullptr;
    table.classes.emplace(key, copy);
    return static_cast<ATOM>(0xC000 + table.classes.size());
}

BOOL UnregisterClassW(LPCWSTR className, HINSTANCE) {
    if (!className) return FALSE;
    ClassTable& table = Classes();
    std::lock_guard<std::mutex> lock(table.mutex);
    if (table.classes.erase(ClassKey(className)) == 0) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    return TRUE;
}

// The system classes (as "Dialog" and the controls) are registered at program start with
// a null instance; GetClassInfoW finds any class whatever instance is given.
BOOL GetClassInfoW(HINSTANCE, LPCWSTR className, WNDCLASSW* windowClass) {
    if (!className || !windowClass) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ClassTable& table = Classes();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.classes.find(ClassKey(className));
    if (it == table.classes.end()) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    *windowClass = it->second;
    return TRUE;
}
