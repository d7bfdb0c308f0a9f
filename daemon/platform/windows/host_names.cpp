#include "daemon/platform/host_names.h"

#include "daemon/base/windows/system_text.h"

#include <lmcons.h>

namespace korvane::server {

std::string HostName() {
  wchar_t name[256] = {};
  DWORD size = 256;
  if (!GetComputerNameExW(ComputerNamePhysicalDnsHostname, name, &size) || name[0] == L'\0') {
    return "this computer";
  }
  const std::string host = windows::Narrow(name);
  return host.substr(0, host.find('.'));
}

long ProcessId() { return static_cast<long>(GetCurrentProcessId()); }

std::string UserName() {
  wchar_t name[UNLEN + 1] = {};
  DWORD size = UNLEN + 1;
  if (GetUserNameW(name, &size) && name[0] != L'\0') return windows::Narrow(name);
  wchar_t variable[UNLEN + 1] = {};
  const DWORD length = GetEnvironmentVariableW(L"USERNAME", variable, UNLEN + 1);
  return length > 0 && length <= UNLEN ? windows::Narrow(variable) : "";
}

}  // namespace korvane::server
