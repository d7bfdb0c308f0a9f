// The activated folders and their modes, kept in the state folder's file
// "activations": one "MODE|PATH" line per folder (MODE 1, 2 or 3, PATH
// absolute with "/" separators), sorted by path; lines starting with "#"
// and blank lines are ignored. Every change reaches the disk before it takes
// effect, and the file is only ever replaced whole, so a crash leaves either
// the old state or the new one.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::server {

using Activations = std::map<std::string, int>;  // folder -> mode 1..3

// The path in the form activations are kept in: absolute, single "/"
// separators, no "." components and no trailing "/" (except the root).
// Nothing for a relative path, one with ".." components, or one holding a
// NUL or a line break.
std::optional<std::string> CanonicalFolder(std::string_view path);

struct ParsedActivations {
  Activations activations;
  std::vector<std::string> rejected;  // one account per line that was left out
};

// Reads the file's text, keeping every line that parses.
ParsedActivations ParseActivations(std::string_view text);
// The file's text for these activations.
std::string FormatActivations(const Activations& activations);

// Writes text to path through a temporary file in the same folder, flushed
// to the disk, renamed over path, with the folder flushed too. Empty on
// success, otherwise what failed.
std::string ReplaceFileAtomically(const std::string& path, std::string_view text);

// The activations in force. Safe to use from any thread; changes are made
// one at a time, each written out before the next.
class ActivationStore {
 public:
  explicit ActivationStore(std::string file) : file_(std::move(file)) {}

  // The list goes back to a client in one packet, and every change rewrites
  // the file whole: both stay bounded. A folder beyond these is refused,
  // and the log says why.
  static constexpr std::size_t kMaxActivations = 10000;
  static constexpr std::size_t kMaxListBytes = 1 << 20;

  // Loads the file (a missing file is no activation). Gives one line for
  // each problem found: an unreadable file, each line left out (also those
  // beyond the bounds).
  std::vector<std::string> Load();

  enum class Change { Made, Unchanged, Failed };
  // Activates folder in mode 1..3, or removes its activation for mode 0.
  // The file is replaced before the change is held here; when that fails,
  // or the change would take the list past its bounds, nothing changes and
  // error says why.
  Change Set(const std::string& folder, int mode, std::string& error);

  // One "MODE|PATH" line per activation, each ending in a line feed.
  std::string List() const;

  struct Covering {
    int mode = 0;
    std::string folder;
  };
  // The activated folder nearest to path among path and its ancestors.
  std::optional<Covering> Cover(std::string_view path) const;

  Activations Current() const;

 private:
  std::string file_;
  mutable std::mutex mutex_;
  Activations activations_;
};

}  // namespace korvane::server
