// The shell extension's resources: the menu and help texts and the icon.
#pragma once

#include "platform/windows_api.h"

namespace korvane::shell {

// Makes the string table and the icon group known under the module's handle,
// as the system does for a module's image on Windows.
void RegisterResources(HMODULE module);
void UnregisterResources(HMODULE module);

}  // namespace korvane::shell
