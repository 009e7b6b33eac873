#include "vtnhost/memory.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace vtnhost {
namespace {

// 16 bytes keep the user block as aligned as malloc's own.
struct alignas(16) BlockHeader
{
	uint64_t magic;
	uint64_t size;
};
constexpr uint64_t kMagic = 0x56544e48424c4b31ull;  // never all ones
static_assert(sizeof(BlockHeader) == 16, "block header");

BlockHeader* headerOf(void* block)
{
	return reinterpret_cast<BlockHeader*>(static_cast<char*>(block) - sizeof(BlockHeader));
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
	if (shouldFail() || size > SIZE_MAX - sizeof(BlockHeader))
		return failed(std::move(rec));
	auto* h = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + size));
	if (!h)
		return failed(std::move(rec));
	h->magic = kMagic;
	h->size = size;
	void* block = h + 1;
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
	if (shouldFail() || size > SIZE_MAX - sizeof(BlockHeader))
		return failed(std::move(rec));
	const size_t old = it->second.size;
	auto* h = static_cast<BlockHeader*>(std::realloc(headerOf(block), sizeof(BlockHeader) + size));
	if (!h)
		return failed(std::move(rec));
	h->size = size;
	live_.erase(it);
	void* moved = h + 1;
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
	std::free(headerOf(block));
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
