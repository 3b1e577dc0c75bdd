// Platform-private: what keys and clicks do in a dialog (dialog_input.cpp), called by the
// front ends on the dialog's thread.
#pragma once

#include "internal/dialog.h"

namespace platform::detail {

void HandleKey(HWND dialog, DialogKey key);
// A click at a cell of the screen; false when it pressed or chose nothing.
bool HandleClick(HWND dialog, int column, int row);
// Presses the title bar's Done/OK button; false when the dialog shows none.
bool PressDone(HWND dialog);
void SendCloseRequest(HWND dialog);

}  // namespace platform::detail
