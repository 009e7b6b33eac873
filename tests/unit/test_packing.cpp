// The host's packed blocks: the same bytes however the plain bytes are handed
// over, the same plain bytes back however they are asked for, blocks of the
// first version still read, and damaged blocks refused before their sizes are
// trusted.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cmath>
#include <cstring>
#include <random>

#include "vtnhost/packing.h"

using namespace vtnhost::packing;

namespace {

// Weights-like floats: smooth, positive and negative, a few exactly zero.
std::vector<uint8_t> weightsLike(size_t bytes, unsigned seed)
{
	std::vector<uint8_t> out(bytes);
	std::mt19937 rng(seed);
	for (size_t i = 0; i + 4 <= bytes; i += 4)
	{
		const float f = i % 40 == 0 ? 0.0f : static_cast<float>(std::sin(i * 0.001) * 0.3 + (rng() % 1000) * 1e-6);
		std::memcpy(&out[i], &f, 4);
	}
	for (size_t i = bytes / 4 * 4; i < bytes; ++i)
		out[i] = static_cast<uint8_t>(rng());
	return out;
}

// Packs plain in pieces of the sizes rng picks (all of it at once when rng is null).
std::vector<uint8_t> pack(const std::vector<uint8_t>& plain, std::mt19937* rng, int level = 5)
{
	std::vector<uint8_t> block;
	Packer p(plain.size(), level, [&](const void* b, size_t n) {
		block.insert(block.end(), static_cast<const uint8_t*>(b), static_cast<const uint8_t*>(b) + n);
		return true;
	});
	for (size_t at = 0; at < plain.size();)
	{
		const size_t n = rng ? std::min<size_t>(plain.size() - at, 1 + (*rng)() % (3 * kChunkBytes / 2)) : plain.size();
		EXPECT_TRUE(p.put(plain.data() + at, n));
		at += n;
	}
	EXPECT_TRUE(p.finish());
	return block;
}

// A reader of a block in memory.
struct BlockReader
{
	explicit BlockReader(const std::vector<uint8_t>& b)
	    : block(b), unpacker(
	                    b.size(),
	                    [this](void* out, size_t n) {
		                    if (n > block.size() - pos)
			                    return false;
		                    std::memcpy(out, block.data() + pos, n);
		                    pos += n;
		                    return true;
	                    },
	                    [this](uint64_t at, void* out, size_t n) {
		                    if (at > block.size() || n > block.size() - at)
			                    return false;
		                    std::memcpy(out, block.data() + at, n);
		                    return true;
	                    })
	{
	}
	const std::vector<uint8_t>& block;
	size_t pos = 0;
	Unpacker unpacker;
};

// The plain bytes back, in pieces rng picks: a third of a chunk at most, or
// (with whole) some several chunks long, which are unpacked straight into the
// destination; false when the block refuses.
bool unpack(const std::vector<uint8_t>& block, std::vector<uint8_t>* plain, std::mt19937& rng, bool whole = false)
{
	BlockReader r(block);
	if (!r.unpacker.begin())
		return false;
	plain->assign(static_cast<size_t>(r.unpacker.plainSize()), 0);
	for (size_t at = 0; at < plain->size();)
	{
		const size_t most = whole && rng() % 2 ? 3 * kChunkBytes + 11 : kChunkBytes / 3;
		const size_t n = std::min<size_t>(plain->size() - at, 1 + rng() % most);
		if (!r.unpacker.get(plain->data() + at, n))
			return false;
		at += n;
	}
	return r.unpacker.finish();
}

std::vector<uint8_t> legacyBlock(const std::vector<uint8_t>& plain)
{
	uLongf n = compressBound(static_cast<uLong>(plain.size()));
	std::vector<uint8_t> block(8 + n);
	const uint64_t size = plain.size();
	std::memcpy(block.data(), &size, 8);
	EXPECT_EQ(compress2(block.data() + 8, &n, plain.data(), static_cast<uLong>(plain.size()), 5), Z_OK);
	block.resize(8 + n);
	return block;
}

}  // namespace

TEST(Packing, PiecesOfAnySizeGiveTheSameBlockAndTheSameBytesBack)
{
	std::mt19937 rng(7);
	for (size_t size : {size_t(0), size_t(1), size_t(7), size_t(kChunkBytes - 1), size_t(kChunkBytes), size_t(kChunkBytes + 5),
	                    size_t(9 * kChunkBytes + 7)})
	{
		const std::vector<uint8_t> plain = weightsLike(size, static_cast<unsigned>(size));
		const std::vector<uint8_t> whole = pack(plain, nullptr);
		EXPECT_EQ(pack(plain, &rng), whole) << size << " bytes";
		EXPECT_LE(whole.size(), Packer::bound(size));
		std::vector<uint8_t> back;
		ASSERT_TRUE(unpack(whole, &back, rng)) << size << " bytes";
		EXPECT_TRUE(back == plain) << size << " bytes";
		ASSERT_TRUE(unpack(whole, &back, rng, true)) << size << " bytes, pieces of whole chunks";
		EXPECT_TRUE(back == plain) << size << " bytes, pieces of whole chunks";
		if (size > 4096)
		{
			EXPECT_LT(whole.size(), plain.size()) << "weights pack smaller";
		}
	}
	// Bytes that do not pack: the block hardly grows.
	std::vector<uint8_t> noise(3 * kChunkBytes / 2);
	for (uint8_t& b : noise)
		b = static_cast<uint8_t>(rng());
	const std::vector<uint8_t> block = pack(noise, &rng);
	EXPECT_LE(block.size(), Packer::bound(noise.size()));
	EXPECT_LT(block.size(), noise.size() + 200);
	std::vector<uint8_t> back;
	ASSERT_TRUE(unpack(block, &back, rng));
	EXPECT_TRUE(back == noise);
	// Level 0 stores every chunk; it still reads back.
	const std::vector<uint8_t> plain = weightsLike(kChunkBytes + 9, 3);
	ASSERT_TRUE(unpack(pack(plain, nullptr, 0), &back, rng));
	EXPECT_TRUE(back == plain);
}

TEST(Packing, AWriterGivenMoreOrLessThanItWasPromisedFails)
{
	std::vector<uint8_t> sink;
	auto emit = [&](const void* b, size_t n) {
		sink.insert(sink.end(), static_cast<const uint8_t*>(b), static_cast<const uint8_t*>(b) + n);
		return true;
	};
	const std::vector<uint8_t> plain = weightsLike(1000, 1);
	Packer shorter(plain.size(), 5, emit);
	EXPECT_TRUE(shorter.put(plain.data(), 999));
	EXPECT_FALSE(shorter.finish());
	Packer longer(plain.size() - 1, 5, emit);
	EXPECT_FALSE(longer.put(plain.data(), plain.size()));
	EXPECT_FALSE(longer.finish());
	// A sink that refuses fails the writer.
	Packer refused(plain.size(), 5, [](const void*, size_t) { return false; });
	EXPECT_FALSE(refused.put(plain.data(), plain.size()) && refused.finish());
}

TEST(Packing, BlocksOfTheFirstVersionStillRead)
{
	std::mt19937 rng(11);
	const std::vector<uint8_t> plain = weightsLike(2 * kChunkBytes + 3, 5);
	std::vector<uint8_t> block = legacyBlock(plain), back;
	ASSERT_TRUE(unpack(block, &back, rng));
	EXPECT_TRUE(back == plain);
	{
		BlockReader r(block);
		ASSERT_TRUE(r.unpacker.begin());
		EXPECT_EQ(r.unpacker.format(), 1);
	}
	// A byte behind the stream, a size the stream does not fill, a size beyond what zlib can expand to.
	std::vector<uint8_t> longer = block;
	longer.push_back(0);
	EXPECT_FALSE(unpack(longer, &back, rng));
	std::vector<uint8_t> bigger = block;
	const uint64_t more = plain.size() + 1;
	std::memcpy(bigger.data(), &more, 8);
	EXPECT_FALSE(unpack(bigger, &back, rng));
	std::vector<uint8_t> boundless = block;
	const uint64_t huge = uint64_t(block.size()) * 2000;
	std::memcpy(boundless.data(), &huge, 8);
	BlockReader r(boundless);
	EXPECT_FALSE(r.unpacker.begin());
}

TEST(Packing, DamagedBlocksAreRefusedBeforeTheirSizesAreTrusted)
{
	std::mt19937 rng(13);
	const std::vector<uint8_t> plain = weightsLike(3 * kChunkBytes + 100, 9);
	const std::vector<uint8_t> good = pack(plain, nullptr);
	std::vector<uint8_t> back;
	ASSERT_TRUE(unpack(good, &back, rng));

	// A plain size that promises another number of chunks, or far more than the block holds.
	for (uint64_t claim : {uint64_t(plain.size() + kChunkBytes), uint64_t(1) << 40, uint64_t(plain.size() - kChunkBytes)})
	{
		std::vector<uint8_t> b = good;
		std::memcpy(b.data() + 8, &claim, 8);
		BlockReader r(b);
		EXPECT_FALSE(r.unpacker.begin()) << claim;
	}
	// Every cut, every header byte and every table entry changed: refused, never a crash.
	for (size_t cut : {size_t(0), size_t(7), size_t(kHeaderBytes), good.size() / 2, good.size() - 1})
	{
		std::vector<uint8_t> b(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
		EXPECT_FALSE(unpack(b, &back, rng)) << "cut at " << cut;
	}
	for (size_t i = 0; i < kHeaderBytes; ++i)
	{
		if ((i >= 8 && i < 11) || i == 22)
			continue;  // the plain size's low bytes (checked by the chunks below) and the level, a note
		std::vector<uint8_t> b = good;
		b[i] ^= 0x40;
		EXPECT_FALSE(unpack(b, &back, rng)) << "header byte " << i;
	}
	for (size_t i = good.size() - 16; i < good.size(); ++i)
	{
		std::vector<uint8_t> b = good;
		b[i] ^= 0x01;
		EXPECT_FALSE(unpack(b, &back, rng)) << "table byte " << i;
	}
	// A plain size a little off within the last chunk: that chunk does not give it.
	std::vector<uint8_t> b = good;
	const uint64_t off = plain.size() - 1;
	std::memcpy(b.data() + 8, &off, 8);
	EXPECT_FALSE(unpack(b, &back, rng));
	// Damage inside a chunk's packed bytes, even a single bit: every frame's checksum catches it.
	for (size_t at : {kHeaderBytes + 20, good.size() / 2, good.size() - 4 * 4 - 2})
	{
		std::vector<uint8_t> d = good;
		d[at] ^= 0x10;
		EXPECT_FALSE(unpack(d, &back, rng)) << "damage at " << at;
		EXPECT_FALSE(unpack(d, &back, rng, true)) << "damage at " << at << ", pieces of whole chunks";
	}
}
