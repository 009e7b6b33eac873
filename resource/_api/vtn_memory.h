// Memory of the plug-in. Every block comes from the host's allocator once the
// master table is there, with the caller's line number and source name for the
// host's diagnostics; before that, from the system allocator (see vtn_pmain).
#ifndef VTN_MEMORY_H
#define VTN_MEMORY_H

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>

#include "abi/vtn_types.h"

// The routing behind every allocation operator. n = 0 asks for one byte.
void* VtnMemAlloc(size_t n, Int32 line, const char* source);
// Null does nothing; blocks from the system-allocator route go back there.
void VtnMemFree(void* p);

// Host allocation of raw storage; null on failure.
void* GeAlloc(size_t size, Int32 line, const char* source);
// Grows or shrinks a block from GeAlloc (or allocates when block is null).
// Null on failure, and then the old block is left as it was.
void* GeRealloc(void* block, size_t size, Int32 line, const char* source);
// Releases *p through the host when it is not null, then sets *p to null.
void _GeFree(void** p);

template <typename T>
inline void GeFree(T*& p)
{
	void* v = p;
	_GeFree(&v);
	p = nullptr;
}

// Allocation with a line number and source name; the plain forms pass 0 and none.
void* operator new(size_t n, const std::nothrow_t&, Int32 line, const char* source) noexcept;
void* operator new[](size_t n, const std::nothrow_t&, Int32 line, const char* source) noexcept;
void operator delete(void* p, const std::nothrow_t&, Int32 line, const char* source) noexcept;
void operator delete[](void* p, const std::nothrow_t&, Int32 line, const char* source) noexcept;

// new T(args...) without exceptions, with the caller's line and source; null on failure.
#define NewObj(T, ...) (new (std::nothrow, __LINE__, VTN_SOURCE) T(__VA_ARGS__))

// Destroys and releases an object made with NewObj; sets the pointer to null.
// Plug-in code releases explicitly through the routing, never through a plain
// delete, so the same sources behave alike in the module and in a test binary.
template <typename T>
inline void DeleteObj(T*& p)
{
	if (p)
	{
		void* whole;
		if constexpr (std::is_polymorphic<T>::value)
			whole = dynamic_cast<void*>(p);
		else
			whole = p;
		p->~T();
		VtnMemFree(whole);
	}
	p = nullptr;
}

// Arrays of plain elements (the weight tables).
template <typename T>
inline T* NewMemArray(Int64 count, Int32 line, const char* source)
{
	static_assert(std::is_trivial<T>::value, "plain elements only");
	if (count < 0 || static_cast<unsigned long long>(count) > SIZE_MAX / sizeof(T))
		return nullptr;
	return static_cast<T*>(VtnMemAlloc(static_cast<size_t>(count) * sizeof(T), line, source));
}
#define NewMem(T, n) NewMemArray<T>((n), __LINE__, VTN_SOURCE)

template <typename T>
inline void DeleteMem(T*& p)
{
	VtnMemFree(p);
	p = nullptr;
}

// Each source file that allocates defines VTN_SOURCE as its module name first.
#ifndef VTN_SOURCE
#define VTN_SOURCE __FILE__
#endif

#endif
