// The working-copy queries and Korvane_IsVersioned on real working copies
// checked out of file:// repositories, and through scripted kind reads for
// answers a real working copy cannot give on demand.
#include "svn/svn_path.h"

#include "korvane/korvane.h"
#include "support/svn_repository.h"
#include "svn/svn_pool.h"
#include "text/utf_convert.h"

#include <gtest/gtest.h>

#include <cerrno>

#include <svn_error.h>
#include <svn_wc.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

namespace korvane::svn {
namespace {

using testing::SvnRepository;

// Made once per program. One file is scheduled for deletion and one folder
// excluded: both are gone from disk and still recorded.
const SvnRepository& Hosted() {
  static const auto repository = [] {
    auto made = std::make_unique<SvnRepository>("svn.halcyra.com/svn/repo",
                                                std::vector<std::string>{"file.txt", "sub/", "gone.txt", "excluded/"});
    made->Svn({"delete", made->WorkingCopy() + "/gone.txt"});
    made->Svn({"update", "--set-depth", "exclude", made->WorkingCopy() + "/excluded"});
    std::filesystem::create_directories(made->WorkingCopy() + "/unversioned");
    std::filesystem::create_directories(made->Folder() + "/outside");
    return made;
  }();
  return *repository;
}

SVNPath PathOf(const std::string& path) { return SVNPath(text::Utf8ToWide(path)); }

// An excluded folder is versioned, but its status names no repository.
struct Place {
  std::string path;
  bool versioned;
  bool hosted;
};
std::vector<Place> Places() {
  const std::string wc = Hosted().WorkingCopy(), outside = Hosted().Folder();
  return {
      {wc, true, true},
      {wc + "/", true, true},
      {wc + "/file.txt", true, true},
      {wc + "//sub/.", true, true},
      {wc + "/gone.txt", true, true},
      {wc + "/excluded", true, false},
      {wc + "/unversioned", false, false},
      {wc + "/missing.txt", false, false},
      {outside + "/outside", false, false},
      {outside + "/missing/x", false, false},
      {"", false, false},
      {"wc/file.txt", false, false},
  };
}

TEST(WorkingCopyQueries, AnswerForPathsInAndOutOfWorkingCopies) {
  EXPECT_EQ(Korvane_IsVersioned(nullptr), 0);
  for (const Place& place : Places()) {
    SCOPED_TRACE(place.path);
    const std::u16string path = text::Utf8ToWide(place.path);
    EXPECT_EQ(Korvane_IsVersioned(reinterpret_cast<const KorvaneChar*>(path.c_str())), place.versioned ? 1 : 0);
    EXPECT_EQ(PathOf(place.path).IsHalcyraWorkingCopy(), place.hosted);
  }
  // The fragment counts only in its own letter case, and only whole.
  const SvnRepository otherCase("svn.Halcyra.com/svn/repo", {"file.txt"});
  const SvnRepository elsewhere("svn.halcyra.com/repo", {});
  EXPECT_FALSE(PathOf(otherCase.WorkingCopy() + "/file.txt").IsHalcyraWorkingCopy());
  EXPECT_TRUE(PathOf(elsewhere.WorkingCopy()).IsVersioned());
  EXPECT_FALSE(PathOf(elsewhere.WorkingCopy()).IsHalcyraWorkingCopy());
}

// The record lives in the caller's pool: a second query, whose scratch pool
// reuses the memory the first one freed, leaves it as it was.
TEST(WorkingCopyQueries, StatusRecordOutlivesTheQuery) {
  SVNPool pool;
  svn_wc_status3_t* file = nullptr;
  svn_wc_status3_t* folder = nullptr;
  ASSERT_TRUE(PathOf(Hosted().WorkingCopy() + "/file.txt").ReadStatus(pool, &file));
  ASSERT_TRUE(PathOf(Hosted().WorkingCopy() + "/sub").ReadStatus(pool, &folder));
  ASSERT_TRUE(file != nullptr && folder != nullptr);
  EXPECT_EQ(file->kind, svn_node_file);
  EXPECT_EQ(file->node_status, svn_wc_status_normal);
  EXPECT_STREQ(file->repos_root_url, Hosted().Url().c_str());
  EXPECT_EQ(folder->kind, svn_node_dir);
  EXPECT_FALSE(PathOf(Hosted().WorkingCopy()).ReadStatus(pool, nullptr));
}

// Context creation fails or goes through; the kind read is scripted.
class ScriptedCalls : public WorkingCopyCalls {
 public:
  svn_error_t* CreateContext(svn_wc_context_t** context, apr_pool_t* result, apr_pool_t* scratch) override {
    if (contextFails) return svn_error_create(SVN_ERR_BAD_CONFIG_VALUE, nullptr, "scripted");
    return WorkingCopyCalls::CreateContext(context, result, scratch);
  }
  svn_error_t* ReadKind(svn_node_kind_t* kind, svn_wc_context_t*, const char*, apr_pool_t*) override {
    if (read.error) return svn_error_create(*read.error, nullptr, "scripted");
    *kind = read.kind;
    return nullptr;
  }
  bool contextFails = false;
  KindRead read;
};

TEST(WorkingCopyQueries, KindReadsAreClassifiedAlikeByEveryQuery) {
  const struct {
    KindRead read;
    bool versioned;
    bool contextFails = false;
  } cases[] = {
      {{SVN_ERR_WC_NOT_WORKING_COPY}, false},
      {{SVN_ERR_WC_NOT_FILE}, false},
      {{SVN_ERR_WC_PATH_NOT_FOUND}, false},
      {{SVN_ERR_WC_OBSTRUCTED_UPDATE}, true},
      {{SVN_ERR_WC_UPGRADE_REQUIRED}, true},
      {{0}, true},
      {{155000}, true},
      {{125001}, true},
      {{APR_OS_START_ERROR}, true},  // APR's own errors
      {{EINVAL}, false},             // errno passed through on POSIX
      {{APR_OS_START_SYSERR - 1}, true},
      {{APR_OS_START_SYSERR}, false},
      {{APR_OS_START_SYSERR + 5}, false},
      {{std::nullopt, svn_node_none}, false},
      {{std::nullopt, svn_node_file}, true},
      {{std::nullopt, svn_node_dir}, true},
      {{std::nullopt, svn_node_symlink}, true},
      {{std::nullopt, svn_node_unknown}, true},
      {{std::nullopt, svn_node_file}, false, true},
  };
  const SVNPath root = PathOf(Hosted().WorkingCopy());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.read.error ? "error " + std::to_string(*c.read.error) : "kind " + std::to_string(c.read.kind));
    ScriptedCalls calls;
    calls.read = c.read;
    calls.contextFails = c.contextFails;
    if (!c.contextFails) {
      EXPECT_EQ(IsVersionedKind(c.read), c.versioned);
    }
    EXPECT_EQ(root.IsVersioned(calls), c.versioned);
    SVNPool pool;
    svn_wc_status3_t* status = nullptr;
    EXPECT_EQ(root.ReadStatus(pool, &status, calls), c.versioned);
    // Only a file or a folder has its status read.
    const bool recorded = c.versioned && !c.read.error && (c.read.kind == svn_node_file || c.read.kind == svn_node_dir);
    EXPECT_EQ(status != nullptr, recorded);
    EXPECT_EQ(root.IsHalcyraWorkingCopy(calls), recorded);
  }
}

TEST(WorkingCopyQueries, ThreadsQueryingOneWorkingCopyAllGetTheRightAnswers) {
  const std::vector<Place> places = Places();
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (std::size_t i = 0; i < 50; ++i) {
        const Place& place = places[(t + i) % places.size()];
        if (PathOf(place.path).IsVersioned() != place.versioned) ++wrong;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace korvane::svn
