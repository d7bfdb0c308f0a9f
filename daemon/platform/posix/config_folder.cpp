#include "daemon/platform/daemon_paths.h"

#include "platform/posix/user_folders.h"

namespace korvane::server {

// A file of its own: the korvane tool reads the configuration too, and
// linking it pulls in this alone, not the daemon's other paths with the
// library's pipe name.
std::optional<std::string> FindConfigFolder() { return posix::ProductFolder(posix::UserFolder::Config); }

}  // namespace korvane::server
