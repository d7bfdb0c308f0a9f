// What tests may see of the menu, bitmap and icon tables and of the icon
// groups compiled into the library, to prove that nothing is leaked and
// that the right image is used.
#pragma once

#include "win32_menus.h"

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

namespace korvane::posix {

// Objects created and not yet destroyed.
std::size_t LiveMenuCount();
std::size_t LiveBitmapCount();
std::size_t LiveIconCount();

struct IconImageInfo {
  int width;
  int height;
  int bitsPerPixel;
  bool png;
};

// The .ico bytes of an icon group, empty when there is no such group.
std::span<const BYTE> IconGroupBytes(HMODULE module, UINT groupId);
// The images of an icon group in the order of its directory, as their own
// headers describe them; empty when the group is absent or malformed.
std::vector<IconImageInfo> IconGroupImages(HMODULE module, UINT groupId);
// The group image an icon was made from.
std::optional<IconImageInfo> IconSourceImage(HICON icon);

}  // namespace korvane::posix
