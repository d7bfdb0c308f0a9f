// The menu vocabulary: every entry of the context menu as one row, read by
// menu building, command invocation and help strings alike.
#pragma once

#include "platform/windows_api.h"

#include <optional>
#include <string>

namespace korvane::shell {

// What choosing an entry sends to the daemon.
enum class MenuAction {
  None,  // the product's own entry opens the submenu and does nothing itself
  ActivateKorvaneDialogs,
  ActivateTortoiseSvnDialogs,
  ActivateAutomaticCommitUpdate,
  Deactivate,
  ShareFolder,
  Checkout,
  ShareWithTeam,
  CheckoutFromService,
};

struct MenuCommand {
  UINT textId;  // string resource of the entry's text
  UINT helpId;  // string resource of its help text
  const char* verb;
  MenuAction action;
};

inline constexpr UINT kProductEntryText = 110;
inline constexpr UINT kProductIcon = 101;

inline constexpr MenuCommand kMenuCommands[] = {
    {102, 103, "verb:add-dalv", MenuAction::ActivateKorvaneDialogs},
    {104, 105, "verb:add-tsvn", MenuAction::ActivateTortoiseSvnDialogs},
    {106, 107, "verb:add-auto", MenuAction::ActivateAutomaticCommitUpdate},
    {108, 109, "verb:release", MenuAction::Deactivate},
    {kProductEntryText, 111, "", MenuAction::None},
    {112, 113, "verb:share", MenuAction::ShareFolder},
    {114, 115, "verb:checkout", MenuAction::Checkout},
    {116, 117, "verb:shareteam", MenuAction::ShareWithTeam},
    {118, 119, "verb:ascheckout", MenuAction::CheckoutFromService},
};

// The row of a text id; the entries the menu builds always have one.
const MenuCommand& MenuCommandFor(UINT textId);

// The row whose verb equals the text exactly (case and length), in table
// order; an empty text names nothing.
std::optional<MenuCommand> MenuCommandForVerb(const char* verb);
std::optional<MenuCommand> MenuCommandForVerb(LPCWSTR verb);

// One entry or separator that the handler put into a menu.
struct MenuEntry {
  static constexpr UINT kSeparator = 0xFFFFFFFFu;
  static constexpr std::size_t kLongestVerb = 39;

  UINT commandId;
  UINT position;
  UINT textId;
  UINT helpId;
  std::u16string verb;  // at most kLongestVerb units
};

}  // namespace korvane::shell
