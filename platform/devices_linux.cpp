#include "platform/devices.h"
#include "platform/internal/registry_store.h"

namespace platform::detail {

void EnsureDeviceTable() {}

}  // namespace platform::detail
