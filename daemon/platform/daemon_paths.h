// Where the daemon keeps its things: the pipe's socket and the start lock in
// the runtime folder, the log, the activations and removed directories in
// the state folder ($XDG_STATE_HOME/korvane, by default
// ~/.local/state/korvane), the spaces of the hosting service in the data
// folder ($XDG_DATA_HOME/korvane, by default ~/.local/share/korvane).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace korvane::server {

struct DaemonPaths {
  std::string runtimeFolder;
  std::string socketPath;
  std::string stateFolder;
  std::string dataFolder;
  std::string configFolder;  // daemon.conf; not one of the daemon's own folders

  std::string StartLock() const { return runtimeFolder + "/.DalvDaemonCommand.lock"; }
  std::string StateLock() const { return stateFolder + "/daemon.lock"; }
  std::string Log() const { return stateFolder + "/daemon.log"; }
  std::string ActivationsFile() const { return stateFolder + "/activations"; }
  // The background work, published for the tool and file managers (job_board.h).
  std::string JobsFile() const { return stateFolder + "/jobs"; }
  // Local directories that removeLDir put aside, one folder per key.
  std::string RemovedFolder() const { return stateFolder + "/removed"; }
  // The hosting service's spaces: one FSFS repository per space, in a
  // folder whose file:// URLs hold the service's "svn.halcyra.com/svn/".
  std::string SpacesRoot() const { return dataFolder + "/spaces"; }
  std::string SpacesFolder() const { return SpacesRoot() + "/svn.halcyra.com/svn"; }
  // The service's users, one a line.
  std::string UsersFile() const { return SpacesRoot() + "/users"; }
  std::string ConfigFile() const { return configFolder + "/daemon.conf"; }
  // The folders that no request may move, delete or write into.
  std::vector<std::string> OwnFolders() const { return {stateFolder, runtimeFolder, dataFolder}; }
  // Resolves OwnFolders() once they all exist, so that the guard does not
  // resolve them again for every request.
  void ResolveOwnFolders();
  // The own folder that a request on path would touch (OwnFolderTouched),
  // resolved; nothing when it touches none.
  std::optional<std::string> OwnFolderTouchedBy(const std::string& path, bool moves) const;

 private:
  std::vector<std::string> resolvedOwnFolders_;  // empty until ResolveOwnFolders
};

// The paths from the environment; nothing (and why) when the socket path
// cannot be formed or no home folder is known. On Windows the folders go
// under %LOCALAPPDATA%\Korvane (run, state, data) and the configuration in
// %APPDATA%\Korvane; KORVANE_LOCAL_APP_DATA and KORVANE_APP_DATA, when they
// hold absolute paths, stand for those two (tests set them).
std::optional<DaemonPaths> FindPaths(std::string& problem);

// The folder of the configuration alone (DaemonPaths::configFolder), for
// programs that need nothing else of the daemon's paths.
std::optional<std::string> FindConfigFolder();

// Makes path and any missing parents with mode 0700, then checks that path
// is a folder owned by this user; a private folder also loses any access
// for group and others. False, with why, when it is not usable.
bool PrepareFolder(const std::string& path, bool makePrivate, std::string& problem);

}  // namespace korvane::server
