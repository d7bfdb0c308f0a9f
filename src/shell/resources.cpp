// The string table and the icon group, from the same sources the Windows
// resource script compiles: resources/string_table.inc and resources/korvane.ico.
#include "shell/resources.h"

#include "platform/module_resources.h"

// The icon group 101, embedded from resources/korvane.ico by the build.
extern const unsigned char korvane_icon_group[];
extern const std::size_t korvane_icon_group_size;

namespace korvane::shell {
namespace {

constexpr platform::StringResource kStrings[] = {
#define KORVANE_STRING(id, text) {id, u"" text},
#include "shell/resources/string_table.inc"
#undef KORVANE_STRING
};

const platform::ModuleResources& Resources() {
  static const platform::IconGroupResource iconGroups[] = {
      {101, korvane_icon_group, korvane_icon_group_size},
  };
  static const platform::ModuleResources resources{kStrings, iconGroups};
  return resources;
}

}  // namespace

void RegisterResources(HMODULE module) { platform::RegisterModuleResources(module, Resources()); }

void UnregisterResources(HMODULE module) { platform::UnregisterModuleResources(module); }

}  // namespace korvane::shell
