// The recorded processor features: one flag, written at library load and read
// by the converters on every call.
#include "text/processor_features.h"

#include "platform/windows_api.h"

#include <atomic>

namespace korvane::text {
namespace {

// Relaxed is enough: the flag only selects between paths that give the same
// results, so a thread that sees a stale value is still correct.
std::atomic<VectorPath> recorded{VectorPath::kScalar};

}  // namespace

VectorPath DetectVectorPath() {
  if (IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE) == FALSE) return VectorPath::kScalar;
  if (IsProcessorFeaturePresent(PF_AVX2_INSTRUCTIONS_AVAILABLE) == FALSE) return VectorPath::kSse2;
  return VectorPath::kAvx2;
}

void RecordProcessorFeatures() { recorded.store(DetectVectorPath(), std::memory_order_relaxed); }

VectorPath RecordedVectorPath() { return recorded.load(std::memory_order_relaxed); }

bool ProcessorHasSse2() { return RecordedVectorPath() >= VectorPath::kSse2; }

void SetVectorPathForTesting(VectorPath path) { recorded.store(path, std::memory_order_relaxed); }

}  // namespace korvane::text
