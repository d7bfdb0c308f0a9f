// Module resources: the string tables and icon groups (.ico files, as the
// resource compiler takes them) that each module registers at load, looked
// up by module handle as the loader finds them in a module's image. Icon and
// bitmap handles name objects in tables, as menu handles do, so a stale or
// made-up handle fails the call instead of being dereferenced.
#include "platform/module_resources.h"

#include "errno_to_win32.h"
#include "menu_probes.h"
#include "wide_path.h"
#include "win32_calls.h"
#include "win32_menus.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace korvane::platform {
namespace {

std::mutex registeredLock;

std::unordered_map<HMODULE, ModuleResources>& Registered() {
  static std::unordered_map<HMODULE, ModuleResources> modules;
  return modules;
}

}  // namespace

void RegisterModuleResources(HMODULE module, const ModuleResources& resources) {
  std::lock_guard lock(registeredLock);
  Registered().insert_or_assign(module, resources);
}

void UnregisterModuleResources(HMODULE module) {
  std::lock_guard lock(registeredLock);
  Registered().erase(module);
}

}  // namespace korvane::platform

namespace korvane::posix {
namespace {

using platform::ModuleResources;

// The module's resources; empty spans when it registered none. The spans
// point at the module's static data, so they outlive the lock.
ModuleResources ResourcesOf(HMODULE module) {
  std::lock_guard lock(platform::registeredLock);
  const auto& modules = platform::Registered();
  const auto it = modules.find(module);
  return it == modules.end() ? ModuleResources{} : it->second;
}

std::optional<std::u16string_view> FindString(HMODULE module, UINT id) {
  for (const platform::StringResource& entry : ResourcesOf(module).strings) {
    if (entry.id == id) return std::u16string_view(entry.text);
  }
  return std::nullopt;
}

std::span<const BYTE> FindIconGroup(HMODULE module, UINT id) {
  for (const platform::IconGroupResource& group : ResourcesOf(module).iconGroups) {
    if (group.id == id) return {group.bytes, group.size};
  }
  return {};
}

// --- Icon groups --------------------------------------------------------

// An icon is at most this wide and high here; larger requests are refused
// rather than allowed to exhaust the host's memory.
constexpr int kMaxIconSide = 4096;

DWORD Little32(std::span<const BYTE> bytes, std::size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<DWORD>(bytes[at + 3]) << 24;
}
WORD Little16(std::span<const BYTE> bytes, std::size_t at) { return static_cast<WORD>(bytes[at] | bytes[at + 1] << 8); }

constexpr BYTE kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t kBitmapHeaderSize = 40;  // BITMAPINFOHEADER

// A device-independent bitmap image of the group, as its own header
// describes it. PNG images are not among them: no menu asks for a size that
// only a PNG image has.
struct GroupImage {
  int width;
  int height;
  int bitsPerPixel;
  std::span<const BYTE> data;
};

// The bitmap images of an .ico file (ICONDIR and its ICONDIRENTRYs), and the
// directory's size of its first image; nullopt when the file is malformed.
struct GroupDirectory {
  int firstWidth;
  int firstHeight;
  std::vector<GroupImage> bitmaps;
};

std::optional<GroupDirectory> ReadDirectory(std::span<const BYTE> file) {
  if (file.size() < 6 || Little16(file, 0) != 0 || Little16(file, 2) != 1) return std::nullopt;
  const std::size_t count = Little16(file, 4);
  if (count == 0 || file.size() < 6 + 16 * count) return std::nullopt;
  GroupDirectory directory{file[6] == 0 ? 256 : file[6], file[7] == 0 ? 256 : file[7], {}};
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = 6 + 16 * i;
    const DWORD size = Little32(file, at + 8);
    const DWORD offset = Little32(file, at + 12);
    if (offset > file.size() || size > file.size() - offset) return std::nullopt;
    const auto data = file.subspan(offset, size);
    const bool png = data.size() >= sizeof(kPngSignature) &&
                     std::memcmp(data.data(), kPngSignature, sizeof(kPngSignature)) == 0;
    if (png) continue;
    if (data.size() < kBitmapHeaderSize || Little32(data, 0) < kBitmapHeaderSize) return std::nullopt;
    const auto height = static_cast<std::int32_t>(Little32(data, 8));
    directory.bitmaps.push_back({static_cast<int>(Little32(data, 4)), height / 2, Little16(data, 14), data});
  }
  return directory;
}

// Of the group's bitmap images of exactly the requested size, the deepest.
const GroupImage* Chosen(const GroupDirectory& directory, int width, int height) {
  const GroupImage* best = nullptr;
  for (const GroupImage& image : directory.bitmaps) {
    if (image.width != width || image.height != height) continue;
    if (best == nullptr || image.bitsPerPixel > best->bitsPerPixel) best = &image;
  }
  return best;
}

// --- Decoding a bitmap image into BGRA (alpha not premultiplied) --------

struct Image {
  int width = 0;
  int height = 0;
  std::vector<BYTE> bgra;  // rows top to bottom
};

bool SaneSize(std::int64_t width, std::int64_t height) {
  return width > 0 && height > 0 && width <= kMaxIconSide && height <= kMaxIconSide;
}

// A device-independent bitmap image: the colour rows, then the AND mask,
// both bottom row first.
std::optional<Image> DecodeBitmap(std::span<const BYTE> data) {
  const DWORD headerSize = Little32(data, 0);
  const auto width = static_cast<std::int32_t>(Little32(data, 4));
  const auto doubleHeight = static_cast<std::int32_t>(Little32(data, 8));
  const int bits = Little16(data, 14);
  const DWORD compression = Little32(data, 16);
  const DWORD coloursUsed = Little32(data, 32);
  if (headerSize < kBitmapHeaderSize || headerSize > data.size() || compression != 0 || doubleHeight <= 0 ||
      !SaneSize(width, doubleHeight / 2)) {
    return std::nullopt;
  }
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return std::nullopt;
  const int height = doubleHeight / 2;
  const std::size_t paletteSize = bits <= 8 ? (coloursUsed != 0 ? coloursUsed : 1u << bits) : 0;
  const std::size_t colourStride = (static_cast<std::size_t>(width) * bits + 31) / 32 * 4;
  const std::size_t maskStride = (static_cast<std::size_t>(width) + 31) / 32 * 4;
  const std::size_t palette = headerSize;
  const std::size_t colours = palette + 4 * paletteSize;
  const std::size_t mask = colours + colourStride * height;
  if (paletteSize > 256 || mask + maskStride * height > data.size()) return std::nullopt;
  auto transparent = [&](int x, int y) {
    return ((data[mask + maskStride * (height - 1 - y) + x / 8] >> (7 - x % 8)) & 1) != 0;
  };

  Image image{width, height, std::vector<BYTE>(static_cast<std::size_t>(width) * height * 4)};
  bool anyAlpha = false;
  for (int y = 0; y < height; ++y) {
    const BYTE* row = &data[colours + colourStride * (height - 1 - y)];
    for (int x = 0; x < width; ++x) {
      BYTE* out = &image.bgra[(static_cast<std::size_t>(y) * width + x) * 4];
      if (bits <= 8) {
        const int perByte = 8 / bits;
        const int index = (row[x / perByte] >> ((perByte - 1 - x % perByte) * bits)) & ((1 << bits) - 1);
        if (static_cast<std::size_t>(index) >= paletteSize) return std::nullopt;
        std::memcpy(out, &data[palette + 4 * index], 3);
      } else {
        std::memcpy(out, &row[x * (bits / 8)], 3);
      }
      out[3] = bits == 32 ? row[x * 4 + 3] : transparent(x, y) ? 0 : 255;
      anyAlpha = anyAlpha || (bits == 32 && out[3] != 0);
    }
  }
  // A 32-bit image with no alpha at all is an old one: the mask decides.
  if (bits == 32 && !anyAlpha) {
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        image.bgra[(static_cast<std::size_t>(y) * width + x) * 4 + 3] = transparent(x, y) ? 0 : 255;
      }
    }
  }
  return image;
}

// --- Bitmaps and icons --------------------------------------------------

struct BitmapObject {
  LONG width;
  LONG height;
  WORD bitsPerPixel;
  LONG stride;  // padded to 16 bits, as device-dependent bitmaps are
  std::vector<BYTE> bits;
};

struct IconObject {
  Image image;
};

// Objects behind handles of one kind: serial numbers never reused, with the
// kind in the low four bits (menus use 0x4).
template <typename Object, std::uintptr_t kTag>
class HandleTable {
 public:
  template <typename Handle>
  Handle Add(std::unique_ptr<Object> object) {
    std::lock_guard lock(mutex_);
    const std::uintptr_t handle = (nextSerial_++ << 4) | kTag;
    objects_.emplace(handle, std::move(object));
    return reinterpret_cast<Handle>(handle);
  }

  // Runs `use` on the object under the table's lock; false if there is none.
  template <typename Use>
  bool With(const void* handle, Use use) {
    std::lock_guard lock(mutex_);
    auto it = objects_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == objects_.end()) return false;
    use(*it->second);
    return true;
  }

  bool Remove(const void* handle) {
    std::unique_ptr<Object> removed;
    std::lock_guard lock(mutex_);
    auto it = objects_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == objects_.end()) return false;
    removed = std::move(it->second);
    objects_.erase(it);
    return true;
  }

  std::size_t Count() {
    std::lock_guard lock(mutex_);
    return objects_.size();
  }

 private:
  std::mutex mutex_;
  std::unordered_map<std::uintptr_t, std::unique_ptr<Object>> objects_;
  std::uintptr_t nextSerial_ = 0x100;
};

HandleTable<BitmapObject, 0x8>& Bitmaps() {
  static HandleTable<BitmapObject, 0x8> table;
  return table;
}

HandleTable<IconObject, 0xC>& Icons() {
  static HandleTable<IconObject, 0xC> table;
  return table;
}

// The colour bitmap of an icon: 32 bits per pixel, BGRA.
HBITMAP ColourBitmap(const Image& image) {
  auto bitmap = std::make_unique<BitmapObject>(
      BitmapObject{image.width, image.height, 32, image.width * 4, image.bgra});
  return Bitmaps().Add<HBITMAP>(std::move(bitmap));
}

// The AND mask of an icon: one bit per pixel, set where it is transparent.
HBITMAP MaskBitmap(const Image& image) {
  const LONG stride = (image.width + 15) / 16 * 2;
  auto bitmap = std::make_unique<BitmapObject>(BitmapObject{
      image.width, image.height, 1, stride, std::vector<BYTE>(static_cast<std::size_t>(stride) * image.height)});
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      if (image.bgra[(static_cast<std::size_t>(y) * image.width + x) * 4 + 3] == 0) {
        bitmap->bits[static_cast<std::size_t>(y) * stride + x / 8] |= static_cast<BYTE>(0x80 >> (x % 8));
      }
    }
  }
  return Bitmaps().Add<HBITMAP>(std::move(bitmap));
}

// The longest prefix of at most `limit` bytes that ends on a character
// boundary of the UTF-8 text.
std::size_t Utf8Prefix(const std::string& text, std::size_t limit) {
  if (limit >= text.size()) return text.size();
  while (limit > 0 && (static_cast<unsigned char>(text[limit]) & 0xC0) == 0x80) --limit;
  return limit;
}

}  // namespace

std::size_t LiveBitmapCount() { return Bitmaps().Count(); }
std::size_t LiveIconCount() { return Icons().Count(); }

}  // namespace korvane::posix

using korvane::posix::Bitmaps;
using korvane::posix::BitmapObject;
using korvane::posix::Fail;
using korvane::posix::Guarded;
using korvane::posix::IconObject;
using korvane::posix::Icons;

int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax) {
  if (buffer == nullptr || bufferMax < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const auto found = korvane::posix::FindString(instance, id);
  if (!found) {
    if (bufferMax > 0) buffer[0] = 0;
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
  }
  const std::u16string_view text = *found;
  if (bufferMax == 0) {  // the caller asked for the resource itself, read-only
    const WCHAR* resource = text.data();
    std::memcpy(buffer, &resource, sizeof(resource));
    return static_cast<int>(text.size());
  }
  const std::size_t count = std::min(text.size(), static_cast<std::size_t>(bufferMax) - 1);
  std::copy_n(text.data(), count, buffer);
  buffer[count] = 0;
  return static_cast<int>(count);
}

int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int bufferMax) {
  if (buffer == nullptr || bufferMax <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  buffer[0] = 0;
  const auto found = korvane::posix::FindString(instance, id);
  if (!found) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
  }
  return Guarded(0, [&] {
    const std::string text = korvane::posix::NarrowPath(found->data());
    const std::size_t count = korvane::posix::Utf8Prefix(text, static_cast<std::size_t>(bufferMax) - 1);
    std::copy_n(text.data(), count, buffer);
    buffer[count] = 0;
    return static_cast<int>(count);
  });
}

int GetSystemMetrics(int index) {
  switch (index) {
    case SM_CXICON:
    case SM_CYICON: return 32;
    case SM_CXSMICON:
    case SM_CYSMICON: return 16;
    default: return 0;
  }
}

HANDLE LoadImageW(HINSTANCE instance, LPCWSTR name, UINT type, int cx, int cy, UINT flags) {
  if (type != IMAGE_ICON) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  if (cx < 0 || cy < 0 || cx > korvane::posix::kMaxIconSide || cy > korvane::posix::kMaxIconSide) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return Guarded(static_cast<HANDLE>(nullptr), [&]() -> HANDLE {
    const auto directory =
        IS_INTRESOURCE(name)
            ? korvane::posix::ReadDirectory(korvane::posix::FindIconGroup(
                  instance, static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name))))
            : std::nullopt;
    if (!directory) {
      SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
      return nullptr;
    }
    // A zero size means the system's icon size, or with no LR_DEFAULTSIZE
    // the size of the group's first image.
    const bool systemSize = (flags & LR_DEFAULTSIZE) != 0;
    const int width = cx != 0 ? cx : systemSize ? GetSystemMetrics(SM_CXICON) : directory->firstWidth;
    const int height = cy != 0 ? cy : systemSize ? GetSystemMetrics(SM_CYICON) : directory->firstHeight;
    // Images are not resampled: a size the group has no bitmap image of
    // fails, as a missing resource does.
    const auto* chosen = korvane::posix::Chosen(*directory, width, height);
    if (chosen == nullptr) {
      SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
      return nullptr;
    }
    auto image = korvane::posix::DecodeBitmap(chosen->data);
    if (!image) {
      SetLastError(ERROR_GEN_FAILURE);
      return nullptr;
    }
    return Icons().Add<HICON>(std::make_unique<IconObject>(IconObject{std::move(*image)}));
  });
}

BOOL GetIconInfo(HICON icon, PICONINFO info) {
  if (info == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  return Guarded(FALSE, [&]() -> BOOL {
    korvane::posix::Image image;
    if (!Icons().With(icon, [&](const IconObject& object) { image = object.image; })) {
      return Fail(ERROR_INVALID_CURSOR_HANDLE);
    }
    const HBITMAP colour = korvane::posix::ColourBitmap(image);
    HBITMAP mask = nullptr;
    try {
      mask = korvane::posix::MaskBitmap(image);
    } catch (...) {
      DeleteObject(colour);
      throw;
    }
    *info = ICONINFO{TRUE, static_cast<DWORD>(image.width / 2), static_cast<DWORD>(image.height / 2), mask, colour};
    return TRUE;
  });
}

BOOL DestroyIcon(HICON icon) { return Icons().Remove(icon) ? TRUE : Fail(ERROR_INVALID_CURSOR_HANDLE); }

BOOL DeleteObject(HGDIOBJ object) { return Bitmaps().Remove(object) ? TRUE : Fail(ERROR_INVALID_HANDLE); }

int GetObjectW(HGDIOBJ object, int size, LPVOID buffer) {
  int written = 0;
  const bool found = Bitmaps().With(object, [&](const BitmapObject& bitmap) {
    if (buffer == nullptr) {
      written = sizeof(BITMAP);
    } else if (size >= static_cast<int>(sizeof(BITMAP))) {
      const BITMAP description{0, bitmap.width, bitmap.height, bitmap.stride, 1, bitmap.bitsPerPixel, nullptr};
      std::memcpy(buffer, &description, sizeof(description));
      written = sizeof(BITMAP);
    }
  });
  if (!found) SetLastError(ERROR_INVALID_HANDLE);
  return written;
}

LONG GetBitmapBits(HBITMAP handle, LONG size, LPVOID bits) {
  LONG copied = 0;
  const bool found = Bitmaps().With(handle, [&](const BitmapObject& bitmap) {
    const auto total = static_cast<LONG>(bitmap.bits.size());
    if (bits == nullptr) {
      copied = total;
    } else if (size > 0) {
      copied = std::min(size, total);
      std::memcpy(bits, bitmap.bits.data(), static_cast<std::size_t>(copied));
    }
  });
  if (!found) SetLastError(ERROR_INVALID_HANDLE);
  return copied;
}
