// Scene-file streams (HyperFile) and the compression library (1011188).
#include <zlib.h>

#include <cstring>

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
	std::vector<uint8_t> bytes;
	if (!S(hf)->readMemory(&bytes))
		return false;
	void* block = H().memory().alloc(bytes.empty() ? 1 : bytes.size(), __LINE__, "hyperfile");
	if (!block)
		return false;
	if (!bytes.empty())
		std::memcpy(block, bytes.data(), bytes.size());
	*data = block;
	*size = static_cast<Int64>(bytes.size());
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

// ---- compression: an 8-byte original size, then a zlib stream ----

constexpr size_t kSizeHeader = 8;
// zlib cannot expand data by more than about 1032 to 1; a block claiming more is damaged.
constexpr uint64_t kMaxRatio = 1100;

bool CoCompress(const void* src, Int64 src_size, void** dst, Int64* dst_size, Int32 level)
{
	*dst = nullptr;
	*dst_size = 0;
	if (src_size < 0 || (src_size > 0 && !src) || static_cast<uint64_t>(src_size) > compressBound(~0u) / 2)
		return false;
	const uLong n = static_cast<uLong>(src_size);
	uLongf out_size = compressBound(n);
	auto* out = static_cast<uint8_t*>(H().memory().alloc(kSizeHeader + out_size, __LINE__, "compression"));
	if (!out)
		return false;
	const uint64_t original = static_cast<uint64_t>(src_size);
	std::memcpy(out, &original, kSizeHeader);
	if (compress2(out + kSizeHeader, &out_size, static_cast<const Bytef*>(src), n, level < 0 || level > 9 ? Z_DEFAULT_COMPRESSION : level) != Z_OK)
	{
		H().memory().free(out);
		return false;
	}
	*dst = out;
	*dst_size = static_cast<Int64>(kSizeHeader + out_size);
	return true;
}

bool CoUncompress(const void* src, Int64 src_size, void** dst, Int64* dst_size)
{
	*dst = nullptr;
	*dst_size = 0;
	if (!src || src_size < static_cast<Int64>(kSizeHeader))
		return false;
	uint64_t original = 0;
	std::memcpy(&original, src, kSizeHeader);
	const uint64_t packed = static_cast<uint64_t>(src_size) - kSizeHeader;
	if (original > (packed + 64) * kMaxRatio || original > 0xFFFFFFFFull)
		return false;
	auto* out = static_cast<uint8_t*>(H().memory().alloc(original ? original : 1, __LINE__, "compression"));
	if (!out)
		return false;
	uLongf got = static_cast<uLongf>(original);
	const int rc = uncompress(out, &got, static_cast<const Bytef*>(src) + kSizeHeader, static_cast<uLong>(packed));
	if (rc != Z_OK || got != original)
	{
		H().memory().free(out);
		return false;
	}
	*dst = out;
	*dst_size = static_cast<Int64>(original);
	return true;
}

VTN_CompressionLib compression_lib = [] {
	VTN_CompressionLib t{};
	t.head.version = 1;
	t.head.size = static_cast<Int32>(sizeof(VTN_CompressionLib));
	t.CompressData = CoCompress;
	t.UncompressData = CoUncompress;
	return t;
}();

}  // namespace

void installFileTables(VTNOS* os, Host& host)
{
	os->hyperfile = &hyperfile_table;
	host.registryAdd(VTN_REGISTRY_LIBRARY, VTN_LIB_COMPRESSION, &compression_lib);
}

}  // namespace vtnhost
