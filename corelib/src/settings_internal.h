// Settings store internals: how Corelib opens and creates HKLM\SOFTWARE\Quorel\Vantor.
#pragma once

#include "internal.h"
#include "protect.h"

namespace corelib {

// Opening and creating the settings key go through these entries, real by default. Wine does not
// enforce registry DACLs, so only unit tests that link Corelib's objects replace them to play a
// caller that may not read or may not write the key.
struct SettingsSeams {
    decltype(&::RegOpenKeyExW) RegOpenKeyExW;
    decltype(&::RegCreateKeyExW) RegCreateKeyExW;
};
extern SettingsSeams g_settingsSeams;

// The DACL given to the settings key (CORELIB_SETTINGS_SDDL) is in protect.h, shared with the service.

// Opens the existing settings key; never creates it. Returns the registry error.
LONG OpenSettingsKey(REGSAM access, HKEY* key);
// Opens the settings key, creating it (with the DACL above) when it cannot be opened.
// Returns the creation's error when both fail.
LONG OpenOrCreateSettingsKey(REGSAM access, HKEY* key);

}  // namespace corelib
