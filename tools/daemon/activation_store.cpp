#include "activation_store.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace korvane::server {

namespace {
constexpr char kFileHeader[] = "# Korvane activations: one MODE|PATH line per activated folder\n";
}  // namespace

std::optional<std::string> CanonicalFolder(std::string_view path) {
  if (path.empty() || path.front() != '/') return std::nullopt;
  if (path.find_first_of(std::string_view("\0\n\r", 3)) != std::string_view::npos) return std::nullopt;
  std::string canonical;
  std::size_t start = 0;
  while (start < path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(start, end - start);
    if (part == "..") return std::nullopt;
    if (!part.empty() && part != ".") (canonical += '/') += part;
    start = end + 1;
  }
  return canonical.empty() ? "/" : canonical;
}

ParsedActivations ParseActivations(std::string_view text) {
  ParsedActivations parsed;
  std::size_t number = 0;
  while (!text.empty()) {
    ++number;
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line.front() == '#') continue;
    const auto reject = [&](const char* why) {
      parsed.rejected.push_back("line " + std::to_string(number) + " (" + why + "): " + std::string(line));
    };
    if (line.size() < 3 || line[1] != '|' || line[0] < '1' || line[0] > '3') {
      reject("not MODE|PATH with MODE 1 to 3");
      continue;
    }
    const std::optional<std::string> folder = CanonicalFolder(line.substr(2));
    if (!folder || *folder != line.substr(2)) {
      reject("not a canonical absolute path");
      continue;
    }
    if (parsed.activations.contains(*folder)) {
      reject("the folder is listed already");
      continue;
    }
    parsed.activations.emplace(*folder, line[0] - '0');
  }
  return parsed;
}

std::string FormatActivations(const Activations& activations) {
  std::string text;
  for (const auto& [folder, mode] : activations) {
    text += static_cast<char>('0' + mode);
    ((text += '|') += folder) += '\n';
  }
  return text;
}

namespace {

std::string Failure(const std::string& step, const std::string& path) {
  return step + " " + path + ": " + std::strerror(errno);
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string ReplaceFileAtomically(const std::string& path, std::string_view text) {
  const std::string temporary = path + ".new";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return Failure("cannot create", temporary);
  std::string problem;
  if (!WriteAll(fd, text)) {
    problem = Failure("cannot write", temporary);
  } else if (fsync(fd) != 0) {
    problem = Failure("cannot flush", temporary);
  }
  if (close(fd) != 0 && problem.empty()) problem = Failure("cannot close", temporary);
  if (problem.empty() && rename(temporary.c_str(), path.c_str()) != 0) {
    problem = Failure("cannot rename over", path);
  }
  if (!problem.empty()) {
    unlink(temporary.c_str());
    return problem;
  }
  // The rename is durable only once the folder's entry is on the disk.
  const std::string folder = FolderOf(path);
  const int folderFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd < 0) return Failure("cannot open", folder);
  if (fsync(folderFd) != 0) problem = Failure("cannot flush", folder);
  close(folderFd);
  return problem;
}

std::vector<std::string> ActivationStore::Load() {
  // A temporary file left by a write that never finished holds nothing that
  // took effect.
  std::lock_guard lock(mutex_);
  unlink((file_ + ".new").c_str());
  activations_.clear();
  const int fd = open(file_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return {};
    return {Failure("cannot open", file_)};
  }
  std::string text;
  char buffer[8192];
  ssize_t got;
  while ((got = read(fd, buffer, sizeof buffer)) != 0) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      std::string problem = Failure("cannot read", file_);
      close(fd);
      return {problem};
    }
    text.append(buffer, static_cast<std::size_t>(got));
  }
  close(fd);
  ParsedActivations parsed = ParseActivations(text);
  std::size_t bytes = 0;
  std::size_t leftOut = 0;
  for (const auto& [folder, mode] : parsed.activations) {
    bytes += folder.size() + 3;
    if (activations_.size() < kMaxActivations && bytes <= kMaxListBytes) {
      activations_.emplace(folder, mode);
    } else {
      ++leftOut;
    }
  }
  if (leftOut > 0) {
    parsed.rejected.push_back(std::to_string(leftOut) + " folders left out beyond the bound of " +
                              std::to_string(kMaxActivations) + " folders and " + std::to_string(kMaxListBytes) +
                              " bytes");
  }
  return std::move(parsed.rejected);
}

ActivationStore::Change ActivationStore::Set(const std::string& folder, int mode, std::string& error) {
  std::lock_guard lock(mutex_);
  // Settled before the list is copied: a stream of changes that change
  // nothing costs nothing.
  const auto current = activations_.find(folder);
  if (mode == 0 ? current == activations_.end() : current != activations_.end() && current->second == mode) {
    return Change::Unchanged;
  }
  Activations next = activations_;
  if (mode == 0) {
    if (next.erase(folder) == 0) return Change::Unchanged;
  } else {
    auto [entry, added] = next.try_emplace(folder, mode);
    if (!added && entry->second == mode) return Change::Unchanged;
    entry->second = mode;
  }
  const std::string list = FormatActivations(next);
  if (mode != 0 && (next.size() > kMaxActivations || list.size() > kMaxListBytes)) {
    error = "refused: the activation list is bounded at " + std::to_string(kMaxActivations) + " folders and " +
            std::to_string(kMaxListBytes) + " bytes";
    return Change::Failed;
  }
  error = ReplaceFileAtomically(file_, kFileHeader + list);
  if (!error.empty()) return Change::Failed;
  activations_ = std::move(next);
  return Change::Made;
}

std::string ActivationStore::List() const {
  std::lock_guard lock(mutex_);
  return FormatActivations(activations_);
}

Activations ActivationStore::Current() const {
  std::lock_guard lock(mutex_);
  return activations_;
}

std::optional<ActivationStore::Covering> ActivationStore::Cover(std::string_view path) const {
  std::lock_guard lock(mutex_);
  std::optional<std::string> candidate = CanonicalFolder(path);
  while (candidate) {
    if (const auto found = activations_.find(*candidate); found != activations_.end()) {
      return Covering{found->second, found->first};
    }
    if (*candidate == "/") break;
    const std::size_t slash = candidate->rfind('/');
    candidate->resize(slash == 0 ? 1 : slash);
  }
  return std::nullopt;
}

}  // namespace korvane::server
