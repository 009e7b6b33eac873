// Registration of node and object plug-in types with the host.
#ifndef VTN_REGISTER_H
#define VTN_REGISTER_H

#include "abi/vtn_plugin.h"
#include "vtn_string.h"

void FillNodePlugin(NODEPLUGIN* np, Int32 info, DataAllocator alloc, BaseBitmap* icon, Int32 disk_level, void* emulation);
bool RegisterObjectPlugin(Int32 id, const String& name, Int32 info, DataAllocator alloc, const String& description, BaseBitmap* icon, Int32 disk_level);
bool RegisterNodePlugin(Int32 id, const String& name, Int32 info, DataAllocator alloc, BaseBitmap* icon, Int32 disk_level, Int32* fallback);

#endif
