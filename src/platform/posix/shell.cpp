// The shell's side of the subset on POSIX: global memory blocks, the file
// list of a drop (DROPFILES), item lists that carry a path, file attributes,
// folder listings, text comparison and conversion, and the COM lock.
#include "errno_to_win32.h"
#include "kernel_object.h"
#include "wide_path.h"
#include "win32_calls.h"
#include "win32_shell.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>

namespace korvane::posix {
namespace {

// A global memory block: its size, then its bytes. The handle is the block.
struct GlobalBlock {
  SIZE_T size;
  alignas(std::max_align_t) unsigned char bytes[1];
};

GlobalBlock* BlockOf(HGLOBAL memory) { return static_cast<GlobalBlock*>(memory); }

class FindObject final : public KernelObject {
 public:
  explicit FindObject(DIR* folder) : folder_(folder) {}
  ~FindObject() override { closedir(folder_); }

  // The next entry, "." and ".." included, as FindFirstFileW lists them.
  // The attributes come from the listing itself, as on Windows; a file
  // system that does not give an entry's type there costs a stat.
  bool Next(WIN32_FIND_DATAW* data) {
    errno = 0;
    dirent* entry = readdir(folder_);
    if (entry == nullptr) return false;
    *data = {};
    const std::u16string name = WidePath(entry->d_name);
    name.copy(data->cFileName, std::min<std::size_t>(name.size(), MAX_PATH - 1));
    data->dwFileAttributes = AttributesOf(*entry);
    return true;
  }

 private:
  // A symbolic link is a reparse point, and a directory too when it leads to
  // one, as Windows lists a directory link.
  DWORD AttributesOf(const dirent& entry) const {
    unsigned char type = entry.d_type;
    struct stat status{};
    if (type == DT_UNKNOWN && fstatat(dirfd(folder_), entry.d_name, &status, AT_SYMLINK_NOFOLLOW) == 0) {
      type = S_ISDIR(status.st_mode) ? DT_DIR : S_ISLNK(status.st_mode) ? DT_LNK : DT_REG;
    }
    if (type == DT_DIR) return FILE_ATTRIBUTE_DIRECTORY;
    if (type != DT_LNK) return FILE_ATTRIBUTE_NORMAL;
    const bool leadsToFolder = fstatat(dirfd(folder_), entry.d_name, &status, 0) == 0 && S_ISDIR(status.st_mode);
    return FILE_ATTRIBUTE_REPARSE_POINT | (leadsToFolder ? FILE_ATTRIBUTE_DIRECTORY : 0);
  }

  DIR* folder_;
};

constexpr BYTE kPathItem = 'P';
constexpr BYTE kVirtualItem = 'V';

PIDLIST_ABSOLUTE MakeItemList(BYTE kind, const std::u16string& path) {
  // One item (cb, kind byte, UTF-16 path with its NUL), then the 0 terminator.
  std::size_t itemSize = sizeof(WORD) + 1 + (path.size() + 1) * sizeof(WCHAR);
  if (itemSize > 0xFFFF) return nullptr;
  auto* bytes = static_cast<unsigned char*>(std::calloc(1, itemSize + sizeof(WORD)));
  if (bytes == nullptr) return nullptr;
  WORD cb = static_cast<WORD>(itemSize);
  std::memcpy(bytes, &cb, sizeof cb);
  bytes[sizeof(WORD)] = kind;
  std::memcpy(bytes + sizeof(WORD) + 1, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
  return reinterpret_cast<PIDLIST_ABSOLUTE>(bytes);
}

}  // namespace
}  // namespace korvane::posix

using namespace korvane::posix;

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
  void* memory = (flags & GMEM_ZEROINIT) != 0 ? std::calloc(1, sizeof(GlobalBlock) + bytes)
                                              : std::malloc(sizeof(GlobalBlock) + bytes);
  if (memory == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  BlockOf(memory)->size = bytes;
  return memory;
}

LPVOID GlobalLock(HGLOBAL memory) {
  if (memory == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return BlockOf(memory)->bytes;
}

BOOL GlobalUnlock(HGLOBAL memory) { return memory != nullptr ? TRUE : FALSE; }

HGLOBAL GlobalFree(HGLOBAL memory) {
  std::free(memory);
  return nullptr;
}

void ReleaseStgMedium(STGMEDIUM* medium) {
  if (medium == nullptr) return;
  if (medium->pUnkForRelease != nullptr) {
    medium->pUnkForRelease->Release();
  } else if (medium->tymed == TYMED_HGLOBAL) {
    GlobalFree(medium->hGlobal);
  }
  *medium = {};
}

// The names of a DROPFILES block, each NUL-terminated, the list ended by an
// empty name. Only wide lists are read: the shell hands those to handlers.
UINT DragQueryFileW(HDROP drop, UINT index, LPWSTR file, UINT capacity) {
  if (drop == nullptr) return 0;
  const auto* header = static_cast<const DROPFILES*>(drop);
  if (!header->fWide) return 0;
  const auto* name = reinterpret_cast<const WCHAR*>(static_cast<const unsigned char*>(drop) + header->pFiles);
  UINT count = 0;
  while (*name != 0) {
    std::size_t length = WideLength(name);
    if (count == index) {
      if (file == nullptr) return static_cast<UINT>(length);
      if (capacity == 0) return 0;
      std::size_t copied = std::min<std::size_t>(length, capacity - 1);
      std::copy_n(name, copied, file);
      file[copied] = 0;
      return static_cast<UINT>(copied);
    }
    name += length + 1;
    ++count;
  }
  return index == 0xFFFFFFFFu ? count : 0;
}

PIDLIST_ABSOLUTE ILCreateFromPathW(LPCWSTR path) {
  if (path == nullptr) return nullptr;
  return MakeItemList(kPathItem, std::u16string(path));
}

PIDLIST_ABSOLUTE ILCreateVirtualForTesting() { return MakeItemList(kVirtualItem, u"::{virtual}"); }

void ILFree(PIDLIST_ABSOLUTE list) { std::free(list); }

BOOL SHGetPathFromIDListW(PCIDLIST_ABSOLUTE list, LPWSTR path) {
  if (list == nullptr || path == nullptr) return FALSE;
  const auto* bytes = reinterpret_cast<const unsigned char*>(list);
  WORD cb = 0;
  std::memcpy(&cb, bytes, sizeof cb);
  if (cb <= sizeof(WORD) + 1 || bytes[sizeof(WORD)] != kPathItem) {
    path[0] = 0;
    return FALSE;
  }
  const std::size_t units = (cb - sizeof(WORD) - 1) / sizeof(WCHAR);
  std::u16string text(units, u'\0');
  std::memcpy(text.data(), bytes + sizeof(WORD) + 1, units * sizeof(WCHAR));
  text.resize(text.find(u'\0') == std::u16string::npos ? text.size() : text.find(u'\0'));
  if (text.size() >= MAX_PATH) {
    path[0] = 0;
    return FALSE;
  }
  text.copy(path, text.size());
  path[text.size()] = 0;
  return TRUE;
}

DWORD GetFileAttributesW(LPCWSTR path) {
  struct stat status{};
  if (path == nullptr || stat(NarrowPath(path).c_str(), &status) != 0) {
    SetLastError(path == nullptr ? ERROR_INVALID_PARAMETER : Win32ErrorFromErrno(errno));
    return INVALID_FILE_ATTRIBUTES;
  }
  return S_ISDIR(status.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}

BOOL PathIsDirectoryW(LPCWSTR path) {
  DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Joins into a buffer of MAX_PATH units; null when the result would not fit.
LPWSTR PathCombineW(LPWSTR destination, LPCWSTR directory, LPCWSTR file) {
  if (destination == nullptr || (directory == nullptr && file == nullptr)) return nullptr;
  const std::u16string_view folder = directory != nullptr ? directory : u"";
  const std::u16string_view name = file != nullptr ? file : u"";
  // An absolute name stands alone; otherwise one separator between the two.
  const bool alone = !name.empty() && name[0] == u'/';
  const bool separator = !alone && !name.empty() && !folder.empty() && folder.back() != u'/';
  const std::size_t length = (alone ? 0 : folder.size()) + (separator ? 1 : 0) + name.size();
  if (length >= MAX_PATH) {
    destination[0] = 0;
    return nullptr;
  }
  // The folder may be the destination itself: it stays where it is.
  WCHAR* out = destination;
  if (!alone) {
    if (folder.data() != destination) std::memmove(out, folder.data(), folder.size() * sizeof(WCHAR));
    out += folder.size();
  }
  if (separator) *out++ = u'/';
  std::memmove(out, name.data(), name.size() * sizeof(WCHAR));
  out[name.size()] = 0;
  return destination;
}

HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* data) {
  if (pattern == nullptr || data == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::string folder = NarrowPath(pattern);
  if (folder.size() < 2 || folder.compare(folder.size() - 2, 2, "/*") != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);  // only "every entry of a folder"
    return INVALID_HANDLE_VALUE;
  }
  folder.resize(folder.size() - 2);
  DIR* listing = opendir(folder.empty() ? "/" : folder.c_str());
  if (listing == nullptr) {
    SetLastError(Win32ErrorFromErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  auto* find = new (std::nothrow) FindObject(listing);
  if (find == nullptr) {
    closedir(listing);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  if (!find->Next(data)) {
    delete find;
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  return find;
}

BOOL FindNextFileW(HANDLE handle, WIN32_FIND_DATAW* data) {
  auto* find = ObjectFromHandle<FindObject>(handle);
  if (find == nullptr || data == nullptr) return Fail(ERROR_INVALID_HANDLE);
  return find->Next(data) ? TRUE : Fail(18);  // ERROR_NO_MORE_FILES
}

BOOL FindClose(HANDLE handle) {
  if (ObjectFromHandle<FindObject>(handle) == nullptr) return Fail(ERROR_INVALID_HANDLE);
  return CloseHandle(handle);
}

// Ordinal comparisons: case-sensitive and in full.
int lstrcmpW(LPCWSTR a, LPCWSTR b) {
  if (a == nullptr || b == nullptr) return (a == nullptr ? 0 : 1) - (b == nullptr ? 0 : 1);
  while (*a != 0 && *a == *b) ++a, ++b;
  return (*a > *b) - (*a < *b);
}

int lstrcmpA(LPCSTR a, LPCSTR b) {
  if (a == nullptr || b == nullptr) return (a == nullptr ? 0 : 1) - (b == nullptr ? 0 : 1);
  int order = std::strcmp(a, b);
  return (order > 0) - (order < 0);
}

// UTF-8 only. With wideLength -1 the NUL is converted too and counted.
int WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR wide, int wideLength, LPSTR narrow, int narrowSize, LPCSTR,
                        BOOL* usedDefault) {
  if (codePage != CP_UTF8 || wide == nullptr || wideLength < -1 || narrowSize < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (usedDefault != nullptr) *usedDefault = FALSE;
  std::u16string text = wideLength == -1 ? std::u16string(wide) : std::u16string(wide, static_cast<std::size_t>(wideLength));
  std::string bytes = NarrowPath(text.c_str());
  if (wideLength == -1) bytes.push_back('\0');
  if (narrowSize == 0) return static_cast<int>(bytes.size());
  if (bytes.size() > static_cast<std::size_t>(narrowSize)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  bytes.copy(narrow, bytes.size());
  return static_cast<int>(bytes.size());
}

// UTF-8 only; ill-formed bytes become U+FFFD. With narrowLength -1 the NUL
// is converted too and counted.
int MultiByteToWideChar(UINT codePage, DWORD, LPCSTR narrow, int narrowLength, LPWSTR wide, int wideSize) {
  if (codePage != CP_UTF8 || narrow == nullptr || narrowLength < -1 || wideSize < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::u16string text = WidePath(narrowLength == -1 ? std::string(narrow)
                                                    : std::string(narrow, static_cast<std::size_t>(narrowLength)));
  if (narrowLength == -1) text.push_back(u'\0');
  if (wideSize == 0) return static_cast<int>(text.size());
  if (text.size() > static_cast<std::size_t>(wideSize)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  text.copy(wide, text.size());
  return static_cast<int>(text.size());
}

// No COM runtime here: a lock is a strong reference held for the caller.
HRESULT CoLockObjectExternal(LPUNKNOWN unknown, BOOL lock, BOOL) {
  if (unknown == nullptr) return E_INVALIDARG;
  if (lock) {
    unknown->AddRef();
  } else {
    unknown->Release();
  }
  return S_OK;
}
