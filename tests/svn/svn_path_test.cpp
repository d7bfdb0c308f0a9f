// SVNPath's canonical and local forms, what SVNError keeps of a chain, and
// pools outliving APR.
#include "svn/svn_path.h"

#include "korvane/korvane.h"
#include "runtime/apr_runtime.h"
#include "svn/root_pool.h"
#include "svn/svn_error.h"
#include "svn/svn_pool.h"

#include "support/local_path.h"

#include <gtest/gtest.h>

#include <apr_pools.h>
#include <svn_error.h>
#include <svn_error_codes.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <thread>
#include <vector>

namespace korvane::svn {
namespace {

struct PathCase {
  std::optional<std::u16string> input;  // nullopt: a null pointer
  const char* internal;
  const char16_t* local;
};

// Each platform's own separator and drive rules follow the common cases.
// On POSIX a backslash is a character of a name and a drive letter just a
// name; on Windows backslashes separate, drive letters are upper case roots
// and the local form uses backslashes again.
const PathCase kPathCases[] = {
    {std::nullopt, "", u"."},
    {u"", "", u"."},
    {u"/", "/", u"/"},
    {u"/a/b/", "/a/b", u"/a/b"},
    {u"/a//b", "/a/b", u"/a/b"},
    {u"/a/./b", "/a/b", u"/a/b"},
    {u"x/y/", "x/y", u"x/y"},
    {std::u16string(u"/a\0b", 4), "/a", u"/a"},
    {u"/caf\u00e9/\U0001F600", "/caf\xC3\xA9/\xF0\x9F\x98\x80", u"/caf\u00e9/\U0001F600"},
#ifdef _WIN32
    {u"/a\\b", "/a/b", u"\\a\\b"},
    {u"c:\\work\\A\\", "C:/work/A", u"C:\\work\\A"},
    {u"D:\\", "D:/", u"D:\\"},
    {u"\\\\server\\share\\dir", "//server/share/dir", u"\\\\server\\share\\dir"},
#else
    {u"D:", "D:/", u"D:/"},
    {u"/a\\b", "/a\\b", u"/a\\b"},
#endif
};

TEST(SVNPath, IsCanonicalInternalStyleWhicheverWayItIsMade) {
  for (const PathCase& c : kPathCases) {
    SCOPED_TRACE(c.internal);
    const char16_t* pointer = c.input ? c.input->c_str() : nullptr;
    SVNPath assigned(u"/previous");
    assigned = pointer;
    for (const SVNPath& path : {SVNPath(pointer), assigned, SVNPath(c.input.value_or(u""))}) {
      EXPECT_STREQ(path.GetInternalPath(), c.internal);
      EXPECT_EQ(path.GetLocalPath(), testing::LocalPath(c.local));
      EXPECT_STREQ(SVNPath(path.GetLocalPath()).GetInternalPath(), c.internal);
    }
  }
}

struct ChainCase {
  const char* name;
  const char* outer;   // each message may be null
  const char* middle;  // with inner, a three-link chain
  const char* inner;
  const char* expected;
};

TEST(SVNError, KeepsTheFirstCodeAndTheDeepestMessageAndClearsTheChain) {
  const SVNError none(nullptr);
  EXPECT_EQ(none.code, 0);
  EXPECT_EQ(none.message, "");

  const ChainCase cases[] = {
      {"outer only", "outer", nullptr, nullptr, "outer"},
      {"both", "outer", nullptr, "inner", "inner"},
      {"none", nullptr, nullptr, nullptr, ""},
      {"middle only", nullptr, "middle", nullptr, "middle"},
  };
  for (const ChainCase& c : cases) {
    SCOPED_TRACE(c.name);
    svn_error_t* chain = svn_error_create(SVN_ERR_WC_PATH_NOT_FOUND, nullptr, c.inner);
    chain = svn_error_create(SVN_ERR_WC_NOT_FILE, chain, c.middle);
    chain = svn_error_create(SVN_ERR_WC_NOT_WORKING_COPY, chain, c.outer);
    bool cleared = false;
    const auto onCleared = [](void* flag) -> apr_status_t {
      *static_cast<bool*>(flag) = true;
      return APR_SUCCESS;
    };
    apr_pool_cleanup_register(chain->pool, &cleared, onCleared, apr_pool_cleanup_null);
    const SVNError error(chain);
    EXPECT_EQ(error.code, SVN_ERR_WC_NOT_WORKING_COPY);
    EXPECT_EQ(error.message, c.expected);
    EXPECT_TRUE(cleared);
  }
}

// apr_terminate destroys every pool; an SVNPool that outlives it must not
// destroy its own again, and nothing may need a pool any more. Run in a
// child process, since APR stays down for the rest of it.
TEST(SVNPoolDeathTest, OutlivingAprLeavesThePoolAlone) {
  EXPECT_EXIT(
      {
        auto pool = std::make_unique<SVNPool>();
        if (static_cast<apr_pool_t*>(*pool) == nullptr) std::_Exit(1);
        runtime::AprRuntime::Terminate();
        if (RootPool::Instance().Allocator() != nullptr) std::_Exit(2);
        pool.reset();  // a second destroy is a use after free
        try {
          SVNPool late;
          std::_Exit(3);
        } catch (const std::bad_alloc&) {
        }
        std::_Exit(Korvane_IsVersioned(KORVANE_TEXT("/")) == 0 ? 0 : 4);
      },
      ::testing::ExitedWithCode(0), "");
}

// Every SVNPool draws on the one allocator; on many threads at once each must
// still get blocks of its own.
TEST(SVNPool, PoolsOnManyThreadsGetBlocksOfTheirOwn) {
  constexpr std::size_t kLargest = 40000;
  std::atomic<int> overwritten{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&overwritten, t] {
      const std::vector<unsigned char> expected(kLargest, static_cast<unsigned char>(t));
      for (std::size_t i = 0; i < 20000; ++i) {
        SVNPool pool;
        const std::size_t size = kLargest - (i % 7) * 5000;
        void* block = apr_palloc(pool, size);
        std::memset(block, t, size);
        if (std::memcmp(block, expected.data(), size) != 0) ++overwritten;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(overwritten.load(), 0);
}

}  // namespace
}  // namespace korvane::svn
