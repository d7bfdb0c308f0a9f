// The module entry and the load-time list: each layer's start at process
// attach, bottom layer first, and its stop at process detach, in reverse.
// Lower layers never start themselves or call up to be started; this list
// is the one place that knows what loading the library does.
#include "link/time_limits.h"
#include "platform/module_loader.h"
#include "platform/windows_api.h"
#include "runtime/apr_runtime.h"
#include "runtime/module_handle.h"
#include "shell/resources.h"
#include "text/processor_features.h"

#include <iterator>

namespace korvane::api {
namespace {

struct LayerStart {
  void (*start)(HMODULE module);
  void (*stop)(HMODULE module);  // null when the layer has nothing to undo
};

constexpr LayerStart kLoadTimeList[] = {
    // The converters' fast paths: decided once, before any text is converted.
    {[](HMODULE) { text::RecordProcessorFeatures(); }, nullptr},
    // The listing of the pipe time limits, which also brings up the trace
    // with its level: the trace's first lines are this listing.
    {[](HMODULE) { link::WriteTimeLimitListing(); }, nullptr},
    // The module handle, which the daemon link and the shell find files and
    // resources by.
    {[](HMODULE module) { runtime::RecordModuleHandle(module); }, nullptr},
    // APR, for the pools and the link locks; once per process.
    {[](HMODULE) { runtime::AprRuntime::Initialize(); }, [](HMODULE) { runtime::AprRuntime::Terminate(); }},
    // The menu's strings and icon.
    {shell::RegisterResources, shell::UnregisterResources},
};

void StartLayers(HMODULE module) {
  for (const LayerStart& layer : kLoadTimeList) layer.start(module);
}

void StopLayers(HMODULE module) {
  for (auto layer = std::rbegin(kLoadTimeList); layer != std::rend(kLoadTimeList); ++layer) {
    if (layer->stop != nullptr) layer->stop(module);
  }
}

}  // namespace
}  // namespace korvane::api

// The module entry point. TRUE in every case: a library that refuses to load
// takes nothing useful with it.
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      korvane::api::StartLayers(module);
      break;
    case DLL_PROCESS_DETACH:
      korvane::api::StopLayers(module);
      break;
    default:
      break;
  }
  return TRUE;
}

namespace {
const korvane::platform::ModuleLoader<&DllMain> moduleLoader;
}  // namespace
