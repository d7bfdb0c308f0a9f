// The activation status of a folder, as the daemon reports it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korvane::link {

enum class ActivationMode : std::uint8_t {
  None = 0,                   // not activated
  KorvaneDialogs = 1,         // "Use Korvane dialogs"
  TortoiseSvnDialogs = 2,     // "Use TortoiseSVN dialogs"
  AutomaticCommitUpdate = 3,  // "Automatic commit and update"
};

struct PathStatusInfo {
  ActivationMode mode = ActivationMode::None;
  std::string text1;
  std::string text2;
  std::string text3;
  std::string text4;  // no reply field fills it

  // The record in the form callers receive: the decimal mode, then text1,
  // text2 and text3, each followed by "|".
  std::string Text() const;
};

// Fills the record from a reply mode|text1|text2|text3 (later fields are
// ignored). A mode that is not exactly one of "0" to "3" reads as 0. A reply
// of fewer than four fields leaves the record as it was and gives false.
bool ParseStatusReply(std::string_view reply, PathStatusInfo& status);

}  // namespace korvane::link
