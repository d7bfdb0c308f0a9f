// The trace writer, the APR runtime, the link lock and what the library
// does when a process loads and unloads it.
#include "runtime/apr_lock.h"
#include "runtime/apr_runtime.h"
#include "runtime/debug_trace.h"
#include "runtime/module_entry.h"

#include "support/debug_output_capture.h"
#include "support/runtime_folder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <dlfcn.h>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace korvane::runtime {
namespace {

TEST(DebugTrace, WritesExactlyTheFormattedText) {
  testing::DebugOutputCapture capture;
  KORVANE_TRACE("RefCount::Inc: RefCount::Inc() - refCount_ == %ld", 3L);
  KORVANE_TRACE("CDaemonLink::StartDaemon: Failed to start daemon\n");
  // The debugger output ends each record with a line feed when it lacks one.
  EXPECT_EQ(capture.Records(), (std::vector<std::string>{"RefCount::Inc: RefCount::Inc() - refCount_ == 3\n",
                                                         "CDaemonLink::StartDaemon: Failed to start daemon\n"}));
}

TEST(DebugTrace, CutsALongLineAt1023Characters) {
  testing::DebugOutputCapture capture;
  const std::string longText(5000, 'x');
  KORVANE_TRACE("%s", longText.c_str());
  ASSERT_EQ(capture.Records().size(), 1u);
  EXPECT_EQ(capture.Records()[0], std::string(1023, 'x') + "\n");
}

TEST(DebugTrace, IsOnFromLevelOne) {
  // The level was read from the "Debug" setting when the library loaded.
  EXPECT_EQ(DebugTrace::Instance().Enabled(), DebugTrace::Instance().Level() >= 1);
}

TEST(DebugTrace, ThreadsRacingForTheFirstUseShareOneWriter) {
  std::vector<DebugTrace*> seen(8);
  std::vector<std::thread> threads;
  for (auto& slot : seen) threads.emplace_back([&slot] { slot = &DebugTrace::Instance(); });
  for (auto& thread : threads) thread.join();
  for (DebugTrace* writer : seen) EXPECT_EQ(writer, &DebugTrace::Instance());
}

TEST(AprRuntime, InitialiseIsIdempotent) {
  // The library's load hook brought APR up already.
  EXPECT_TRUE(AprRuntime::Initialize());
  EXPECT_TRUE(AprRuntime::Initialize());
}

TEST(AprLock, IsRecursiveAndHeldUntilTheOutermostRelease) {
  AprCriticalSection section;
  std::atomic<bool> otherHasIt{false};
  std::thread other;
  {
    AprLock outer(section);
    {
      AprLock inner(section);
      other = std::thread([&] {
        AprLock lock(section);
        otherHasIt = true;
      });
      ::usleep(20000);
    }
    ::usleep(20000);
    EXPECT_FALSE(otherHasIt);
  }
  other.join();
  EXPECT_TRUE(otherHasIt);
}

TEST(ModuleEntry, ThreadNotificationsChangeNothing) {
  HMODULE module = ModuleHandle();
  EXPECT_NE(module, nullptr);
  EXPECT_EQ(DllMain(module, DLL_THREAD_ATTACH, nullptr), TRUE);
  EXPECT_EQ(DllMain(module, DLL_THREAD_DETACH, nullptr), TRUE);
  EXPECT_EQ(ModuleHandle(), module);
  EXPECT_TRUE(AprRuntime::Initialize());
}

std::string ProgramFolder() {
  char path[4096] = {};
  ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  std::string exe(path, length > 0 ? static_cast<std::size_t>(length) : 0);
  return exe.substr(0, exe.rfind('/'));
}

// Loading the shared library writes the time-limit listing, then brings APR
// up; unloading takes it down.
TEST(ModuleEntry, LoadAndUnloadWriteTheirLinesInOrder) {
  char logPath[] = "/tmp/korvane-load-XXXXXX";
  int fd = ::mkstemp(logPath);
  ASSERT_GE(fd, 0);
  ::close(fd);
  ::setenv("KORVANE_DEBUG_OUTPUT", logPath, 1);
  testing::ScopedRuntimeFolder folder;  // no daemon here
  void* library = ::dlopen((ProgramFolder() + "/libkorvane.so.1").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << ::dlerror();
  EXPECT_EQ(::dlsym(library, "DllMain"), nullptr);  // nothing but the exports is visible
  // A call makes a link, and with it the lock's memory, which goes with the library.
  auto stopDaemon = reinterpret_cast<int32_t (*)()>(::dlsym(library, "Korvane_StopDaemon"));
  ASSERT_NE(stopDaemon, nullptr);
  EXPECT_EQ(stopDaemon(), 0);
  ::dlclose(library);
  ::unsetenv("KORVANE_DEBUG_OUTPUT");

  std::ifstream log(logPath);
  std::stringstream text;
  text << log.rdbuf();
  ::unlink(logPath);
  EXPECT_EQ(text.str(),
            "Displaying NP timeouts (Release):\n"
            "  PIPE_WAIT_EVENT_TIMEOUT_LOCALCALL = 10000\n"
            "  PIPE_WAIT_EVENT_TIMEOUT_FSCALL   = 120000\n"
            "  PIPE_WAIT_EVENT_TIMEOUT_HTTPCALL = 30000\n"
            "  PIPE_WAIT_EVENT_TIMEOUT_SVNCALL  = -1 (INFINITE)\n"
            "AprRuntime::Initialize: APR initialized\n"
            "AprRuntime::Terminate: APR terminated\n");
}

}  // namespace
}  // namespace korvane::runtime
