#include "daemon/platform/sparse_file.h"

#include "daemon/base/windows/system_text.h"

#include <winioctl.h>

namespace korvane::server {

namespace {

HANDLE Native(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

// The file is marked sparse (FSCTL_SET_SPARSE) only once a hole is to be
// made; where the volume has no sparse files (FAT) the mark fails and
// nothing changes.
SparseFile::SparseFile(const std::string& path) {
  const std::wstring system = windows::SystemPath(path);
  HANDLE file = CreateFileW(system.c_str(), GENERIC_READ | GENERIC_WRITE | FILE_WRITE_ATTRIBUTES,
                            FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  handle_ = reinterpret_cast<std::intptr_t>(file);
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(file, &information) ||
      (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    return;
  }
  open_ = true;
  size_ = (static_cast<std::int64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
  DWORD high = 0;
  const DWORD low = GetCompressedFileSizeW(system.c_str(), &high);
  allocated_ = low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR
                   ? size_
                   : (static_cast<std::int64_t>(high) << 32) | low;
  // Holes are made in clusters; 64 KiB covers every cluster size NTFS uses
  // by default.
  block_ = 1 << 16;
  times_[0] = static_cast<std::int64_t>(information.ftLastAccessTime.dwLowDateTime) |
              (static_cast<std::int64_t>(information.ftLastAccessTime.dwHighDateTime) << 32);
  times_[2] = static_cast<std::int64_t>(information.ftLastWriteTime.dwLowDateTime) |
              (static_cast<std::int64_t>(information.ftLastWriteTime.dwHighDateTime) << 32);
}

SparseFile::~SparseFile() {
  if (handle_ == -1) return;
  if (punched_) {
    const auto time = [](std::int64_t ticks) {
      return FILETIME{static_cast<DWORD>(ticks & 0xffffffff), static_cast<DWORD>(static_cast<std::uint64_t>(ticks) >> 32)};
    };
    const FILETIME accessed = time(times_[0]);
    const FILETIME written = time(times_[2]);
    SetFileTime(Native(handle_), nullptr, &accessed, &written);
  }
  CloseHandle(Native(handle_));
}

std::int64_t SparseFile::ReadAt(char* data, std::size_t size, std::int64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset & 0xffffffff);
  at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
  DWORD got = 0;
  if (!ReadFile(Native(handle_), data, static_cast<DWORD>(size), &got, &at)) {
    return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
  }
  return got;
}

bool SparseFile::PunchHole(std::int64_t offset, std::int64_t length) {
  DWORD returned = 0;
  if (!punched_) {
    FILE_SET_SPARSE_BUFFER sparse{TRUE};
    if (!DeviceIoControl(Native(handle_), FSCTL_SET_SPARSE, &sparse, sizeof sparse, nullptr, 0, &returned, nullptr)) {
      return false;
    }
  }
  FILE_ZERO_DATA_INFORMATION range{};
  range.FileOffset.QuadPart = offset;
  range.BeyondFinalZero.QuadPart = offset + length;
  if (!DeviceIoControl(Native(handle_), FSCTL_SET_ZERO_DATA, &range, sizeof range, nullptr, 0, &returned, nullptr)) {
    return false;
  }
  punched_ = true;
  return true;
}

}  // namespace korvane::server
