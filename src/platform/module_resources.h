// A module's string table and icon groups, as the loader finds them. On
// Windows the resource compiler puts them in the module's image, so there is
// nothing to register; on POSIX a module registers them with the platform
// layer at load, and LoadStringW, LoadStringA and LoadImageW look them up by
// the module handle they are given.
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
  const unsigned char* bytes;  // an .ico file's bytes
  std::size_t size;
};

// Spans over the registering module's static data.
struct ModuleResources {
  std::span<const StringResource> strings;
  std::span<const IconGroupResource> iconGroups;
};

#ifdef _WIN32

inline void RegisterModuleResources(HMODULE, const ModuleResources&) {}
inline void UnregisterModuleResources(HMODULE) {}

// The bytes and size of a file the build compiled into a POSIX module
// (korvane_embed_file); a Windows module has its files in the image instead.
#define KORVANE_EMBEDDED_FILE(symbol) nullptr, 0

#else

// Keeps the module's resources until it is unregistered; registering again
// replaces them.
void RegisterModuleResources(HMODULE module, const ModuleResources& resources);
void UnregisterModuleResources(HMODULE module);

#define KORVANE_EMBEDDED_FILE(symbol) symbol, symbol##_size

#endif

}  // namespace korvane::platform
