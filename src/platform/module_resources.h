// A module's resources: its string table and icon groups. On Windows the
// resource compiler puts them in the module's image, where the loader finds
// them; on POSIX a module registers them with the stand-in when it loads and
// withdraws them when it unloads, and the resource calls look them up by the
// module handle they are given.
#pragma once

#include "platform/windows_api.h"

#include <cstddef>
#include <span>

namespace korvane::platform {

struct StringResource {
  UINT id;
  const char16_t* text;  // NUL-terminated
};

struct IconGroupResource {
  UINT id;
  const unsigned char* bytes;  // an .ico file
  std::size_t size;
};

struct ModuleResources {
  std::span<const StringResource> strings;
  std::span<const IconGroupResource> iconGroups;
};

#ifdef _WIN32
inline void RegisterModuleResources(HMODULE, const ModuleResources&) {}
inline void UnregisterModuleResources(HMODULE) {}
#else
// The spans must stay valid until the module withdraws them.
void RegisterModuleResources(HMODULE module, const ModuleResources& resources);
void UnregisterModuleResources(HMODULE module);
#endif

}  // namespace korvane::platform
