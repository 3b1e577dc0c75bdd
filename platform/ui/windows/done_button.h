// Layer-private on Windows: the mark of a dialog whose close box stands for the Done
// button of Windows CE (set by the shell calls, read by the dialog procedure).
#pragma once

#include "platform/base/windows/win32.h"

namespace platform::detail {

inline constexpr WCHAR kDoneButtonProperty[] = TEXT("Belvane.DoneButton");

inline bool HasDoneButton(HWND dialog) {
    return GetPropW(dialog, kDoneButtonProperty) != nullptr;
}

}  // namespace platform::detail
