#include "daemon/platform/folder_watcher.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include <sys/inotify.h>
#include <unistd.h>

namespace korvane::server {

namespace {

constexpr std::uint32_t kWatchedEvents = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_FROM |
                                         IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_ONLYDIR;

FolderWatcher::Kind KindOf(const inotify_event& event) {
  if (event.mask & IN_Q_OVERFLOW) return FolderWatcher::Kind::Lost;
  if (event.mask & IN_IGNORED) return FolderWatcher::Kind::Ended;
  const bool arrived = (event.mask & (IN_CREATE | IN_MOVED_TO)) != 0;
  if (event.mask & IN_ISDIR) return arrived ? FolderWatcher::Kind::FolderAdded : FolderWatcher::Kind::Changed;
  if (event.len == 0 || event.name[0] == '\0') return FolderWatcher::Kind::Changed;
  if (event.mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) return FolderWatcher::Kind::FileSaved;
  if (event.mask & (IN_CREATE | IN_MODIFY)) return FolderWatcher::Kind::FileWritten;
  if (event.mask == IN_ATTRIB) return FolderWatcher::Kind::FileTouched;
  return FolderWatcher::Kind::Changed;
}

}  // namespace

// inotify keeps every watch itself.
struct FolderWatcher::Watches {};

FolderWatcher::FolderWatcher() : handle_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

FolderWatcher::~FolderWatcher() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

int FolderWatcher::Add(const std::string& folder, Refusal& refusal, std::string& problem) {
  const int watch = inotify_add_watch(static_cast<int>(handle_), folder.c_str(), kWatchedEvents);
  if (watch >= 0) {
    refusal = Refusal::None;
  } else if (errno == ENOSPC) {
    refusal = Refusal::LimitReached;
  } else if (errno == ENOENT || errno == ENOTDIR) {
    refusal = Refusal::Gone;
  } else {
    refusal = Refusal::Failed;
    problem = std::strerror(errno);
  }
  return watch;
}

void FolderWatcher::Remove(int watch) { inotify_rm_watch(static_cast<int>(handle_), watch); }

std::vector<FolderWatcher::Event> FolderWatcher::Take() {
  std::vector<Event> events;
  alignas(inotify_event) char buffer[16 * 1024];
  for (;;) {
    const ssize_t size = read(static_cast<int>(handle_), buffer, sizeof buffer);
    if (size <= 0) return events;
    for (const char* at = buffer; at < buffer + size;) {
      const auto* event = reinterpret_cast<const inotify_event*>(at);
      at += sizeof(inotify_event) + event->len;
      const Kind kind = KindOf(*event);
      events.push_back({kind == Kind::Lost ? -1 : event->wd, kind, event->len > 0 ? event->name : ""});
    }
  }
}

}  // namespace korvane::server
