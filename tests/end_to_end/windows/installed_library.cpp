#include "installed_library.h"

#include <stdexcept>

namespace korvane::end_to_end {
namespace {

// Takes over a buffer the library handed out (freed from the process heap).
std::string TakeText(char* buffer) {
  if (buffer == nullptr) return {};
  std::string text(buffer);
  ::HeapFree(::GetProcessHeap(), 0, buffer);
  return text;
}

}  // namespace

InstalledLibrary::InstalledLibrary(const std::wstring& path) {
  module_ = ::LoadLibraryW(path.c_str());
  if (module_ == nullptr) throw std::runtime_error("cannot load the library, error " + std::to_string(::GetLastError()));
  status_ = reinterpret_cast<StatusCall>(Export("Korvane_GetStatus"));
  stop_ = reinterpret_cast<StopCall>(Export("Korvane_StopDaemon"));
  list_ = reinterpret_cast<ListCall>(Export("Korvane_ListSpaces"));
}

InstalledLibrary::~InstalledLibrary() { ::FreeLibrary(module_); }

void* InstalledLibrary::Export(const char* name) const {
  void* address = reinterpret_cast<void*>(::GetProcAddress(module_, name));
  if (address == nullptr) throw std::runtime_error(std::string("the library lacks ") + name);
  return address;
}

std::optional<std::string> InstalledLibrary::Status(const std::wstring& folder) const {
  char* record = nullptr;
  if (status_(folder.c_str(), &record) != 1) return std::nullopt;
  return TakeText(record);
}

bool InstalledLibrary::StopDaemon() const { return stop_() == 1; }

std::optional<std::string> InstalledLibrary::Spaces() const {
  char* count = nullptr;
  char* names = nullptr;
  char* rest = nullptr;
  if (list_(L"", L"", &count, &names, &rest) != 1) return std::nullopt;
  TakeText(rest);
  const std::string listed = TakeText(names);
  if (TakeText(count).empty()) return std::nullopt;  // a refusal names no count
  return listed;
}

}  // namespace korvane::end_to_end
