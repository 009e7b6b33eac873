#define VTN_SOURCE "vtn_pmain"
#include "vtn_pmain.h"

#include <cstdlib>
#include <cstring>

#include "vtn_general.h"
#include "vtn_memory.h"
#include "vtn_resource.h"
#include "vtn_string.h"

VTNOS* t_VTNOS = nullptr;
VtnCrashHandler old_handler = nullptr;

namespace {

Int32 init_count = 0;
Filename* path_storage = nullptr;
// Set once a block came from the system allocator; only then can a block carry
// the all-ones marker, so releases skip the look in front of the block otherwise.
Int32 stdlib_mem_used = 0;

constexpr size_t kStdlibHeader = 8;

bool HasStdlibMarker(const void* p)
{
	unsigned char head[kStdlibHeader];
	std::memcpy(head, static_cast<const unsigned char*>(p) - kStdlibHeader, kStdlibHeader);
	for (unsigned char c : head)
		if (c != 0xFF)
			return false;
	return true;
}

int Attach(void* table, void* filename)
{
	if (init_count++ != 0)
		return 1;
	if (InitOS(table) < VTN_API_VERSION || !filename)
		return VTNPL_ERR_HOST_TOO_OLD;
	void* mem = operator new(sizeof(Filename), std::nothrow, 109, "vtn_pmain");
	if (!mem)
		return 1;
	path_storage = new (mem) Filename();
	*path_storage = *static_cast<const Filename*>(filename);
	return 1;
}

int End()
{
	if (--init_count != 0)
		return 1;
	PluginEnd();
	FreeResource();
	DeleteObj(path_storage);
	return 1;
}

}  // namespace

Int32 InitOS(void* table)
{
	t_VTNOS = static_cast<VTNOS*>(table);
	return t_VTNOS ? t_VTNOS->version : 0;
}

extern "C" int vtn_main(int action, void* p1, void* p2, void* p3)
{
	switch (action)
	{
		case VTNPL_ATTACH: return Attach(p1, p3);
		case VTNPL_START: return PluginStart() ? 1 : 0;
		case VTNPL_END: return End();
		case VTNPL_PROTOCOL_QUERY: return VTNPL_PROTOCOL_VERSION;
		case VTNPL_MESSAGE: return PluginMessage(static_cast<Int32>(reinterpret_cast<intptr_t>(p1)), p2) ? 1 : -1;
		default: return -1;
	}
}

Int32 VtnInitCount() { return init_count; }
bool VtnStdlibMemUsed() { return stdlib_mem_used != 0; }
const Filename* VtnPathStorage() { return path_storage; }

// ---- memory routing ----

void* VtnMemAlloc(size_t n, Int32 line, const char* source)
{
	if (n == 0)
		n = 1;
	if (t_VTNOS)
		return t_VTNOS->general->Alloc(n, line, source);
	// Before attach (static initialisation): the system allocator, with an
	// all-ones marker in front so the release can tell the block apart later.
	// The block is aligned to 16 as the host's are (malloc gives 8 on 32-bit
	// Windows); what calloc gave is kept right before the marker.
	constexpr size_t kAlign = 16, kFront = kStdlibHeader + sizeof(void*);
	if (n > SIZE_MAX - kFront - kAlign)
		return nullptr;
	auto* raw = static_cast<unsigned char*>(std::calloc(1, n + kFront + kAlign - 1));
	if (!raw)
		return nullptr;
	const uintptr_t first = reinterpret_cast<uintptr_t>(raw) + kFront;
	unsigned char* block = raw + (((first + kAlign - 1) & ~uintptr_t(kAlign - 1)) - reinterpret_cast<uintptr_t>(raw));
	std::memset(block - kStdlibHeader, 0xFF, kStdlibHeader);
	std::memcpy(block - kFront, &raw, sizeof(void*));
	stdlib_mem_used = 1;
	return block;
}

void VtnMemFree(void* p)
{
	if (!p)
		return;
	if (stdlib_mem_used && HasStdlibMarker(p))
	{
		void* raw = nullptr;
		std::memcpy(&raw, static_cast<unsigned char*>(p) - kStdlibHeader - sizeof(void*), sizeof(void*));
		std::free(raw);
		return;
	}
	t_VTNOS->general->Free(p);
}

void* GeAlloc(size_t size, Int32 line, const char* source)
{
	return VtnMemAlloc(size, line, source);
}

void* GeRealloc(void* block, size_t size, Int32 line, const char* source)
{
	if (!block)
		return VtnMemAlloc(size, line, source);
	if (size == 0)
		size = 1;
	return t_VTNOS->general->Realloc(block, size, line, source);
}

void _GeFree(void** p)
{
	if (!p || !*p)
		return;
	VtnMemFree(*p);
	*p = nullptr;
}

void* operator new(size_t n, const std::nothrow_t&, Int32 line, const char* source) noexcept
{
	return VtnMemAlloc(n, line, source);
}
void* operator new[](size_t n, const std::nothrow_t&, Int32 line, const char* source) noexcept
{
	return VtnMemAlloc(n, line, source);
}
void operator delete(void* p, const std::nothrow_t&, Int32, const char*) noexcept { VtnMemFree(p); }
void operator delete[](void* p, const std::nothrow_t&, Int32, const char*) noexcept { VtnMemFree(p); }

// ---- crash handler ----

void SDKCrashHandler(char* info)
{
	if (old_handler)
		old_handler(info);
}

void InstallCrashHandler()
{
	old_handler = t_VTNOS->crash_handler;
	t_VTNOS->crash_handler = SDKCrashHandler;
}

// ---- plug-in path ----

Filename GeGetPluginPath()
{
	if (!path_storage)
		return Filename();
	return path_storage->GetDirectory();
}

// ---- optional libraries ----

VTNLibrary* CheckLib(Int32 id, Int64 end_offset, VTNLibrary** cache)
{
	VTNLibrary* lib = cache ? *cache : nullptr;
	if (!lib)
	{
		VtnRegistry* entry = t_VTNOS->general->RegistryFind(VTN_REGISTRY_LIBRARY, id);
		if (!entry)
			return nullptr;
		lib = static_cast<VTNLibrary*>(t_VTNOS->general->RegistryGetData(entry));
		if (!lib)
			return nullptr;
		if (cache)
			*cache = lib;
	}
	return lib->size >= end_offset ? lib : nullptr;
}

bool InstallLibrary(Int32 id, VTNLibrary* lib, Int32 version, Int32 size)
{
	lib->version = version;
	lib->size = size;
	return t_VTNOS->general->RegistryAdd(VTN_REGISTRY_LIBRARY, id, lib);
}

bool UninstallLibrary(VTNLibrary*, Int32, Int32)
{
	return true;
}
