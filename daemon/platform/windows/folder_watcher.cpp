#include "daemon/platform/folder_watcher.h"

#include "daemon/base/environment.h"
#include "daemon/base/windows/system_text.h"

#include <chrono>
#include <cwctype>
#include <map>
#include <utility>

namespace korvane::server {

namespace {

using Clock = std::chrono::steady_clock;

// Every so often the watcher reports Lost, so its owner looks at every
// folder again: a recursive watch may miss changes below its top (Wine
// reports none in folders that existed before the watch was armed).
constexpr long kSweepEveryMs = 30000;
// The most a network share accepts for one read of changes.
constexpr DWORD kBufferBytes = 64 * 1024;
constexpr DWORD kNotifyFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SIZE |
                                FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_CREATION;

HANDLE EventOf(NativeHandle handle) { return reinterpret_cast<HANDLE>(handle); }

// Windows names one file in any case.
std::wstring Folded(std::wstring_view path) {
  std::wstring folded(path);
  for (wchar_t& unit : folded) unit = static_cast<wchar_t>(std::towlower(unit));
  return folded;
}

std::wstring SystemFolder(const std::string& folder) {
  std::wstring path = windows::SystemPath(folder);
  while (path.size() > 3 && path.back() == L'\\') path.pop_back();
  return path;
}

// Whether path lies below folder (both folded); relative receives the rest.
bool Below(const std::wstring& path, const std::wstring& folder, std::wstring& relative) {
  if (path == folder) {
    relative.clear();
    return true;
  }
  const std::size_t start = folder.back() == L'\\' ? folder.size() : folder.size() + 1;
  if (path.size() <= start || !path.starts_with(folder) || path[start - 1] != L'\\') return false;
  relative = path.substr(start);
  return true;
}

void CALLBACK OnSweepDue(void* event, BOOLEAN) { SetEvent(static_cast<HANDLE>(event)); }

// One recursive watch of a top folder and all below it, which the watches of
// the top and of the folders under it share.
struct Tree {
  std::wstring folder;  // as given, without a trailing '\'
  std::wstring folded;
  HANDLE directory = INVALID_HANDLE_VALUE;
  OVERLAPPED overlapped{};
  std::unique_ptr<DWORD[]> buffer{new DWORD[kBufferBytes / sizeof(DWORD)]};  // aligned as the records need
  bool armed = false;
  int users = 0;  // the watches on it
};

}  // namespace

struct FolderWatcher::Watches {
  std::vector<std::unique_ptr<Tree>> trees;
  std::map<int, std::pair<Tree*, std::wstring>> folders;   // watch: its tree and its place there, folded
  std::map<std::pair<Tree*, std::wstring>, int> byFolder;  // the same the other way round
  int nextWatch = 1;
  std::vector<Event> ended;  // watches let go since the last Take
  HANDLE sweepTimer = nullptr;
  std::chrono::milliseconds sweepEvery{kSweepEveryMs};
  Clock::time_point nextSweep;

  bool Arm(Tree& tree, HANDLE event) {
    tree.overlapped = {};
    tree.overlapped.hEvent = event;
    tree.armed = ReadDirectoryChangesW(tree.directory, tree.buffer.get(), kBufferBytes, TRUE, kNotifyFilter, nullptr,
                                       &tree.overlapped, nullptr) != FALSE;
    return tree.armed;
  }

  void Close(Tree& tree) {
    if (tree.armed) {
      CancelIoEx(tree.directory, &tree.overlapped);
      DWORD bytes = 0;
      GetOverlappedResult(tree.directory, &tree.overlapped, &bytes, TRUE);
    }
    CloseHandle(tree.directory);
    tree.directory = INVALID_HANDLE_VALUE;
    tree.armed = false;
  }

  // Ends the watch; the tree goes with its last watch.
  void End(int watch, std::vector<Event>& events) {
    const auto found = folders.find(watch);
    if (found == folders.end()) return;
    Tree* tree = found->second.first;
    byFolder.erase(found->second);
    folders.erase(found);
    events.push_back({watch, Kind::Ended, {}});
    if (--tree->users == 0) Close(*tree);
  }

  // The watches of relative (folded) and of every folder below it.
  void EndBelow(Tree& tree, const std::wstring& relative, std::vector<Event>& events) {
    std::vector<int> gone;
    std::wstring rest;
    for (const auto& [place, watch] : byFolder) {
      if (place.first == &tree && !place.second.empty() && Below(place.second, relative, rest)) gone.push_back(watch);
    }
    for (int watch : gone) End(watch, events);
  }

  void Report(Tree& tree, DWORD action, std::wstring_view name, std::vector<Event>& events) {
    const std::size_t separator = name.rfind(L'\\');
    const std::wstring parent = separator == std::wstring_view::npos ? L"" : Folded(name.substr(0, separator));
    const std::wstring_view leaf = separator == std::wstring_view::npos ? name : name.substr(separator + 1);
    if (action == FILE_ACTION_REMOVED || action == FILE_ACTION_RENAMED_OLD_NAME) EndBelow(tree, Folded(name), events);
    const auto watch = byFolder.find({&tree, parent});
    if (watch == byFolder.end()) return;
    const DWORD attributes = GetFileAttributesW((tree.folder + L"\\" + std::wstring(name)).c_str());
    const bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    Kind kind = Kind::Changed;
    switch (action) {
      case FILE_ACTION_ADDED:
        kind = folder ? Kind::FolderAdded : Kind::FileWritten;
        break;
      case FILE_ACTION_RENAMED_NEW_NAME:
        kind = folder ? Kind::FolderAdded : Kind::FileSaved;
        break;
      case FILE_ACTION_MODIFIED:
        // A folder's time changes with its entries, which are reported
        // themselves; a file's writes and attributes are one action here.
        if (folder) return;
        kind = Kind::FileWritten;
        break;
      default:
        break;
    }
    events.push_back({watch->second, kind, windows::Narrow(leaf)});
  }

  // What a completed read brought; false when changes were lost.
  bool Read(Tree& tree, std::vector<Event>& events) {
    DWORD bytes = 0;
    tree.armed = false;
    if (!GetOverlappedResult(tree.directory, &tree.overlapped, &bytes, FALSE) || bytes == 0) return false;
    const auto* at = reinterpret_cast<const unsigned char*>(tree.buffer.get());
    for (;;) {
      const auto* record = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(at);
      Report(tree, record->Action, {record->FileName, record->FileNameLength / sizeof(wchar_t)}, events);
      if (record->NextEntryOffset == 0) return true;
      at += record->NextEntryOffset;
    }
  }
};

FolderWatcher::FolderWatcher() : watches_(std::make_unique<Watches>()) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (event == nullptr) return;
  handle_ = reinterpret_cast<NativeHandle>(event);
  watches_->sweepEvery = std::chrono::milliseconds(NumberFromEnvironment("KORVANE_WATCH_SWEEP_MS", kSweepEveryMs));
  watches_->nextSweep = Clock::now() + watches_->sweepEvery;
  const auto every = static_cast<DWORD>(watches_->sweepEvery.count());
  CreateTimerQueueTimer(&watches_->sweepTimer, nullptr, OnSweepDue, event, every, every, WT_EXECUTEDEFAULT);
}

FolderWatcher::~FolderWatcher() {
  if (watches_->sweepTimer != nullptr) DeleteTimerQueueTimer(nullptr, watches_->sweepTimer, INVALID_HANDLE_VALUE);
  for (const auto& tree : watches_->trees) {
    if (tree->directory != INVALID_HANDLE_VALUE) watches_->Close(*tree);
  }
  if (handle_ != kNoHandle) CloseHandle(EventOf(handle_));
}

int FolderWatcher::Add(const std::string& folder, Refusal& refusal, std::string& problem) {
  const std::wstring path = SystemFolder(folder);
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    const DWORD error = GetLastError();
    const bool gone = attributes != INVALID_FILE_ATTRIBUTES || error == ERROR_FILE_NOT_FOUND ||
                      error == ERROR_PATH_NOT_FOUND;
    refusal = gone ? Refusal::Gone : Refusal::Failed;
    if (!gone) problem = windows::SystemMessage(error);
    return -1;
  }
  // A folder in a tree watched already shares its watch; the same folder
  // twice is one watch, as inotify makes it.
  const std::wstring folded = Folded(path);
  Tree* tree = nullptr;
  std::wstring relative;
  for (const auto& candidate : watches_->trees) {
    if (candidate->directory != INVALID_HANDLE_VALUE && Below(folded, candidate->folded, relative)) {
      tree = candidate.get();
      break;
    }
  }
  if (tree == nullptr) {
    auto fresh = std::make_unique<Tree>();
    fresh->folder = path;
    fresh->folded = folded;
    fresh->directory = CreateFileW(path.c_str(), FILE_LIST_DIRECTORY,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    if (fresh->directory == INVALID_HANDLE_VALUE || !watches_->Arm(*fresh, EventOf(handle_))) {
      const DWORD error = GetLastError();
      if (fresh->directory != INVALID_HANDLE_VALUE) CloseHandle(fresh->directory);
      refusal = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Refusal::Gone : Refusal::Failed;
      problem = windows::SystemMessage(error);
      return -1;
    }
    tree = fresh.get();
    relative.clear();
    watches_->trees.push_back(std::move(fresh));
  }
  refusal = Refusal::None;
  const auto [place, added] = watches_->byFolder.try_emplace({tree, relative}, watches_->nextWatch);
  if (added) {
    watches_->folders[place->second] = place->first;
    ++watches_->nextWatch;
    ++tree->users;
  }
  return place->second;
}

void FolderWatcher::Remove(int watch) {
  watches_->End(watch, watches_->ended);
  SetEvent(EventOf(handle_));
}

std::vector<FolderWatcher::Event> FolderWatcher::Take() {
  std::vector<Event> events = std::move(watches_->ended);
  watches_->ended.clear();
  if (handle_ == kNoHandle) return events;
  HANDLE event = EventOf(handle_);
  ResetEvent(event);
  bool lost = false;
  for (const auto& tree : watches_->trees) {
    if (!tree->armed || !HasOverlappedIoCompleted(&tree->overlapped)) continue;
    if (!watches_->Read(*tree, events)) lost = true;
    if (tree->directory != INVALID_HANDLE_VALUE && !watches_->Arm(*tree, event)) {
      // The top folder is gone or can no longer be read: its watches end.
      std::vector<int> gone;
      for (const auto& [watch, place] : watches_->folders) {
        if (place.first == tree.get()) gone.push_back(watch);
      }
      for (int watch : gone) watches_->End(watch, events);
    }
  }
  std::erase_if(watches_->trees, [](const auto& tree) { return tree->directory == INVALID_HANDLE_VALUE; });
  const auto now = Clock::now();
  if (now >= watches_->nextSweep) {
    lost = lost || !watches_->folders.empty();
    watches_->nextSweep = now + watches_->sweepEvery;
  }
  if (lost) events.push_back({-1, Kind::Lost, {}});
  // Arming a read resets the shared event: a read that completed meanwhile
  // must still wake the waiter.
  for (const auto& tree : watches_->trees) {
    if (tree->armed && HasOverlappedIoCompleted(&tree->overlapped)) SetEvent(event);
  }
  return events;
}

}  // namespace korvane::server
