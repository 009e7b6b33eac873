// Which points of an object lie outside the cage (rays against the cage), and
// which lie closer to its surface than the safe distance.
#define VTN_SOURCE "Morvex"
#include "morvex.h"

#include "morvex_facetree.h"
#include "vtn_raycollider.h"
#include "vtn_thread.h"

namespace {

constexpr UInt32 kRaySeed = 4729848;
constexpr int kPerturbedRays = 7;
constexpr float kPerturbAngle = 0.5235988f;  // 30 degrees

const SVector kAxes[6] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};

// dir with its two other components replaced by the sines of two angles
// drawn from random, within angle of 0.
SVector TiltedDirection(Random& random, SVector dir, float angle)
{
	const float a1 = float(random.Get11() * angle);
	const float a2 = float(angle * random.Get11());
	if (std::fabs(dir.x) == 1.0f)
	{
		dir.y = std::sin(a1);
		dir.z = std::sin(a2);
	}
	else if (std::fabs(dir.y) == 1.0f)
	{
		dir.x = std::sin(a1);
		dir.z = std::sin(a2);
	}
	else
	{
		dir.x = std::sin(a1);
		dir.y = std::sin(a2);
	}
	return dir;
}

// The rays every point casts. The generator is seeded afresh for each axis,
// so the tilted rays of an axis are the same seven for every point: drawn
// once here, they are what each point would draw, on any worker, in any order.
struct RayFan
{
	LVector axis[6];
	LVector tilted[6][kPerturbedRays];
	RayFan()
	{
		for (int a = 0; a < 6; ++a)
		{
			axis[a] = ToDouble(kAxes[a]);
			Random random(kRaySeed);
			for (int k = 0; k < kPerturbedRays; ++k)
			{
				SVector d = TiltedDirection(random, kAxes[a], kPerturbAngle);
				const float len = Len(d);
				if (len != 0.0f)
					d = d / len;
				tilted[a][k] = ToDouble(d);
			}
		}
	}
};

// What the rays of each point need, the same for all of them.
struct RayContext
{
	GeRayCollider* rc;
	SMatrix T;  // the object's points into the cage's frame
	const LVector* points;
	Int32 count;
	double length;
	const RayFan* fan;
	UChar* outside;  // per point, 1 when it is outside
};

// Outside when along some axis neither the axis ray nor any of its tilted
// rays meets the cage. The tilted rays are there for an axis ray that slipped
// through a gap between polygons (an edge or a vertex).
bool PointOutside(const RayContext& c, Int32 i)
{
	const LVector origin = ToDouble(c.T * ToSingle(c.points[i]));
	for (int a = 0; a < 6; ++a)
	{
		if (c.rc->Intersect(origin, c.fan->axis[a], c.length))
			continue;
		bool hit = false;
		for (int k = 0; k < kPerturbedRays && !hit; ++k)
			hit = c.rc->Intersect(origin, c.fan->tilted[a][k], c.length);
		if (!hit)
			return true;
	}
	return false;
}

// A chunk of 64 points on one of the host's workers; each point's answer goes
// to its own byte. The host's collider answers Intersect without changing
// (host/src/ray_bvh.cpp: a const query), so the workers share one.
void RayChunk(void* context, Int64 chunk)
{
	const auto& c = *static_cast<const RayContext*>(context);
	const Int32 begin = static_cast<Int32>(chunk * MORVEX_BREAK_EVERY);
	const Int32 end = begin + MORVEX_BREAK_EVERY < c.count ? begin + MORVEX_BREAK_EVERY : c.count;
	for (Int32 i = begin; i < end; ++i)
		c.outside[i] = PointOutside(c, i) ? 1 : 0;
}

// Runs job over chunks on the host's workers while this thread watches for a
// break, or here with a test every chunk; false on a break.
bool RunChunks(HostPool::Job job, void* context, Int64 chunks, BaseThread* thread)
{
	if (thread && thread->TestBreak())
		return false;
	HostPool pool;
	if (pool.Start(job, context, chunks))
	{
		while (!pool.Wait(20))
			if (thread && thread->TestBreak())
			{
				pool.Stop();
				while (!pool.Wait(100))
				{
				}
				return false;
			}
		return true;
	}
	for (Int64 k = 0; k < chunks; ++k)
	{
		if (k > 0 && thread && thread->TestBreak())
			return false;
		job(context, k);
	}
	return true;
}

// What the distance map needs of each point: the tree (null: the loop over
// every face, when there was no memory for the tree), the cage and the points.
struct DistanceContext
{
	const NearestFaceTree* tree;
	const LVector* cage_points;
	Int32 cage_count;
	const CPolygon* polys;
	Int32 poly_count;
	LMatrix T;  // the object's points into the cage's frame
	const LVector* points;
	Int32 count;
	double* distances;
};

// A chunk of 64 points' squared distances to the cage, on one of the host's
// workers: the tree is only read.
void DistanceChunk(void* context, Int64 chunk)
{
	const auto& c = *static_cast<const DistanceContext*>(context);
	const Int32 begin = static_cast<Int32>(chunk * MORVEX_BREAK_EVERY);
	const Int32 end = begin + MORVEX_BREAK_EVERY < c.count ? begin + MORVEX_BREAK_EVERY : c.count;
	for (Int32 i = begin; i < end; ++i)
	{
		const LVector q = c.T * c.points[i];
		c.distances[i] = c.tree ? c.tree->Nearest(q) : NearestFaceDistanceByLoop(c.cage_points, c.cage_count, c.polys, c.poly_count, q);
	}
}

}  // namespace

SVector Morvex::get_new_dir(SVector dir, float angle) { return TiltedDirection(random, dir, angle); }

Morvex::RayAnswer Morvex::ClassifyByRays(BaseObject* obj, BaseObject* cage, BaseSelect* outside, BaseThread* thread)
{
	const LVector* points = ToPoly(obj)->GetPointR();
	const Int32 count = ToPoly(obj)->GetPointCount();
	if (!points || count <= 0)
		return RayAnswer::NoneOutside;
	GeRayCollider* rc = GeRayCollider::Alloc();
	GeDynamicArray<UChar> flags;
	if (!rc || !flags.SetCount(count))
	{
		GeRayCollider::Free(rc);
		return RayAnswer::Failed;
	}
	rc->Init(cage, false);

	const RayFan fan;
	const RayContext context{rc,    InvertMatrix(ToSingle(cage->GetMg()), true) * ToSingle(obj->GetMg()),
	                         points, count, double(float(Len(cage->GetRad() * 2.01))), &fan, flags.data};
	const Int64 chunks = (static_cast<Int64>(count) + MORVEX_BREAK_EVERY - 1) / MORVEX_BREAK_EVERY;
	const bool complete = RunChunks(RayChunk, const_cast<RayContext*>(&context), chunks, thread);
	GeRayCollider::Free(rc);
	if (!complete)
		return RayAnswer::Stopped;
	bool found = false;
	for (Int32 i = 0; i < count; ++i)
		if (flags[i])
		{
			outside->Select(i);
			found = true;
		}
	return found ? RayAnswer::SomeOutside : RayAnswer::NoneOutside;
}

bool Morvex::trova_punti_ext(BaseObject* obj, BaseObject* cage, BaseSelect* outside, BaseThread* thread)
{
	return ClassifyByRays(obj, cage, outside, thread) == RayAnswer::SomeOutside;
}

Int32 Morvex::Find_Valid_Pts(Cobjbuff* buff, BaseObject* cage, BaseThread* thread)
{
	auto* obj = static_cast<BaseObject*>(buff->link ? buff->link->GetLink(cage->GetDocument()) : nullptr);
	BaseSelect* outside = BaseSelect::Alloc();
	BaseSelect* inside = BaseSelect::Alloc();
	const RayAnswer answer = obj && outside && inside ? ClassifyByRays(obj, cage, outside, thread) : RayAnswer::Failed;
	// Without an answer no point is known to be inside: binding every point
	// would bind the outside ones the user asked to leave out.
	if (answer == RayAnswer::Failed || answer == RayAnswer::Stopped)
	{
		BaseSelect::Free(outside);
		BaseSelect::Free(inside);
		return answer == RayAnswer::Stopped ? -1 : 0;
	}
	const Int32 count = ToPoly(obj)->GetPointCount();
	for (Int32 i = 0; i < count; ++i)
		if (!outside->IsSelected(i))
			inside->Select(i);
	if (buff->validPoints)
		BaseSelect::Free(buff->validPoints);
	buff->validPoints = inside;
	BaseSelect::Free(outside);
	return inside->GetCount();
}

void Morvex::Crea_mappa_distanze(BaseObject* mod, BaseObject* obj, BaseObject* cage)
{
	if (!obj || !cage)
		return;
	PolygonObject* poly = ToPoly(cage);
	const CPolygon* polys = poly->GetPolygonR();
	if (!polys)
		return;
	const LVector* cage_points = poly->GetPointR();
	const Int32 cage_count = poly->GetPointCount();
	const Int32 poly_count = poly->GetPolygonCount();
	const LMatrix T = !cage->GetMg() * obj->GetMg();
	const LVector* points = ToPoly(obj)->GetPointR();
	const Int32 count = ToPoly(obj)->GetPointCount();

	// Polygons whose corners name no cage point are not used; with none left
	// every point counts as infinitely far. The tree answers as the loop over
	// every face does, bit for bit; without memory for it the loop runs.
	GeDynamicArray<double> distances;
	if (count > 0 && !distances.SetCount(count))
		return;
	NearestFaceTree tree;
	const DistanceContext context{tree.Build(cage_points, cage_count, polys, poly_count) ? &tree : nullptr,
	                              cage_points, cage_count, polys, poly_count, T, points, count, distances.data};
	RunChunks(DistanceChunk, const_cast<DistanceContext*>(&context), (static_cast<Int64>(count) + MORVEX_BREAK_EVERY - 1) / MORVEX_BREAK_EVERY,
	          nullptr);

	const double safe = mod->GetData().GetReal(MORVEX_SAFE_DISTANCE, 0.0);
	SelectionTag* tag = SelectionTag::Alloc(Tpointselection);
	if (!tag)
		return;
	BaseSelect* selection = tag->GetBaseSelect();
	for (Int32 i = 0; i < count; ++i)
		if (safe * safe > distances[i])
			selection->Select(i);
	if (selection->GetCount() == 0)
	{
		SelectionTag::Free(tag);
		return;
	}
	tag->SetName(String("Safe Distance Map >= ") + String::FloatToString(safe));
	obj->InsertTag(tag, nullptr);
}
