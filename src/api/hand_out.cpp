#include "api/hand_out.h"

#include "platform/windows_api.h"

#include <cstring>

namespace korvane::api {

HandOut HandOutText(char** out, std::string_view text) {
  if (out == nullptr) return HandOut::NoAddress;
  *out = nullptr;
  text = text.substr(0, text.find('\0'));
  if (text.empty()) return HandOut::Empty;
  auto* buffer = static_cast<char*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, text.size() + 1));
  if (buffer == nullptr) return HandOut::AllocationFailed;
  std::memcpy(buffer, text.data(), text.size());
  *out = buffer;
  return HandOut::Given;
}

}  // namespace korvane::api
