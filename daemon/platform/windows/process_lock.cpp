#include "daemon/platform/process_lock.h"

#include "daemon/base/windows/system_text.h"

#include <cstdint>
#include <cwctype>
#include <cstdio>

namespace korvane::server {

namespace {

// The name of the session's mutex for path: the path, its letters folded
// (Windows names one file in any case), hashed, since a mutex's name may hold
// no '\'. "Local\" keeps it to this session.
std::wstring MutexName(const std::wstring& path) {
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (wchar_t unit : path) {
    hash ^= static_cast<std::uint64_t>(std::towlower(unit));
    hash *= 1099511628211ull;
  }
  wchar_t name[64];
  std::swprintf(name, 64, L"Local\\Korvane-%016llx", static_cast<unsigned long long>(hash));
  return name;
}

// The mutex, owned; or abandoned by a holder that died, which makes it ours
// as well. Null when another holds it.
HANDLE TakeMutex(const std::wstring& path) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, MutexName(path).c_str());
  if (mutex == nullptr) return nullptr;
  const DWORD waited = WaitForSingleObject(mutex, 0);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) return mutex;
  CloseHandle(mutex);
  return nullptr;
}

void GiveUp(HANDLE mutex) {
  ReleaseMutex(mutex);
  CloseHandle(mutex);
}

}  // namespace

// Two locks: the session's mutex, which the system frees when its holder
// dies however it dies, and a lock on the file itself, which also excludes a
// daemon of another session that shares the folder. Both handles stay open
// for the life of the process.
bool HoldLock(const std::string& path, std::string& problem) {
  const std::wstring file = windows::SystemPath(path);
  HANDLE mutex = TakeMutex(file);
  if (mutex == nullptr) {
    problem = path + " is held by another daemon";
    return false;
  }
  HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    problem = "cannot open " + path + ": " + windows::SystemMessage(GetLastError());
    GiveUp(mutex);
    return false;
  }
  OVERLAPPED whole{};
  if (LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole)) {
    return true;
  }
  problem = path + " is held by another daemon";
  CloseHandle(handle);
  GiveUp(mutex);
  return false;
}

}  // namespace korvane::server
