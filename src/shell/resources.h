// The shell extension's resources: the string table and the icon of its
// menu entry, registered with the platform layer for the library's module.
#pragma once

#include "platform/windows_api.h"

namespace korvane::shell {

void RegisterResources(HMODULE module);
void UnregisterResources(HMODULE module);

}  // namespace korvane::shell
