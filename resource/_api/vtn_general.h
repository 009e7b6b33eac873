// Free functions of the host: console, status bar, events, modeling commands,
// compression, registration, and the byte-count text shown to users.
#ifndef VTN_GENERAL_H
#define VTN_GENERAL_H

#include "abi/vtn_types.h"
#include "vtn_string.h"

void GePrint(const String& text);
void StatusSetText(const String& text);
void StatusSetBar(Int32 percent);
void StatusClear();
void EventAdd(Int32 flags = 0);
void GeShowMouse(Int32 mode);
// Reports a programming error to the host with the caller's line and source.
void GeCriticalStop(Int32 line, const char* source);
bool SendModelingCommand(Int32 command, ModelingCommandData& data);

// Compression through the host library 1011188. The output block is
// host-allocated; release it with _GeFree. False when the library is missing.
bool CompressData(const void* src, Int64 src_size, void*& dst, Int64& dst_size, Int32 level);
bool UncompressData(const void* src, Int64 src_size, void*& dst, Int64& dst_size);

// Registers a plug-in record with the host, passing the layer's API version.
bool GeRegisterPlugin(Int32 type, Int32 id, const String& name, void* record, Int32 size);

// Byte count as display text: "N B", or two decimals with " KB", " MB", " GB".
String MemoryToString(long long bytes);

#endif
