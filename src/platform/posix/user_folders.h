// The product's folders in the user's account, by one rule for the library,
// the daemon and the tool: an XDG variable is used when it holds an absolute
// path (unset, empty and relative values are ignored, as the XDG rules ask);
// otherwise the folder goes under the home folder, which is $HOME when that
// is absolute and else the account's home from the password database.
// Without either there is no such folder, and callers refuse with why.
#pragma once

#include <optional>
#include <string>

namespace korvane::posix {

enum class UserFolder {
  Runtime,  // $XDG_RUNTIME_DIR itself, or /tmp/korvane-UID: never missing
  State,    // $XDG_STATE_HOME/korvane, or HOME/.local/state/korvane
  Data,     // $XDG_DATA_HOME/korvane, or HOME/.local/share/korvane
  Config,   // $XDG_CONFIG_HOME/korvane, or HOME/.config/korvane
};

// The folder from the environment.
std::optional<std::string> ProductFolder(UserFolder folder);

// The rule on given values (each may be null): the XDG variable's value,
// $HOME, the account's home and the user's id.
std::optional<std::string> ProductFolderFrom(UserFolder folder, const char* variable, const char* home,
                                             const char* accountHome, unsigned uid);

// The name of the variable that sets folder, for messages.
const char* VariableOf(UserFolder folder);

}  // namespace korvane::posix
