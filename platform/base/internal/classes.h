// Platform-private (base layer): the window class table's helpers for the window table.
#pragma once

#include <string>
#include <string_view>

namespace platform::detail {

// Class names compare without regard to ASCII case; this is the form they compare in.
std::u16string ClassKey(std::u16string_view className);

}  // namespace platform::detail
