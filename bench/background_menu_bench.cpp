// The context menu of the background of an unversioned folder holding
// 10,000 unversioned subfolders, built through the shipped library as a file
// manager builds it, beside the floor of listing that folder: readdir and
// one stat per entry by its path (the menu too is handed paths, and looks
// at each subfolder by its path), in the same run.
#include "korvane/korvane.h"
#include "platform/windows_api.h"

#include "support/runtime_folder.h"

#include <benchmark/benchmark.h>

#include <dirent.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

extern "C" HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);

namespace {

namespace fs = std::filesystem;

constexpr int kSubfolders = 10000;
constexpr CLSID kHandlerClass = {0x3F6A1C52, 0xB8E4, 0x4A7D, {0x9C, 0x31, 0xE5, 0xD2, 0x0B, 0x7F, 0x4A, 0x96}};

class LargeFolder {
 public:
  LargeFolder() : path_(fs::temp_directory_path() / ("korvane-bench-" + std::to_string(::getpid()))) {
    for (int i = 0; i < kSubfolders; ++i) fs::create_directories(path_ / ("folder " + std::to_string(i)));
  }
  ~LargeFolder() { fs::remove_all(path_); }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

const LargeFolder& Folder() {
  static const LargeFolder folder;
  return folder;
}

// The entries the background menu of the folder offers; 0 when it failed.
UINT BackgroundMenuEntries(const std::u16string& folder) {
  IClassFactory* factory = nullptr;
  if (FAILED(DllGetClassObject(kHandlerClass, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) return 0;
  IShellExtInit* init = nullptr;
  const HRESULT created = factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init));
  factory->Release();
  if (FAILED(created)) return 0;
  PIDLIST_ABSOLUTE item = ILCreateFromPathW(reinterpret_cast<LPCWSTR>(folder.c_str()));
  IContextMenu* menu = nullptr;
  if (SUCCEEDED(init->Initialize(item, nullptr, nullptr))) {
    init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu));
  }
  init->Release();
  ILFree(item);
  if (menu == nullptr) return 0;
  HMENU shellMenu = CreatePopupMenu();
  const HRESULT built = menu->QueryContextMenu(shellMenu, 0, 1, 0x7FFF, CMF_NORMAL);
  menu->Release();
  DestroyMenu(shellMenu);
  return SUCCEEDED(built) ? HRESULT_CODE(built) : 0;
}

void BM_BackgroundMenuOfLargeFolder(benchmark::State& state) {
  korvane::testing::ScopedRuntimeFolder runtime;  // the daemon the menu starts stays in here
  const std::string narrow = Folder().Path().string();
  const std::u16string folder(narrow.begin(), narrow.end());
  for (auto _ : state) {
    // The product's entry and its three unversioned choices, Share included.
    if (BackgroundMenuEntries(folder) != 4) state.SkipWithError("unexpected menu");
  }
  Korvane_StopDaemon();
}
BENCHMARK(BM_BackgroundMenuOfLargeFolder)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ListingFloor(benchmark::State& state) {
  const std::string folder = Folder().Path().string();
  for (auto _ : state) {
    DIR* listing = opendir(folder.c_str());
    int stats = 0;
    std::string path = folder + '/';
    while (dirent* entry = readdir(listing)) {
      path.resize(folder.size() + 1);
      path += entry->d_name;
      struct stat status{};
      stats += ::stat(path.c_str(), &status) == 0;
    }
    closedir(listing);
    benchmark::DoNotOptimize(stats);
  }
}
BENCHMARK(BM_ListingFloor)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
