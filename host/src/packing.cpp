#include "vtnhost/packing.h"

#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cstring>

namespace vtnhost {
namespace packing {
namespace {

// Chunks packed or unpacked side by side in one go: enough to keep the
// workers busy, little enough that the batch is a few MB beside the weights.
constexpr int kBatchChunks = 8;
// The first version's zlib stream cannot expand by more than about 1032 to 1.
constexpr uint64_t kLegacyMaxRatio = 1100;

void putU32(uint8_t* at, uint32_t v) { std::memcpy(at, &v, 4); }
uint32_t getU32(const uint8_t* at)
{
	uint32_t v;
	std::memcpy(&v, at, 4);
	return v;
}

// One compression context per thread, kept for the thread's life: making one
// for every chunk costs as much as packing a small chunk.
struct Contexts
{
	ZSTD_CCtx* c = nullptr;
	ZSTD_DCtx* d = nullptr;
	~Contexts()
	{
		ZSTD_freeCCtx(c);
		ZSTD_freeDCtx(d);
	}
};
Contexts& contexts()
{
	thread_local Contexts t;
	return t;
}

uint64_t chunkCount(uint64_t plain, uint32_t chunk) { return plain == 0 ? 0 : (plain - 1) / chunk + 1; }

}  // namespace

void serial(void (*job)(void*, int64_t), void* context, int64_t count)
{
	for (int64_t i = 0; i < count; ++i)
		job(context, i);
}

void shuffle4(const uint8_t* in, uint8_t* out, size_t n)
{
	const size_t words = n / 4;
	for (size_t w = 0; w < words; ++w)
		for (size_t b = 0; b < 4; ++b)
			out[b * words + w] = in[w * 4 + b];
	std::memcpy(out + words * 4, in + words * 4, n - words * 4);
}

void unshuffle4(const uint8_t* in, uint8_t* out, size_t n)
{
	const size_t words = n / 4;
	for (size_t w = 0; w < words; ++w)
		for (size_t b = 0; b < 4; ++b)
			out[w * 4 + b] = in[b * words + w];
	std::memcpy(out + words * 4, in + words * 4, n - words * 4);
}

uint32_t packChunk(const uint8_t* plain, size_t n, int level, std::vector<uint8_t>& scratch, std::vector<uint8_t>& out)
{
	const size_t start = out.size();
	if (level > 0 && n > 0)
	{
		scratch.resize(n);
		shuffle4(plain, scratch.data(), n);
		Contexts& t = contexts();
		if (!t.c)
			t.c = ZSTD_createCCtx();
		// Every frame carries a checksum of its bytes: damage that still decodes is caught.
		const bool ready = t.c && !ZSTD_isError(ZSTD_CCtx_setParameter(t.c, ZSTD_c_compressionLevel, level)) &&
		                   !ZSTD_isError(ZSTD_CCtx_setParameter(t.c, ZSTD_c_checksumFlag, 1));
		out.resize(start + ZSTD_compressBound(n));
		const size_t got = ready ? ZSTD_compress2(t.c, out.data() + start, out.size() - start, scratch.data(), n) : 0;
		// Even bytes that do not pack go through zstd (as its raw blocks, a few
		// bytes more): their checksum still guards them.
		if (ready && !ZSTD_isError(got))
		{
			out.resize(start + got);
			return static_cast<uint32_t>(got);
		}
	}
	out.resize(start);
	out.insert(out.end(), plain, plain + n);
	return static_cast<uint32_t>(n) | kStoredRaw;
}

bool unpackChunk(const uint8_t* stored, size_t stored_n, uint32_t entry, uint8_t* plain, size_t n, std::vector<uint8_t>& scratch)
{
	if (entry & kStoredRaw)
	{
		if (stored_n != n)
			return false;
		std::memcpy(plain, stored, n);
		return true;
	}
	Contexts& t = contexts();
	if (!t.d)
		t.d = ZSTD_createDCtx();
	if (!t.d)
		return false;
	// The frame must name exactly this size, so a damaged one is refused before it is expanded.
	if (ZSTD_getFrameContentSize(stored, stored_n) != n)
		return false;
	scratch.resize(n);
	const size_t got = ZSTD_decompressDCtx(t.d, scratch.data(), n, stored, stored_n);
	if (ZSTD_isError(got) || got != n)
		return false;
	unshuffle4(scratch.data(), plain, n);
	return true;
}

// ---- packing ----

struct Packer::Impl
{
	uint64_t plain = 0, taken = 0;
	int level = 0;
	Emit emit;
	Parallel parallel;
	bool failed = false, headed = false;
	std::vector<uint8_t> batch;  // plain bytes of the chunks not yet packed
	std::vector<uint32_t> table;
	std::vector<std::vector<uint8_t>> outs, scratch;

	struct Job
	{
		Impl* self;
		size_t used;
	};
	static void packOne(void* context, int64_t i)
	{
		const Job& j = *static_cast<Job*>(context);
		Impl& s = *j.self;
		const size_t from = static_cast<size_t>(i) * kChunkBytes;
		const size_t n = std::min<size_t>(kChunkBytes, j.used - from);
		s.outs[static_cast<size_t>(i)].clear();
		s.table[s.table.size() - s.outs.size() + static_cast<size_t>(i)] =
		    packChunk(s.batch.data() + from, n, s.level, s.scratch[static_cast<size_t>(i)], s.outs[static_cast<size_t>(i)]);
	}

	bool header()
	{
		uint8_t h[kHeaderBytes] = {};
		std::memcpy(h, kMagic, 8);
		std::memcpy(h + 8, &plain, 8);
		putU32(h + 16, kChunkBytes);
		h[20] = kCodecZstd;
		h[21] = kFilterShuffle4;
		h[22] = static_cast<uint8_t>(static_cast<int8_t>(level));
		headed = true;
		return emit(h, sizeof h);
	}

	bool flush()
	{
		if (batch.empty())
			return true;
		const size_t chunks = (batch.size() - 1) / kChunkBytes + 1;
		outs.resize(chunks);
		scratch.resize(chunks);
		table.resize(table.size() + chunks);
		Job job{this, batch.size()};
		parallel(packOne, &job, static_cast<int64_t>(chunks));
		for (const auto& o : outs)
			if (!emit(o.data(), o.size()))
				return false;
		batch.clear();
		return true;
	}
};

Packer::Packer(uint64_t plain_size, int level, Emit emit, Parallel parallel) : impl_(new Impl)
{
	impl_->plain = plain_size;
	impl_->level = level <= 0 ? 0 : kZstdLevel;
	impl_->emit = std::move(emit);
	impl_->parallel = std::move(parallel);
	impl_->batch.reserve(std::min<uint64_t>(plain_size, uint64_t(kBatchChunks) * kChunkBytes));
}

Packer::~Packer() = default;

bool Packer::put(const void* data, size_t n)
{
	Impl& s = *impl_;
	if (s.failed || n > s.plain - s.taken || (!s.headed && !s.header()))
		return s.failed = true, false;
	const auto* b = static_cast<const uint8_t*>(data);
	const size_t full = size_t(kBatchChunks) * kChunkBytes;
	while (n > 0)
	{
		const size_t take = std::min(n, full - s.batch.size());
		s.batch.insert(s.batch.end(), b, b + take);
		b += take;
		n -= take;
		s.taken += take;
		if (s.batch.size() == full && !s.flush())
			return s.failed = true, false;
	}
	return true;
}

bool Packer::finish()
{
	Impl& s = *impl_;
	if (s.failed || s.taken != s.plain || (!s.headed && !s.header()) || !s.flush())
		return s.failed = true, false;
	std::vector<uint8_t> table(s.table.size() * 4);
	for (size_t i = 0; i < s.table.size(); ++i)
		putU32(table.data() + 4 * i, s.table[i]);
	if (!table.empty() && !s.emit(table.data(), table.size()))
		return s.failed = true, false;
	s.failed = true;  // nothing more goes in
	return true;
}

uint64_t Packer::bound(uint64_t plain_size)
{
	const uint64_t full = plain_size / kChunkBytes, tail = plain_size % kChunkBytes;
	return kHeaderBytes + full * ZSTD_compressBound(kChunkBytes) + (tail ? ZSTD_compressBound(static_cast<size_t>(tail)) : 0) +
	       4 * chunkCount(plain_size, kChunkBytes);
}

// ---- unpacking ----

struct Unpacker::Impl
{
	uint64_t stored = 0, plain = 0, given = 0, readPos = 0;
	Read read;
	ReadAt readAt;
	Parallel parallel;
	int format = 0;
	bool failed = false;
	// This version
	uint32_t chunk = 0;
	std::vector<uint32_t> table;
	size_t nextChunk = 0;
	std::vector<uint8_t> batch;  // plain bytes of the unpacked batch
	size_t batchPos = 0;
	std::vector<std::vector<uint8_t>> ins, scratch;
	std::vector<char> ok;
	size_t batchFirst = 0;
	uint8_t* into = nullptr;  // where the chunks being unpacked go
	// The first version
	z_stream z{};
	bool zOpen = false, zEnd = false;
	std::vector<uint8_t> zIn;

	~Impl()
	{
		if (zOpen)
			inflateEnd(&z);
	}

	bool take(void* out, size_t n)
	{
		if (n > stored - readPos || !read(out, n))
			return false;
		readPos += n;
		return true;
	}

	uint64_t chunkPlain(size_t i) const { return std::min<uint64_t>(chunk, plain - uint64_t(i) * chunk); }

	static void unpackOne(void* context, int64_t k)
	{
		Impl& s = *static_cast<Impl*>(context);
		const size_t i = s.batchFirst + static_cast<size_t>(k);
		const uint32_t e = s.table[i];
		const size_t at = static_cast<size_t>(k) * s.chunk;
		s.ok[static_cast<size_t>(k)] = unpackChunk(s.ins[static_cast<size_t>(k)].data(), s.ins[static_cast<size_t>(k)].size(), e,
		                                           s.into + at, static_cast<size_t>(s.chunkPlain(i)), s.scratch[static_cast<size_t>(k)]);
	}

	// The plain bytes of the next `chunks` chunks.
	size_t plainOfNext(size_t chunks) const
	{
		size_t bytes = 0;
		for (size_t k = 0; k < chunks; ++k)
			bytes += static_cast<size_t>(chunkPlain(nextChunk + k));
		return bytes;
	}

	// How many of the next chunks (at most a batch) fit whole into n bytes.
	size_t chunksWithin(size_t n) const
	{
		size_t chunks = 0, bytes = 0;
		while (chunks < static_cast<size_t>(kBatchChunks) && nextChunk + chunks < table.size())
		{
			bytes += static_cast<size_t>(chunkPlain(nextChunk + chunks));
			if (bytes > n)
				break;
			++chunks;
		}
		return chunks;
	}

	// Reads the next `chunks` chunks and unpacks them on the workers into
	// dest, which has room for their plain bytes.
	bool unpackNext(size_t chunks, uint8_t* dest)
	{
		batchFirst = nextChunk;
		ins.resize(chunks);
		scratch.resize(chunks);
		ok.assign(chunks, 0);
		for (size_t k = 0; k < chunks; ++k)
		{
			const uint32_t e = table[batchFirst + k];
			ins[k].resize(e & ~kStoredRaw);
			if (!take(ins[k].data(), ins[k].size()))
				return false;
		}
		into = dest;
		parallel(unpackOne, this, static_cast<int64_t>(chunks));
		for (char c : ok)
			if (!c)
				return false;
		nextChunk += chunks;
		return true;
	}

	bool nextBatch()
	{
		const size_t chunks = std::min<size_t>(kBatchChunks, table.size() - nextChunk);
		if (chunks == 0)
			return false;
		batch.resize(plainOfNext(chunks));
		batchPos = 0;
		return unpackNext(chunks, batch.data());
	}

	bool beginLegacy(const uint8_t first[8])
	{
		std::memcpy(&plain, first, 8);
		const uint64_t packed = stored - 8;
		if (plain > 0xFFFFFFFFull || plain > (packed + 64) * kLegacyMaxRatio)
			return false;
		if (inflateInit(&z) != Z_OK)
			return false;
		zOpen = true;
		return true;
	}

	bool getLegacy(uint8_t* out, size_t n)
	{
		while (n > 0)
		{
			if (zEnd)
				return false;
			if (z.avail_in == 0)
			{
				const size_t take_n = static_cast<size_t>(std::min<uint64_t>(1u << 16, stored - readPos));
				if (take_n == 0)
					return false;
				zIn.resize(take_n);
				if (!take(zIn.data(), take_n))
					return false;
				z.next_in = zIn.data();
				z.avail_in = static_cast<uInt>(take_n);
			}
			const uInt want = static_cast<uInt>(std::min<size_t>(n, 1u << 30));
			z.next_out = out;
			z.avail_out = want;
			const int rc = inflate(&z, Z_NO_FLUSH);
			if (rc != Z_OK && rc != Z_STREAM_END)
				return false;
			const size_t made = want - z.avail_out;
			out += made;
			n -= made;
			if (rc == Z_STREAM_END)
				zEnd = true;
		}
		return true;
	}
};

Unpacker::Unpacker(uint64_t stored_size, Read read, ReadAt read_at, Parallel parallel) : impl_(new Impl)
{
	impl_->stored = stored_size;
	impl_->read = std::move(read);
	impl_->readAt = std::move(read_at);
	impl_->parallel = std::move(parallel);
}

Unpacker::~Unpacker() = default;

bool Unpacker::begin()
{
	Impl& s = *impl_;
	uint8_t first[8];
	if (s.format != 0 || s.stored < 8 || !s.take(first, 8))
		return s.failed = true, false;
	bool ok;
	if (std::memcmp(first, kMagic, 8) == 0)
	{
		s.format = 2;
		s.readPos = 0;
		// The header is read again whole; read() goes on from where it stopped, so it is read as the rest.
		uint8_t rest[kHeaderBytes - 8];
		if (s.stored < kHeaderBytes || !s.take(rest, sizeof rest))
			return s.failed = true, false;
		uint8_t h[kHeaderBytes];
		std::memcpy(h, first, 8);
		std::memcpy(h + 8, rest, sizeof rest);
		std::memcpy(&s.plain, h + 8, 8);
		s.chunk = getU32(h + 16);
		ok = h[20] == kCodecZstd && h[21] == kFilterShuffle4 && h[23] == 0 && s.chunk >= 4096 && s.chunk <= (64u << 20);
		if (ok)
		{
			const uint64_t count = chunkCount(s.plain, s.chunk);
			ok = count <= (s.stored - kHeaderBytes) / 4;
			if (ok)
			{
				const uint64_t tableAt = s.stored - 4 * count;
				std::vector<uint8_t> raw(static_cast<size_t>(4 * count));
				ok = !count || s.readAt(tableAt, raw.data(), raw.size());
				s.table.resize(static_cast<size_t>(count));
				uint64_t sum = 0;
				for (size_t i = 0; ok && i < s.table.size(); ++i)
				{
					const uint32_t e = s.table[i] = getU32(raw.data() + 4 * i);
					const uint64_t size = e & ~kStoredRaw, want = s.chunkPlain(i);
					// A stored chunk holds its plain bytes; a packed one no more than zstd's bound.
					ok = (e & kStoredRaw) ? size == want : (size > 0 && size <= ZSTD_compressBound(static_cast<size_t>(want)));
					sum += size;
				}
				ok = ok && sum == tableAt - kHeaderBytes;
			}
		}
		s.readPos = kHeaderBytes;
	}
	else
	{
		s.format = 1;
		ok = s.beginLegacy(first);
	}
	if (!ok)
		s.failed = true;
	return ok;
}

uint64_t Unpacker::plainSize() const { return impl_->plain; }
int Unpacker::format() const { return impl_->format; }

bool Unpacker::get(void* out, size_t n)
{
	Impl& s = *impl_;
	if (s.failed || s.format == 0 || n > s.plain - s.given)
		return s.failed = true, false;
	auto* o = static_cast<uint8_t*>(out);
	if (s.format == 1)
	{
		if (!s.getLegacy(o, n))
			return s.failed = true, false;
		s.given += n;
		return true;
	}
	while (n > 0)
	{
		if (s.batchPos == s.batch.size())
		{
			// Whole chunks go straight into the caller's memory: the workers
			// unpack them there (and so touch its pages first), with no copy.
			if (const size_t chunks = s.chunksWithin(n))
			{
				const size_t bytes = s.plainOfNext(chunks);
				if (!s.unpackNext(chunks, o))
					return s.failed = true, false;
				o += bytes;
				n -= bytes;
				s.given += bytes;
				continue;
			}
			if (!s.nextBatch())
				return s.failed = true, false;
		}
		const size_t take = std::min(n, s.batch.size() - s.batchPos);
		std::memcpy(o, s.batch.data() + s.batchPos, take);
		s.batchPos += take;
		o += take;
		n -= take;
		s.given += take;
	}
	return true;
}

bool Unpacker::finish()
{
	Impl& s = *impl_;
	if (s.failed || s.format == 0 || s.given != s.plain)
		return false;
	if (s.format == 1)
	{
		// The stream must end exactly here, with no byte after it.
		if (!s.zEnd)
		{
			uint8_t probe;
			if (s.getLegacy(&probe, 1) || !s.zEnd)
				return false;
		}
		return s.z.avail_in == 0 && s.readPos == s.stored;
	}
	return s.nextChunk == s.table.size() && s.batchPos == s.batch.size();
}

bool plainSizeOf(uint64_t stored_size, const Unpacker::Read& read, const Unpacker::ReadAt& read_at, uint64_t* plain)
{
	Unpacker u(stored_size, read, read_at);
	if (!u.begin())
		return false;
	*plain = u.plainSize();
	return true;
}

}  // namespace packing
}  // namespace vtnhost
