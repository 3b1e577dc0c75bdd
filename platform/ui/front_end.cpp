// Which front end shows the modal dialogs, and which dialogs run: on the calling thread
// (for painting) and in the process (for the tests that wait for them).
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "internal/dialog.h"

namespace platform::detail {
namespace {

struct ProcessDialogList {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<HWND> running;
};

ProcessDialogList& Running() {
    static ProcessDialogList* list = new ProcessDialogList;
    return *list;
}

thread_local std::vector<HWND> t_dialogs;

FrontEnd* g_programFrontEnd = nullptr;
FrontEnd* g_testFrontEnd = nullptr;

}  // namespace

FrontEnd* ActiveFrontEnd() {
    return g_testFrontEnd ? g_testFrontEnd : g_programFrontEnd;
}

void SetProgramFrontEnd(FrontEnd* frontEnd) {
    g_programFrontEnd = frontEnd;
}

void SetTestFrontEnd(FrontEnd* frontEnd) {
    g_testFrontEnd = frontEnd;
}

void DialogRunning(HWND dialog) {
    t_dialogs.push_back(dialog);
    ProcessDialogList& list = Running();
    std::lock_guard<std::mutex> lock(list.mutex);
    list.running.push_back(dialog);
    list.changed.notify_all();
}

void DialogGone(HWND dialog) {
    std::erase(t_dialogs, dialog);
    ProcessDialogList& list = Running();
    std::lock_guard<std::mutex> lock(list.mutex);
    std::erase(list.running, dialog);
    list.changed.notify_all();
}

const std::vector<HWND>& ThreadDialogs() {
    return t_dialogs;
}

std::vector<HWND> ProcessDialogs() {
    ProcessDialogList& list = Running();
    std::lock_guard<std::mutex> lock(list.mutex);
    return list.running;
}

HWND WaitForRunningDialog(int timeoutMs, HWND skip) {
    ProcessDialogList& list = Running();
    std::unique_lock<std::mutex> lock(list.mutex);
    HWND found = nullptr;
    list.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        for (auto it = list.running.rbegin(); it != list.running.rend(); ++it) {
            if (*it != skip) {
                found = *it;
                return true;
            }
        }
        return false;
    });
    return found;
}

bool WaitForDialogGone(HWND dialog, int timeoutMs) {
    ProcessDialogList& list = Running();
    std::unique_lock<std::mutex> lock(list.mutex);
    return list.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return std::find(list.running.begin(), list.running.end(), dialog) == list.running.end();
    });
}

}  // namespace platform::detail
