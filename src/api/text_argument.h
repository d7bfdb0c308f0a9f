// Wide text from a caller, as the link takes it: a null pointer is the
// empty text.
#pragma once

#include "korvane/korvane.h"

#include <string>

namespace korvane::api {

inline std::u16string TextArgument(const KorvaneChar* text) {
  if (text == nullptr) return {};
  return std::u16string(reinterpret_cast<const char16_t*>(text));
}

}  // namespace korvane::api
