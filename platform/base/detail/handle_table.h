// Platform-private: the process-wide table behind HANDLE values.
#pragma once

#include <memory>

#include "platform/base/types.h"

namespace platform::detail {

// Base of every object a HANDLE can name. Close() is called once, when the handle is
// closed; the object itself lives on while an operation still holds a reference.
class KernelObject {
  public:
    virtual ~KernelObject() = default;
    virtual void Close() {}
    // ReadFile and WriteFile dispatch here; objects that cannot be read or written keep
    // these defaults, which fail with ERROR_INVALID_HANDLE.
    virtual bool Read(void* buffer, DWORD toRead, DWORD* read);
    virtual bool Write(const void* buffer, DWORD toWrite, DWORD* written);
};

HANDLE InsertHandle(std::shared_ptr<KernelObject> object);
// Returns null (and sets ERROR_INVALID_HANDLE) for an unknown or closed handle.
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);

template <class T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

}  // namespace platform::detail
