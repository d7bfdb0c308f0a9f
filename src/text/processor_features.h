// The processor features the library's fast paths depend on, recorded once at
// library load so that hot loops test a flag instead of asking the system.
#pragma once

namespace korvane::text {

// Asks the system whether the processor has SSE2 and keeps the answer in a
// process-wide flag. Called at library load; calling it again is harmless.
void RecordProcessorFeatures();

// The recorded answer; false until RecordProcessorFeatures has run, so code
// that runs before it takes the scalar paths.
bool ProcessorHasSse2();

// Tests only: forces the flag so that both the fast and the scalar paths can
// be run on one machine. Never force it on for a processor without SSE2.
void SetSse2ForTesting(bool present);

}  // namespace korvane::text
