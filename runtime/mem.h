// The one door to the heap. The tag names the owner for debugging and is
// otherwise ignored.
#ifndef QZUCON_RUNTIME_MEM_H_
#define QZUCON_RUNTIME_MEM_H_

#include <cstddef>

// Returns size bytes of uninitialised memory, or null when memory is exhausted.
void* trAlloc(size_t size, const char* tag);
// Releases a block from trAlloc; null is accepted and ignored.
void trFree(void* p, const char* tag);

#endif  // QZUCON_RUNTIME_MEM_H_
