#include "vtnhost/memory.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "vtnhost/platform.h"

namespace vtnhost {
namespace {

// Every block starts at a multiple of 16 whatever malloc gives (8 on 32-bit
// Windows): the plug-in's operator new promises the compiler's default new
// alignment, 16 on every target we build, and its SSE2 code loads from such
// blocks with aligned operands. The header sits right before the block; the
// slack in front of it is recorded so the block can be given back.
constexpr size_t kBlockAlign = 16;
struct alignas(16) BlockHeader
{
	uint64_t offset;  // from the start of what malloc gave to the block
	uint64_t unused;
	uint64_t size;
	uint64_t magic;  // the 8 bytes right before the block: never all ones
};
constexpr uint64_t kMagic = 0x56544e48424c4b31ull;
static_assert(sizeof(BlockHeader) % kBlockAlign == 0, "block header");
constexpr size_t kOverhead = sizeof(BlockHeader) + kBlockAlign - 1;

BlockHeader* headerOf(void* block)
{
	return reinterpret_cast<BlockHeader*>(static_cast<char*>(block) - sizeof(BlockHeader));
}

char* rawOf(void* block) { return static_cast<char*>(block) - headerOf(block)->offset; }

// Where the block starts in raw memory from malloc or realloc.
char* blockIn(char* raw)
{
	const uintptr_t first = reinterpret_cast<uintptr_t>(raw) + sizeof(BlockHeader);
	return raw + (((first + kBlockAlign - 1) & ~uintptr_t(kBlockAlign - 1)) - reinterpret_cast<uintptr_t>(raw));
}

// The block in raw memory, its header written.
void* placeBlock(char* raw, size_t size)
{
	char* block = blockIn(raw);
	BlockHeader* h = headerOf(block);
	h->offset = static_cast<uint64_t>(block - raw);
	h->unused = 0;
	h->size = size;
	h->magic = kMagic;
	return block;
}

}  // namespace

Memory::~Memory() = default;

// Called with the mutex held.
void* Memory::failed(AllocRecord&& rec)
{
	if (rec.size >= largestFailure_.size)
		largestFailure_ = std::move(rec);
	return nullptr;
}

AllocRecord Memory::largestFailure() const
{
	std::lock_guard<std::mutex> lock(mutex_);
	return largestFailure_;
}

void Memory::clearFailures()
{
	std::lock_guard<std::mutex> lock(mutex_);
	largestFailure_ = AllocRecord{};
}

bool Memory::shouldFail()
{
	if (failCountdown_ < 0)
		return false;
	if (failCountdown_ == 0)
		return true;
	--failCountdown_;
	return false;
}

void* Memory::alloc(size_t size, int line, const char* source)
{
	std::lock_guard<std::mutex> lock(mutex_);
	AllocRecord rec{size, line, source ? source : ""};
	if (recording_)
		requests_.push_back(rec);
	if (shouldFail() || size > SIZE_MAX - kOverhead)
		return failed(std::move(rec));
	auto* raw = static_cast<char*>(std::malloc(kOverhead + size));
	if (!raw)
		return failed(std::move(rec));
	void* block = placeBlock(raw, size);
	platform::adviseLargeBlock(block, size);
	live_.emplace(block, std::move(rec));
	liveBytes_ += size;
	peakBytes_ = std::max(peakBytes_, liveBytes_);
	return block;
}

void* Memory::realloc(void* block, size_t size, int line, const char* source)
{
	if (!block)
		return alloc(size, line, source);
	std::lock_guard<std::mutex> lock(mutex_);
	AllocRecord rec{size, line, source ? source : ""};
	if (recording_)
		requests_.push_back(rec);
	auto it = live_.find(block);
	if (it == live_.end())
		return nullptr;
	if (shouldFail() || size > SIZE_MAX - kOverhead)
		return failed(std::move(rec));
	const size_t old = it->second.size;
	const size_t oldOffset = static_cast<size_t>(headerOf(block)->offset);
	auto* raw = static_cast<char*>(std::realloc(rawOf(block), kOverhead + size));
	if (!raw)
		return failed(std::move(rec));
	// realloc keeps the bytes at their offset from the start; where the new
	// start aligns differently, the contents move to the new block.
	char* contents = raw + oldOffset;
	char* moved = blockIn(raw);
	if (moved != contents)
		std::memmove(moved, contents, std::min(old, size));
	placeBlock(raw, size);
	live_.erase(it);
	live_.emplace(moved, std::move(rec));
	liveBytes_ = liveBytes_ - old + size;
	peakBytes_ = std::max(peakBytes_, liveBytes_);
	return moved;
}

void Memory::free(void* block)
{
	if (!block)
		return;
	std::lock_guard<std::mutex> lock(mutex_);
	auto it = live_.find(block);
	if (it == live_.end())
		std::abort();  // not ours: a double free or a foreign block is a fatal host error
	liveBytes_ -= it->second.size;
	live_.erase(it);
	std::free(rawOf(block));
}

bool Memory::owns(const void* block) const
{
	std::lock_guard<std::mutex> lock(mutex_);
	return live_.count(block) != 0;
}

size_t Memory::liveBlocks() const
{
	std::lock_guard<std::mutex> lock(mutex_);
	return live_.size();
}

size_t Memory::liveBytes() const
{
	std::lock_guard<std::mutex> lock(mutex_);
	return liveBytes_;
}

size_t Memory::peakBytes() const
{
	std::lock_guard<std::mutex> lock(mutex_);
	return peakBytes_;
}

void Memory::resetPeak()
{
	std::lock_guard<std::mutex> lock(mutex_);
	peakBytes_ = liveBytes_;
}

std::vector<AllocRecord> Memory::live() const
{
	std::lock_guard<std::mutex> lock(mutex_);
	std::vector<AllocRecord> out;
	out.reserve(live_.size());
	for (const auto& kv : live_)
		out.push_back(kv.second);
	return out;
}

std::vector<AllocRecord> Memory::requests() const
{
	std::lock_guard<std::mutex> lock(mutex_);
	return requests_;
}

void Memory::clearRequests()
{
	std::lock_guard<std::mutex> lock(mutex_);
	requests_.clear();
	recording_ = true;
}

void Memory::failAfter(long n)
{
	std::lock_guard<std::mutex> lock(mutex_);
	failCountdown_ = n < 0 ? -1 : n;
}

}  // namespace vtnhost
