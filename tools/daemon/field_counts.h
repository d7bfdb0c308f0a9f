// How many "|"-separated fields each command's payload holds. A request with
// more fields than its command takes would let a "|" inside one argument
// pass for the next (a user "eve|owner", a URL ending in "|PATH|3"), so such
// a request is refused whichever client sent it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace korvane::server {

// The field count of the command's payload; nothing for codes without
// arguments to check (close, stop, unknown codes).
std::optional<std::size_t> ExpectedFieldCount(std::uint32_t code);

// The fields of a payload: its "|" separators plus one.
std::size_t FieldCount(std::string_view payload);

// Whether a payload has its command's field count. A header-only frame
// passes: its handler answers that the arguments are missing.
bool FieldCountFits(std::uint32_t code, const std::optional<std::string_view>& payload);

}  // namespace korvane::server
