#include "scratch.h"

#include <filesystem>

namespace korvane::server::testing {

ScratchFolder::ScratchFolder() {
  static LONG made = 0;
  wchar_t base[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, base);
  path_ = windows::Narrow(std::wstring(base) + L"korvane-seams-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                          std::to_wstring(InterlockedIncrement(&made)));
  MakeFolder(path_);
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(windows::SystemPath(path_), ignored);
}

std::string ReadFile(const std::string& path) {
  HANDLE file = CreateFileW(windows::SystemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  std::string text;
  char buffer[4096];
  DWORD read = 0;
  while (file != INVALID_HANDLE_VALUE && ::ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
    text.append(buffer, read);
  }
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return text;
}

void WriteFile(const std::string& path, const std::string& text) {
  HANDLE file = CreateFileW(windows::SystemPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

bool Exists(const std::string& path) {
  return GetFileAttributesW(windows::SystemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void MakeFolder(const std::string& path) { CreateDirectoryW(windows::SystemPath(path).c_str(), nullptr); }

HANDLE StartHelper(const std::wstring& arguments) {
  wchar_t program[MAX_PATH];
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(program) + L"\" " + arguments;
  STARTUPINFOW startup{sizeof startup};
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return nullptr;
  }
  CloseHandle(process.hThread);
  return process.hProcess;
}

}  // namespace korvane::server::testing
