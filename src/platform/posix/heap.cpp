// The process heap is the C heap: a buffer handed to a caller is freed
// with free().
#include "win32_calls.h"

#include <cstdlib>

namespace {
int processHeap;  // the heap's identity; its address is the handle
}

HANDLE GetProcessHeap() { return &processHeap; }

LPVOID HeapAlloc(HANDLE, DWORD flags, SIZE_T bytes) {
  if (bytes == 0) bytes = 1;
  return (flags & HEAP_ZERO_MEMORY) != 0 ? std::calloc(1, bytes) : std::malloc(bytes);
}
