// Handing texts to callers in buffers from the process heap, which the
// caller frees.
#pragma once

#include <string_view>

namespace korvane::api {

enum class HandOut {
  NoAddress,         // the caller passed no output address; nothing written
  Empty,             // the text was empty: *out is null
  Given,             // *out holds a new buffer with the text
  AllocationFailed,  // *out is null
};

// Sets *out to null, then to a zero-filled heap buffer of the text's length
// plus one holding the text, unless the text is empty. The text counts up
// to its first NUL: the buffer is a C string.
HandOut HandOutText(char** out, std::string_view text);

// The rule of the single-output exports, whose output is their product:
// success only when the text reached the caller (or was empty).
inline bool Delivered(HandOut result) { return result == HandOut::Given || result == HandOut::Empty; }

}  // namespace korvane::api
