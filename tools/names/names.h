// The names people give on a team service, checked where they enter (the
// daemon, the korvane tool, and the server's hook, scripts/korvane-hook,
// which follows the same written rule: daemon/README.md, "Names").
//
// A user name is conservative ASCII, so that no syntax of the server's
// access file can ever be written for a user. A space name is made from a
// folder name: it keeps what people name folders, in one Unicode form
// (NFC), and is always a folder name Windows accepts.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace korvane::names {

inline constexpr std::size_t kMaxUserBytes = 64;
inline constexpr std::size_t kMaxSpaceCharacters = 100;

// Why name is not a user name; nothing when it is one.
std::optional<std::string> UserNameProblem(std::string_view name);

// Whether text is well-formed UTF-8 (no overlong forms, no surrogates).
bool IsUtf8(std::string_view text);

// The NFC form of a folder name, or nothing when it is not UTF-8.
std::optional<std::string> Normalised(std::string_view name);

// Why name (taken as it is, so in NFC) is not a space name; nothing when it
// is one.
std::optional<std::string> SpaceNameProblem(std::string_view name);

// The form two space names share when they differ only in case (NFC, then
// Unicode case folding); spaces are unique in this form.
std::string Folded(std::string_view name);

// The roles of a space's members; "none" is no role: inviting a user with
// it removes them.
bool IsRole(std::string_view role);
inline constexpr char kNoRole[] = "none";

}  // namespace korvane::names
