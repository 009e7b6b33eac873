// The host's compressed blocks (compression library 1011188), and the reader
// of the blocks earlier versions wrote.
//
// A block of this version:
//   "VTNPACK1", u64 plain size, u32 chunk size, u8 codec (1: zstd), u8 filter
//   (1: the bytes of each 4-byte word gathered by their place in the word),
//   i8 level (a note: readers need not know it), u8 0; then every chunk's
//   stored bytes in order (a zstd frame with its checksum, or with level 0
//   the bytes as they are); then one u32 per chunk: its stored size, its top
//   bit set when the chunk is stored as it is.
// Chunks are independent, so the workers pack and unpack them side by side,
// and a block is written and read in pieces of any size: the same plain bytes
// give the same block however they are handed over. The table of stored sizes
// sits at the end because a writer knows them only at the end; a reader checks
// it against the block's length before it trusts the plain size.
//
// A block of the first version: u64 plain size, then a zlib stream. Its first
// eight bytes never read "VTNPACK1" (that plain size would pass 2^32, which the
// first version refused), and that version refuses a block of this one.
#ifndef VTNHOST_PACKING_H
#define VTNHOST_PACKING_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace vtnhost {
namespace packing {

constexpr char kMagic[8] = {'V', 'T', 'N', 'P', 'A', 'C', 'K', '1'};
constexpr size_t kHeaderBytes = 24;
constexpr uint32_t kChunkBytes = 1u << 20;
constexpr uint8_t kCodecZstd = 1;
constexpr uint8_t kFilterShuffle4 = 1;
constexpr uint32_t kStoredRaw = 0x80000000u;
// The zstd level the host packs with; level 0 from a caller stores the chunks as they are.
constexpr int kZstdLevel = 1;

// Runs job(context, i) for i = 0 .. count-1, on whatever threads, and returns when all ran.
using Parallel = std::function<void(void (*job)(void*, int64_t), void* context, int64_t count)>;
// Every index on the calling thread.
void serial(void (*job)(void*, int64_t), void* context, int64_t count);

// The 4-byte shuffle and its inverse over n bytes (a tail of n % 4 bytes stays in place).
void shuffle4(const uint8_t* in, uint8_t* out, size_t n);
void unshuffle4(const uint8_t* in, uint8_t* out, size_t n);

// One chunk: appends its stored bytes to out and returns its table entry.
uint32_t packChunk(const uint8_t* plain, size_t n, int level, std::vector<uint8_t>& scratch, std::vector<uint8_t>& out);
// One chunk back into exactly n plain bytes; false when it does not give exactly those.
bool unpackChunk(const uint8_t* stored, size_t stored_n, uint32_t entry, uint8_t* plain, size_t n, std::vector<uint8_t>& scratch);

// Takes the plain bytes in pieces and hands the block on through emit, in order.
class Packer
{
public:
	using Emit = std::function<bool(const void* bytes, size_t n)>;
	Packer(uint64_t plain_size, int level, Emit emit, Parallel parallel = serial);
	~Packer();
	// False once anything failed (emit refused, or more bytes than announced).
	bool put(const void* data, size_t n);
	// True when exactly the announced bytes came and the whole block went out.
	bool finish();
	// The largest block plain_size bytes can make.
	static uint64_t bound(uint64_t plain_size);

private:
	struct Impl;
	std::unique_ptr<Impl> impl_;
};

// Gives back the plain bytes of a block in pieces of any size. The block is
// reached through read (the next n stored bytes) and readAt (n bytes at an
// offset from the block's start, for the table at its end); it is
// stored_size bytes long.
class Unpacker
{
public:
	using Read = std::function<bool(void* out, size_t n)>;
	using ReadAt = std::function<bool(uint64_t offset, void* out, size_t n)>;
	Unpacker(uint64_t stored_size, Read read, ReadAt read_at, Parallel parallel = serial);
	~Unpacker();
	// Reads and checks the header (and the table); false for a damaged block.
	bool begin();
	uint64_t plainSize() const;
	// The next n plain bytes; false when the block does not give them.
	bool get(void* out, size_t n);
	// True when every plain byte was taken and every stored byte read and checked.
	bool finish();
	// Which format the block is in: 0 before begin, 1 the first (zlib), 2 this one.
	int format() const;

private:
	struct Impl;
	std::unique_ptr<Impl> impl_;
};

// The plain size a block announces, from its first bytes (either format), with
// the stored size checked as begin() does; false when the block is damaged.
bool plainSizeOf(uint64_t stored_size, const Unpacker::Read& read, const Unpacker::ReadAt& read_at, uint64_t* plain);

}  // namespace packing
}  // namespace vtnhost

#endif
