// korvane.dll loaded as a host loads it: LoadLibraryW from beside the test,
// the exports reached by name and by ordinal through GetProcAddress, the
// in-process server's lifetime through its two entry points, and the trace
// that loading and unloading write to the debugger.
#include "platform/windows_api.h"

#include "support/com_apartment.h"
#include "support/debug_output_capture.h"

#include <gtest/gtest.h>

#include <string>

namespace korvane {
namespace {

// The handler's class, as the shell finds it registered.
constexpr CLSID kHandlerClass = {0x3F6A1C52, 0xB8E4, 0x4A7D, {0x9C, 0x31, 0xE5, 0xD2, 0x0B, 0x7F, 0x4A, 0x96}};

std::wstring LibraryBesideTheTest() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path);
  return folder.substr(0, folder.find_last_of(L'\\') + 1) + L"korvane.dll";
}

class LoadedLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    library_ = ::LoadLibraryW(LibraryBesideTheTest().c_str());
    ASSERT_NE(library_, nullptr) << "error " << ::GetLastError();
  }
  void TearDown() override {
    if (library_ != nullptr) {
      EXPECT_TRUE(::FreeLibrary(library_));
    }
  }

  template <typename Function>
  Function* Export(const char* name) const {
    return reinterpret_cast<Function*>(reinterpret_cast<void*>(::GetProcAddress(library_, name)));
  }
  FARPROC ByOrdinal(WORD ordinal) const { return ::GetProcAddress(library_, MAKEINTRESOURCEA(ordinal)); }

  HMODULE library_ = nullptr;
};

struct OrdinalCase {
  WORD ordinal;
  const char* name;
};

TEST_F(LoadedLibrary, ExportsAnswerByNameAndOrdinalAndNothingElseIsVisible) {
  const OrdinalCase cases[] = {
      {1, "Korvane_ActivatePath"}, {10, "Korvane_GetStatus"},   {12, "Korvane_IsVersioned"},
      {20, "Korvane_StartDaemon"}, {24, "Korvane_SvnCommit"},   {25, "DllCanUnloadNow"},
      {26, "DllGetClassObject"},
  };
  for (const OrdinalCase& c : cases) {
    SCOPED_TRACE(c.name);
    FARPROC byName = ::GetProcAddress(library_, c.name);
    ASSERT_NE(byName, nullptr);
    EXPECT_EQ(ByOrdinal(c.ordinal), byName);
  }
  EXPECT_EQ(ByOrdinal(27), nullptr);
  EXPECT_EQ(::GetProcAddress(library_, "DllMain"), nullptr);
  EXPECT_EQ(::GetProcAddress(library_, "DllRegisterServer"), nullptr);
}

// The shell asks DllCanUnloadNow after every release: the module stays while
// a factory or a handler lives (server locks: the shell tests).
TEST_F(LoadedLibrary, ServerReachedThroughGetProcAddressFollowsItsObjects) {
  testing::ComApartment com;
  auto* getClassObject = Export<HRESULT(REFCLSID, REFIID, LPVOID*)>("DllGetClassObject");
  auto* canUnloadNow = Export<HRESULT()>("DllCanUnloadNow");
  ASSERT_NE(getClassObject, nullptr);
  ASSERT_NE(canUnloadNow, nullptr);

  EXPECT_EQ(canUnloadNow(), S_OK);
  IClassFactory* factory = nullptr;
  ASSERT_EQ(getClassObject(kHandlerClass, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  EXPECT_EQ(canUnloadNow(), S_FALSE);
  IUnknown* handler = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&handler)), S_OK);
  factory->Release();
  EXPECT_EQ(canUnloadNow(), S_FALSE);  // the handler keeps it
  handler->Release();
  EXPECT_EQ(canUnloadNow(), S_OK);
}

// Loading writes the time-limit listing, then brings APR up; unloading takes
// it down. The capture reads the debug-output buffer as a debugger does.
TEST(LibraryLoad, LoadAndUnloadWriteTheirLinesInOrder) {
  testing::DebugOutputCapture capture;
  HMODULE library = ::LoadLibraryW(LibraryBesideTheTest().c_str());
  ASSERT_NE(library, nullptr);
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
