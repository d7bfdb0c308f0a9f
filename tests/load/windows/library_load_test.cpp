// korvane.dll loaded as a host loads it: LoadLibraryW from beside the test,
// and the trace that loading and unloading write to the debugger. The export
// table itself is checked by name and ordinal in check_exports.sh, and the
// in-process server's lifetime in the shell tests.
#include "platform/windows_api.h"

#include "support/debug_output_capture.h"

#include <gtest/gtest.h>

#include <string>

namespace korvane {
namespace {

std::wstring LibraryBesideTheTest() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path);
  return folder.substr(0, folder.find_last_of(L'\\') + 1) + L"korvane.dll";
}

// Loading writes the time-limit listing, then brings APR up; unloading takes
// it down. The capture reads the debug-output buffer as a debugger does.
TEST(LibraryLoad, LoadAndUnloadWriteTheirLinesInOrder) {
  testing::DebugOutputCapture capture;
  HMODULE library = ::LoadLibraryW(LibraryBesideTheTest().c_str());
  ASSERT_NE(library, nullptr) << "error " << ::GetLastError();
  EXPECT_TRUE(::FreeLibrary(library));
  EXPECT_EQ(capture.Records(), (std::vector<std::string>{
                                   "Displaying NP timeouts (Release):\n",
                                   "  PIPE_WAIT_EVENT_TIMEOUT_LOCALCALL = 10000\n",
                                   "  PIPE_WAIT_EVENT_TIMEOUT_FSCALL   = 120000\n",
                                   "  PIPE_WAIT_EVENT_TIMEOUT_HTTPCALL = 30000\n",
                                   "  PIPE_WAIT_EVENT_TIMEOUT_SVNCALL  = -1 (INFINITE)\n",
                                   "AprRuntime::Initialize: APR initialized\n",
                                   "AprRuntime::Terminate: APR terminated\n",
                               }));
}

}  // namespace
}  // namespace korvane
