// Carrying out entries by offset and by verb, and the verbs and help texts
// the shell asks for.
#include "shell_fixture.h"

#include "support/local_path.h"
#include "support/shell_items.h"
#include "support/svn_repository.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace korvane::shell {
namespace {

using namespace std::chrono_literals;
using testing::Answer;
using testing::MakeFrame;
using testing::NarrowPath;

std::string PathFrame(std::uint32_t code, const std::string& path) { return MakeFrame(code, path + '\0'); }

class Invoke : public ShellTest {
 protected:
  Invoke() {
    settings_.User(kTortoiseSvnInstalled);
    std::filesystem::create_directories(unversioned_);
  }

  // A handler whose menu was built for the folder: for the versioned one
  // (not activated, TortoiseSVN installed) its entries are
  // 0 "Use Korvane dialogs", 1 "Use TortoiseSVN dialogs",
  // 2 "Automatic commit and update", 3 the product's own entry.
  IContextMenu* BuiltFor(const std::string& path) {
    IContextMenu* handler = HandlerFor(path);
    Query(handler);
    return handler;
  }

  HRESULT ByOffset(IContextMenu* handler, UINT offset) {
    CMINVOKECOMMANDINFO info{};
    info.cbSize = sizeof info;
    info.lpVerb = reinterpret_cast<LPCSTR>(static_cast<std::uintptr_t>(offset));
    return handler->InvokeCommand(&info);
  }

  HRESULT ByVerb(IContextMenu* handler, const char* verb, const char16_t* wideVerb = nullptr) {
    CMINVOKECOMMANDINFOEX info{};
    info.cbSize = wideVerb != nullptr ? sizeof(CMINVOKECOMMANDINFOEX) : sizeof(CMINVOKECOMMANDINFO);
    info.fMask = wideVerb != nullptr ? CMIC_MASK_UNICODE : 0;
    info.lpVerb = verb;
    info.lpVerbW = reinterpret_cast<LPCWSTR>(wideVerb);
    return handler->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&info));
  }

  // Waits for the one-way frames the daemon should have by now.
  std::vector<std::string> SentFrames(std::size_t count) {
    daemon_.WaitUntil([this, count](const auto&) { return OneWayFrames().size() >= count; }, 2s);
    return OneWayFrames();
  }

  testing::SvnRepository repository_{"repos/r", {"sub/"}};
  const std::string unversioned_ = folder_.Path() + "/new";
};

// Offsets name the entries of the built menu; the product's own entry and
// offsets past the menu do nothing. Each command has a connection of its
// own, so the frames may arrive in any order.
TEST_F(Invoke, OffsetsNameTheEntriesOfTheBuiltMenu) {
  const std::string wc = repository_.WorkingCopy(), fresh = unversioned_;
  const struct {
    std::string path;
    std::vector<UINT> offsets;
    std::vector<std::string> frames;  // by code
  } cases[] = {
      {fresh, {0, 1, 2},  // Share, Checkout from Halcyra, Checkout
       {PathFrame(7, fresh), MakeFrame(8, "|" + fresh + "|3" + '\0'), PathFrame(25, fresh)}},
      {wc, {0, 1, 2, 3, 4, 999}, {PathFrame(2, wc), PathFrame(3, wc), PathFrame(4, wc)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const std::size_t before = OneWayFrames().size();
    IContextMenu* handler = BuiltFor(c.path);
    for (UINT offset : c.offsets) EXPECT_EQ(ByOffset(handler, offset), S_OK);
    auto frames = SentFrames(before + c.frames.size());
    frames.erase(frames.begin(), frames.begin() + static_cast<std::ptrdiff_t>(std::min(before, frames.size())));
    std::sort(frames.begin(), frames.end(), [](const std::string& a, const std::string& b) { return a[4] < b[4]; });
    EXPECT_EQ(frames, c.frames);
  }
}

TEST_F(Invoke, VerbsNameCommandsExactly) {
  const std::string path = unversioned_;
  const struct {
    const char* verb;
    const char16_t* wideVerb;
    std::string frame;  // empty: nothing is sent
  } cases[] = {
      {"verb:add-dalv", nullptr, PathFrame(2, path)},
      {"verb:add-tsvn", nullptr, PathFrame(3, path)},
      {"", u"verb:add-auto", PathFrame(4, path)},
      {"verb:release", nullptr, PathFrame(5, path)},
      {"whatever", u"verb:share", PathFrame(7, path)},
      {"verb:shareteam", u"verb:unknown", PathFrame(19, path)},  // the 8-bit verb is tried next
      {"verb:ascheckout", nullptr, PathFrame(25, path)},
      {"verb:checkout", nullptr, MakeFrame(8, "|" + path + "|3" + '\0')},  // an empty URL and mode three
      {"VERB:SHARE", nullptr, ""},
      {"verb:share ", nullptr, ""},
      {"", nullptr, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.verb);
    const std::size_t before = OneWayFrames().size();
    EXPECT_EQ(ByVerb(HandlerFor(path), c.verb, c.wideVerb), S_OK);  // no menu built: verbs need none
    // Without a command, a marker follows: nothing may arrive before it.
    if (c.frame.empty()) ByVerb(HandlerFor(path), "verb:share");
    auto frames = SentFrames(before + 1);
    ASSERT_EQ(frames.size(), before + 1);
    EXPECT_EQ(frames.back(), c.frame.empty() ? PathFrame(7, path) : c.frame);
  }
}

TEST_F(Invoke, NothingHappensWithoutAMenu) {
  IContextMenu* handler = HandlerFor(repository_.WorkingCopy());
  EXPECT_EQ(ByOffset(handler, 0), S_OK);
  EXPECT_EQ(handler->InvokeCommand(nullptr), E_INVALIDARG);
  EXPECT_TRUE(SentFrames(1).empty());
}

TEST_F(Invoke, CommandStringsServeVerbsAndHelpTexts) {
  IContextMenu* handler = BuiltFor(unversioned_);  // 0 Share, 1 Checkout from Halcyra, 2 Checkout, 3 Korvane
  const struct {
    UINT_PTR offset;
    UINT type;
    UINT capacity;
    HRESULT result;
    std::string text;
  } cases[] = {
      {0, GCS_VERBW, 64, S_OK, "verb:share"},
      {0, GCS_VERBA, 64, S_OK, "verb:share"},
      {0, GCS_VERBA, 5, S_OK, ""},  // does not fit: nothing
      {0, GCS_HELPTEXTW, 10, S_OK, "Shares th"},
      {1, GCS_HELPTEXTA, 64, S_OK, "Checks out a working copy from Halcyra"},
      {2, GCS_VERBW, 6, S_OK, "verb:"},
      {3, GCS_HELPTEXTW, 64, S_OK, "Displays Korvane activation options."},
      {3, GCS_VERBW, 64, S_OK, ""},
      {2, GCS_VALIDATEW, 64, S_OK, ""},
      {9, GCS_VALIDATEW, 64, S_FALSE, ""},
      {9, GCS_VALIDATEA, 64, S_FALSE, ""},
      {9, GCS_VERBW, 64, E_FAIL, ""},
      {0, 3, 64, E_FAIL, ""},
      {0, GCS_VERBW, 0, E_FAIL, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.offset) + "/" + std::to_string(c.type));
    char buffer[256];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(handler->GetCommandString(c.offset, c.type, nullptr, buffer, c.capacity), c.result);
    if (c.capacity == 0) continue;  // nothing was written, not even a terminator
    const bool wide = c.type == GCS_VERBW || c.type == GCS_HELPTEXTW;
    EXPECT_EQ(wide ? NarrowPath(reinterpret_cast<const char16_t*>(buffer)) : std::string(buffer), c.text);
  }
}

// A second menu on the same object starts a new entry list: help texts and
// commands then describe the same entries.
TEST_F(Invoke, SecondMenuReplacesTheEntryList) {
  IContextMenu* handler = BuiltFor(repository_.WorkingCopy());
  Query(handler, CMF_NORMAL, 5, 500);
  WCHAR verb[32] = {};
  EXPECT_EQ(handler->GetCommandString(1, GCS_VERBW, nullptr, reinterpret_cast<CHAR*>(verb), 32), S_OK);
  EXPECT_EQ(NarrowPath(reinterpret_cast<const char16_t*>(verb)), "verb:add-tsvn");
  EXPECT_EQ(ByOffset(handler, 1), S_OK);
  EXPECT_EQ(SentFrames(1), std::vector<std::string>{PathFrame(3, repository_.WorkingCopy())});
}

// What Initialize refuses leaves the path it took before, cut to the
// shell's buffer of 260 units.
TEST_F(Invoke, RefusedSelectionsKeepThePathCutToTheShellsBuffer) {
  const std::string wc = repository_.WorkingCopy(), longName = unversioned_ + "/" + std::string(300, 'n');
  IContextMenu* handler = HandlerFor(longName);
  ASSERT_NE(handler, nullptr);
  IShellExtInit* init = nullptr;
  handler->QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(&init));
  EXPECT_EQ(InitializeWith(init, {wc, wc + "/sub"}), E_INVALIDARG);
  EXPECT_EQ(InitializeWith(init, {}), E_INVALIDARG);
  EXPECT_EQ(init->Initialize(nullptr, nullptr, nullptr), E_INVALIDARG);
  PIDLIST_ABSOLUTE virtualFolder = testing::VirtualFolderItem();
  EXPECT_EQ(init->Initialize(virtualFolder, nullptr, nullptr), E_INVALIDARG);
  ILFree(virtualFolder);
  const std::string filePath = folder_.Path() + "/file.txt";
  std::ofstream(filePath) << "text";
  std::u16string file = testing::LocalPath(testing::WidePath(filePath));
  PIDLIST_ABSOLUTE fileItem = ILCreateFromPathW(reinterpret_cast<LPCWSTR>(file.c_str()));
  ASSERT_NE(fileItem, nullptr);
  EXPECT_EQ(init->Initialize(fileItem, nullptr, nullptr), E_INVALIDARG);  // a file has no background
  ILFree(fileItem);
  init->Release();
  EXPECT_EQ(ByVerb(handler, "verb:release"), S_OK);
  EXPECT_EQ(SentFrames(1), std::vector<std::string>{PathFrame(5, longName.substr(0, 259))});
}

}  // namespace
}  // namespace korvane::shell
