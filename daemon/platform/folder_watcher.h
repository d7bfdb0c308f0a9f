#pragma once

#include "daemon/platform/native_handle.h"

#include <memory>
#include <string>
#include <vector>

namespace korvane::server {

// Tells of changes to the entries of single folders (not of the folders
// below them: whoever watches a tree adds each folder of it). Not shared
// between threads. Where the system watches whole trees and may miss a
// change below the top (Windows), it also reports Lost now and then, so the
// watcher's owner looks at every folder again.
class FolderWatcher {
 public:
  enum class Kind {
    Lost,         // changes were lost: any watched folder may have changed
    Ended,        // the watch ended (the folder is gone or was let go)
    FileWritten,  // a file was created or written, and may be written on
    FileSaved,    // a file's writer closed it, or it was moved in whole
    FileTouched,  // only a file's attributes changed (times, permissions)
    FolderAdded,  // a folder was created or moved in
    Changed,      // anything else: an entry removed, moved out, its attributes
  };
  struct Event {
    int watch = -1;    // what Add returned; -1 for Lost
    Kind kind = Kind::Changed;
    std::string name;  // the entry's name; empty for the folder itself
  };
  enum class Refusal { None, LimitReached, Gone, Failed };

  FolderWatcher();  // Handle() is kNoHandle when the system gives no watcher
  ~FolderWatcher();
  FolderWatcher(const FolderWatcher&) = delete;
  FolderWatcher& operator=(const FolderWatcher&) = delete;

  // The watch of folder, or -1 with why; problem holds the system's words
  // for Failed.
  int Add(const std::string& folder, Refusal& refusal, std::string& problem);
  void Remove(int watch);

  // Every event ready now, in order, without waiting.
  std::vector<Event> Take();

  // What a waiter waits on for events to be ready (a descriptor on POSIX, an event on Windows).
  NativeHandle Handle() const { return handle_; }

 private:
  NativeHandle handle_ = kNoHandle;
  struct Watches;  // what the system needs kept beside the handle, if anything
  std::unique_ptr<Watches> watches_;
};

}  // namespace korvane::server
