// The global allocation operators of the module. Linked into the plug-in only:
// with hidden visibility they stay private to it, so every allocation of the
// plug-in (standard library included) reaches the host's allocator after attach.
#include <new>

#include "vtn_memory.h"

void* operator new(size_t n) { void* p = VtnMemAlloc(n, 0, nullptr); if (!p) throw std::bad_alloc(); return p; }
void* operator new[](size_t n) { void* p = VtnMemAlloc(n, 0, nullptr); if (!p) throw std::bad_alloc(); return p; }
void* operator new(size_t n, const std::nothrow_t&) noexcept { return VtnMemAlloc(n, 0, nullptr); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return VtnMemAlloc(n, 0, nullptr); }
void operator delete(void* p) noexcept { VtnMemFree(p); }
void operator delete[](void* p) noexcept { VtnMemFree(p); }
void operator delete(void* p, size_t) noexcept { VtnMemFree(p); }
void operator delete[](void* p, size_t) noexcept { VtnMemFree(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { VtnMemFree(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { VtnMemFree(p); }
