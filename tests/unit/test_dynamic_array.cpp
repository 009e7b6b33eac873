// GeDynamicArray against the stand-in host: layouts after growing and
// shrinking, which side moves, the requests the host sees, and that every
// refused or failed operation leaves the array as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "ge_dynamicarray.h"
#include "support/unit_host.h"

namespace {

const char* const kSource = "ge_dynamicarray";
const Int64 kMax = std::numeric_limits<Int64>::max();

template <typename T>
std::vector<T> Contents(const GeDynamicArray<T>& a)
{
	std::vector<T> v;
	for (Int64 i = 0; i < a.count; ++i)
		v.push_back(a[i]);
	return v;
}

std::vector<double> Range(int from, int to)
{
	std::vector<double> v;
	for (int i = from; i < to; ++i)
		v.push_back(i);
	return v;
}

// Appends 0, 1, ... n-1 (plus offset).
void Fill(GeDynamicArray<double>& a, int n, int offset = 0)
{
	for (int i = 0; i < n; ++i)
		ASSERT_TRUE(a.Append(i + offset));
}

template <typename T>
::testing::AssertionResult Consistent(const GeDynamicArray<T>& a)
{
	if (a.front < 0 || a.count < 0 || a.front + a.count > a.capacity)
		return ::testing::AssertionFailure() << "front " << a.front << " count " << a.count << " capacity " << a.capacity;
	if (a.capacity % a.blockSize != 0)
		return ::testing::AssertionFailure() << "capacity " << a.capacity << " not in blocks of " << a.blockSize;
	if ((a.block == nullptr) != (a.capacity == 0))
		return ::testing::AssertionFailure() << "storage and capacity disagree";
	if (a.block && a.data != a.block + a.front)
		return ::testing::AssertionFailure() << "data is not block + front";
	return ::testing::AssertionSuccess();
}

// Everything a refused or failed operation must leave alone.
template <typename T>
struct Snapshot
{
	explicit Snapshot(const GeDynamicArray<T>& a)
		: block(a.block), data(a.data), front(a.front), capacity(a.capacity), count(a.count), values(Contents(a))
	{
	}
	bool operator==(const Snapshot& o) const
	{
		return block == o.block && data == o.data && front == o.front && capacity == o.capacity &&
			count == o.count && values == o.values;
	}
	T* block;
	T* data;
	Int64 front, capacity, count;
	std::vector<T> values;
};

class DynamicArrayTest : public ::testing::Test
{
protected:
	static auto& mem() { return unitHost().memory(); }

	void SetUp() override
	{
		mem().failAfter(-1);
		mem().clearRequests();
		unitRecorder().criticalStops.clear();
		liveBefore_ = mem().liveBlocks();
	}
	void TearDown() override { mem().failAfter(-1); }

	// Size and line of every request since the last call, all checked to carry our source name.
	static std::vector<std::pair<size_t, int>> TakeRequests()
	{
		std::vector<std::pair<size_t, int>> out;
		for (const auto& r : mem().requests())
		{
			EXPECT_EQ(r.source, kSource);
			out.emplace_back(r.size, r.line);
		}
		mem().clearRequests();
		return out;
	}
	using Requests = std::vector<std::pair<size_t, int>>;

	size_t liveBefore_ = 0;
};

// ---- growth by appending -------------------------------------------------

TEST_F(DynamicArrayTest, AppendAllocatesWholeBlocksOncePerFourAppends)
{
	GeDynamicArray<double> a;
	ASSERT_TRUE(a.Append(7.5));
	EXPECT_EQ(a.count, 1);
	EXPECT_EQ(a.capacity, 4);
	EXPECT_EQ(a.front, 0);
	EXPECT_EQ(a[0], 7.5);
	EXPECT_EQ(TakeRequests(), (Requests{{4 * sizeof(double), 891}}));

	for (int i = 1; i < 4; ++i)
		ASSERT_TRUE(a.Append(7.5 + i));
	EXPECT_EQ(a.capacity, 4);
	EXPECT_TRUE(TakeRequests().empty());

	ASSERT_TRUE(a.Append(11.5));
	EXPECT_EQ(a.capacity, 8);
	EXPECT_EQ(a.count, 5);

	for (int i = 5; i < 12; ++i)
		ASSERT_TRUE(a.Append(7.5 + i));
	EXPECT_EQ(TakeRequests(), (Requests{{8 * sizeof(double), 892}, {12 * sizeof(double), 892}}));
	for (int i = 0; i < 12; ++i)
		EXPECT_EQ(a[i], 7.5 + i);
	EXPECT_TRUE(Consistent(a));
}

TEST_F(DynamicArrayTest, ByteSizesFollowTheElementSize)
{
	GeDynamicArray<float> f;
	GeDynamicArray<LVector> v;
	ASSERT_TRUE(f.Append(1.0f));
	ASSERT_TRUE(v.Append(LVector{1, 2, 3}));
	EXPECT_EQ(TakeRequests(), (Requests{{16, 891}, {96, 891}}));
}

// ---- front insertion -----------------------------------------------------

TEST_F(DynamicArrayTest, InsertAtStartOfFullFrontGrowsAtEndAndLeavesAGap)
{
	GeDynamicArray<double> a;
	Fill(a, 10, 1);
	ASSERT_EQ(a.capacity, 12);
	ASSERT_EQ(a.front, 0);
	TakeRequests();

	ASSERT_TRUE(a.InsertSpace(0, 1, 1, 1));
	EXPECT_EQ(a.capacity, 16);
	EXPECT_EQ(a.front, 3);
	EXPECT_EQ(a.count, 11);
	EXPECT_EQ(Contents(a), Range(0, 11));
	EXPECT_EQ(TakeRequests(), (Requests{{16 * sizeof(double), 855}}));
	EXPECT_TRUE(Consistent(a));
}

TEST_F(DynamicArrayTest, FrontGapIsUsedWithoutMovingTheTail)
{
	GeDynamicArray<double> a;
	Fill(a, 10);
	ASSERT_TRUE(a.InsertSpace(0, 1, 1, 1));  // front 3 now
	a[0] = -1;
	TakeRequests();
	const double* tailAt = &a[2];

	ASSERT_TRUE(a.InsertSpace(2, 2, 0, 0));
	EXPECT_EQ(a.front, 1);
	EXPECT_EQ(a.capacity, 16);
	EXPECT_EQ(a.count, 13);
	EXPECT_EQ(&a[4], tailAt);
	a[2] = 100;
	a[3] = 101;
	EXPECT_EQ(Contents(a), (std::vector<double>{-1, 0, 100, 101, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
	EXPECT_TRUE(TakeRequests().empty());
	EXPECT_TRUE(Consistent(a));
}

TEST_F(DynamicArrayTest, FrontInsertionBeyondTheGapKeepsHeadAndTailInOrder)
{
	GeDynamicArray<double> a;
	Fill(a, 10, 1);
	ASSERT_TRUE(a.InsertSpace(0, 2, 0, 0));  // grows by 4: front 2, capacity 16
	a[0] = -2;
	a[1] = -1;
	ASSERT_EQ(a.front, 2);

	// Three places at index 3 need one more place than the gap has.
	ASSERT_TRUE(a.InsertSpace(3, 3, 1, 0));
	EXPECT_EQ(a.capacity, 20);
	EXPECT_EQ(a.front, 3);
	EXPECT_EQ(Contents(a), (std::vector<double>{-2, -1, 1, 0, 0, 0, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
	EXPECT_TRUE(Consistent(a));
}

// ---- back insertion ------------------------------------------------------

TEST_F(DynamicArrayTest, InsertPastTheEndTurnsTheGapIntoZeroedElements)
{
	GeDynamicArray<double> a;
	Fill(a, 8, 100);
	ASSERT_TRUE(a.SetCount(5));  // keeps the storage, so places 5..7 still hold old values
	ASSERT_EQ(a.capacity, 8);

	ASSERT_TRUE(a.InsertSpace(7, 1, 1, 0));
	EXPECT_EQ(a.count, 8);
	EXPECT_EQ(Contents(a), (std::vector<double>{100, 101, 102, 103, 104, 0, 0, 0}));
	EXPECT_TRUE(Consistent(a));
}

TEST_F(DynamicArrayTest, InsertInSecondHalfMovesOnlyTheTail)
{
	GeDynamicArray<double> a;
	Fill(a, 10);
	TakeRequests();
	const double* headAt = &a[0];

	ASSERT_TRUE(a.InsertSpace(5, 2, 0, 0));  // the middle counts as second half
	EXPECT_EQ(&a[0], headAt);
	EXPECT_EQ(a.front, 0);
	EXPECT_EQ(a.capacity, 12);
	EXPECT_EQ(a.count, 12);
	for (int i = 0; i < 5; ++i)
		EXPECT_EQ(a[i], i);
	for (int i = 5; i < 10; ++i)
		EXPECT_EQ(a[i + 2], i);
	EXPECT_TRUE(TakeRequests().empty());

	ASSERT_TRUE(a.InsertSpace(11, 1, 1, 0));  // full now: grows at the end
	EXPECT_EQ(a.capacity, 16);
	EXPECT_EQ(a[11], 0);
	EXPECT_EQ(a[12], 9);
	EXPECT_EQ(TakeRequests(), (Requests{{16 * sizeof(double), 892}}));
}

TEST_F(DynamicArrayTest, ConstructSetsNewVectorsToZero)
{
	const LVector one{1, 2, 3};
	auto isZero = [](const LVector& v) { return v.x == 0 && v.y == 0 && v.z == 0; };

	GeDynamicArray<LVector> a;
	for (int i = 0; i < 8; ++i)
		ASSERT_TRUE(a.Append(one));
	ASSERT_TRUE(a.Remove(6, 2));  // storage keeps the old vectors behind the end

	// At the back, without clearing: only the construction can zero them.
	ASSERT_TRUE(a.InsertSpace(6, 2, 0, 1));
	EXPECT_TRUE(isZero(a[6]));
	EXPECT_TRUE(isZero(a[7]));

	// At the front: the new place is where an old element was.
	for (int i = 0; i < 8; ++i)
		a[i] = one;
	ASSERT_TRUE(a.Remove(0, 1));  // front 1
	ASSERT_TRUE(a.InsertSpace(1, 1, 0, 1));
	EXPECT_TRUE(isZero(a[1]));
	for (int i : {0, 2, 3, 4, 5, 6, 7})
		EXPECT_FALSE(isZero(a[i])) << i;

	// Appending constructs the place and then stores the value.
	ASSERT_TRUE(a.Append(one));
	EXPECT_EQ(a[8].z, 3);
}

TEST_F(DynamicArrayTest, InsertArgumentsOutsideTheRangeChangeNothing)
{
	GeDynamicArray<double> a;
	Fill(a, 10);
	TakeRequests();
	const Snapshot<double> before(a);

	EXPECT_TRUE(a.InsertSpace(3, 0, 1, 1));
	EXPECT_TRUE(a.InsertSpace(3, -2, 1, 1));
	EXPECT_FALSE(a.InsertSpace(-1, 1, 1, 1));
	EXPECT_FALSE(a.InsertSpace(-1, 0, 1, 1));  // the position is checked first
	EXPECT_TRUE(before == Snapshot<double>(a));
	EXPECT_TRUE(TakeRequests().empty());
}

// ---- removal -------------------------------------------------------------

TEST_F(DynamicArrayTest, RemoveInFirstHalfMovesOnlyTheHead)
{
	GeDynamicArray<double> a;
	Fill(a, 10);
	TakeRequests();
	double* const block = a.block;
	const double* tailAt = &a[4];

	ASSERT_TRUE(a.Remove(1, 3));
	EXPECT_EQ(a.front, 3);
	EXPECT_EQ(a.capacity, 12);
	EXPECT_EQ(a.block, block);
	EXPECT_EQ(&a[1], tailAt);
	EXPECT_EQ(Contents(a), (std::vector<double>{0, 4, 5, 6, 7, 8, 9}));
	EXPECT_TRUE(TakeRequests().empty());
	EXPECT_TRUE(Consistent(a));
}

TEST_F(DynamicArrayTest, RemoveInSecondHalfMovesOnlyTheTail)
{
	GeDynamicArray<double> a;
	Fill(a, 10);
	const double* headAt = &a[0];

	ASSERT_TRUE(a.Remove(5, 1));  // the middle counts as second half
	EXPECT_EQ(&a[0], headAt);
	EXPECT_EQ(a.front, 0);
	EXPECT_EQ(a.capacity, 12);
	EXPECT_EQ(Contents(a), (std::vector<double>{0, 1, 2, 3, 4, 6, 7, 8, 9}));
}

TEST_F(DynamicArrayTest, RemovalCountIsCutAtTheEnd)
{
	GeDynamicArray<double> a;
	Fill(a, 10);
	ASSERT_TRUE(a.Remove(8, kMax));
	EXPECT_EQ(Contents(a), Range(0, 8));
	ASSERT_TRUE(a.Remove(1, kMax));
	EXPECT_EQ(Contents(a), Range(0, 1));
	EXPECT_TRUE(Consistent(a));
}

// Each shrink case once, with the layout, the request and the state after it.
struct ShrinkCase
{
	const char* name;
	int blockSize;
	int fill;
	int changedBlockSize;  // set after filling, to get spare places at the end
	Int64 pos, n;
	std::vector<double> expected;
	Int64 capacity, front;
	int line;
};

std::vector<ShrinkCase> ShrinkCases()
{
	std::vector<double> frontCut{0};
	for (int i = 5; i < 10; ++i)
		frontCut.push_back(i);
	std::vector<double> backMiddle = Range(0, 6);
	backMiddle.push_back(10);
	backMiddle.push_back(11);
	return {
		// Survivors reach into the part given back.
		{"front removal, survivors at the end", 4, 10, 4, 1, 4, frontCut, 8, 0, 983},
		{"front removal from index 0", 4, 12, 4, 0, 4, Range(4, 12), 8, 0, 983},
		{"back removal in the middle", 4, 12, 4, 6, 4, backMiddle, 8, 0, 997},
		// Only unused places are given back.
		{"front removal, spare places at the end", 8, 10, 4, 1, 4, frontCut, 12, 0, 983},
		{"back removal at the end", 4, 10, 4, 5, 5, Range(0, 5), 8, 0, 997},
		// A front gap of more than one block keeps only the remainder.
		{"front removal, two blocks cut", 2, 10, 2, 1, 5, std::vector<double>{0, 6, 7, 8, 9}, 6, 1, 983},
		{"front removal, remainder kept", 4, 12, 4, 0, 5, Range(5, 12), 8, 1, 983},
	};
}

TEST_F(DynamicArrayTest, RemovalGivesBackWholeBlocks)
{
	for (const ShrinkCase& c : ShrinkCases())
	{
		SCOPED_TRACE(c.name);
		GeDynamicArray<double> a(c.blockSize);
		Fill(a, c.fill);
		a.blockSize = c.changedBlockSize;
		TakeRequests();

		ASSERT_TRUE(a.Remove(c.pos, c.n));
		EXPECT_EQ(Contents(a), c.expected);
		EXPECT_EQ(a.capacity, c.capacity);
		EXPECT_EQ(a.front, c.front);
		EXPECT_EQ(TakeRequests(), (Requests{{size_t(c.capacity) * sizeof(double), c.line}}));
		EXPECT_TRUE(Consistent(a));
		EXPECT_EQ(mem().liveBlocks(), liveBefore_ + 1);
	}
}

TEST_F(DynamicArrayTest, FailedShrinkLeavesTheArrayUsable)
{
	for (const ShrinkCase& c : ShrinkCases())
	{
		SCOPED_TRACE(c.name);
		GeDynamicArray<double> a(c.blockSize);
		Fill(a, c.fill);
		a.blockSize = c.changedBlockSize;
		const Snapshot<double> before(a);

		mem().failAfter(0);
		EXPECT_FALSE(a.Remove(c.pos, c.n));
		EXPECT_TRUE(before == Snapshot<double>(a));
		EXPECT_EQ(mem().liveBlocks(), liveBefore_ + 1);

		mem().failAfter(-1);
		ASSERT_TRUE(a.Remove(c.pos, c.n));
		EXPECT_EQ(Contents(a), c.expected);
		EXPECT_TRUE(Consistent(a));
	}
}

TEST_F(DynamicArrayTest, RemovingEverythingFromStartReleasesTheStorage)
{
	for (Int64 extra : {0, 1, 5})
	{
		SCOPED_TRACE(extra);
		GeDynamicArray<double> a;
		Fill(a, 10);
		ASSERT_TRUE(a.Remove(0, 2));  // with a front gap as well
		ASSERT_EQ(mem().liveBlocks(), liveBefore_ + 1);

		ASSERT_TRUE(a.Remove(0, a.count + extra));
		EXPECT_EQ(a.block, nullptr);
		EXPECT_EQ(a.data, nullptr);
		EXPECT_EQ(a.count, 0);
		EXPECT_EQ(a.capacity, 0);
		EXPECT_EQ(a.front, 0);
		EXPECT_EQ(a.blockSize, 4);
		EXPECT_EQ(mem().liveBlocks(), liveBefore_);

		ASSERT_TRUE(a.Append(3));
		EXPECT_EQ(a.capacity, 4);
		EXPECT_EQ(a.front, 0);
	}
}

TEST_F(DynamicArrayTest, RefusedRemovalsChangeNothing)
{
	GeDynamicArray<double> a;
	Fill(a, 10);
	TakeRequests();
	const Snapshot<double> before(a);

	EXPECT_FALSE(a.Remove(10, 1));
	EXPECT_FALSE(a.Remove(11, 1));
	EXPECT_FALSE(a.Remove(-1, 1));
	EXPECT_TRUE(a.Remove(3, 0));
	EXPECT_TRUE(a.Remove(-1, 0));  // the count is checked first
	EXPECT_TRUE(a.Remove(20, -4));
	EXPECT_TRUE(before == Snapshot<double>(a));
	EXPECT_TRUE(TakeRequests().empty());

	GeDynamicArray<double> empty;
	EXPECT_FALSE(empty.Remove(0, 1));
	EXPECT_EQ(empty.block, nullptr);
}

// ---- clearing ------------------------------------------------------------

TEST_F(DynamicArrayTest, ClearAndDestructionReleaseTheStorage)
{
	{
		GeDynamicArray<double> a(3);
		Fill(a, 7);
		ASSERT_EQ(mem().liveBlocks(), liveBefore_ + 1);
		a.Clear();
		EXPECT_EQ(mem().liveBlocks(), liveBefore_);
		EXPECT_EQ(a.block, nullptr);
		EXPECT_EQ(a.data, nullptr);
		EXPECT_EQ(a.count, 0);
		EXPECT_EQ(a.capacity, 0);
		EXPECT_EQ(a.blockSize, 3);

		ASSERT_TRUE(a.Append(1));
		EXPECT_EQ(a.capacity, 3);
		a.Clear();
		a.Clear();  // nothing left to release
	}
	{
		GeDynamicArray<LVector> a;
		ASSERT_TRUE(a.SetCount(9));
		ASSERT_TRUE(a.Remove(0, 1));
	}
	EXPECT_EQ(mem().liveBlocks(), liveBefore_);
}

TEST_F(DynamicArrayTest, SetCountResizesBothWays)
{
	GeDynamicArray<double> a;
	Fill(a, 8, 50);
	ASSERT_TRUE(a.SetCount(3));
	EXPECT_EQ(a.capacity, 4);
	ASSERT_TRUE(a.SetCount(6));
	EXPECT_EQ(Contents(a), (std::vector<double>{50, 51, 52, 0, 0, 0}));
	EXPECT_TRUE(a.SetCount(6));
	EXPECT_FALSE(a.SetCount(-1));
	EXPECT_EQ(a.count, 6);
	ASSERT_TRUE(a.SetCount(0));
	EXPECT_EQ(a.block, nullptr);
}

// ---- block size 0 --------------------------------------------------------

TEST_F(DynamicArrayTest, ZeroBlockSizeIsACriticalStop)
{
	GeDynamicArray<double> fresh(0);
	EXPECT_FALSE(fresh.InsertSpace(0, 1, 1, 1));
	EXPECT_FALSE(fresh.Append(1));
	EXPECT_EQ(fresh.count, 0);
	EXPECT_EQ(fresh.block, nullptr);
	EXPECT_TRUE(TakeRequests().empty());
	// Without storage the removal is refused before the block size is looked at.
	EXPECT_FALSE(fresh.Remove(0, 1));

	GeDynamicArray<double> a;
	Fill(a, 5);
	a.blockSize = 0;
	const Snapshot<double> before(a);
	EXPECT_FALSE(a.Remove(1, 1));
	EXPECT_TRUE(a.Remove(1, 0));
	EXPECT_FALSE(a.InsertSpace(5, 1, 1, 1));
	EXPECT_TRUE(before == Snapshot<double>(a));

	// A negative block size would make every size computation meaningless.
	GeDynamicArray<double> negative(-4);
	EXPECT_FALSE(negative.Append(1));
	EXPECT_EQ(negative.block, nullptr);

	std::vector<std::pair<int, std::string>> stops;
	for (const auto& s : unitRecorder().criticalStops)
		stops.emplace_back(s.line, s.source);
	EXPECT_EQ(stops, (std::vector<std::pair<int, std::string>>{
		{832, kSource}, {832, kSource}, {948, kSource}, {832, kSource}, {832, kSource}}));
	unitRecorder().criticalStops.clear();
}

// ---- failures while growing ----------------------------------------------

TEST_F(DynamicArrayTest, FailedFirstAllocationLeavesAnEmptyArray)
{
	GeDynamicArray<double> a;
	mem().failAfter(0);
	EXPECT_FALSE(a.Append(1));
	EXPECT_EQ(a.block, nullptr);
	EXPECT_EQ(a.data, nullptr);
	EXPECT_EQ(a.count, 0);
	EXPECT_EQ(a.capacity, 0);

	mem().failAfter(-1);
	ASSERT_TRUE(a.Append(1));
	EXPECT_EQ(a.capacity, 4);
}

TEST_F(DynamicArrayTest, FailedGrowthKeepsTheArrayAsItWas)
{
	struct Case
	{
		const char* name;
		Int64 pos, n;
	};
	// 12 elements fill the storage exactly; each insertion needs more.
	for (const Case& c : {Case{"front, no gap", 0, 1}, Case{"front, inside", 4, 3}, Case{"back", 8, 2},
						  Case{"end", 12, 1}, Case{"past the end", 20, 1}})
	{
		SCOPED_TRACE(c.name);
		GeDynamicArray<double> a;
		Fill(a, 12);
		const Snapshot<double> before(a);

		mem().failAfter(0);
		EXPECT_FALSE(a.InsertSpace(c.pos, c.n, 1, 1));
		EXPECT_TRUE(before == Snapshot<double>(a));
		EXPECT_TRUE(Consistent(a));

		mem().failAfter(-1);
		ASSERT_TRUE(a.InsertSpace(c.pos, c.n, 1, 1));
		EXPECT_EQ(a.count, std::max<Int64>(c.pos, 12) + c.n);
		EXPECT_TRUE(Consistent(a));
	}
}

TEST_F(DynamicArrayTest, OversizedInsertionsAreRefusedWithoutRequests)
{
	GeDynamicArray<double> a;
	Fill(a, 10);
	TakeRequests();
	const Snapshot<double> before(a);

	EXPECT_FALSE(a.InsertSpace(0, kMax / 2, 0, 0));    // front: byte size overflows
	EXPECT_FALSE(a.InsertSpace(2, kMax - 10, 0, 0));   // front: capacity overflows
	EXPECT_FALSE(a.InsertSpace(10, kMax / 4, 0, 0));   // back: byte size overflows
	EXPECT_FALSE(a.InsertSpace(10, kMax - 10, 0, 0));  // back: capacity overflows
	EXPECT_FALSE(a.InsertSpace(3, kMax - 9, 0, 0));    // element count overflows
	EXPECT_FALSE(a.InsertSpace(kMax, 1, 0, 0));        // element count overflows
	EXPECT_FALSE(a.InsertSpace(kMax - 5, 5, 0, 0));    // capacity overflows
	EXPECT_TRUE(before == Snapshot<double>(a));
	EXPECT_TRUE(TakeRequests().empty());

	ASSERT_TRUE(a.InsertSpace(0, 1, 1, 1));
	EXPECT_EQ(a.front, 3);
}

// ---- against a reference -------------------------------------------------

TEST_F(DynamicArrayTest, MatchesAVectorUnderRandomInsertsAndRemoves)
{
	for (Int64 blockSize : {1, 3, 4, 7})
	{
		SCOPED_TRACE(blockSize);
		std::mt19937 rng(20240611u + static_cast<unsigned>(blockSize));
		auto pick = [&rng](Int64 lo, Int64 hi) { return std::uniform_int_distribution<Int64>(lo, hi)(rng); };
		GeDynamicArray<double> a(blockSize);
		std::vector<double> ref;
		double next = 1;

		for (int step = 0; step < 4000; ++step)
		{
			const Int64 count = static_cast<Int64>(ref.size());
			const int op = static_cast<int>(pick(0, 9));
			if (op < 5)
			{
				// Insert, sometimes past the end; every new place gets its own value.
				const Int64 pos = pick(0, count + 2);
				const Int64 n = pick(0, 5);
				ASSERT_TRUE(a.InsertSpace(pos, n, 1, 0));
				if (n > 0)
				{
					if (pos > count)
						ref.resize(static_cast<size_t>(pos), 0.0);
					ref.insert(ref.begin() + pos, static_cast<size_t>(n), 0.0);
					for (Int64 i = (pos < count ? pos : count); i < pos + n; ++i)
					{
						ASSERT_EQ(a[i], 0.0);
						a[i] = ref[static_cast<size_t>(i)] = next++;
					}
				}
			}
			else if (op < 9)
			{
				const Int64 pos = pick(0, count);
				const Int64 n = pick(0, 6);
				const bool valid = n < 1 || pos < count;
				ASSERT_EQ(a.Remove(pos, n), valid);
				if (valid && n > 0)
					ref.erase(ref.begin() + pos, ref.begin() + std::min(count, pos + n));
			}
			else if (pick(0, 9) == 0)
			{
				ASSERT_TRUE(a.SetCount(0));
				ref.clear();
			}
			else
			{
				ASSERT_TRUE(a.Append(next));
				ref.push_back(next++);
			}
			ASSERT_TRUE(Consistent(a)) << "step " << step;
			ASSERT_EQ(Contents(a), ref) << "step " << step;
			ASSERT_EQ(a.block == nullptr, ref.empty()) << "step " << step;
			ASSERT_EQ(mem().liveBlocks(), liveBefore_ + (a.block ? 1 : 0)) << "step " << step;
		}
	}
}

}  // namespace
