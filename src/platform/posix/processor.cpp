// IsProcessorFeaturePresent for the one feature the library asks about.
#include "win32_calls.h"

BOOL IsProcessorFeaturePresent(DWORD feature) {
#if defined(__x86_64__) || defined(__i386__)
  if (feature == PF_XMMI64_INSTRUCTIONS_AVAILABLE) return __builtin_cpu_supports("sse2") ? TRUE : FALSE;
#else
  (void)feature;
#endif
  return FALSE;
}
