// What a file manager's extension asks of the product, in its own process:
// the library's context menu for a selection, an entry run, and the emblem
// of a file. Nothing here runs long on the caller's thread: the menu is
// built on a thread of its own and waited for at most a short limit (after
// which the last menu built for the selection, or none, is shown); an
// entry runs on a thread of its own; emblems are worked out by a worker
// thread and cached. A slow, missing or failing daemon therefore costs the
// window at most the menu's limit, and never an emblem.
#pragma once

#include "shell_menu.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace korvane::desktop {

using shellmenu::Entry;

// How long a file manager's menu waits for the library's menu.
constexpr std::chrono::milliseconds kMenuWait{700};

// The local path a file manager's URI names; nothing for a location that is
// not a local file (remote, trash, search), which the product leaves alone.
std::optional<std::string> LocalPath(const char* uri);

// The library's entries for path (or its background), within kMenuWait.
std::vector<Entry> MenuEntries(const std::string& path, bool background);

// Runs the entry verb for path on a thread of its own, then watches what it
// changes and calls changed (on that thread) with the paths whose emblems
// changed, once the state of path has moved on (or after a while, if the
// work never changes it).
void RunEntry(const std::string& path, bool background, const std::string& verb,
              std::function<void(const std::vector<std::string>& paths)> changed);

// An emblem request: answered exactly once, on the worker's thread (with
// no emblem when it was cancelled first; the asker checks cancelled).
struct EmblemRequest {
  std::string path;
  std::function<void(const std::string& emblem)> answer;  // "" for none
  std::atomic<bool> cancelled{false};
};

// The cached emblem of path, when it is fresh.
std::optional<std::string> CachedEmblem(const std::string& path);
// Queues a request for the worker.
void AskEmblem(std::shared_ptr<EmblemRequest> request);

// The icon names of the emblems.
constexpr char kSharedEmblem[] = "emblem-shared";          // a shared (activated) folder
constexpr char kInSyncEmblem[] = "emblem-default";         // versioned in an activated folder
constexpr char kPendingEmblem[] = "emblem-synchronizing";  // not yet committed, in a folder of mode 3
constexpr char kConflictEmblem[] = "emblem-important";     // a conflict copy kept beside the file

}  // namespace korvane::desktop
