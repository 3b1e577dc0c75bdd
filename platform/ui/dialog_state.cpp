// A dialog's state beside its window record, and the dialog manager's tab order.
#include "internal/dialog.h"

namespace platform::detail {
namespace {

bool IsTabStop(const WindowRecord& record) {
    return (record.style & WS_TABSTOP) && (record.style & WS_VISIBLE) &&
           !(record.style & WS_DISABLED);
}

}  // namespace

DialogState* GetDialogState(HWND dialog) {
    auto record = FindWindowRecord(dialog);
    if (!record) return nullptr;
    return dynamic_cast<DialogState*>(record->extension.get());
}

bool DoneButtonVisible(HWND dialog) {
    auto record = FindWindowRecord(dialog);
    DialogState* state = GetDialogState(dialog);
    return record && state && (record->exStyle & WS_EX_CAPTIONOKBTN) && !state->taskbarHidden;
}

HWND DialogOf(HWND control) {
    auto record = FindWindowRecord(control);
    if (!record || !record->parent) return nullptr;
    return GetDialogState(record->parent) ? record->parent : nullptr;
}

HWND NextTabStop(HWND dialog, HWND from, bool forward) {
    auto record = FindWindowRecord(dialog);
    if (!record) return nullptr;
    const auto& children = record->children;
    int n = static_cast<int>(children.size());
    if (n == 0) return nullptr;
    int start = forward ? -1 : n;
    for (int i = 0; i < n; ++i)
        if (children[static_cast<size_t>(i)] == from) start = i;
    for (int step = 1; step <= n; ++step) {
        int i = ((start + (forward ? step : -step)) % n + n) % n;
        auto child = FindWindowRecord(children[static_cast<size_t>(i)]);
        if (child && IsTabStop(*child)) return child->handle;
    }
    return nullptr;
}

}  // namespace platform::detail
