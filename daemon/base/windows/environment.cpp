#include "daemon/base/environment.h"

#include "daemon/base/windows/system_text.h"

#include <cwchar>

namespace korvane::server {

// The process's environment, not the C runtime's copy of it: what
// SetEnvironmentVariableW set after the start counts.
long NumberFromEnvironment(const char* name, long fallback) {
  wchar_t text[32];
  const DWORD length = GetEnvironmentVariableW(windows::Wide(name).c_str(), text, 32);
  if (length == 0 || length >= 32) return fallback;
  wchar_t* end = nullptr;
  const long value = std::wcstol(text, &end, 10);
  return *end == L'\0' && value > 0 ? value : fallback;
}

}  // namespace korvane::server
