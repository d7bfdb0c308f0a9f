#include "scratch.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace korvane::server::testing {

ScratchFolder::ScratchFolder() {
  static std::atomic<int> made{0};
  path_ = windows::Narrow((std::filesystem::temp_directory_path() / L"korvane-seams-").wstring() +
                          std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++made));
  MakeFolder(path_);
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(windows::SystemPath(path_), ignored);
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(std::filesystem::path(windows::SystemPath(path)), std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(std::filesystem::path(windows::SystemPath(path)), std::ios::binary) << text;
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
