#include "daemon/sync/unfinished_work.h"

#include "daemon/base/utf8_path.h"
#include "daemon/conflicts/conflict_keeper.h"
#include "daemon/platform/file_stamp.h"

#include <apr_file_io.h>
#include <svn_pools.h>

#include <filesystem>
#include <set>
#include <system_error>
#include <vector>

namespace korvane::server {

namespace {

namespace fs = std::filesystem;

// More placeholders than this in one clean-up means something else is
// wrong; the failure is reported as it stands.
constexpr std::size_t kMostPlaceholders = 100000;

// Where the path quoted from just before at ends: the first quote followed
// by the end of the message or by what follows a quoted path there (": ",
// " ", ",", ")"), so that a quote inside a file's name does not end it.
std::size_t ClosingQuote(const std::string& message, std::size_t at) {
  for (std::size_t quote = message.find('\'', at); quote != std::string::npos; quote = message.find('\'', quote + 1)) {
    const std::size_t next = quote + 1;
    if (next == message.size() || message[next] == ':' || message[next] == ' ' || message[next] == ',' ||
        message[next] == ')')
      return quote;
  }
  return std::string::npos;
}

// The paths quoted in a "not found" error of the chain that lie inside
// root, outside Subversion's own folders, and are not there. Subversion
// quotes every path it names in such an error ('PATH').
std::vector<fs::path> MissingPathsNamedBy(const svn_error_t* error, const fs::path& root) {
  std::vector<fs::path> missing;
  std::string opening = "'";  // appended in steps: a concatenation here trips a false -Wrestrict in GCC 12
  opening += TextOf(root);
  opening += '/';
  for (const svn_error_t* link = error; link != nullptr; link = link->child) {
    if (!APR_STATUS_IS_ENOENT(link->apr_err) || link->message == nullptr) continue;
    const std::string message = link->message;
    for (std::size_t start = message.find(opening); start != std::string::npos;
         start = message.find(opening, start + 1)) {
      const std::size_t end = ClosingQuote(message, start + opening.size());
      if (end == std::string::npos) break;
      const fs::path path = PathOf(message.substr(start + 1, end - start - 1)).lexically_normal();
      const fs::path inside = path.lexically_relative(root);
      bool acceptable = !inside.empty() && inside != ".";
      for (const fs::path& part : inside) acceptable = acceptable && part != ".." && part != ".svn";
      std::error_code ignored;
      if (acceptable && fs::symlink_status(path, ignored).type() == fs::file_type::not_found) missing.push_back(path);
    }
  }
  return missing;
}

// The placeholders made during one clean-up, taken away again at its end.
class Placeholders {
 public:
  ~Placeholders() {
    std::error_code ignored;
    for (const fs::path& file : files_) {
      if (fs::is_regular_file(fs::symlink_status(file, ignored)) && fs::file_size(file, ignored) == 0) {
        fs::remove(file, ignored);
      }
    }
    // Deepest first; a folder that holds anything now stays.
    for (auto folder = folders_.rbegin(); folder != folders_.rend(); ++folder) fs::remove(*folder, ignored);
  }

  std::size_t Count() const { return files_.size(); }

  // False when path had a placeholder before or none can be made.
  bool Make(const fs::path& path, const fs::path& root, apr_pool_t* pool) {
    if (!made_.insert(path).second) return false;
    std::error_code error;
    std::vector<fs::path> absent;
    for (fs::path folder = path.parent_path(); folder != root && folder.has_relative_path();
         folder = folder.parent_path()) {
      if (fs::symlink_status(folder, error).type() != fs::file_type::not_found) break;
      absent.push_back(folder);
    }
    for (auto folder = absent.rbegin(); folder != absent.rend(); ++folder) {
      if (!fs::create_directory(*folder, error)) return false;
      folders_.push_back(*folder);
    }
    apr_file_t* file = nullptr;
    if (apr_file_open(&file, TextOf(path).c_str(), APR_FOPEN_CREATE | APR_FOPEN_EXCL | APR_FOPEN_WRITE,
                      APR_FPROT_OS_DEFAULT, pool) != APR_SUCCESS) {
      return false;
    }
    apr_file_close(file);
    files_.push_back(path);
    return true;
  }

 private:
  std::set<fs::path> made_;
  std::vector<fs::path> files_;
  std::vector<fs::path> folders_;
};

}  // namespace

namespace {

// Runs clean-ups until one succeeds, or fails with no placeholder left to
// make for a step whose file is gone.
std::optional<SvnFailure> CleanUp(const std::string& root, svn_client_ctx_t* client, apr_pool_t* pool) {
  const fs::path top = PathOf(root).lexically_normal();
  Placeholders placeholders;
  for (;;) {
    apr_pool_t* attempt = svn_pool_create(pool);
    // The recorded times of unchanged files are left as they are: fixing
    // them reads every file of the tree, which the next commit's walk does
    // anyway, and a clean-up runs whenever a folder's sync begins.
    svn_error_t* error = svn_client_cleanup2(root.c_str(), TRUE, FALSE, TRUE, FALSE, FALSE, client, attempt);
    bool placed = false;
    if (error != SVN_NO_ERROR && placeholders.Count() < kMostPlaceholders) {
      for (const fs::path& missing : MissingPathsNamedBy(error, top))
        placed = placeholders.Make(missing, top, pool) || placed;
    }
    std::optional<SvnFailure> failure = TakeError(error);
    svn_pool_destroy(attempt);
    if (!failure || !placed) return failure;
  }
}

}  // namespace

std::optional<SvnFailure> FinishUnfinishedWork(const std::string& root, const std::string& who,
                                               std::vector<KeptConflict>& kept, svn_client_ctx_t* client,
                                               apr_pool_t* pool) {
  // The working copy's database is written as its steps are queued and as
  // each is done: a file written later was written by someone else.
  const std::optional<FileStamp> recorded = StampOf(TextOf(PathOf(root) / ".svn" / "wc.db"));
  std::vector<std::string> changed;
  apr_pool_t* status = svn_pool_create(pool);
  svn_error_clear(LocallyChangedFiles(root, changed, client, status));  // none found: none to stamp
  svn_pool_destroy(status);
  LocalVersions held(root, LocalVersions::Aside::AcrossCleanUp);
  for (const std::string& file : changed) held.Hold(file);
  std::optional<SvnFailure> failure = CleanUp(root, client, pool);
  if (recorded) {
    std::optional<SvnFailure> keeping = TakeError(held.KeepWrittenDuring(recorded->modified + 1, who, kept));
    if (keeping && !failure) failure = std::move(keeping);
  }
  for (const std::string& file : changed) TouchNow(file);
  return failure;
}

}  // namespace korvane::server
