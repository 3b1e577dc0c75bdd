// The registry walks that produce the lister's lines: active COM and GPD driver instances
// with their friendly names, and Bluetooth serial ports.
#pragma once

#include "platform/base/types.h"
#include "platform/io/registry.h"

// Buffers of the walks, in characters with the terminator.
constexpr DWORD kNameChars = 128;
constexpr DWORD kPathChars = 128;
constexpr DWORD kValueChars = 128;
constexpr DWORD kLineChars = 128;

// Receives each finished line; the line is valid only during the call.
typedef void (*PortLineSink)(void* context, LPCWSTR line);

// The walks behind ListActivePorts and ListBluetoothPorts, with the list box replaced by a
// sink. They return the registry status of their last step, which no caller uses.
LONG WalkActivePorts(PortLineSink sink, void* context);
LONG WalkBluetoothPorts(PortLineSink sink, void* context);

// Run the walks and add each line to the port list (IDC_PORT_LIST) of the lister window.
LONG ListActivePorts(HWND window);
LONG ListBluetoothPorts(HWND window);

// Opens "Drivers\Active\<name>" under HKEY_LOCAL_MACHINE for reading.
LONG OpenActiveDriverKey(LPCWSTR subKeyName, HKEY* key);
// Reads a value as a string into a buffer of kValueChars characters.
LONG QueryStringValue(HKEY key, LPCWSTR valueName, WCHAR* buffer);
