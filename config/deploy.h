// Writes what the port scan found into the host program's configuration file, in the
// layout that the file already uses for each device type.
#pragma once

#include "platform/base/types.h"

// The scan's answers, handed in so that this folder need not depend on the scan.
typedef int (*FirstPortQuery)(int* baud, int type);
typedef int (*NextPortQuery)(int* port, int* baud, int type);

// Runs every read and write of a deployment into the file at iniPath, in order: the first
// GPS receiver, the first radar detector and the ports free for a virtual COM port. A write
// that fails does not stop the others. Returns the number of failed writes; for each one a
// short English line ending in "\r\n" is appended to failures (a terminated buffer of
// failuresChars characters, cut when it is full).
//
// The whole deployment holds the lock file iniPath + ".lock", so that two deployments never
// rewrite the file at once. A file that cannot be rewritten safely is left alone with one
// line, counted as one failure, and nothing written:
//   "Not written: Belv.ini is busy: another program is writing it" (the lock was held
//   longer than kDeployLockWaitMs), "Not written: Belv.ini is not a regular file" (a FIFO,
//   a device, also through a link), "Not written: Belv.ini is read-only",
//   "Not written: Belv.ini belongs to another user" (not when running as the superuser).
int DeployFindings(LPCWSTR iniPath, FirstPortQuery firstPort, NextPortQuery nextPort,
                   WCHAR* failures, size_t failuresChars);

inline constexpr DWORD kDeployLockWaitMs = 3000;

// DeployFindings with its own bound on the wait for the lock.
int DeployFindingsWaiting(LPCWSTR iniPath, FirstPortQuery firstPort, NextPortQuery nextPort,
                          WCHAR* failures, size_t failuresChars, DWORD lockWaitMs);

// The explanation of a profile store result code, for the failure lines.
LPCWSTR ProfileResultText(int code);
