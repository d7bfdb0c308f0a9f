// Where the daemon is, found the way the library and the daemon find it,
// and whether it serves or still runs.
#pragma once

#include <functional>
#include <string>

namespace korvane::cli {

// The daemon's socket: $XDG_RUNTIME_DIR/DalvDaemonCommand, or
// /tmp/korvane-UID/DalvDaemonCommand without XDG_RUNTIME_DIR.
std::string SocketPath();
// The daemon's state folder: $XDG_STATE_HOME/korvane, by default
// ~/.local/state/korvane (user_folders.h has the rule).
std::string StateFolder();
// Whether the state and configuration folders are known: false only when
// neither the XDG variables nor a home folder tell where they are.
bool KnowsFolders();

// Whether a daemon answers a request now.
bool Serves();
// Whether a daemon process still holds the start lock beside the socket,
// which it keeps until it exits (/proc/locks tells, without touching it).
bool HoldsStartLock();

// What to tell a person when no daemon answered.
std::string NotRunningMessage();
// The daemon's log, named in messages so that a person can look.
std::string LogPath();
// The daemon's configuration: $XDG_CONFIG_HOME/korvane/daemon.conf, by
// default ~/.config/korvane/daemon.conf.
std::string ConfigFile();

// Whether condition came true within seconds, asked every few milliseconds.
bool WaitUntil(double seconds, const std::function<bool()>& condition);

// How long a start the tool makes on its own waits for the daemon to serve.
constexpr double kStartSeconds = 10;
enum class Started { Already, Now, Failed, NotServing };
// Starts the daemon the way the library does (Korvane_StartDaemon, the
// program beside the library) when none serves, and waits until it serves.
Started StartDaemonIfNeeded(double seconds);

}  // namespace korvane::cli
