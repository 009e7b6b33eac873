// The deformer's own state: defaults, bindings, rest pose, memory figure, reset and release.
#include <gtest/gtest.h>

#include "object/morvex.h"
#include "support/morvex_access.h"
#include "support/unit_host.h"
#include "vtn_memory.h"
#include "vtn_register.h"

namespace {

class MorvexState : public ::testing::Test
{
protected:
	void SetUp() override
	{
		if (!unitHost().findRegistration(ID_MORVEXER))
		{
			ASSERT_TRUE(RegisterObjectPlugin(ID_MORVEXER, String("Morvexer"), OBJECT_MODIFIER, Morvex::Alloc, String(), nullptr, 0));
		}
		baseline = unitHost().memory().liveBlocks();
		node = unitHost().createNode(ID_MORVEXER);
		ASSERT_NE(node, nullptr);
		m = static_cast<Morvex*>(node->nodeData());
	}
	void TearDown() override
	{
		unitHost().destroyNode(node);
		EXPECT_EQ(unitHost().memory().liveBlocks(), baseline) << "the deformer left blocks behind";
	}

	// A record with real weight tables of the given shape.
	static Cobjbuff* record(Int32 points, Int32 cage_points, Int32 faces)
	{
		Cobjbuff* rec = NewObj(Cobjbuff);
		rec->pointCount = points;
		rec->cagePointCount = cage_points;
		rec->faceCount = faces;
		rec->FI.Allocate(points, cage_points);
		rec->PSI.Allocate(points, faces);
		return rec;
	}
	void addRestPose(int points, int faces)
	{
		for (int i = 0; i < points; ++i)
			ASSERT_TRUE(internals(m).restPoints.Append(LVector{double(i), 0, 0}));
		for (int i = 0; i < faces; ++i)
			ASSERT_TRUE(internals(m).restAreas.Append(0.5f * i));
	}
	const vtnhost::Value* param(Int32 id) const { return node->container().find(id); }

	size_t baseline = 0;
	vtnhost::Node* node = nullptr;
	Morvex* m = nullptr;
};

}  // namespace

TEST_F(MorvexState, ANewInstanceStartsEmptyWithIdentityRestMatrix)
{
	EXPECT_EQ(internals(m).cageDirty, 0);
	EXPECT_EQ(internals(m).memoryUsed, 0);
	EXPECT_EQ(internals(m).bindArmed, 0);
	EXPECT_EQ(internals(m).random.State(), 100u);
	for (Int64 bs : {internals(m).bindings.blockSize, internals(m).restPoints.blockSize, internals(m).restAreas.blockSize})
		EXPECT_EQ(bs, 4);
	EXPECT_EQ(internals(m).bindings.GetCount() + internals(m).restPoints.GetCount() + internals(m).restAreas.GetCount(), 0);
	const LMatrix& r = internals(m).restMatrix;
	EXPECT_EQ(r.off.x + r.off.y + r.off.z, 0);
	EXPECT_EQ(r.v1.x * r.v2.y * r.v3.z, 1);
	EXPECT_EQ(r.v1.y + r.v1.z + r.v2.x + r.v2.z + r.v3.x + r.v3.y, 0);
}

TEST_F(MorvexState, MemoryFigureCountsFourBytesPerWeight)
{
	EXPECT_EQ(m->Calcola_memoria(), 0);
	ASSERT_TRUE(internals(m).bindings.Append(record(1000, 8, 12)));
	ASSERT_TRUE(internals(m).bindings.Append(record(1000, 8, 12)));
	EXPECT_EQ(m->Calcola_memoria(), 160000);
	// A dense binding passes 2^31 weights; the figure must not wrap.
	Cobjbuff* big = NewObj(Cobjbuff);
	big->pointCount = 1000000;
	big->cagePointCount = 2500;
	big->faceCount = 2500;
	ASSERT_TRUE(internals(m).bindings.Append(big));
	EXPECT_EQ(m->Calcola_memoria(), 160000 + 4LL * 5000 * 1000000);
}

TEST_F(MorvexState, InitSetsTheParameterDefaultsAndDisarms)
{
	EXPECT_EQ(param(MORVEX_STRETCH)->r, 100.0);
	EXPECT_EQ(param(MORVEX_SAFE_DISTANCE)->r, 0.1);
	EXPECT_EQ(param(MORVEX_INSIDE_ONLY)->type, VTN_DA_BOOL);
	EXPECT_EQ(param(MORVEX_INSIDE_ONLY)->l, 0);
	EXPECT_EQ(param(MORVEX_STRENGTH)->r, 1.0);
	EXPECT_EQ(param(MORVEX_MEMORY), nullptr);

	node->container().entries[MORVEX_STRENGTH] = vtnhost::Value::Real(0.25);
	node->container().entries[MORVEX_CHECK_OBJECT] = vtnhost::Value::Long(5);
	internals(m).bindArmed = 1;
	ASSERT_TRUE(node->callInit());
	EXPECT_EQ(param(MORVEX_STRENGTH)->r, 1.0);
	EXPECT_EQ(param(MORVEX_CHECK_OBJECT)->l, 5) << "Init touches only its four parameters";
	EXPECT_EQ(internals(m).bindArmed, 0);
}

TEST_F(MorvexState, InitKeepsTheRestPoseOnlyWhileThereAreBindings)
{
	addRestPose(8, 12);
	ASSERT_TRUE(internals(m).bindings.Append(record(3, 8, 12)));
	ASSERT_TRUE(node->callInit());
	EXPECT_EQ(internals(m).restPoints.GetCount(), 8);
	EXPECT_EQ(internals(m).restAreas.GetCount(), 12);

	internals(m).FreeAllBindings();
	ASSERT_TRUE(node->callInit());
	EXPECT_EQ(internals(m).restPoints.GetCount(), 0);
	EXPECT_EQ(internals(m).restAreas.GetCount(), 0);
	EXPECT_EQ(internals(m).restPoints.block, nullptr) << "the storage is released too";
}

TEST_F(MorvexState, ResetDropsBindingsAndRestPoseButKeepsMatrixAndFlags)
{
	addRestPose(8, 12);
	ASSERT_TRUE(internals(m).bindings.Append(record(10, 8, 12)));
	internals(m).memoryUsed = m->Calcola_memoria();
	internals(m).restMatrix.off = {1, 2, 3};
	internals(m).bindArmed = 1;
	internals(m).cageDirty = 7;
	m->Azzera_memoria(BaseContainer::FromBox(node->containerBox()));
	EXPECT_EQ(internals(m).bindings.GetCount(), 0);
	EXPECT_EQ(internals(m).bindings.block, nullptr);
	EXPECT_EQ(internals(m).restPoints.GetCount() + internals(m).restAreas.GetCount(), 0);
	EXPECT_EQ(internals(m).memoryUsed, 0);
	ASSERT_NE(param(MORVEX_MEMORY), nullptr);
	EXPECT_EQ(param(MORVEX_MEMORY)->type, VTN_DA_STRING);
	EXPECT_EQ(param(MORVEX_MEMORY)->s, "0");
	EXPECT_EQ(internals(m).restMatrix.off.y, 2);
	EXPECT_EQ(internals(m).bindArmed, 1);
	EXPECT_EQ(internals(m).cageDirty, 7);
}

TEST_F(MorvexState, ResetWithoutBindingsStillShowsZero)
{
	m->Azzera_memoria(BaseContainer::FromBox(node->containerBox()));
	ASSERT_NE(param(MORVEX_MEMORY), nullptr);
	EXPECT_EQ(param(MORVEX_MEMORY)->s, "0");
}

TEST_F(MorvexState, FreeReleasesBindingsOnly)
{
	addRestPose(4, 4);
	internals(m).memoryUsed = 123;
	node->callFree();  // nothing bound: nothing changes
	EXPECT_EQ(internals(m).restPoints.GetCount(), 4);
	ASSERT_TRUE(internals(m).bindings.Append(record(5, 4, 4)));
	node->callFree();
	EXPECT_EQ(internals(m).bindings.GetCount(), 0);
	EXPECT_EQ(internals(m).restPoints.GetCount(), 4);
	EXPECT_EQ(internals(m).restAreas.GetCount(), 4);
	EXPECT_EQ(internals(m).memoryUsed, 123);
}

TEST_F(MorvexState, RecordsHalfBuiltOrWithoutRowsAreReleasedSafely)
{
	Cobjbuff* empty = NewObj(Cobjbuff);  // every pointer null
	Cobjbuff* no_rows = record(0, 8, 12);  // tables of no rows are never made
	Cobjbuff* half = record(6, 8, 12);
	half->PSI.Free();  // the second table never came
	ASSERT_TRUE(internals(m).bindings.Append(empty));
	ASSERT_TRUE(internals(m).bindings.Append(no_rows));
	ASSERT_TRUE(internals(m).bindings.Append(half));
	Cobjbuff* slot = internals(m).bindings[1];
	FreeRecord(slot);
	EXPECT_EQ(slot, nullptr);
	internals(m).bindings[1] = nullptr;
	internals(m).FreeAllBindings();  // a null slot is passed over
	EXPECT_EQ(internals(m).bindings.GetCount(), 0);
}

TEST(MorvexRandom, StepsTheLinearCongruentialGenerator)
{
	Random r;
	r.Init(0);
	EXPECT_EQ(r.Get11(), 69069.0 / 2147483649.0 * 2.0 - 1.0);
	EXPECT_EQ(r.State(), 69069u);
	r.Init(0xFFFFFFFFu);  // state + 1 wraps to 0
	EXPECT_EQ(r.Get11(), -1.0);
	r.Init(12345);
	for (int i = 0; i < 10000; ++i)
	{
		const double v = r.Get11();
		ASSERT_GE(v, -1.0);
		ASSERT_LT(v, 1.0);
		ASSERT_LT(r.State(), 0x80000000u) << "bit 31 is always clear";
	}
}
