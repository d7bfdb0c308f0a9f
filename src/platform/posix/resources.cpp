// The library's resources, compiled in from the sources that the Windows
// resource script uses: the string table (shell/resources/string_table.inc) and the
// icon groups (.ico files), with the icons and bitmaps made from them. Icon
// and bitmap handles name objects in tables, as menu handles do, so a stale
// or made-up handle fails the call instead of being dereferenced.
#include "platform/module_resources.h"

#include "errno_to_win32.h"
#include "menu_probes.h"
#include "wide_path.h"
#include "win32_calls.h"
#include "win32_menus.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>


namespace korvane::posix {
namespace {

// --- The string table ---------------------------------------------------

// Each module's resources, by module handle.
std::mutex registeredMutex;
std::unordered_map<HMODULE, korvane::platform::ModuleResources>& Registered() {
  static std::unordered_map<HMODULE, korvane::platform::ModuleResources> modules;
  return modules;
}

std::optional<korvane::platform::ModuleResources> ResourcesOf(HMODULE module) {
  std::lock_guard lock(registeredMutex);
  auto it = Registered().find(module);
  if (it == Registered().end()) return std::nullopt;
  return it->second;
}

const korvane::platform::StringResource* FindString(HMODULE module, UINT id) {
  const auto resources = ResourcesOf(module);
  if (!resources) return nullptr;
  for (const auto& entry : resources->strings) {
    if (entry.id == id) return &entry;
  }
  return nullptr;
}

// --- Icon groups: .ico files, as the resource compiler takes them -------

// An icon is at most this wide and high here; larger requests are refused
// rather than allowed to exhaust the host's memory.
constexpr int kMaxIconSide = 4096;

DWORD Little32(std::span<const BYTE> bytes, std::size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<DWORD>(bytes[at + 3]) << 24;
}
WORD Little16(std::span<const BYTE> bytes, std::size_t at) { return static_cast<WORD>(bytes[at] | bytes[at + 1] << 8); }
DWORD Big32(std::span<const BYTE> bytes, std::size_t at) {
  return static_cast<DWORD>(bytes[at]) << 24 | bytes[at + 1] << 16 | bytes[at + 2] << 8 | bytes[at + 3];
}

constexpr BYTE kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t kBitmapHeaderSize = 40;  // BITMAPINFOHEADER

bool IsPng(std::span<const BYTE> data) {
  return data.size() >= sizeof(kPngSignature) && std::memcmp(data.data(), kPngSignature, sizeof(kPngSignature)) == 0;
}

struct GroupEntry {
  int width;  // as the directory says; 0 there means 256
  int height;
  int bitsPerPixel;
  std::span<const BYTE> data;
};

// The directory of an .ico file (ICONDIR and its ICONDIRENTRYs), with every
// image inside the file.
std::optional<std::vector<GroupEntry>> ReadDirectory(std::span<const BYTE> file) {
  if (file.size() < 6 || Little16(file, 0) != 0 || Little16(file, 2) != 1) return std::nullopt;
  const std::size_t count = Little16(file, 4);
  if (count == 0 || file.size() < 6 + 16 * count) return std::nullopt;
  std::vector<GroupEntry> entries;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = 6 + 16 * i;
    const DWORD size = Little32(file, at + 8);
    const DWORD offset = Little32(file, at + 12);
    if (offset > file.size() || size > file.size() - offset) return std::nullopt;
    entries.push_back({file[at] == 0 ? 256 : file[at], file[at + 1] == 0 ? 256 : file[at + 1],
                       Little16(file, at + 6), file.subspan(offset, size)});
  }
  return entries;
}

// What an image's own header says of it.
std::optional<IconImageInfo> DescribeImage(std::span<const BYTE> data) {
  if (IsPng(data)) {
    // The IHDR chunk comes first: width, height, bit depth, colour type.
    if (data.size() < 33 || std::memcmp(&data[12], "IHDR", 4) != 0) return std::nullopt;
    const int channels = data[25] == 6 ? 4 : data[25] == 2 ? 3 : 0;
    return IconImageInfo{static_cast<int>(Big32(data, 16)), static_cast<int>(Big32(data, 20)), data[24] * channels,
                         true};
  }
  if (data.size() < kBitmapHeaderSize || Little32(data, 0) < kBitmapHeaderSize) return std::nullopt;
  const auto height = static_cast<std::int32_t>(Little32(data, 8));
  return IconImageInfo{static_cast<int>(Little32(data, 4)), height / 2, Little16(data, 14), false};
}

// --- Decoding images into BGRA (alpha not premultiplied) ----------------

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

// Inflates a zlib stream (RFC 1950/1951) whose output has a known size. It
// decodes symbol by symbol from canonical code counts, after Mark Adler's
// "puff": small rather than fast, for images of a few hundred pixels.
class Inflater {
 public:
  explicit Inflater(std::span<const BYTE> input) : input_(input) {}

  std::optional<std::vector<BYTE>> Run(std::size_t expectedSize) {
    if (input_.size() < 2 || (input_[0] & 0x0F) != 8 || (input_[0] >> 4) > 7 || (input_[1] & 0x20) != 0 ||
        ((input_[0] << 8) | input_[1]) % 31 != 0) {
      return std::nullopt;
    }
    position_ = 2;
    limit_ = expectedSize;
    output_.reserve(expectedSize);
    bool last = false;
    while (!last) {
      last = Bits(1) == 1;
      const DWORD type = Bits(2);
      const bool ok = type == 0 ? Stored() : type == 1 ? Fixed() : type == 2 ? Dynamic() : false;
      if (!ok || overrun_) return std::nullopt;
    }
    if (output_.size() != expectedSize) return std::nullopt;
    return std::move(output_);
  }

 private:
  static constexpr int kMaxBits = 15;
  static constexpr int kLengthCodes = 286;
  static constexpr int kDistanceCodes = 30;

  struct Huffman {
    std::array<short, kMaxBits + 1> count{};  // codes of each length
    std::array<short, 288> symbol{};          // symbols in canonical order
  };

  DWORD Bits(int need) {
    std::uint64_t value = bitBuffer_;
    while (bitCount_ < need) {
      if (position_ >= input_.size()) {
        overrun_ = true;
        return 0;
      }
      value |= static_cast<std::uint64_t>(input_[position_++]) << bitCount_;
      bitCount_ += 8;
    }
    bitBuffer_ = value >> need;
    bitCount_ -= need;
    return static_cast<DWORD>(value & ((1u << need) - 1));
  }

  bool Stored() {
    bitBuffer_ = 0;  // a stored block starts on a byte boundary
    bitCount_ = 0;
    if (input_.size() - position_ < 4) return false;
    const std::size_t length = Little16(input_, position_);
    if ((length ^ Little16(input_, position_ + 2)) != 0xFFFF) return false;
    position_ += 4;
    if (input_.size() - position_ < length || limit_ - output_.size() < length) return false;
    output_.insert(output_.end(), input_.begin() + position_, input_.begin() + position_ + length);
    position_ += length;
    return true;
  }

  int Decode(const Huffman& h) {
    int code = 0, first = 0, index = 0;
    for (int length = 1; length <= kMaxBits; ++length) {
      code |= static_cast<int>(Bits(1));
      const int count = h.count[length];
      if (code - count < first) return h.symbol[index + (code - first)];
      index += count;
      first = (first + count) << 1;
      code <<= 1;
    }
    return -1;
  }

  // Returns 0 for a complete code, more for an incomplete one, less for an
  // over-subscribed one.
  static int Construct(Huffman& h, const short* lengths, int n) {
    h.count.fill(0);
    for (int i = 0; i < n; ++i) h.count[lengths[i]]++;
    if (h.count[0] == n) return 0;
    int left = 1;
    for (int length = 1; length <= kMaxBits; ++length) {
      left = (left << 1) - h.count[length];
      if (left < 0) return left;
    }
    std::array<short, kMaxBits + 1> offsets{};
    for (int length = 1; length < kMaxBits; ++length) offsets[length + 1] = offsets[length] + h.count[length];
    for (int i = 0; i < n; ++i) {
      if (lengths[i] != 0) h.symbol[offsets[lengths[i]]++] = static_cast<short>(i);
    }
    return left;
  }

  bool Codes(const Huffman& lengthCode, const Huffman& distanceCode) {
    static constexpr short kLengthBase[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                            31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static constexpr short kLengthExtra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                             2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    static constexpr short kDistanceBase[] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,
                                              33,  49,  65,  97,  129, 193,  257,  385,  513,  769,
                                              1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    static constexpr short kDistanceExtra[] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                               6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
    for (;;) {
      int symbol = Decode(lengthCode);
      if (symbol < 0 || overrun_) return false;
      if (symbol == 256) return true;
      if (symbol < 256) {
        if (output_.size() == limit_) return false;
        output_.push_back(static_cast<BYTE>(symbol));
        continue;
      }
      symbol -= 257;
      if (symbol >= 29) return false;
      const std::size_t length = kLengthBase[symbol] + Bits(kLengthExtra[symbol]);
      symbol = Decode(distanceCode);
      if (symbol < 0 || symbol >= kDistanceCodes) return false;
      const std::size_t distance = kDistanceBase[symbol] + Bits(kDistanceExtra[symbol]);
      if (overrun_ || distance > output_.size() || limit_ - output_.size() < length) return false;
      for (std::size_t i = 0; i < length; ++i) output_.push_back(output_[output_.size() - distance]);
    }
  }

  bool Fixed() {
    static const auto codes = [] {
      std::array<short, 288 + kDistanceCodes> lengths{};
      for (int i = 0; i < 288; ++i) lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
      for (int i = 0; i < kDistanceCodes; ++i) lengths[288 + i] = 5;
      std::pair<Huffman, Huffman> made;
      Construct(made.first, lengths.data(), 288);
      Construct(made.second, lengths.data() + 288, kDistanceCodes);
      return made;
    }();
    return Codes(codes.first, codes.second);
  }

  bool Dynamic() {
    static constexpr short kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    const int lengthCount = static_cast<int>(Bits(5)) + 257;
    const int distanceCount = static_cast<int>(Bits(5)) + 1;
    const int codeCount = static_cast<int>(Bits(4)) + 4;
    if (lengthCount > kLengthCodes || distanceCount > kDistanceCodes) return false;
    std::array<short, kLengthCodes + kDistanceCodes> lengths{};
    for (int i = 0; i < codeCount; ++i) lengths[kOrder[i]] = static_cast<short>(Bits(3));
    Huffman lengthCode, distanceCode;
    if (Construct(lengthCode, lengths.data(), 19) != 0) return false;

    int index = 0;
    while (index < lengthCount + distanceCount) {
      int symbol = Decode(lengthCode);
      if (symbol < 0 || overrun_) return false;
      if (symbol < 16) {
        lengths[index++] = static_cast<short>(symbol);
        continue;
      }
      short repeated = 0;
      int times;
      if (symbol == 16) {
        if (index == 0) return false;
        repeated = lengths[index - 1];
        times = 3 + static_cast<int>(Bits(2));
      } else {
        times = symbol == 17 ? 3 + static_cast<int>(Bits(3)) : 11 + static_cast<int>(Bits(7));
      }
      if (index + times > lengthCount + distanceCount) return false;
      while (times-- > 0) lengths[index++] = repeated;
    }
    if (lengths[256] == 0) return false;  // no end-of-block code
    int error = Construct(lengthCode, lengths.data(), lengthCount);
    if (error < 0 || (error > 0 && lengthCount - lengthCode.count[0] != 1)) return false;
    error = Construct(distanceCode, lengths.data() + lengthCount, distanceCount);
    if (error < 0 || (error > 0 && distanceCount - distanceCode.count[0] != 1)) return false;
    return Codes(lengthCode, distanceCode);
  }

  std::span<const BYTE> input_;
  std::size_t position_ = 0;
  std::uint64_t bitBuffer_ = 0;
  int bitCount_ = 0;
  bool overrun_ = false;
  std::size_t limit_ = 0;
  std::vector<BYTE> output_;
};

int Paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// A PNG image: 8-bit RGB or RGBA, not interlaced, as icons carry them.
std::optional<Image> DecodePng(std::span<const BYTE> data) {
  std::vector<BYTE> compressed;
  std::optional<IconImageInfo> header;
  for (std::size_t at = sizeof(kPngSignature); at + 12 <= data.size();) {
    const DWORD length = Big32(data, at);
    if (length > data.size() - at - 12) return std::nullopt;
    const auto body = data.subspan(at + 8, length);
    if (std::memcmp(&data[at + 4], "IHDR", 4) == 0 && length == 13) {
      if (!SaneSize(Big32(body, 0), Big32(body, 4)) || body[8] != 8 || (body[9] != 2 && body[9] != 6) ||
          body[10] != 0 || body[11] != 0 || body[12] != 0) {
        return std::nullopt;
      }
      header = IconImageInfo{static_cast<int>(Big32(body, 0)), static_cast<int>(Big32(body, 4)), body[9] == 6 ? 32 : 24,
                             true};
    } else if (std::memcmp(&data[at + 4], "IDAT", 4) == 0) {
      compressed.insert(compressed.end(), body.begin(), body.end());
    } else if (std::memcmp(&data[at + 4], "IEND", 4) == 0) {
      break;
    }
    at += 12 + length;
  }
  if (!header) return std::nullopt;
  const int width = header->width, height = header->height, bpp = header->bitsPerPixel / 8;
  const std::size_t stride = static_cast<std::size_t>(width) * bpp;
  auto filtered = Inflater(compressed).Run((stride + 1) * height);
  if (!filtered) return std::nullopt;

  // Undo each row's filter in place, against the row above.
  Image image{width, height, std::vector<BYTE>(static_cast<std::size_t>(width) * height * 4)};
  std::vector<BYTE> previous(stride), row(stride);
  for (int y = 0; y < height; ++y) {
    const BYTE* in = &(*filtered)[(stride + 1) * y];
    const BYTE filter = in[0];
    if (filter > 4) return std::nullopt;
    for (std::size_t i = 0; i < stride; ++i) {
      const int a = i >= static_cast<std::size_t>(bpp) ? row[i - bpp] : 0;
      const int b = previous[i];
      const int c = i >= static_cast<std::size_t>(bpp) ? previous[i - bpp] : 0;
      const int predictor = filter == 1 ? a : filter == 2 ? b : filter == 3 ? (a + b) / 2 : filter == 4 ? Paeth(a, b, c) : 0;
      row[i] = static_cast<BYTE>(in[1 + i] + predictor);
    }
    for (int x = 0; x < width; ++x) {
      BYTE* out = &image.bgra[(static_cast<std::size_t>(y) * width + x) * 4];
      const BYTE* rgba = &row[static_cast<std::size_t>(x) * bpp];
      out[0] = rgba[2];
      out[1] = rgba[1];
      out[2] = rgba[0];
      out[3] = bpp == 4 ? rgba[3] : 255;
    }
    previous.swap(row);
  }
  return image;
}

std::optional<Image> DecodeImage(std::span<const BYTE> data) {
  if (IsPng(data)) return DecodePng(data);
  if (data.size() < kBitmapHeaderSize) return std::nullopt;
  return DecodeBitmap(data);
}

// Resamples to the requested size: each target pixel averages the source
// pixels under it, weighted by their alpha, so edges keep their colour.
Image Resized(const Image& source, int width, int height) {
  if (source.width == width && source.height == height) return source;
  Image image{width, height, std::vector<BYTE>(static_cast<std::size_t>(width) * height * 4)};
  for (int y = 0; y < height; ++y) {
    const int y0 = y * source.height / height;
    const int y1 = std::max(y0 + 1, (y + 1) * source.height / height);
    for (int x = 0; x < width; ++x) {
      const int x0 = x * source.width / width;
      const int x1 = std::max(x0 + 1, (x + 1) * source.width / width);
      std::uint64_t colour[3] = {}, alpha = 0, count = 0;
      for (int sy = y0; sy < y1; ++sy) {
        for (int sx = x0; sx < x1; ++sx) {
          const BYTE* pixel = &source.bgra[(static_cast<std::size_t>(sy) * source.width + sx) * 4];
          for (int k = 0; k < 3; ++k) colour[k] += std::uint64_t{pixel[k]} * pixel[3];
          alpha += pixel[3];
          ++count;
        }
      }
      BYTE* out = &image.bgra[(static_cast<std::size_t>(y) * width + x) * 4];
      for (int k = 0; k < 3; ++k) out[k] = alpha == 0 ? 0 : static_cast<BYTE>((colour[k] + alpha / 2) / alpha);
      out[3] = static_cast<BYTE>((alpha + count / 2) / count);
    }
  }
  return image;
}

// Of the group's images, the one nearest the requested size; on a tie the
// larger (shrinking looks better than growing), then the deeper one.
const GroupEntry* Nearest(const std::vector<GroupEntry>& entries, int width, int height) {
  const GroupEntry* best = nullptr;
  auto rank = [&](const GroupEntry& e) {
    return std::make_tuple(std::abs(e.width - width) + std::abs(e.height - height), e.width < width, -e.bitsPerPixel);
  };
  for (const GroupEntry& entry : entries) {
    if (best == nullptr || rank(entry) < rank(*best)) best = &entry;
  }
  return best;
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
  IconImageInfo source;
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

std::span<const BYTE> GroupBytes(HMODULE module, UINT id) {
  const auto resources = ResourcesOf(module);
  if (!resources) return {};
  for (const auto& group : resources->iconGroups) {
    if (group.id == id) return {group.bytes, group.size};
  }
  return {};
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

std::span<const BYTE> IconGroupBytes(HMODULE module, UINT groupId) { return GroupBytes(module, groupId); }

std::vector<IconImageInfo> IconGroupImages(HMODULE module, UINT groupId) {
  std::vector<IconImageInfo> images;
  const auto entries = ReadDirectory(GroupBytes(module, groupId));
  if (!entries) return images;
  for (const GroupEntry& entry : *entries) {
    const auto info = DescribeImage(entry.data);
    if (!info) return {};
    images.push_back(*info);
  }
  return images;
}

std::optional<IconImageInfo> IconSourceImage(HICON icon) {
  std::optional<IconImageInfo> source;
  Icons().With(icon, [&](const IconObject& object) { source = object.source; });
  return source;
}

}  // namespace korvane::posix

namespace korvane::platform {

void RegisterModuleResources(HMODULE module, const ModuleResources& resources) {
  std::lock_guard lock(posix::registeredMutex);
  posix::Registered()[module] = resources;
}

void UnregisterModuleResources(HMODULE module) {
  std::lock_guard lock(posix::registeredMutex);
  posix::Registered().erase(module);
}

}  // namespace korvane::platform

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
  const auto* entry = korvane::posix::FindString(instance, id);
  if (entry == nullptr) {
    if (bufferMax > 0) buffer[0] = 0;
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
  }
  const std::u16string_view text = entry->text;  // NUL-terminated as well
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
  const auto* entry = korvane::posix::FindString(instance, id);
  if (entry == nullptr) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
  }
  return Guarded(0, [&] {
    const std::string text = korvane::posix::NarrowPath(reinterpret_cast<const WCHAR*>(entry->text));
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
    const auto entries = IS_INTRESOURCE(name)
                             ? korvane::posix::ReadDirectory(
                                   korvane::posix::GroupBytes(instance, static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name))))
                             : std::nullopt;
    if (!entries) {
      SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
      return nullptr;
    }
    // A zero size means the system's icon size, or with no LR_DEFAULTSIZE
    // the size of the group's first image.
    const bool systemSize = (flags & LR_DEFAULTSIZE) != 0;
    const int width = cx != 0 ? cx : systemSize ? GetSystemMetrics(SM_CXICON) : entries->front().width;
    const int height = cy != 0 ? cy : systemSize ? GetSystemMetrics(SM_CYICON) : entries->front().height;
    const auto* chosen = korvane::posix::Nearest(*entries, width, height);
    const auto source = korvane::posix::DescribeImage(chosen->data);
    const auto image = korvane::posix::DecodeImage(chosen->data);
    if (!source || !image) {
      SetLastError(ERROR_GEN_FAILURE);
      return nullptr;
    }
    auto icon = std::make_unique<IconObject>(IconObject{korvane::posix::Resized(*image, width, height), *source});
    return Icons().Add<HICON>(std::move(icon));
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
