// The string table and the icon compiled into the library: the Windows
// loading contracts, the images of icon group 101, and that every icon and
// bitmap handed out can be released.
#include "platform/posix/menu_probes.h"
#include "platform/windows_api.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using korvane::posix::IconImageInfo;
using korvane::posix::LiveBitmapCount;
using korvane::posix::LiveIconCount;

constexpr UINT kIconGroup = 101;

TEST(StringTable, LoadsEveryTextWithTheWindowsContract) {
  char16_t wide[128];
  char narrow[128];
  for (UINT id = 102; id <= 119; ++id) {
    SCOPED_TRACE(id);
    const int length = LoadStringW(nullptr, id, wide, 128);
    EXPECT_GT(length, 0);
    EXPECT_EQ(LoadStringA(nullptr, id, narrow, 128), length);  // the texts are ASCII
    EXPECT_EQ(std::u16string(wide), std::u16string(narrow, narrow + length));
    const WCHAR* resource = nullptr;
    EXPECT_EQ(LoadStringW(nullptr, id, reinterpret_cast<LPWSTR>(&resource), 0), length);
    EXPECT_EQ(std::u16string(resource, length), wide);
  }
  LoadStringW(nullptr, 102, wide, 128);
  EXPECT_EQ(std::u16string(wide), u"Use Korvane dialogs");
  LoadStringW(nullptr, 119, wide, 128);
  EXPECT_EQ(std::u16string(wide), u"Checks out a working copy from Halcyra");

  // Truncation: bufferMax - 1 units and a NUL, nothing beyond.
  std::fill(std::begin(wide), std::end(wide), u'#');
  EXPECT_EQ(LoadStringW(nullptr, 109, wide, 10), 9);
  EXPECT_EQ(std::u16string(wide), u"Deactivat");
  EXPECT_EQ(wide[10], u'#');
  std::fill(std::begin(narrow), std::end(narrow), '#');
  EXPECT_EQ(LoadStringA(nullptr, 109, narrow, 5), 4);
  EXPECT_EQ(std::string(narrow), "Deac");
  EXPECT_EQ(narrow[5], '#');

  for (UINT absent : {0u, 101u, 120u}) {
    EXPECT_EQ(LoadStringW(nullptr, absent, wide, 128), 0);
    EXPECT_EQ(LoadStringA(nullptr, absent, narrow, 128), 0);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
  }
}

TEST(IconGroup, HoldsTheEightImages) {
  struct Expected {
    int size;
    int bits;
    bool png;
  };
  const Expected expected[] = {{48, 8, false},    {32, 8, false},   {16, 8, false},  {256, 32, true},
                               {128, 32, false}, {48, 32, false}, {32, 32, false}, {16, 32, false}};
  const std::vector<IconImageInfo> images = korvane::posix::IconGroupImages(kIconGroup);
  ASSERT_EQ(images.size(), std::size(expected));
  for (std::size_t i = 0; i < images.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(images[i].width, expected[i].size);
    EXPECT_EQ(images[i].height, expected[i].size);
    EXPECT_EQ(images[i].bitsPerPixel, expected[i].bits);
    EXPECT_EQ(images[i].png, expected[i].png);
  }
  EXPECT_TRUE(korvane::posix::IconGroupImages(102).empty());
}

std::vector<BYTE> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(IconGroup, IsTheIconFileThatTheScriptDraws) {
  const auto root = std::filesystem::path(__FILE__).parent_path().parent_path().parent_path().parent_path();
  const std::vector<BYTE> committed = ReadFile(root / "src/shell/resources/korvane.ico");
  ASSERT_FALSE(committed.empty());
  const auto embedded = korvane::posix::IconGroupBytes(kIconGroup);
  EXPECT_TRUE(std::equal(embedded.begin(), embedded.end(), committed.begin(), committed.end()))
      << "the library holds another icon than the repository";

  if (std::system("python3 -c '' >/dev/null 2>&1") != 0) GTEST_SKIP() << "python3 is not installed";
  const auto drawn = std::filesystem::temp_directory_path() / ("korvane-icon-" + std::to_string(::getpid()) + ".ico");
  const std::string command = "python3 '" + (root / "scripts/make-icon.py").string() + "' '" + drawn.string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::vector<BYTE> fresh = ReadFile(drawn);
  std::filesystem::remove(drawn);
  EXPECT_TRUE(fresh == committed) << "scripts/make-icon.py no longer draws the committed icon";
}

struct LoadedImage {
  int width = 0;
  int height = 0;
  std::vector<BYTE> bgra;
  std::vector<BYTE> mask;
  LONG maskStride = 0;
};

// Loads the icon at a size and reads it back through GetIconInfo, releasing
// everything on the way.
LoadedImage Load(int cx, int cy, UINT flags, IconImageInfo& source) {
  LoadedImage loaded;
  HANDLE handle = LoadImageW(nullptr, MAKEINTRESOURCEW(kIconGroup), IMAGE_ICON, cx, cy, flags);
  EXPECT_NE(handle, nullptr);
  if (handle == nullptr) return loaded;
  auto icon = static_cast<HICON>(handle);
  source = korvane::posix::IconSourceImage(icon).value_or(IconImageInfo{});
  ICONINFO info{};
  EXPECT_TRUE(GetIconInfo(icon, &info));
  EXPECT_TRUE(info.fIcon);
  BITMAP colour{}, mask{};
  EXPECT_EQ(GetObjectW(info.hbmColor, sizeof(colour), &colour), static_cast<int>(sizeof(BITMAP)));
  EXPECT_EQ(GetObjectW(info.hbmMask, sizeof(mask), &mask), static_cast<int>(sizeof(BITMAP)));
  EXPECT_EQ(colour.bmBitsPixel, 32);
  EXPECT_EQ(mask.bmBitsPixel, 1);
  EXPECT_EQ(mask.bmWidth, colour.bmWidth);
  EXPECT_EQ(mask.bmHeight, colour.bmHeight);
  loaded.width = colour.bmWidth;
  loaded.height = colour.bmHeight;
  loaded.maskStride = mask.bmWidthBytes;
  loaded.bgra.resize(static_cast<std::size_t>(colour.bmWidthBytes) * colour.bmHeight);
  loaded.mask.resize(static_cast<std::size_t>(mask.bmWidthBytes) * mask.bmHeight);
  EXPECT_EQ(GetBitmapBits(info.hbmColor, static_cast<LONG>(loaded.bgra.size()), loaded.bgra.data()),
            static_cast<LONG>(loaded.bgra.size()));
  EXPECT_EQ(GetBitmapBits(info.hbmMask, static_cast<LONG>(loaded.mask.size()), loaded.mask.data()),
            static_cast<LONG>(loaded.mask.size()));
  EXPECT_TRUE(DeleteObject(info.hbmColor));
  EXPECT_TRUE(DeleteObject(info.hbmMask));
  EXPECT_TRUE(DestroyIcon(icon));
  return loaded;
}

TEST(LoadImage, PicksTheNearestImageAndReleasesEverything) {
  const int small = GetSystemMetrics(SM_CXSMICON);
  ASSERT_EQ(small, 16);
  ASSERT_EQ(GetSystemMetrics(SM_CYSMICON), 16);
  struct LoadCase {
    const char* name;
    int cx, cy;
    UINT flags;
    int expectedSize;
    IconImageInfo expectedSource;
  };
  const LoadCase cases[] = {
      {"the menu icon", small, small, LR_DEFAULTSIZE, 16, {16, 16, 32, false}},
      {"default size", 0, 0, LR_DEFAULTSIZE, 32, {32, 32, 32, false}},
      {"no size, no default: the first image", 0, 0, 0, 48, {48, 48, 32, false}},
      {"the PNG image", 256, 256, 0, 256, {256, 256, 32, true}},
      {"between sizes: the nearest, resized", 20, 20, 0, 20, {16, 16, 32, false}},
      {"a tie goes to the larger", 40, 40, 0, 40, {48, 48, 32, false}},
  };
  for (const LoadCase& c : cases) {
    SCOPED_TRACE(c.name);
    IconImageInfo source{};
    const LoadedImage image = Load(c.cx, c.cy, c.flags, source);
    EXPECT_EQ(image.width, c.expectedSize);
    EXPECT_EQ(image.height, c.expectedSize);
    EXPECT_EQ(source.width, c.expectedSource.width);
    EXPECT_EQ(source.bitsPerPixel, c.expectedSource.bitsPerPixel);
    EXPECT_EQ(source.png, c.expectedSource.png);
    // The corner lies outside the folder, the centre inside; the mask agrees.
    const std::size_t centre = (static_cast<std::size_t>(image.height / 2) * image.width + image.width / 2) * 4;
    ASSERT_GT(image.bgra.size(), centre);
    EXPECT_EQ(image.bgra[3], 0);
    EXPECT_EQ(image.bgra[centre + 3], 255);
    EXPECT_EQ(image.mask[0] & 0x80, 0x80);
    EXPECT_EQ(image.mask[static_cast<std::size_t>(image.height / 2) * image.maskStride + image.width / 16] &
                  (0x80 >> (image.width / 2 % 8)),
              0);
  }
  EXPECT_EQ(LiveIconCount(), 0u);
  EXPECT_EQ(LiveBitmapCount(), 0u);
}

TEST(LoadImage, DecodesThePngImageLikeTheBitmapOneBesideIt) {
  // The 256-pixel PNG, halved, matches the 128-pixel bitmap drawn from the
  // same shapes: only antialiased edges differ a little.
  IconImageInfo source{};
  const LoadedImage large = Load(256, 256, 0, source);
  const LoadedImage medium = Load(128, 128, 0, source);
  ASSERT_EQ(large.bgra.size(), 4 * medium.bgra.size());
  std::uint64_t difference = 0;
  for (int y = 0; y < 128; ++y) {
    for (int x = 0; x < 128; ++x) {
      for (int k = 0; k < 4; ++k) {
        int sum = 0;
        for (int d = 0; d < 4; ++d) sum += large.bgra[((2 * y + d / 2) * 256 + 2 * x + d % 2) * 4 + k];
        difference += std::abs(sum / 4 - medium.bgra[(y * 128 + x) * 4 + k]);
      }
    }
  }
  EXPECT_LT(difference / (128 * 128 * 4), 3u);
}

TEST(LoadImage, RefusesWhatItCannotLoadAndStaleHandles) {
  EXPECT_EQ(LoadImageW(nullptr, MAKEINTRESOURCEW(999), IMAGE_ICON, 16, 16, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
  EXPECT_EQ(LoadImageW(nullptr, u"KORVANE", IMAGE_ICON, 16, 16, 0), nullptr);
  EXPECT_EQ(LoadImageW(nullptr, MAKEINTRESOURCEW(kIconGroup), IMAGE_BITMAP, 16, 16, 0), nullptr);
  EXPECT_EQ(LoadImageW(nullptr, MAKEINTRESOURCEW(kIconGroup), IMAGE_ICON, -1, 16, 0), nullptr);

  auto icon = static_cast<HICON>(LoadImageW(nullptr, MAKEINTRESOURCEW(kIconGroup), IMAGE_ICON, 16, 16, 0));
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
  EXPECT_EQ(LiveIconCount(), 0u);
  EXPECT_EQ(LiveBitmapCount(), 0u);
}

}  // namespace
