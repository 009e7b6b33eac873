// Which points of an object lie outside the cage (rays against the cage), and
// which lie closer to its surface than the safe distance.
#define VTN_SOURCE "Morvex"
#include "morvex.h"

#include <limits>

#include "vtn_raycollider.h"

namespace {

constexpr UInt32 kRaySeed = 4729848;
constexpr int kPerturbedRays = 7;
constexpr float kPerturbAngle = 0.5235988f;  // 30 degrees

const SVector kAxes[6] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};

}  // namespace

SVector Morvex::get_new_dir(SVector dir, float angle)
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

bool Morvex::trova_punti_ext(BaseObject* obj, BaseObject* cage, BaseSelect* outside)
{
	GeRayCollider* rc = GeRayCollider::Alloc();
	if (!rc)
		return false;
	rc->Init(cage, false);

	const SMatrix T = InvertMatrix(ToSingle(cage->GetMg()), true) * ToSingle(obj->GetMg());
	const LVector* points = ToPoly(obj)->GetPointR();
	const Int32 count = ToPoly(obj)->GetPointCount();
	if (!points || count <= 0)
	{
		GeRayCollider::Free(rc);
		return false;
	}
	const float length = float(Len(cage->GetRad() * 2.01));

	bool found = false;
	for (Int32 i = 0; i < count; ++i)
	{
		const LVector origin = ToDouble(T * ToSingle(points[i]));
		for (const SVector& axis : kAxes)
		{
			if (rc->Intersect(origin, ToDouble(axis), length))
				continue;
			// The axis ray may have slipped through a gap between polygons (an
			// edge or a vertex): the same seven tilted rays try again.
			random.Init(kRaySeed);
			bool hit = false;
			for (int k = 0; k < kPerturbedRays && !hit; ++k)
			{
				SVector d = get_new_dir(axis, kPerturbAngle);
				const float len = Len(d);
				if (len != 0.0f)
					d = d / len;
				hit = rc->Intersect(origin, ToDouble(d), length);
			}
			if (!hit)
			{
				outside->Select(i);
				found = true;
				break;
			}
		}
	}
	GeRayCollider::Free(rc);
	return found;
}

Int32 Morvex::Find_Valid_Pts(Cobjbuff* buff, BaseObject* cage)
{
	auto* obj = static_cast<BaseObject*>(buff->link ? buff->link->GetLink(cage->GetDocument()) : nullptr);
	BaseSelect* outside = BaseSelect::Alloc();
	BaseSelect* inside = BaseSelect::Alloc();
	if (!obj || !outside || !inside)
	{
		BaseSelect::Free(outside);
		BaseSelect::Free(inside);
		return 0;
	}
	const Int32 count = ToPoly(obj)->GetPointCount();
	trova_punti_ext(obj, cage, outside);
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

	GeDynamicArray<double> distances;
	for (Int32 i = 0; i < count; ++i)
	{
		const LVector q = T * points[i];
		// Polygons whose corners name no cage point are not used; with none left
		// the point counts as infinitely far.
		double best = std::numeric_limits<double>::infinity();
		for (Int32 k = 0; k < poly_count; ++k)
		{
			const CPolygon& p = polys[k];
			if (!cage_points || !PolygonCornersIn(p, cage_count))
				continue;
			const double d = Find_Tri2Point_Dist(cage_points[p.a], cage_points[p.b], cage_points[p.c], q);
			if (d < best)
				best = d;
		}
		if (!distances.Append(best))
			return;
	}

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
