#include "daemon/conflicts/conflict_names.h"

#include "daemon/base/utf8_path.h"
#include "daemon/platform/host_names.h"

#include <cstdio>
#include <filesystem>

namespace korvane::server {

namespace {

namespace fs = std::filesystem;

constexpr int kMaxNameTries = 999;

// The longest name a folder entry may have on the file systems people use
// (255 bytes on Linux, 255 UTF-16 units on Windows).
constexpr std::size_t kLongestName = 255;
// An extension longer than this is taken as part of the name.
constexpr std::size_t kLongestExtension = 32;
// A person's or a computer's name in a copy's name is cut to this.
constexpr std::size_t kLongestPart = 40;

// text cut to at most bytes, never inside a UTF-8 sequence.
std::string CutUtf8(const std::string& text, std::size_t bytes) {
  if (text.size() <= bytes) return text;
  std::size_t end = bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

// "NNN" with leading zeros, so that copies numbered past 9 sort in order.
std::string CopyNumber(int number) {
  char text[8];
  std::snprintf(text, sizeof text, "%03d", number);
  return text;
}

}  // namespace

std::string ConflictName(const std::string& path, bool isFile, const std::string& who, const std::string& when) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = path.substr(0, slash + 1);
  std::string stem = path.substr(slash + 1), extension;
  const std::size_t dot = stem.rfind('.');
  if (isFile && dot != std::string::npos && dot > 0 && stem.size() - dot <= kLongestExtension) {
    extension = stem.substr(dot);
    stem.resize(dot);
  }
  // The stem is cut as for the longest numbered marker, so that every copy
  // of one file has the same stem and the copies sort by their numbers.
  const std::string marker = " (conflict, " + CutUtf8(who, 2 * kLongestPart) + ", " + when;
  const std::string longestNumber = ", " + CopyNumber(kMaxNameTries) + ")";
  const std::size_t room =
      kLongestName - std::min(kLongestName, marker.size() + longestNumber.size() + extension.size());
  stem = CutUtf8(stem, room);
  std::string candidate;
  std::error_code error;
  for (int number = 1; number <= kMaxNameTries; ++number) {
    candidate = folder + stem + marker + (number == 1 ? "" : ", " + CopyNumber(number)) + ")" + extension;
    if (!fs::exists(fs::symlink_status(PathOf(candidate), error))) break;
  }
  return candidate;
}

std::string ConflictAuthor(const std::string& person) {
  std::string host = HostName();
  return CutUtf8(person.empty() ? std::string("someone") : person, kLongestPart) + " on " + CutUtf8(host, kLongestPart);
}

bool IsConflictCopyName(const std::string& name) { return name.find(" (conflict, ") != std::string::npos; }

}  // namespace korvane::server
