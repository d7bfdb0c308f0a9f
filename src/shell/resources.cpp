// The library's resources from the sources the Windows resource script uses:
// the string table (resources/string_table.inc) and icon group 101
// (resources/korvane.ico, compiled in by the build).
#include "shell/resources.h"

#include "platform/module_resources.h"
#include "shell/menu_vocabulary.h"

#include <cstddef>

extern const unsigned char korvane_icon_group[];
extern const std::size_t korvane_icon_group_size;

namespace korvane::shell {
namespace {

constexpr platform::StringResource kStrings[] = {
#define KORVANE_STRING(id, text) {id, u"" text},
#include "shell/resources/string_table.inc"
#undef KORVANE_STRING
};

const platform::IconGroupResource kIconGroups[] = {
    {kProductIcon, KORVANE_EMBEDDED_FILE(korvane_icon_group)},
};

}  // namespace

void RegisterResources(HMODULE module) { platform::RegisterModuleResources(module, {kStrings, kIconGroups}); }

void UnregisterResources(HMODULE module) { platform::UnregisterModuleResources(module); }

}  // namespace korvane::shell
