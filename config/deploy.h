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
int DeployFindings(LPCWSTR iniPath, FirstPortQuery firstPort, NextPortQuery nextPort,
                   WCHAR* failures, size_t failuresChars);

// The explanation of a profile store result code, for the failure lines.
LPCWSTR ProfileResultText(int code);
