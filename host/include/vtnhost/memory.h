// The host's allocator: every block carries a header of the host's own in front
// of it (never all ones, so the plug-in's look at the 8 bytes before a block
// stays inside the allocation), and every live block is accounted with the line
// number and source name its requester passed.
#ifndef VTNHOST_MEMORY_H
#define VTNHOST_MEMORY_H

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace vtnhost {

struct AllocRecord
{
	size_t size = 0;
	int line = 0;
	std::string source;
};

class Memory
{
public:
	Memory() = default;
	~Memory();
	Memory(const Memory&) = delete;
	Memory& operator=(const Memory&) = delete;

	// Null on failure (or when a failure was scheduled with failAfter).
	void* alloc(size_t size, int line, const char* source);
	// realloc semantics: null on failure, the old block stays valid.
	void* realloc(void* block, size_t size, int line, const char* source);
	void free(void* block);

	bool owns(const void* block) const;
	size_t liveBlocks() const;
	size_t liveBytes() const;
	// The most bytes live at once since the last resetPeak.
	size_t peakBytes() const;
	void resetPeak();
	std::vector<AllocRecord> live() const;

	// Every request (alloc and realloc) since the last clearRequests, in order.
	// Nothing is recorded before the first clearRequests, so long runs do not grow the log.
	std::vector<AllocRecord> requests() const;
	void clearRequests();

	// Lets the next n requests succeed and fails every one after them;
	// a negative n switches failure injection off.
	void failAfter(long n);

	// The largest request that failed since the last clearFailures, or a record
	// of size 0: what a program tells its user when memory ran out.
	AllocRecord largestFailure() const;
	void clearFailures();

private:
	bool shouldFail();
	void* failed(AllocRecord&& rec);

	mutable std::mutex mutex_;
	std::unordered_map<const void*, AllocRecord> live_;
	std::vector<AllocRecord> requests_;
	bool recording_ = false;
	size_t liveBytes_ = 0;
	size_t peakBytes_ = 0;
	long failCountdown_ = -1;
	AllocRecord largestFailure_;
};

}  // namespace vtnhost

#endif
