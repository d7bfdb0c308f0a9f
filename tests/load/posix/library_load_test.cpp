// What the library does when a process loads and unloads it: the shared
// library opened with dlopen, as a host program would.
#include "support/runtime_folder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <cstdlib>

namespace korvane {
namespace {

// Loading the shared library writes the time-limit listing, then brings APR
// up; unloading takes it down.
TEST(ModuleEntry, LoadAndUnloadWriteTheirLinesInOrder) {
  testing::ScopedRuntimeFolder folder;  // no daemon here
  const std::string logPath = folder.Path() + "/trace.log";
  ::setenv("KORVANE_DEBUG_OUTPUT", logPath.c_str(), 1);
  const auto file = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "libkorvane.so.1";
  void* library = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << ::dlerror();
  EXPECT_EQ(::dlsym(library, "DllMain"), nullptr);  // nothing but the exports is visible
  // A call makes a link, and with it the lock's memory, which goes with the library.
  auto stopDaemon = reinterpret_cast<int32_t (*)()>(::dlsym(library, "Korvane_StopDaemon"));
  ASSERT_NE(stopDaemon, nullptr);
  EXPECT_EQ(stopDaemon(), 0);
  ::dlclose(library);
  ::unsetenv("KORVANE_DEBUG_OUTPUT");

  std::stringstream text;
  text << std::ifstream(logPath).rdbuf();
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
