// Platform-private: the process-wide table behind HANDLE values.
#pragma once

#include <memory>

#include "platform/types.h"

namespace platform::detail {

// Base of every object a HANDLE can name. Close() is called once, when the handle is
// closed; the object itself lives on while an operation still holds a reference.
class KernelObject {
public:
    virtual ~KernelObject() = default;
    virtual void Close() {}
};

HANDLE InsertHandle(std::shared_ptr<KernelObject> object);
// Returns null (and sets ERROR_INVALID_HANDLE) for an unknown or closed handle.
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);

template <class T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

}  // namespace platform::detail
