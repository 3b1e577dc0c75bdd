// Between opening a wide text stream (the system's) and reading it (text_codec.cpp).
#pragma once

#include <cstdio>

namespace platform::detail {

// A stream just opened starts with nothing held back from an earlier stream at its address.
void StartTextStream(FILE* stream);

}  // namespace platform::detail
