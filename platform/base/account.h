// What went wrong, told to the user after the program: the platform notes each failure it
// meets (a device that would not open and why, a damaged or unwritable registry file)
// beside the dialogs' own texts, which stay as they are. Nothing is written while the
// program runs, so the terminal's screen is never drawn over; the entry prints the account
// on stderr once the terminal is handed back.
//
// BELVANE_LOG=FILE also writes a timestamped log of the run (the scan's ports, steps, rates,
// bytes and findings, and every failure noted) for bug reports.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/base/types.h"

namespace platform {

// Adds a line (UTF-8, no line end) to the account; a line already there is not repeated,
// and past a few dozen lines only their number is kept. Any thread.
void Note(std::string_view line);
// The lines so far, in the order noted, and how many more were left out.
std::vector<std::string> AccountLines(size_t* leftOut = nullptr);
// Empties the account (tests, and the entry once it has printed it).
void ClearAccount();

// True when BELVANE_LOG names a log file that could be opened.
bool Logging();
// Writes one line to the log, after the time and the thread; nothing without a log.
void LogLine(std::string_view line);
// The same with the formatter of StringCchPrintfW, for system code.
void LogFormat(LPCWSTR format, ...);

}  // namespace platform
