// The compression library (1011188): the host's packed blocks
// (vtnhost/packing.h), in one call or in pieces through a scene-file stream.
#include "compression.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "vtnhost/host.h"
#include "vtnhost/hyperfile.h"
#include "vtnhost/packing.h"
#include "workers.h"

namespace vtnhost {
namespace {

Host& H() { return Host::current(); }
HyperStream* S(HyperFile* hf) { return HyperStream::from(hf); }

// The host's workers pack and unpack the chunks of a batch side by side; with
// no workers the caller's thread does it.
struct ParallelRun
{
	void (*job)(void*, int64_t);
	void* context;
};
void RunOne(void* run, Int64 i)
{
	auto* r = static_cast<ParallelRun*>(run);
	r->job(r->context, static_cast<int64_t>(i));
}
void OnWorkers(void (*job)(void*, int64_t), void* context, int64_t count)
{
	Host& h = H();
	ParallelRun run{job, context};
	VtnPool* pool = count > 1 && h.workerCount() > 0 ? h.workerSet().start(RunOne, &run, count, h.workerCount()) : nullptr;
	if (!pool)
		return packing::serial(job, context, count);
	h.workerSet().free(pool);
}

}  // namespace

namespace compression {

bool compress(const void* src, Int64 src_size, void** dst, Int64* dst_size, Int32 level)
{
	*dst = nullptr;
	*dst_size = 0;
	if (src_size < 0 || (src_size > 0 && !src) || static_cast<uint64_t>(src_size) > SIZE_MAX / 2)
		return false;
	const uint64_t n = static_cast<uint64_t>(src_size);
	const uint64_t cap = packing::Packer::bound(n);
	auto* out = static_cast<uint8_t*>(H().memory().alloc(static_cast<size_t>(cap), __LINE__, "compression"));
	if (!out)
		return false;
	uint64_t used = 0;
	packing::Packer packer(
	    n, level,
	    [&](const void* bytes, size_t k) {
		    if (k > cap - used)
			    return false;
		    std::memcpy(out + used, bytes, k);
		    used += k;
		    return true;
	    },
	    OnWorkers);
	if (!packer.put(src, static_cast<size_t>(n)) || !packer.finish())
	{
		H().memory().free(out);
		return false;
	}
	*dst = out;
	*dst_size = static_cast<Int64>(used);
	return true;
}

bool uncompress(const void* src, Int64 src_size, void** dst, Int64* dst_size)
{
	*dst = nullptr;
	*dst_size = 0;
	if (!src || src_size < 8)
		return false;
	MemorySource in(static_cast<const uint8_t*>(src), static_cast<size_t>(src_size));
	uint64_t pos = 0;
	packing::Unpacker unpacker(
	    static_cast<uint64_t>(src_size),
	    [&](void* out, size_t k) { return in.readAt(pos, out, k) && (pos += k, true); },
	    [&](uint64_t at, void* out, size_t k) { return in.readAt(at, out, k); }, OnWorkers);
	// The header is checked against the block's length before the plain size is trusted.
	if (!unpacker.begin() || unpacker.plainSize() > SIZE_MAX / 2)
		return false;
	const uint64_t original = unpacker.plainSize();
	auto* out = static_cast<uint8_t*>(H().memory().alloc(original ? static_cast<size_t>(original) : 1, __LINE__, "compression"));
	if (!out)
		return false;
	if (!unpacker.get(out, static_cast<size_t>(original)) || !unpacker.finish())
	{
		H().memory().free(out);
		return false;
	}
	*dst = out;
	*dst_size = static_cast<Int64>(original);
	return true;
}

}  // namespace compression
}  // namespace vtnhost

// The handles of the piecewise slots.
struct VtnPackWriter
{
	vtnhost::HyperStream* hs;
	uint64_t at;
	vtnhost::packing::Packer packer;
};
struct VtnPackReader
{
	vtnhost::HyperStream* hs;
	vtnhost::packing::Unpacker unpacker;
};

namespace vtnhost {
namespace compression {

VtnPackWriter* writePackedBegin(HyperFile* hf, Int64 plain_size, Int32 level)
{
	if (!hf || plain_size < 0)
		return nullptr;
	HyperStream* hs = S(hf);
	const uint64_t at = hs->beginMemory();
	// The packer hands on its header, then one chunk at a time: the bar counts chunks.
	FileJob* job = H().fileJob();
	const uint64_t plain = static_cast<uint64_t>(plain_size);
	auto emit = [hs, job, plain, emits = uint64_t{0}](const void* bytes, size_t n) mutable {
		if (job)
			job->show("packing", std::min(plain, emits++ * packing::kChunkBytes), plain);
		hs->writeMemoryPart(bytes, n);
		return !hs->failed();
	};
	return new VtnPackWriter{hs, at, packing::Packer(static_cast<uint64_t>(plain_size), level, emit, OnWorkers)};
}

bool writePackedPart(VtnPackWriter* w, const void* data, Int64 size)
{
	return w && size >= 0 && static_cast<uint64_t>(size) <= SIZE_MAX && (size == 0 || data) &&
	       w->packer.put(data, static_cast<size_t>(size));
}

bool writePackedEnd(VtnPackWriter* w)
{
	if (!w)
		return false;
	const bool ok = w->packer.finish();
	// Even a value left incomplete gets its length, so the stream stays readable behind it.
	const bool closed = w->hs->endMemory(w->at);
	if (!ok)
		w->hs->fail();
	delete w;
	return ok && closed;
}

Int32 readPackedBegin(HyperFile* hf, Int64* plain_size, VtnPackReader** reader)
{
	if (reader)
		*reader = nullptr;
	if (plain_size)
		*plain_size = 0;
	if (!hf || !plain_size || !reader)
		return 0;
	HyperStream* hs = S(hf);
	uint64_t stored = 0;
	if (!hs->beginMemory(&stored))
		return 0;
	// Whatever is read goes through here, in batches of chunks: where the bar and a break are looked after.
	FileJob* job = H().fileJob();
	auto read = [hs, job, stored, done = uint64_t{0}](void* out, size_t n) mutable {
		if (job)
		{
			job->show("unpacking", done += n, stored);
			if (!job->go(n))
				return false;
		}
		return hs->readMemoryPart(out, n);
	};
	auto read_at = [hs](uint64_t at, void* out, size_t n) { return hs->readMemoryAt(at, out, n); };
	if (hs->packedSkipped)
	{
		uint64_t plain = 0;
		const bool ok = packing::plainSizeOf(stored, read, read_at, &plain) && plain <= static_cast<uint64_t>(INT64_MAX);
		hs->endMemory();
		*plain_size = ok ? static_cast<Int64>(plain) : 0;
		return ok ? 2 : 0;
	}
	auto* r = new VtnPackReader{hs, packing::Unpacker(stored, read, read_at, OnWorkers)};
	if (!r->unpacker.begin() || r->unpacker.plainSize() > static_cast<uint64_t>(INT64_MAX))
	{
		hs->endMemory();
		delete r;
		return 0;
	}
	*plain_size = static_cast<Int64>(r->unpacker.plainSize());
	*reader = r;
	return 1;
}

bool readPackedPart(VtnPackReader* r, void* out, Int64 size)
{
	return r && size >= 0 && static_cast<uint64_t>(size) <= SIZE_MAX && (size == 0 || out) &&
	       r->unpacker.get(out, static_cast<size_t>(size));
}

bool readPackedEnd(VtnPackReader* r)
{
	if (!r)
		return false;
	const bool ok = r->unpacker.finish();
	r->hs->endMemory();
	delete r;
	return ok;
}

}  // namespace compression
}  // namespace vtnhost
