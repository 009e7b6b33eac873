// Entry module of the plug-in: the handshake, the master table, memory routing,
// the crash-handler chain and the look-up of optional host libraries.
#ifndef VTN_PMAIN_H
#define VTN_PMAIN_H

#include "abi/vtn_libraries.h"
#include "abi/vtn_os.h"
#include "vtn_platform.h"

class Filename;

// The master table; null until the first attach, read-only afterwards.
extern VTNOS* t_VTNOS;

// Stores the table and returns the host's API version found at its offset 0.
Int32 InitOS(void* table);

// Supplied by the plug-in's start-up module; called only from vtn_main.
bool PluginStart();
void PluginEnd();
bool PluginMessage(Int32 id, void* data);

// The plug-in's crash handler: forwards to the handler it replaced, if any.
void SDKCrashHandler(char* info);
// The handler that was in the master table's slot before ours.
extern VtnCrashHandler old_handler;
// Installs SDKCrashHandler into the master table's crash slot, keeping the old one.
void InstallCrashHandler();

// The plug-in's directory (empty when the file name was not stored at attach).
Filename GeGetPluginPath();

// A host library by number, only when its table reaches end_offset; else null.
// The size test runs on every call, also when the library came from the cache.
VTNLibrary* CheckLib(Int32 id, Int64 end_offset, VTNLibrary** cache);
bool InstallLibrary(Int32 id, VTNLibrary* lib, Int32 version, Int32 size);
bool UninstallLibrary(VTNLibrary* lib, Int32 id, Int32 version);

// End of a slot within a library table: the size a library must have to serve it.
#define VTN_LIB_END(LibType, slot) (static_cast<Int64>(offsetof(LibType, slot) + sizeof(static_cast<LibType*>(nullptr)->slot)))

// The library table of type LibType with number id when it serves slot, else null.
template <typename LibType>
inline LibType* CheckLibT(Int32 id, Int64 end_offset, LibType** cache)
{
	return reinterpret_cast<LibType*>(CheckLib(id, end_offset, reinterpret_cast<VTNLibrary**>(cache)));
}

// Test access to the entry module's state.
Int32 VtnInitCount();
bool VtnStdlibMemUsed();
const Filename* VtnPathStorage();

// The module's only export.
extern "C" VTN_EXPORT int vtn_main(int action, void* p1, void* p2, void* p3);

#endif
