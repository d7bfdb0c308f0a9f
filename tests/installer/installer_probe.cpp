// What the installer test asks of Windows itself, from inside the prefix:
//   installer_probe handler CLSID   creates the class through COM, as a shell
//                                   would, and prints the file of the module
//                                   that made the object
//   installer_probe daemons NAME    prints "PID PATH" for each process whose
//                                   executable is NAME
//   installer_probe pipe NAME MS    exits 0 once the pipe NAME can be opened,
//                                   within MS milliseconds
//   installer_probe sleep MS        runs MS milliseconds and answers nothing:
//                                   a daemon that does not stop
// Exit status 0 on success, 1 when the answer is no, 2 on wrong use.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <tlhelp32.h>
#include <wrl/client.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

// UTF-8 of a path: at most three bytes for each of its MAX_PATH units.
std::string Narrow(const wchar_t* path) {
  char narrow[3 * MAX_PATH + 1] = {};
  WideCharToMultiByte(CP_UTF8, 0, path, -1, narrow, sizeof narrow - 1, nullptr, nullptr);
  return narrow;
}

// The module whose code the object's first interface points into.
std::wstring ModuleOf(IUnknown* object) {
  void* const code = *reinterpret_cast<void**>(*reinterpret_cast<void**>(object));
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          static_cast<LPCWSTR>(code), &module)) {
    return {};
  }
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(module, path, MAX_PATH);
  return path;
}

int CreateHandler(const wchar_t* classText) {
  CLSID classId;
  if (FAILED(CLSIDFromString(classText, &classId))) return 2;
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  int status = 1;
  {
    Microsoft::WRL::ComPtr<IShellExtInit> init;
    Microsoft::WRL::ComPtr<IContextMenu> menu;
    const HRESULT created = CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit, &init);
    if (FAILED(created)) {
      std::printf("CoCreateInstance failed: 0x%08lx\n", static_cast<unsigned long>(created));
    } else if (FAILED(init.As(&menu))) {
      std::printf("the object has no IContextMenu\n");
    } else {
      std::printf("handler %s\n", Narrow(ModuleOf(init.Get()).c_str()).c_str());
      status = 0;
    }
  }  // Released before COM ends.
  CoUninitialize();
  return status;
}

int ListProcesses(const wchar_t* name) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 1;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, name) != 0) continue;
    wchar_t path[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID)) {
      if (!QueryFullProcessImageNameW(process, 0, path, &size)) path[0] = L'\0';
      CloseHandle(process);
    }
    std::printf("%lu %s\n", static_cast<unsigned long>(entry.th32ProcessID), Narrow(path).c_str());
  }
  CloseHandle(snapshot);
  return 0;
}

int OpenPipe(const wchar_t* name, const wchar_t* waitText) {
  const DWORD deadline = GetTickCount() + static_cast<DWORD>(std::wcstoul(waitText, nullptr, 10));
  do {
    HANDLE pipe = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) {
      CloseHandle(pipe);
      return 0;
    }
    Sleep(50);
  } while (static_cast<LONG>(deadline - GetTickCount()) > 0);
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"handler" && argc == 3) return CreateHandler(argv[2]);
  if (mode == L"daemons" && argc == 3) return ListProcesses(argv[2]);
  if (mode == L"pipe" && argc == 4) return OpenPipe(argv[2], argv[3]);
  if (mode == L"sleep" && argc == 3) {
    Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
    return 0;
  }
  std::fprintf(stderr, "usage: installer_probe handler CLSID | daemons NAME | pipe NAME MS | sleep MS\n");
  return 2;
}
