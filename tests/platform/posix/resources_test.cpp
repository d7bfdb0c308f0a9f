// Module resources: strings and icon groups found by the module that
// registered them, the Windows loading contracts, the icon image chosen by
// size and depth, and that every icon and bitmap handed out can be released.
#include "platform/module_resources.h"
#include "platform/posix/menu_probes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

namespace {

using korvane::platform::IconGroupResource;
using korvane::platform::StringResource;
using korvane::posix::LiveBitmapCount;
using korvane::posix::LiveIconCount;

constexpr UINT kGroup = 7;

// One image of an icon file: a bitmap of one colour (its blue value marks
// which image it is), or a PNG image that must never be decoded.
struct Picture {
  int size;
  int bits;  // 8 or 32
  BYTE blue;
  bool png;
};

void Put(std::vector<BYTE>& out, std::size_t at, DWORD value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[at + i] = static_cast<BYTE>(value >> (8 * i));
}

// An .ico file. The 8-bit images have a one-colour palette and their top
// left pixel transparent in the AND mask; the 32-bit images are opaque.
std::vector<BYTE> IconFile(std::initializer_list<Picture> pictures) {
  std::vector<BYTE> file(6 + 16 * pictures.size());
  Put(file, 2, 1, 2);
  Put(file, 4, static_cast<DWORD>(pictures.size()), 2);
  std::size_t entry = 6;
  for (const Picture& p : pictures) {
    std::vector<BYTE> image;
    if (p.png) {
      image = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    } else {
      const std::size_t palette = p.bits == 8 ? 4 : 0;
      const std::size_t colourStride = (static_cast<std::size_t>(p.size) * p.bits + 31) / 32 * 4;
      const std::size_t maskStride = (static_cast<std::size_t>(p.size) + 31) / 32 * 4;
      const std::size_t colours = 40 + palette;
      image.resize(colours + (colourStride + maskStride) * p.size);
      Put(image, 0, 40, 4);
      Put(image, 4, static_cast<DWORD>(p.size), 4);
      Put(image, 8, static_cast<DWORD>(2 * p.size), 4);
      Put(image, 12, 1, 2);
      Put(image, 14, static_cast<DWORD>(p.bits), 2);
      if (p.bits == 8) {
        Put(image, 32, 1, 4);  // colours used
        image[40] = p.blue;
        image[colours + colourStride * p.size + maskStride * (p.size - 1)] = 0x80;  // top row, first pixel
      } else {
        for (std::size_t px = 0; px < static_cast<std::size_t>(p.size) * p.size; ++px) {
          image[colours + 4 * px] = p.blue;
          image[colours + 4 * px + 3] = 255;
        }
      }
    }
    file[entry] = static_cast<BYTE>(p.size);  // 256 is written as 0
    file[entry + 1] = static_cast<BYTE>(p.size);
    Put(file, entry + 4, 1, 2);
    Put(file, entry + 6, static_cast<DWORD>(p.bits), 2);
    Put(file, entry + 8, static_cast<DWORD>(image.size()), 4);
    Put(file, entry + 12, static_cast<DWORD>(file.size()), 4);
    file.insert(file.end(), image.begin(), image.end());
    entry += 16;
  }
  return file;
}

const std::vector<BYTE> kIconFile = IconFile({{16, 8, 0x10, false},
                                              {16, 32, 0x20, false},
                                              {32, 8, 0x30, false},
                                              {32, 32, 0, true},
                                              {48, 32, 0, true}});

const StringResource kStrings[] = {{1, u"Deactivate"}, {2, u"Grüße"}};
const IconGroupResource kIcons[] = {{kGroup, kIconFile.data(), kIconFile.size()}};

// Stand-ins for module handles: the addresses of two objects of this program.
int registeredTag, otherTag;
const HMODULE kModule = &registeredTag;
const HMODULE kOtherModule = &otherTag;

class ModuleResources : public ::testing::Test {
 protected:
  void SetUp() override { korvane::platform::RegisterModuleResources(kModule, {kStrings, kIcons}); }
  void TearDown() override { korvane::platform::UnregisterModuleResources(kModule); }
};

// A missing id or module loads nothing and says so.
TEST_F(ModuleResources, LoadsStringsByIdAndTruncatesOnCharacterBoundaries) {
  const struct {
    HMODULE module;
    UINT id;
    int bufferMax;
    std::u16string wide;
    std::string narrow;  // UTF-8
  } cases[] = {
      {kModule, 1, 64, u"Deactivate", "Deactivate"},
      {kModule, 1, 5, u"Deac", "Deac"},
      {kModule, 2, 64, u"Grüße", "Grüße"},
      {kModule, 2, 4, u"Grü", "Gr"},  // "ü" needs two bytes, one more than is left
      {kModule, 2, 5, u"Grüß", "Grü"},
      {kModule, 1, 1, u"", ""},
      {kModule, 3, 8, u"", ""},
      {kModule, 0, 8, u"", ""},
      {kOtherModule, 1, 8, u"", ""},
      {nullptr, 1, 8, u"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.narrow + "/" + std::to_string(c.id) + "/" + std::to_string(c.bufferMax));
    const bool found = c.module == kModule && c.id <= 2 && c.id > 0;
    char16_t wide[65];  // one past the largest bufferMax, to see that nothing is written there
    char narrow[65];
    std::fill(std::begin(wide), std::end(wide), u'#');
    std::fill(std::begin(narrow), std::end(narrow), '#');
    EXPECT_EQ(LoadStringW(c.module, c.id, wide, c.bufferMax), static_cast<int>(c.wide.size()));
    const DWORD wideError = GetLastError();
    EXPECT_EQ(LoadStringA(c.module, c.id, narrow, c.bufferMax), static_cast<int>(c.narrow.size()));
    if (!found) {
      EXPECT_EQ(wideError, ERROR_RESOURCE_NAME_NOT_FOUND);
      EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
    }
    EXPECT_EQ(std::u16string(wide), c.wide);
    EXPECT_EQ(std::string(narrow), c.narrow);
    EXPECT_EQ(wide[c.bufferMax], u'#');
    EXPECT_EQ(narrow[c.bufferMax], '#');
  }
  // A zero buffer size asks for the resource itself, read-only.
  const WCHAR* resource = nullptr;
  EXPECT_EQ(LoadStringW(kModule, 1, reinterpret_cast<LPWSTR>(&resource), 0), 10);
  EXPECT_EQ(resource, kStrings[0].text);
  // Once the module's resources are gone, nothing is found.
  korvane::platform::UnregisterModuleResources(kModule);
  char16_t wide[8];
  EXPECT_EQ(LoadStringW(kModule, 1, wide, 8), 0);
  EXPECT_EQ(LoadImageW(kModule, MAKEINTRESOURCEW(kGroup), IMAGE_ICON, 16, 16, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
}

TEST_F(ModuleResources, LoadsTheDeepestBitmapImageOfExactlyTheRequestedSize) {
  const struct {
    const char* label;
    int cx, cy;
    UINT flags;
    int size;  // 0: the load fails
    BYTE blue;
    BYTE cornerAlpha;
  } cases[] = {
      {"the menu icon: 32 bits before 8", GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
       LR_DEFAULTSIZE, 16, 0x20, 255},
      {"default size: the PNG image is skipped", 0, 0, LR_DEFAULTSIZE, 32, 0x30, 0},
      {"no size and no default: the first image's size", 0, 0, 0, 16, 0x20, 255},
      {"only a PNG image has the size", 48, 48, 0, 0, 0, 0},
      {"no image has the size", 20, 20, 0, 0, 0, 0},
      {"no image is that wide and that high", 16, 32, 0, 0, 0, 0},
  };
  const std::size_t icons = LiveIconCount(), bitmaps = LiveBitmapCount();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    auto icon = static_cast<HICON>(LoadImageW(kModule, MAKEINTRESOURCEW(kGroup), IMAGE_ICON, c.cx, c.cy, c.flags));
    if (c.size == 0) {
      EXPECT_EQ(icon, nullptr);
      EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
      continue;
    }
    ASSERT_NE(icon, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP colour{}, mask{};
    ASSERT_EQ(GetObjectW(info.hbmColor, sizeof colour, &colour), static_cast<int>(sizeof(BITMAP)));
    ASSERT_EQ(GetObjectW(info.hbmMask, sizeof mask, &mask), static_cast<int>(sizeof(BITMAP)));
    EXPECT_EQ(colour.bmWidth, c.size);
    EXPECT_EQ(colour.bmHeight, c.size);
    EXPECT_EQ(colour.bmBitsPixel, 32);
    EXPECT_EQ(mask.bmBitsPixel, 1);
    std::vector<BYTE> pixels(static_cast<std::size_t>(colour.bmWidthBytes) * colour.bmHeight);
    std::vector<BYTE> maskBits(static_cast<std::size_t>(mask.bmWidthBytes) * mask.bmHeight);
    EXPECT_EQ(GetBitmapBits(info.hbmColor, static_cast<LONG>(pixels.size()), pixels.data()),
              static_cast<LONG>(pixels.size()));
    EXPECT_EQ(GetBitmapBits(info.hbmMask, static_cast<LONG>(maskBits.size()), maskBits.data()),
              static_cast<LONG>(maskBits.size()));
    EXPECT_EQ(pixels[4], c.blue);  // the second pixel of the top row
    EXPECT_EQ(pixels[3], c.cornerAlpha);
    EXPECT_EQ(pixels[7], 255);
    EXPECT_EQ((maskBits[0] & 0x80) != 0, c.cornerAlpha == 0);
    EXPECT_TRUE(DeleteObject(info.hbmColor));
    EXPECT_TRUE(DeleteObject(info.hbmMask));
    EXPECT_TRUE(DestroyIcon(icon));
  }
  EXPECT_EQ(LiveIconCount(), icons);
  EXPECT_EQ(LiveBitmapCount(), bitmaps);
}

TEST_F(ModuleResources, RefusesWhatItCannotLoadAndStaleHandles) {
  const struct {
    LPCWSTR name;
    UINT type;
    int cx;
    DWORD error;
  } refused[] = {
      {MAKEINTRESOURCEW(999), IMAGE_ICON, 16, ERROR_RESOURCE_NAME_NOT_FOUND},
      {u"KORVANE", IMAGE_ICON, 16, ERROR_RESOURCE_NAME_NOT_FOUND},
      {MAKEINTRESOURCEW(kGroup), IMAGE_BITMAP, 16, ERROR_NOT_SUPPORTED},
      {MAKEINTRESOURCEW(kGroup), IMAGE_ICON, -1, ERROR_INVALID_PARAMETER},
  };
  for (const auto& r : refused) {
    EXPECT_EQ(LoadImageW(kModule, r.name, r.type, r.cx, 16, 0), nullptr);
    EXPECT_EQ(GetLastError(), r.error);
  }

  const std::size_t icons = LiveIconCount(), bitmaps = LiveBitmapCount();
  auto icon = static_cast<HICON>(LoadImageW(kModule, MAKEINTRESOURCEW(kGroup), IMAGE_ICON, 16, 16, 0));
  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(icon, &info));
  ASSERT_TRUE(DestroyIcon(icon));
  ASSERT_TRUE(DeleteObject(info.hbmColor));
  ASSERT_TRUE(DeleteObject(info.hbmMask));
  // Handles of one kind are never taken for another, nor for a live object.
  for (HGDIOBJ stale : {static_cast<HGDIOBJ>(icon), static_cast<HGDIOBJ>(info.hbmColor), HGDIOBJ{}}) {
    EXPECT_FALSE(DestroyIcon(static_cast<HICON>(stale)));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_CURSOR_HANDLE);
    EXPECT_FALSE(GetIconInfo(static_cast<HICON>(stale), &info));
    EXPECT_FALSE(DeleteObject(stale));
    BITMAP bitmap{};
    EXPECT_EQ(GetObjectW(stale, sizeof(bitmap), &bitmap), 0);
  }
  EXPECT_EQ(LiveIconCount(), icons);
  EXPECT_EQ(LiveBitmapCount(), bitmaps);
}

}  // namespace
