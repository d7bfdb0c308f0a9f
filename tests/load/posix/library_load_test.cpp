// What the library does when a process loads and unloads it: the shared
// library opened with dlopen, as a host program would.
#include "support/runtime_folder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <dlfcn.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace korvane {
namespace {

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
}  // namespace korvane
