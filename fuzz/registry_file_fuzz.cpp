// The registry stand-in on arbitrary hive files, which any program of the
// user can write and which are read inside the host process: every value of
// the key is read through RegQueryValueExW into buffers of exactly the size
// it reports, and one byte short, so that a write past a buffer is caught.
//
// The input is the file's bytes. The key read is the library's own,
// SOFTWARE\Korvane of the current user, and the values read are the
// default, a few short names the fuzzer reaches soon, and one the library
// reads.
#include "platform/posix/win32_registry.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

std::string folderMade;
std::string hiveFile;

// A registry value read as the library reads one: its size, then its data.
void ReadValue(HKEY key, LPCWSTR name) {
  DWORD type = 0;
  DWORD size = 0;
  const LSTATUS found = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
  if (found != ERROR_SUCCESS) {
    Check(found == ERROR_FILE_NOT_FOUND);
    return;
  }
  auto exact = std::make_unique<BYTE[]>(size + 1);
  DWORD room = size;
  DWORD again = 0;
  Check(RegQueryValueExW(key, name, nullptr, &again, exact.get() + 1, &room) == ERROR_SUCCESS);
  Check(room == size && again == type);
  if (size == 0) return;
  auto shorter = std::make_unique<BYTE[]>(size - 1 + 1);
  room = size - 1;
  Check(RegQueryValueExW(key, name, nullptr, nullptr, shorter.get() + 1, &room) == ERROR_MORE_DATA);
  Check(room == size);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // In memory where the system has such a folder: the file is written
  // again for every input.
  char inMemory[] = "/dev/shm/korvane-registry-fuzz-XXXXXX";
  char onDisk[] = "/tmp/korvane-registry-fuzz-XXXXXX";
  const char* folder = mkdtemp(inMemory);
  if (folder == nullptr) folder = mkdtemp(onDisk);
  if (folder == nullptr) std::abort();
  setenv("XDG_CONFIG_HOME", folder, 1);
  setenv("XDG_CONFIG_DIRS", folder, 1);
  const std::string own = std::string(folder) + "/korvane";
  if (mkdir(own.c_str(), 0700) != 0) std::abort();
  hiveFile = own + "/user.reg";
  folderMade = folder;
  std::atexit([] {
    std::remove(hiveFile.c_str());
    rmdir((folderMade + "/korvane").c_str());
    rmdir(folderMade.c_str());
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FILE* file = std::fopen(hiveFile.c_str(), "wb");
  Check(file != nullptr);
  Check(std::fwrite(data, 1, size, file) == size);
  std::fclose(file);

  HKEY key = nullptr;
  const LSTATUS opened = RegOpenKeyExW(HKEY_CURRENT_USER, u"SOFTWARE\\Korvane", 0, KEY_QUERY_VALUE, &key);
  if (opened != ERROR_SUCCESS) {
    Check(opened == ERROR_FILE_NOT_FOUND && key == nullptr);
    return 0;
  }
  for (LPCWSTR name : {u"", u"a", u"A", u"b", u"Debug"}) ReadValue(key, name);
  ReadValue(key, nullptr);
  Check(RegCloseKey(key) == ERROR_SUCCESS);
  Check(RegCloseKey(key) == ERROR_INVALID_HANDLE);
  return 0;
}
