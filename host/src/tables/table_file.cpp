// Scene-file streams (HyperFile) and the compression library (1011188).
#include <cstring>

#include "compression.h"
#include "tables/tables.h"
#include "vtnhost/host.h"
#include "vtnhost/hyperfile.h"

namespace vtnhost {
namespace {

Host& H() { return Host::current(); }
HyperStream* S(HyperFile* hf) { return HyperStream::from(hf); }

bool HfWriteLong(HyperFile* hf, Int32 v) { return S(hf)->writeLong(v), true; }
bool HfWriteReal(HyperFile* hf, double v) { return S(hf)->writeReal(v), true; }
bool HfWriteVector(HyperFile* hf, const LVector* v) { return S(hf)->writeVector(*v), true; }
bool HfWriteMatrix(HyperFile* hf, const LMatrix* m) { return S(hf)->writeMatrix(*m), true; }
bool HfWriteMemory(HyperFile* hf, const void* data, Int64 size)
{
	if (size < 0 || (size > 0 && !data))
		return false;
	S(hf)->writeMemory(data, size);
	return true;
}
bool HfReadLong(HyperFile* hf, Int32* v) { return S(hf)->readLong(v); }
bool HfReadReal(HyperFile* hf, double* v) { return S(hf)->readReal(v); }
bool HfReadVector(HyperFile* hf, LVector* v) { return S(hf)->readVector(v); }
bool HfReadMatrix(HyperFile* hf, LMatrix* m) { return S(hf)->readMatrix(m); }
bool HfReadMemory(HyperFile* hf, void** data, Int64* size)
{
	*data = nullptr;
	*size = 0;
	uint64_t n = 0;
	if (!S(hf)->beginMemory(&n))
		return false;
	// Straight from the file into the block handed over: no copy on the way.
	void* block = H().memory().alloc(n ? static_cast<size_t>(n) : 1, __LINE__, "hyperfile");
	const bool ok = block && S(hf)->readMemoryPart(block, static_cast<size_t>(n));
	S(hf)->endMemory();
	if (!ok)
	{
		H().memory().free(block);
		return false;
	}
	*data = block;
	*size = static_cast<Int64>(n);
	return true;
}
Int32 HfGetFileVersion(HyperFile*) { return 1; }
BaseDocument* HfGetDocument(HyperFile* hf) { return S(hf)->document; }

VTN_HyperFile hyperfile_table = [] {
	VTN_HyperFile t{};
	t.WriteLong = HfWriteLong;
	t.WriteReal = HfWriteReal;
	t.WriteVector = HfWriteVector;
	t.WriteMatrix = HfWriteMatrix;
	t.WriteMemory = HfWriteMemory;
	t.ReadLong = HfReadLong;
	t.ReadReal = HfReadReal;
	t.ReadVector = HfReadVector;
	t.ReadMatrix = HfReadMatrix;
	t.ReadMemory = HfReadMemory;
	t.GetFileVersion = HfGetFileVersion;
	t.GetDocument = HfGetDocument;
	return t;
}();

// ---- compression: the host's packed blocks (compression.cpp) ----

bool CoCompress(const void* src, Int64 src_size, void** dst, Int64* dst_size, Int32 level)
{
	return compression::compress(src, src_size, dst, dst_size, level);
}

bool CoUncompress(const void* src, Int64 src_size, void** dst, Int64* dst_size)
{
	return compression::uncompress(src, src_size, dst, dst_size);
}

VTN_CompressionLib compression_lib = [] {
	VTN_CompressionLib t{};
	t.head.version = 1;
	t.head.size = static_cast<Int32>(sizeof(VTN_CompressionLib));
	t.CompressData = CoCompress;
	t.UncompressData = CoUncompress;
	// Memory values in pieces.
	t.WritePackedBegin = compression::writePackedBegin;
	t.WritePackedPart = compression::writePackedPart;
	t.WritePackedEnd = compression::writePackedEnd;
	t.ReadPackedBegin = compression::readPackedBegin;
	t.ReadPackedPart = compression::readPackedPart;
	t.ReadPackedEnd = compression::readPackedEnd;
	return t;
}();

}  // namespace

void installFileTables(VTNOS* os, Host& host)
{
	os->hyperfile = &hyperfile_table;
	host.registryAdd(VTN_REGISTRY_LIBRARY, VTN_LIB_COMPRESSION, &compression_lib);
}

}  // namespace vtnhost
