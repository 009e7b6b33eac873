// Free functions of the host: console, status bar, events, modeling commands,
// compression, registration, and the byte-count text shown to users.
#ifndef VTN_GENERAL_H
#define VTN_GENERAL_H

#include "abi/vtn_libraries.h"
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

// A compressed memory value of a scene-file stream in pieces, through the same
// library when the host's table has these slots (PackedStreamsOffered);
// otherwise the caller joins the pieces, compresses them and writes one block.
// The value's bytes are the same either way. See abi/vtn_libraries.h.
bool PackedStreamsOffered();
VtnPackWriter* WritePackedBegin(HyperFile* hf, Int64 plain_size, Int32 level);
bool WritePackedPart(VtnPackWriter* w, const void* data, Int64 size);
bool WritePackedEnd(VtnPackWriter* w);
// 1: a reader; 2: the host passed over the value and told only its plain size; 0: none.
Int32 ReadPackedBegin(HyperFile* hf, Int64& plain_size, VtnPackReader*& reader);
bool ReadPackedPart(VtnPackReader* r, void* out, Int64 size);
bool ReadPackedEnd(VtnPackReader* r);

// Registers a plug-in record with the host, passing the layer's API version.
bool GeRegisterPlugin(Int32 type, Int32 id, const String& name, void* record, Int32 size);

// Byte count as display text: "N B", or two decimals with " KB", " MB", " GB".
String MemoryToString(long long bytes);

#endif
