// The processor features the library's fast paths depend on, recorded once at
// library load so that hot loops test a flag instead of asking the system.
#pragma once

namespace korvane::text {

// The converters' paths, each needing the instruction sets of the ones before
// it: the scalar loop runs everywhere, SSE2 is the base of every x86-64
// processor, AVX2 is taken where the processor and the system have it.
enum class VectorPath : unsigned char { kScalar, kSse2, kAvx2 };

// The best path this processor and system support, asked of the system on
// every call.
VectorPath DetectVectorPath();

// Records DetectVectorPath() in a process-wide flag. Called at library load;
// calling it again is harmless.
void RecordProcessorFeatures();

// The recorded path; kScalar until RecordProcessorFeatures has run, so code
// that runs before it takes the scalar loops.
VectorPath RecordedVectorPath();
bool ProcessorHasSse2();  // RecordedVectorPath() is SSE2 or better.

// Tests only: forces the recorded path so that every path can be run on one
// machine. Never force a path beyond DetectVectorPath().
void SetVectorPathForTesting(VectorPath path);

}  // namespace korvane::text
