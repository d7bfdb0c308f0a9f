#include "file_manager_menu.h"

#include "text.h"

#include "korvane/korvane.h"

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include <glib.h>

namespace korvane::desktop {

namespace {

using Clock = std::chrono::steady_clock;

// How long a computed emblem, and a folder's activation, stay fresh.
constexpr auto kEmblemFresh = std::chrono::seconds(5);
constexpr auto kFolderFresh = std::chrono::seconds(2);
// After an entry ran: how often, and how long, its path is looked at.
constexpr auto kChangeLook = std::chrono::milliseconds(250);
constexpr auto kChangeWatch = std::chrono::seconds(120);
// The most emblems remembered; beyond it the cache starts again.
constexpr std::size_t kMaxCached = 50000;

std::u16string Wide(const std::string& path) { return cli::Utf16(path); }
const KorvaneChar* Pointer(const std::u16string& wide) { return reinterpret_cast<const KorvaneChar*>(wide.c_str()); }

// A folder's activation as the daemon answers GetStatus.
struct Activation {
  int mode = 0;
  std::string folder;  // the activated folder covering it, or empty
};

std::optional<Activation> StatusOf(const std::string& path) {
  char* handedOut = nullptr;
  const std::u16string wide = Wide(path);
  if (Korvane_GetStatus(Pointer(wide), &handedOut) != 1) {
    std::free(handedOut);
    return std::nullopt;
  }
  const std::string status = handedOut != nullptr ? handedOut : "";
  std::free(handedOut);
  // mode|repository root|activated folder|path
  Activation activation;
  const std::size_t first = status.find('|');
  const std::size_t second = first == std::string::npos ? first : status.find('|', first + 1);
  const std::size_t third = second == std::string::npos ? second : status.find('|', second + 1);
  if (third == std::string::npos) return std::nullopt;
  activation.mode = std::atoi(status.substr(0, first).c_str());
  activation.folder = status.substr(second + 1, third - second - 1);
  return activation;
}

bool IsVersioned(const std::string& path) {
  const std::u16string wide = Wide(path);
  return Korvane_IsVersioned(Pointer(wide)) == 1;
}

bool IsFolder(const std::string& path) { return g_file_test(path.c_str(), G_FILE_TEST_IS_DIR) != 0; }

std::string Parent(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

// The emblem of path as things are now: worked out from the activation of
// its folder (one daemon request a folder, cached) and, inside an
// activated folder, whether it is versioned (read from the working copy).
class Emblems {
 public:
  std::string Compute(const std::string& path) {
    const std::string name = path.substr(path.rfind('/') + 1);
    if (name.find(" (conflict, ") != std::string::npos) return kConflictEmblem;
    const std::optional<Activation> activation = FolderActivation(IsFolder(path) ? path : Parent(path));
    if (!activation || activation->folder.empty()) return "";
    if (activation->folder == path) return kSharedEmblem;
    if (IsVersioned(path)) return kInSyncEmblem;
    return activation->mode == 3 ? kPendingEmblem : "";
  }

  void ForgetFolders() {
    std::lock_guard lock(mutex_);
    folders_.clear();
  }

 private:
  std::optional<Activation> FolderActivation(const std::string& folder) {
    {
      std::lock_guard lock(mutex_);
      const auto found = folders_.find(folder);
      if (found != folders_.end() && Clock::now() - found->second.first < kFolderFresh) return found->second.second;
    }
    std::optional<Activation> activation = StatusOf(folder);
    std::lock_guard lock(mutex_);
    if (folders_.size() > kMaxCached) folders_.clear();
    folders_[folder] = {Clock::now(), activation};
    return activation;
  }

  std::mutex mutex_;
  std::map<std::string, std::pair<Clock::time_point, std::optional<Activation>>> folders_;
};

// The emblem worker: one thread, newest requests first (what the window
// shows now), cancelled ones skipped. It lives as long as the process: a
// file manager never unloads its extensions.
class EmblemWorker {
 public:
  static EmblemWorker& Get() {
    static EmblemWorker* worker = new EmblemWorker();  // never destroyed: the thread may be in the library
    return *worker;
  }

  void Ask(std::shared_ptr<EmblemRequest> request) {
    {
      std::lock_guard lock(mutex_);
      queue_.push_front(std::move(request));
    }
    wake_.notify_one();
  }

  std::optional<std::string> Cached(const std::string& path) {
    std::lock_guard lock(mutex_);
    const auto found = cache_.find(path);
    if (found == cache_.end() || Clock::now() - found->second.first >= kEmblemFresh) return std::nullopt;
    return found->second.second;
  }

  // Works out path's emblem now, on the caller's thread (not the window's),
  // and caches it.
  std::string Refresh(const std::string& path) {
    const std::string emblem = emblems_.Compute(path);
    std::lock_guard lock(mutex_);
    if (cache_.size() > kMaxCached) cache_.clear();
    cache_[path] = {Clock::now(), emblem};
    return emblem;
  }

  // Every cached path at or under path whose emblem is no longer what is
  // cached: worked out again.
  std::vector<std::string> Changed(const std::string& path) {
    emblems_.ForgetFolders();
    std::vector<std::pair<std::string, std::string>> known;
    {
      std::lock_guard lock(mutex_);
      for (const auto& [cached, entry] : cache_) {
        if (cached == path || cached.rfind(path + "/", 0) == 0) known.emplace_back(cached, entry.second);
      }
    }
    std::vector<std::string> changed;
    for (const auto& [cached, emblem] : known) {
      if (Refresh(cached) != emblem) changed.push_back(cached);
    }
    return changed;
  }

  std::string Peek(const std::string& path) { return emblems_.Compute(path); }
  void ForgetFolders() { emblems_.ForgetFolders(); }

 private:
  EmblemWorker() : thread_([this] { Run(); }) { thread_.detach(); }

  void Run() {
    for (;;) {
      std::shared_ptr<EmblemRequest> request;
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return !queue_.empty(); });
        request = std::move(queue_.front());
        queue_.pop_front();
      }
      if (request->cancelled) {
        request->answer("");  // so that the asker can let go of what it holds
        continue;
      }
      std::optional<std::string> emblem = Cached(request->path);
      if (!emblem) emblem = Refresh(request->path);
      request->answer(*emblem);
    }
  }

  Emblems emblems_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::shared_ptr<EmblemRequest>> queue_;
  std::map<std::string, std::pair<Clock::time_point, std::string>> cache_;
  std::thread thread_;
};

// The last menu built for each selection, shown when the library takes
// longer than the menu's limit.
struct MenuCache {
  std::mutex mutex;
  std::map<std::pair<std::string, bool>, std::vector<Entry>> menus;
};
MenuCache& Menus() {
  static MenuCache* cache = new MenuCache();
  return *cache;
}

}  // namespace

std::optional<std::string> LocalPath(const char* uri) {
  if (uri == nullptr || g_str_has_prefix(uri, "file://") == 0) return std::nullopt;
  gchar* path = g_filename_from_uri(uri, nullptr, nullptr);
  if (path == nullptr) return std::nullopt;
  std::string local = path;
  g_free(path);
  while (local.size() > 1 && local.back() == '/') local.pop_back();
  return local;
}

std::vector<Entry> MenuEntries(const std::string& path, bool background) {
  struct Built {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::vector<Entry> entries;
  };
  auto built = std::make_shared<Built>();
  std::thread([built, path, background] {
    std::vector<Entry> entries;
    if (std::unique_ptr<shellmenu::Menu> menu = shellmenu::Menu::For(path, background)) entries = menu->Entries();
    {
      std::lock_guard lock(Menus().mutex);
      Menus().menus[{path, background}] = entries;
    }
    std::lock_guard lock(built->mutex);
    built->entries = std::move(entries);
    built->finished = true;
    built->done.notify_one();
  }).detach();
  std::unique_lock lock(built->mutex);
  if (built->done.wait_for(lock, kMenuWait, [&] { return built->finished; })) return built->entries;
  std::lock_guard cached(Menus().mutex);
  const auto found = Menus().menus.find({path, background});
  return found != Menus().menus.end() ? found->second : std::vector<Entry>();
}

void RunEntry(const std::string& path, bool background, const std::string& verb,
              std::function<void(const std::vector<std::string>& paths)> changed) {
  std::thread([path, background, verb, changed = std::move(changed)] {
    EmblemWorker& worker = EmblemWorker::Get();
    // What the entry acts on: the selection, or the background's folder.
    const std::string before = worker.Peek(path);
    std::unique_ptr<shellmenu::Menu> menu = shellmenu::Menu::For(path, background);
    if (menu == nullptr || !menu->Offers(verb) || !menu->Invoke(verb)) return;
    menu.reset();
    const auto giveUp = Clock::now() + kChangeWatch;
    while (Clock::now() < giveUp) {
      std::this_thread::sleep_for(kChangeLook);
      worker.ForgetFolders();
      if (worker.Peek(path) != before) break;
    }
    worker.Refresh(path);
    std::vector<std::string> paths = worker.Changed(path);
    paths.push_back(path);
    changed(paths);
  }).detach();
}

std::optional<std::string> CachedEmblem(const std::string& path) { return EmblemWorker::Get().Cached(path); }

void AskEmblem(std::shared_ptr<EmblemRequest> request) { EmblemWorker::Get().Ask(std::move(request)); }

}  // namespace korvane::desktop
