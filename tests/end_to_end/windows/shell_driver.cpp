// Drives the installed product as a person at a Windows desktop would: the
// context menu of a folder, built by the shell from what the installer
// registered, and the entry picked by its text. A few exports of the
// installed library (status, stop, list) let the run check what happened.
//
//   korvane_shell_driver menu FOLDER             prints the folder's menu
//   korvane_shell_driver invoke FOLDER ENTRY     carries out the entry
//   korvane_shell_driver status LIBRARY FOLDER   prints the status record
//   korvane_shell_driver stop LIBRARY            asks the daemon to stop
//   korvane_shell_driver serves LIBRARY SECONDS  waits for the daemon, lists spaces
//
// Exit status: 0 done, 1 the product said no or the entry is missing,
// 2 wrong use, 3 the shell or the library failed.
#include "folder_menu.h"

#include <windows.h>
#include <ole2.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <stdexcept>
#include <string>

namespace {

using korvane::end_to_end::FolderMenu;
using korvane::end_to_end::Narrow;

constexpr wchar_t kDaemonPipe[] = L"\\\\.\\pipe\\DalvDaemonCommand";

// A person picks an entry a moment after the menu shows, and building the
// menu of a folder outside any working copy starts the daemon: the entry is
// picked once the daemon serves, or after this long.
constexpr DWORD kPickDelayMostMs = 20000;

void Print(const std::wstring& text) { std::printf("%s\n", Narrow(text).c_str()); }

// The installed korvane.dll, loaded by path as the product's own programs
// load it, for the few exports the run calls besides the menu.
class InstalledLibrary {
 public:
  explicit InstalledLibrary(const std::wstring& path) : module_(::LoadLibraryW(path.c_str())) {
    if (module_ == nullptr) {
      throw std::runtime_error("cannot load the library, error " + std::to_string(::GetLastError()));
    }
  }
  ~InstalledLibrary() { ::FreeLibrary(module_); }
  InstalledLibrary(const InstalledLibrary&) = delete;
  InstalledLibrary& operator=(const InstalledLibrary&) = delete;

  // The export of that name; throws std::runtime_error when it is missing.
  template <typename Call>
  Call Export(const char* name) const {
    const auto address = reinterpret_cast<Call>(reinterpret_cast<void*>(::GetProcAddress(module_, name)));
    if (address == nullptr) throw std::runtime_error(std::string("the library lacks ") + name);
    return address;
  }

 private:
  HMODULE module_;
};

// Takes over a buffer the library handed out (freed from the process heap).
std::string TakeText(char* buffer) {
  if (buffer == nullptr) return {};
  std::string text(buffer);
  ::HeapFree(::GetProcessHeap(), 0, buffer);
  return text;
}

bool DaemonServesWithin(DWORD milliseconds) {
  const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
  for (;;) {
    if (::WaitNamedPipeW(kDaemonPipe, 100)) return true;
    if (::GetTickCount64() >= deadline) return false;
    // No instance at all answers at once; wait before asking again.
    if (::GetLastError() == ERROR_FILE_NOT_FOUND) ::Sleep(100);
  }
}

class OleSession {
 public:
  OleSession() {
    if (FAILED(::OleInitialize(nullptr))) throw std::runtime_error("OleInitialize failed");
  }
  ~OleSession() { ::OleUninitialize(); }
  OleSession(const OleSession&) = delete;
  OleSession& operator=(const OleSession&) = delete;
};

int ShowMenu(const std::wstring& folder) {
  OleSession ole;
  FolderMenu menu(folder);
  for (const std::wstring& handler : menu.Handlers()) Print(L"# " + handler);
  for (const std::wstring& entry : menu.Entries()) Print(entry);
  return 0;
}

int InvokeEntry(const std::wstring& folder, const std::wstring& entry) {
  OleSession ole;
  FolderMenu menu(folder);
  DaemonServesWithin(kPickDelayMostMs);
  if (menu.Invoke(entry)) {
    Print(L"invoked \"" + entry + L"\" on " + folder);
    return 0;
  }
  Print(L"no entry \"" + entry + L"\" in the menu of " + folder + L"; it holds:");
  for (const std::wstring& handler : menu.Handlers()) Print(L"  # " + handler);
  for (const std::wstring& item : menu.Entries()) Print(L"  " + item);
  return 1;
}

// Prints the whole status record ("3|root|activated|asked|"); the call
// starts the daemon when none runs.
int ShowStatus(const std::wstring& library, const std::wstring& folder) {
  const InstalledLibrary korvane(library);
  char* record = nullptr;
  if (korvane.Export<int32_t (*)(const wchar_t*, char**)>("Korvane_GetStatus")(folder.c_str(), &record) != 1) {
    std::printf("no status: the daemon could not be asked\n");
    return 1;
  }
  std::printf("%s\n", TakeText(record).c_str());
  return 0;
}

int StopDaemon(const std::wstring& library) {
  if (InstalledLibrary(library).Export<int32_t (*)()>("Korvane_StopDaemon")() != 1) {
    std::printf("the stop request was not delivered\n");
    return 1;
  }
  std::printf("stop requested\n");
  return 0;
}

// Prints the spaces the daemon lists (the second field); never starts a
// daemon.
int Serves(const std::wstring& library, const std::wstring& seconds) {
  const DWORD wait = static_cast<DWORD>(std::wcstoul(seconds.c_str(), nullptr, 10)) * 1000;
  if (!DaemonServesWithin(wait)) {
    std::printf("no daemon serves %ls\n", kDaemonPipe);
    return 1;
  }
  using ListCall = int32_t (*)(const wchar_t*, const wchar_t*, char**, char**, char**);
  const InstalledLibrary korvane(library);
  char* count = nullptr;
  char* names = nullptr;
  char* rest = nullptr;
  const bool answered = korvane.Export<ListCall>("Korvane_ListSpaces")(L"", L"", &count, &names, &rest) == 1;
  TakeText(rest);
  const std::string listed = TakeText(names);
  if (!answered || TakeText(count).empty()) {  // a refusal names no count
    std::printf("the daemon did not list its spaces\n");
    return 1;
  }
  std::printf("%s", listed.c_str());
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: korvane_shell_driver menu FOLDER | invoke FOLDER ENTRY | status LIBRARY FOLDER |\n"
               "       stop LIBRARY | serves LIBRARY SECONDS\n");
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  try {
    if (command == L"menu" && argc == 3) return ShowMenu(argv[2]);
    if (command == L"invoke" && argc == 4) return InvokeEntry(argv[2], argv[3]);
    if (command == L"status" && argc == 4) return ShowStatus(argv[2], argv[3]);
    if (command == L"stop" && argc == 3) return StopDaemon(argv[2]);
    if (command == L"serves" && argc == 4) return Serves(argv[2], argv[3]);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "korvane_shell_driver: %s\n", error.what());
    return 3;
  }
  return Usage();
}
