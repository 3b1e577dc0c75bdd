// Registration of simulated ports in the registry, where the device manager finds serial
// devices: HKEY_LOCAL_MACHINE\Drivers\BuiltIn\Simulated_COM<n> with Prefix, Index,
// DevicePath and FriendlyName.
#pragma once

#include <string>
#include <vector>

#include "tools/simulator/bench.h"

namespace sim {

struct Registration {
    std::u16string keyPath;  // below HKEY_LOCAL_MACHINE
    std::string devicePath;
    bool active = false;
};

std::u16string RegistrationKeyPath(int comIndex);

// Writes the key for a device on devicePath. An existing key of the same name (left by a
// simulator that did not end cleanly) is taken over; replaced says so.
bool RegisterDevice(const DeviceSpec& device, const std::string& devicePath,
                    Registration& registration, bool& replaced, std::string& error);

// The keys on the way to the registrations (Drivers\BuiltIn, Drivers) that do not exist
// yet, deepest first: the first registration creates them, and the last removal takes them
// away again when nothing else has come to live in them.
std::vector<std::u16string> MissingParentKeys();
void RemoveEmptyKeys(const std::vector<std::u16string>& keyPaths);

// Removes the key, unless another process has since pointed it at another device.
void Unregister(Registration& registration);

}  // namespace sim
