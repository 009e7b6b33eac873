#include "vtn_general.h"

#include "vtn_pmain.h"

namespace {
VTN_General* G() { return t_VTNOS->general; }
VTN_CompressionLib* compression_cache = nullptr;
}  // namespace

void GePrint(const String& text) { G()->Print(text.Handle()); }
void StatusSetText(const String& text) { G()->StatusSetText(text.Handle()); }
void StatusSetBar(Int32 percent) { G()->StatusSetBar(percent); }
void StatusClear() { G()->StatusClear(); }
void EventAdd(Int32 flags) { G()->EventAdd(flags); }
void GeShowMouse(Int32 mode) { G()->ShowMouse(mode); }
void GeCriticalStop(Int32 line, const char* source) { G()->CriticalStop(line, source); }

bool SendModelingCommand(Int32 command, ModelingCommandData& data)
{
	return G()->SendModelingCommand(command, &data);
}

bool CompressData(const void* src, Int64 src_size, void*& dst, Int64& dst_size, Int32 level)
{
	VTN_CompressionLib* lib = CheckLibT(VTN_LIB_COMPRESSION, VTN_LIB_END(VTN_CompressionLib, CompressData), &compression_cache);
	if (!lib || !lib->CompressData)
		return false;
	return lib->CompressData(src, src_size, &dst, &dst_size, level);
}

bool UncompressData(const void* src, Int64 src_size, void*& dst, Int64& dst_size)
{
	VTN_CompressionLib* lib = CheckLibT(VTN_LIB_COMPRESSION, VTN_LIB_END(VTN_CompressionLib, UncompressData), &compression_cache);
	if (!lib || !lib->UncompressData)
		return false;
	return lib->UncompressData(src, src_size, &dst, &dst_size);
}

namespace {
// Every piecewise slot or none: the table's size covers the last of them.
VTN_CompressionLib* Packed()
{
	VTN_CompressionLib* lib = CheckLibT(VTN_LIB_COMPRESSION, VTN_LIB_END(VTN_CompressionLib, ReadPackedEnd), &compression_cache);
	return lib && lib->WritePackedBegin && lib->WritePackedPart && lib->WritePackedEnd && lib->ReadPackedBegin &&
	               lib->ReadPackedPart && lib->ReadPackedEnd
	           ? lib
	           : nullptr;
}
}  // namespace

bool PackedStreamsOffered() { return Packed() != nullptr; }

VtnPackWriter* WritePackedBegin(HyperFile* hf, Int64 plain_size, Int32 level)
{
	VTN_CompressionLib* lib = Packed();
	return lib ? lib->WritePackedBegin(hf, plain_size, level) : nullptr;
}

bool WritePackedPart(VtnPackWriter* w, const void* data, Int64 size)
{
	VTN_CompressionLib* lib = Packed();
	return lib && lib->WritePackedPart(w, data, size);
}

bool WritePackedEnd(VtnPackWriter* w)
{
	VTN_CompressionLib* lib = Packed();
	return lib && lib->WritePackedEnd(w);
}

Int32 ReadPackedBegin(HyperFile* hf, Int64& plain_size, VtnPackReader*& reader)
{
	plain_size = 0;
	reader = nullptr;
	VTN_CompressionLib* lib = Packed();
	return lib ? lib->ReadPackedBegin(hf, &plain_size, &reader) : 0;
}

bool ReadPackedPart(VtnPackReader* r, void* out, Int64 size)
{
	VTN_CompressionLib* lib = Packed();
	return lib && lib->ReadPackedPart(r, out, size);
}

bool ReadPackedEnd(VtnPackReader* r)
{
	VTN_CompressionLib* lib = Packed();
	return lib && lib->ReadPackedEnd(r);
}

bool GeRegisterPlugin(Int32 type, Int32 id, const String& name, void* record, Int32 size)
{
	return G()->RegisterPlugin(VTN_API_VERSION, type, id, name.Handle(), record, size);
}

String MemoryToString(long long bytes)
{
	if (bytes <= 1024)
		return String::IntToString(bytes) + String(" B");
	if (bytes <= 1048576)
		return String::FloatToString(static_cast<double>(bytes) / 1024.0, 2) + String(" KB");
	if (bytes <= 1073741824)
		return String::FloatToString(static_cast<double>(bytes >> 10) / 1024.0, 2) + String(" MB");
	return String::FloatToString(static_cast<double>(bytes >> 20) / 1024.0, 2) + String(" GB");
}
