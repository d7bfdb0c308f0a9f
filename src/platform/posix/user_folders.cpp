// The XDG folders of the product.
#include "user_folders.h"

#include <cstdlib>
#include <vector>

#include <pwd.h>
#include <unistd.h>

namespace korvane::posix {

namespace {

bool IsAbsolute(const char* path) { return path != nullptr && path[0] == '/'; }

// getpwuid_r, not getpwuid: the library runs on other people's threads.
std::optional<std::string> AccountHome() {
  const long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 4096);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
      !IsAbsolute(found->pw_dir)) {
    return std::nullopt;
  }
  return std::string(found->pw_dir);
}

const char* UnderHome(UserFolder folder) {
  switch (folder) {
    case UserFolder::State: return "/.local/state/korvane";
    case UserFolder::Data: return "/.local/share/korvane";
    case UserFolder::Config: return "/.config/korvane";
    case UserFolder::Runtime: break;
  }
  return "";
}

}  // namespace

const char* VariableOf(UserFolder folder) {
  switch (folder) {
    case UserFolder::Runtime: return "XDG_RUNTIME_DIR";
    case UserFolder::State: return "XDG_STATE_HOME";
    case UserFolder::Data: return "XDG_DATA_HOME";
    case UserFolder::Config: return "XDG_CONFIG_HOME";
  }
  return "";
}

std::optional<std::string> ProductFolderFrom(UserFolder folder, const char* variable, const char* home,
                                             const char* accountHome, unsigned uid) {
  if (folder == UserFolder::Runtime) {
    return IsAbsolute(variable) ? std::string(variable) : "/tmp/korvane-" + std::to_string(uid);
  }
  if (IsAbsolute(variable)) return std::string(variable) + "/korvane";
  if (IsAbsolute(home)) return home + std::string(UnderHome(folder));
  if (IsAbsolute(accountHome)) return accountHome + std::string(UnderHome(folder));
  return std::nullopt;
}

std::optional<std::string> ProductFolder(UserFolder folder) {
  const char* variable = std::getenv(VariableOf(folder));
  const char* home = std::getenv("HOME");
  // The password database is read only when the environment does not tell.
  std::optional<std::string> accountHome;
  if (folder != UserFolder::Runtime && !IsAbsolute(variable) && !IsAbsolute(home)) accountHome = AccountHome();
  // The user's number names only the runtime folder's fallback: every call
  // of the daemon link finds the pipe here, so it is asked for only then.
  const bool fallback = folder == UserFolder::Runtime && !IsAbsolute(variable);
  return ProductFolderFrom(folder, variable, home, accountHome ? accountHome->c_str() : nullptr,
                           fallback ? getuid() : 0);
}

}  // namespace korvane::posix
