// Memory routing of the plug-in layer: the system allocator before attach,
// the host's allocator after it, and the release rule that tells them apart.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "support/unit_host.h"
#include "vtnhost/memory.h"
#include "vtn_memory.h"
#include "vtn_pmain.h"

namespace {

// Detaches the layer for the duration of a scope, as before the first attach.
class Detached
{
public:
	Detached() : saved_(t_VTNOS) { InitOS(nullptr); }
	~Detached() { InitOS(saved_); }

private:
	VTNOS* saved_;
};

struct Probe
{
	explicit Probe(int v) : value(v) {}
	int value;
};

}  // namespace

TEST(MemoryRouting, BlocksFromBeforeAttachGoBackToTheSystemAllocator)
{
	unsigned char* early;
	{
		Detached detached;
		early = static_cast<unsigned char*>(VtnMemAlloc(10, 1, "early"));
		ASSERT_NE(early, nullptr);
	}
	EXPECT_TRUE(VtnStdlibMemUsed());
	for (int i = 1; i <= 8; ++i)
		EXPECT_EQ(early[-i], 0xFF) << "marker byte " << i;
	for (int i = 0; i < 10; ++i)
		EXPECT_EQ(early[i], 0) << "the early block is zero-filled";
	EXPECT_FALSE(unitHost().memory().owns(early));

	// Attached now: a new block comes from the host, and each block goes back where it came from
	// (the host aborts on a block it does not know).
	const size_t live = unitHost().memory().liveBlocks();
	void* late = VtnMemAlloc(16, 2, "late");
	EXPECT_TRUE(unitHost().memory().owns(late));
	VtnMemFree(early);
	EXPECT_EQ(unitHost().memory().liveBlocks(), live + 1);
	VtnMemFree(late);
	EXPECT_EQ(unitHost().memory().liveBlocks(), live);
}

TEST(MemoryRouting, RequestsCarryTheCallersLineAndSource)
{
	auto& mem = unitHost().memory();
	mem.clearRequests();
	void* zero = VtnMemAlloc(0, 7, "zero");
	Probe* probe = NewObj(Probe, 42);
	ASSERT_NE(zero, nullptr);
	ASSERT_NE(probe, nullptr);
	EXPECT_EQ(probe->value, 42);
	const auto requests = mem.requests();
	ASSERT_EQ(requests.size(), 2u);
	EXPECT_EQ(requests[0].size, 1u) << "a zero-size request asks the host for one byte";
	EXPECT_EQ(requests[0].line, 7);
	EXPECT_EQ(requests[0].source, "zero");
	EXPECT_EQ(requests[1].size, sizeof(Probe));
	EXPECT_GT(requests[1].line, 0);
	EXPECT_NE(requests[1].source.find("test_memory"), std::string::npos);
	VtnMemFree(zero);
	DeleteObj(probe);
	EXPECT_EQ(probe, nullptr);
}

TEST(MemoryRouting, FailuresComeBackAsNull)
{
	auto& mem = unitHost().memory();
	mem.failAfter(0);
	EXPECT_EQ(VtnMemAlloc(8, 1, "x"), nullptr);
	EXPECT_EQ(NewObj(Probe, 1), nullptr);
	EXPECT_EQ(NewMem(float, 100), nullptr);
	mem.failAfter(-1);
	EXPECT_EQ(NewMem(float, -1), nullptr) << "a negative count is refused before the host is asked";
}

TEST(MemoryRouting, TheLargestFailedRequestIsKeptForTheUser)
{
	// What the tool reports when a bind runs out of memory: the request that
	// failed, not one of the small ones that succeeded around it.
	vtnhost::Memory mem;
	EXPECT_EQ(mem.largestFailure().size, 0u);
	void* small = mem.alloc(64, 1, "small");
	ASSERT_NE(small, nullptr);
	mem.failAfter(0);
	EXPECT_EQ(mem.alloc(1000, 2, "weights"), nullptr);
	EXPECT_EQ(mem.alloc(10, 3, "scratch"), nullptr);
	EXPECT_EQ(mem.realloc(small, 500, 4, "grow"), nullptr);
	vtnhost::AllocRecord failed = mem.largestFailure();
	EXPECT_EQ(failed.size, 1000u);
	EXPECT_EQ(failed.line, 2);
	EXPECT_EQ(failed.source, "weights");
	mem.failAfter(-1);
	// A request beyond any address space fails by itself, without injection.
	EXPECT_EQ(mem.alloc(SIZE_MAX - 8, 5, "absurd"), nullptr);
	EXPECT_EQ(mem.largestFailure().size, SIZE_MAX - 8);
	mem.clearFailures();
	EXPECT_EQ(mem.largestFailure().size, 0u);
	void* more = mem.alloc(100, 6, "fine");
	EXPECT_NE(more, nullptr);
	EXPECT_EQ(mem.largestFailure().size, 0u) << "successes leave no record";
	mem.free(more);
	mem.free(small);
}

TEST(MemoryRouting, GeFreeReleasesAndClearsThePointer)
{
	const size_t live = unitHost().memory().liveBlocks();
	void* p = GeAlloc(32, 1, "t");
	ASSERT_NE(p, nullptr);
	_GeFree(&p);
	EXPECT_EQ(p, nullptr);
	EXPECT_EQ(unitHost().memory().liveBlocks(), live);
	_GeFree(&p);  // null: nothing happens
	EXPECT_EQ(p, nullptr);
	_GeFree(nullptr);
}

TEST(MemoryRouting, ReallocationKeepsTheContents)
{
	auto* p = static_cast<unsigned char*>(GeAlloc(4, 1, "t"));
	ASSERT_NE(p, nullptr);
	std::memcpy(p, "abcd", 4);
	auto* q = static_cast<unsigned char*>(GeRealloc(p, 4096, 2, "t"));
	ASSERT_NE(q, nullptr);
	EXPECT_EQ(std::memcmp(q, "abcd", 4), 0);
	unitHost().memory().failAfter(0);
	EXPECT_EQ(GeRealloc(q, 1 << 20, 3, "t"), nullptr);
	unitHost().memory().failAfter(-1);
	EXPECT_EQ(std::memcmp(q, "abcd", 4), 0) << "a failed reallocation leaves the block alone";
	GeFree(q);
}

// The compiler takes every operator new block as aligned to its default new
// alignment (16 on every target, 32-bit Windows included, where malloc gives
// only 8), and the SSE2 code loads such blocks with aligned operands.
TEST(MemoryRouting, EveryBlockIsAlignedAsOperatorNewPromises)
{
	constexpr uintptr_t kAlign = __STDCPP_DEFAULT_NEW_ALIGNMENT__;
	auto aligned = [](const void* p) { return reinterpret_cast<uintptr_t>(p) % kAlign == 0; };
	std::vector<void*> early, late;
	{
		Detached detached;
		for (size_t n = 1; n < 200; n += 7)
			early.push_back(VtnMemAlloc(n, 1, "early"));
	}
	for (size_t n = 1; n < 200; n += 7)
		late.push_back(VtnMemAlloc(n, 2, "late"));
	for (void* p : early)
		EXPECT_TRUE(aligned(p)) << "before attach: " << p;
	for (void* p : late)
		EXPECT_TRUE(aligned(p)) << "after attach: " << p;

	// Growing and shrinking keeps the contents, at an aligned address each time.
	unsigned char* grown = static_cast<unsigned char*>(late.back());
	for (int i = 0; i < 190; ++i)
		grown[i] = static_cast<unsigned char>(i * 7);
	for (size_t n : {4000u, 100000u, 150u, 3u})
	{
		grown = static_cast<unsigned char*>(GeRealloc(grown, n, 3, "grown"));
		ASSERT_NE(grown, nullptr);
		EXPECT_TRUE(aligned(grown)) << n;
		for (size_t i = 0; i < std::min<size_t>(n, 150); ++i)
			ASSERT_EQ(grown[i], static_cast<unsigned char>(i * 7)) << "byte " << i << " after resizing to " << n;
	}
	late.back() = grown;
	for (void* p : early)
		VtnMemFree(p);
	for (void* p : late)
		VtnMemFree(p);
}
