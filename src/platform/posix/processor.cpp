// IsProcessorFeaturePresent for the features the library asks about: SSE2
// and AVX2. The compiler's CPU query also checks that the system saves the
// AVX registers, as the Windows answer does. The query may run from the
// library's load hook, before the compiler's own constructor has filled in
// its answers, so it is initialised here first (doing so again is harmless).
#include "win32_calls.h"

BOOL IsProcessorFeaturePresent(DWORD feature) {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  switch (feature) {
    case PF_XMMI64_INSTRUCTIONS_AVAILABLE: return __builtin_cpu_supports("sse2") ? TRUE : FALSE;
    case PF_AVX2_INSTRUCTIONS_AVAILABLE: return __builtin_cpu_supports("avx2") ? TRUE : FALSE;
    default: break;
  }
#else
  (void)feature;
#endif
  return FALSE;
}
