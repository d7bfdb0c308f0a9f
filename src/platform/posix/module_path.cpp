// GetModuleFileNameW and the path-text calls. A module handle is the base
// address of a loaded object; the null handle is the program itself.
#include "errno_to_win32.h"
#include "wide_path.h"
#include "win32_calls.h"

#include <climits>
#include <dlfcn.h>
#include <sys/auxv.h>
#include <string>
#include <unistd.h>

namespace {

using namespace korvane::posix;

// The POSIX stand-ins take paths up to the platform's own limit.
constexpr std::size_t kLongestPath = PATH_MAX;

std::string ProgramPath() {
  char path[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

// The base address of the main program, found from its program headers.
void* ProgramBase() {
  Dl_info info{};
  const auto headers = reinterpret_cast<void*>(getauxval(AT_PHDR));
  return dladdr(headers, &info) != 0 ? info.dli_fbase : nullptr;
}

// dladdr names the main program only by how it was started, through
// whatever link; its own link in /proc is the file itself.
std::string ModulePath(HMODULE module) {
  if (module == nullptr || module == ProgramBase()) return ProgramPath();
  Dl_info info{};
  if (dladdr(module, &info) == 0 || info.dli_fname == nullptr) return {};
  if (info.dli_fname[0] != '/') return ProgramPath();
  return info.dli_fname;
}

bool IsSeparator(WCHAR c) { return c == u'/' || c == u'\\'; }

}  // namespace

DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size) {
  std::string path = ModulePath(module);
  if (path.empty()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  std::u16string wide = WidePath(path);
  if (size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  // Too long: cut to the buffer, ended with NUL, as Windows does.
  if (wide.size() >= size) {
    wide.copy(fileName, size - 1);
    fileName[size - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  wide.copy(fileName, wide.size());
  fileName[wide.size()] = 0;
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(wide.size());
}

// Removes the last component and its separator; the root keeps its slash.
// TRUE when something was removed.
BOOL PathRemoveFileSpecW(LPWSTR path) {
  if (path == nullptr) return FALSE;
  std::size_t length = WideLength(path);
  std::size_t cut = length;
  while (cut > 0 && !IsSeparator(path[cut - 1])) --cut;
  if (cut == 0) {
    if (length == 0) return FALSE;
    path[0] = 0;
    return TRUE;
  }
  std::size_t end = cut - 1;
  if (end == 0) end = 1;  // "/name" leaves "/"
  if (end >= length) return FALSE;
  path[end] = 0;
  return TRUE;
}

// Joins with one separator. Fails when the result would not fit a path.
BOOL PathAppendW(LPWSTR path, LPCWSTR more) {
  if (path == nullptr || more == nullptr) return FALSE;
  std::size_t length = WideLength(path);
  while (IsSeparator(*more)) ++more;
  std::size_t moreLength = WideLength(more);
  bool needsSeparator = length > 0 && !IsSeparator(path[length - 1]) && moreLength > 0;
  if (length + (needsSeparator ? 1 : 0) + moreLength >= kLongestPath) return Fail(ERROR_FILENAME_EXCED_RANGE);
  if (needsSeparator) path[length++] = u'/';
  for (std::size_t i = 0; i <= moreLength; ++i) path[length + i] = more[i];
  return TRUE;
}
