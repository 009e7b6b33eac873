// The weight tables and the binding record: one block per table, its shape,
// its copy, its release, and its place in the scene file's block.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "object/morvex_weights.h"
#include "support/unit_host.h"
#include "vtn_memory.h"

namespace {

class Weights : public ::testing::Test
{
protected:
	void SetUp() override { baseline = unitHost().memory().liveBlocks(); }
	void TearDown() override
	{
		unitHost().memory().failAfter(-1);
		EXPECT_EQ(unitHost().memory().liveBlocks(), baseline) << "blocks left behind";
	}
	size_t live() const { return unitHost().memory().liveBlocks() - baseline; }

	// Weights that tell every place apart.
	static void number(WeightTable& t, float base)
	{
		for (Int64 i = 0; i < t.Count(); ++i)
			t.Data()[i] = base + float(i);
	}

	size_t baseline = 0;
};

}  // namespace

TEST_F(Weights, ATableIsOneZeroedBlockWithRowsAtTheirOffsets)
{
	WeightTable t;
	EXPECT_FALSE(t);
	ASSERT_TRUE(t.Allocate(3, 5));
	EXPECT_EQ(live(), 1u) << "one block, no row array";
	EXPECT_EQ(t.Rows(), 3);
	EXPECT_EQ(t.Cols(), 5);
	EXPECT_EQ(t.Count(), 15);
	for (Int64 i = 0; i < t.Count(); ++i)
		ASSERT_EQ(t.Data()[i], 0.0f) << i;
	EXPECT_EQ(t[0], t.Data());
	EXPECT_EQ(t[2], t.Data() + 10);
	number(t, 1);
	ASSERT_TRUE(t.Allocate(2, 2)) << "a table made anew";
	EXPECT_EQ(t[1][1], 0.0f);
	EXPECT_EQ(live(), 1u);
	t.Free();
	EXPECT_FALSE(t);
	EXPECT_EQ(t.Rows() + t.Cols(), 0);
	EXPECT_EQ(live(), 0u);
	t.Free();  // an empty table stays empty

	ASSERT_TRUE(t.Allocate(4, 0)) << "rows without columns: a table all the same";
	EXPECT_EQ(t.Count(), 0);
}

TEST_F(Weights, BadShapesAndExhaustedMemoryLeaveTheTableEmpty)
{
	WeightTable t;
	for (auto [rows, cols] : {std::pair{0, 3}, {-1, 3}, {3, -1}})
	{
		ASSERT_TRUE(t.Allocate(2, 2));
		EXPECT_FALSE(t.Allocate(rows, cols)) << rows << " x " << cols;
		EXPECT_FALSE(t) << "the old block is gone too";
		EXPECT_EQ(live(), 0u);
	}
	unitHost().memory().failAfter(0);
	EXPECT_FALSE(t.Allocate(2, 2));
	EXPECT_FALSE(t);

	// The size is formed in 64 bits: 2^16 x (2^16 + 1) floats ask for 16 GiB and
	// more. Where a size_t has 32 bits that size has no size_t, and the request
	// is refused before the host is asked; it must not wrap to a small block.
	unitHost().memory().clearRequests();
	EXPECT_FALSE(t.Allocate(65536, 65537));
	const auto requests = unitHost().memory().requests();
	if (sizeof(size_t) >= 8)
	{
		ASSERT_EQ(requests.size(), 1u);
		EXPECT_EQ(requests[0].size, size_t(4) * 65536 * 65537);
	}
	else
		EXPECT_EQ(requests.size(), 0u) << "a size no address space holds is refused before it is asked for";
	unitHost().memory().failAfter(-1);
}

TEST_F(Weights, ACopyHasTheShapeAndTheBitsInABlockOfItsOwn)
{
	WeightTable a, b;
	ASSERT_TRUE(a.Allocate(3, 4));
	number(a, -5.5f);
	a[1][2] = -0.0f;
	ASSERT_TRUE(b.CopyFrom(a));
	EXPECT_EQ(b.Rows(), 3);
	EXPECT_EQ(b.Cols(), 4);
	EXPECT_NE(b.Data(), a.Data());
	EXPECT_EQ(std::memcmp(a.Data(), b.Data(), 12 * sizeof(float)), 0);
	b[0][0] = 99;
	EXPECT_EQ(a[0][0], -5.5f);

	WeightTable empty;
	EXPECT_FALSE(b.CopyFrom(empty));
	EXPECT_FALSE(b);
	unitHost().memory().failAfter(0);
	EXPECT_FALSE(b.CopyFrom(a));
	EXPECT_FALSE(b);
}

TEST_F(Weights, TheStreamBlockIsPsiThenFiRowAfterRow)
{
	Cobjbuff* r = NewObj(Cobjbuff);
	r->pointCount = 2;
	r->cagePointCount = 3;
	r->faceCount = 1;
	ASSERT_TRUE(r->FI.Allocate(2, 3));
	ASSERT_TRUE(r->PSI.Allocate(2, 1));
	EXPECT_TRUE(HasTables(*r));
	number(r->FI, 100);
	number(r->PSI, -1);
	ASSERT_EQ(StreamFloats(*r), 8);
	std::vector<float> block(8, 7.0f);
	PutStreamBlock(*r, block.data());
	EXPECT_EQ(block, (std::vector<float>{-1, 0, 100, 101, 102, 103, 104, 105}));

	// Back into a record of the same counts.
	Cobjbuff* back = NewObj(Cobjbuff);
	back->pointCount = 2;
	back->cagePointCount = 3;
	back->faceCount = 1;
	ASSERT_TRUE(TakeStreamBlock(*back, block.data()));
	ASSERT_TRUE(HasTables(*back));
	EXPECT_EQ(std::memcmp(back->FI.Data(), r->FI.Data(), 6 * sizeof(float)), 0);
	EXPECT_EQ(back->PSI[1][0], 0.0f);

	// A table that is missing keeps its place, as zeros.
	r->FI.Free();
	EXPECT_FALSE(HasTables(*r));
	std::fill(block.begin(), block.end(), 7.0f);
	PutStreamBlock(*r, block.data());
	EXPECT_EQ(block, (std::vector<float>{-1, 0, 0, 0, 0, 0, 0, 0}));

	// Memory exhausted half-way: no tables at all.
	FreeRecord(back);
	EXPECT_EQ(back, nullptr);
	back = NewObj(Cobjbuff);
	back->pointCount = 2;
	back->cagePointCount = 3;
	back->faceCount = 1;
	unitHost().memory().failAfter(1);
	EXPECT_FALSE(TakeStreamBlock(*back, block.data()));
	unitHost().memory().failAfter(-1);
	EXPECT_FALSE(back->PSI);
	EXPECT_FALSE(back->FI);
	FreeRecord(back);
	FreeRecord(r);
}

TEST_F(Weights, CountsAndShapesMustAgree)
{
	Cobjbuff r;
	r.pointCount = 100000;
	r.cagePointCount = 20000;
	r.faceCount = 30000;
	EXPECT_EQ(StreamFloats(r), 5000000000LL) << "counted in 64 bits";
	r.pointCount = 2;
	r.cagePointCount = 3;
	r.faceCount = 1;
	ASSERT_TRUE(r.FI.Allocate(2, 3));
	ASSERT_TRUE(r.PSI.Allocate(2, 1));
	EXPECT_TRUE(HasTables(r));
	r.faceCount = 2;
	EXPECT_FALSE(HasTables(r)) << "a PSI row shorter than the faces counted";
	r.faceCount = 1;
	r.pointCount = 3;
	EXPECT_FALSE(HasTables(r)) << "fewer rows than points counted";
}
