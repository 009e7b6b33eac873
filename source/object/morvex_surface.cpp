#define VTN_SOURCE "Morvex"
#include "morvex_surface.h"

#include <algorithm>
#include <cmath>

#include "morvex_closedform.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// One side of an undirected edge: the face and which of its edges it is.
struct EdgeSide
{
	Int32 lo, hi;
	Int32 face;
	Int32 k;
};

// The angle between u and v, through the module's own atan2: the C
// libraries' acos and atan2 differ in the last place between platforms, and a
// scene must bind the same on all of them.
double AngleBetween(const LVector& u, const LVector& v) { return ClosedFormAtan2(Len(Cross(u, v)), Dot(u, v)); }

}  // namespace

double SurfaceTolerance(const LVector* corners, Int64 corner_count)
{
	if (corner_count <= 0)
		return 0.0;
	LVector lo = corners[0], hi = corners[0];
	double largest = 0.0;
	for (Int64 i = 0; i < corner_count; ++i)
	{
		const LVector& p = corners[i];
		lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
		hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
		largest = std::max({largest, std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)});
	}
	return 1e-12 * std::max(Len(hi - lo), largest);
}

bool CageSurfaceAngles(const LVector* corners, Int64 corner_count, const LVector& origin, const CPolygon* polys, Int32 face_count,
                       const LVector* normals, GeDynamicArray<SurfaceAngles>& out)
{
	auto id = [&](Int32 k) { return k >= 0 && k < corner_count ? k : static_cast<Int32>(corner_count); };
	auto at = [&](Int32 i) { return i < corner_count ? corners[i] : origin; };
	auto vertex = [&](Int32 j, int k) {
		const CPolygon& p = polys[j];
		return id(k == 0 ? p.a : (k == 1 ? p.b : p.c));
	};
	GeDynamicArray<EdgeSide> sides;
	// Per face, the turn of the cage's surface across each edge: pi minus the
	// inside dihedral angle, 0 where the cage is flat, negative where it folds in.
	GeDynamicArray<double> turn, angle_sum;
	out.Clear();
	if (!out.SetCount(face_count) || !turn.SetCount(3 * static_cast<Int64>(face_count)) || !angle_sum.SetCount(corner_count + 1) ||
	    !sides.SetCount(3 * static_cast<Int64>(face_count)))
		return false;
	for (Int64 i = 0; i <= corner_count; ++i)
		angle_sum[i] = 0.0;
	Int64 n = 0;
	for (Int32 j = 0; j < face_count; ++j)
	{
		const LVector v0 = at(vertex(j, 0)), v1 = at(vertex(j, 1)), v2 = at(vertex(j, 2));
		const bool flat = !(Len(Cross(v1 - v0, v2 - v0)) > 0.0);
		for (int k = 0; k < 3; ++k)
		{
			turn[3 * j + k] = 0.0;
			if (flat)
				continue;
			const Int32 a = vertex(j, (k + 1) % 3), b = vertex(j, (k + 2) % 3);
			sides[n++] = EdgeSide{std::min(a, b), std::max(a, b), j, k};
			const Int32 c = vertex(j, k);
			angle_sum[c] = angle_sum[c] + AngleBetween(at(a) - at(c), at(b) - at(c));
		}
	}
	std::sort(sides.data, sides.data + n, [](const EdgeSide& x, const EdgeSide& y) {
		return x.lo != y.lo ? x.lo < y.lo : (x.hi != y.hi ? x.hi < y.hi : x.face < y.face);
	});
	for (Int64 s = 0; s < n;)
	{
		Int64 e = s + 1;
		while (e < n && sides[e].lo == sides[s].lo && sides[e].hi == sides[s].hi)
			++e;
		if (e - s == 2)
		{
			// tau runs along the edge as the first face goes round it; the
			// second face's normal tilts towards that face's outside (m = tau x n1)
			// where the cage turns outward, as at a convex edge.
			const EdgeSide& first = sides[s];
			const LVector tau = at(vertex(first.face, (first.k + 2) % 3)) - at(vertex(first.face, (first.k + 1) % 3));
			const LVector& n1 = normals[first.face];
			const LVector& n2 = normals[sides[s + 1].face];
			const double t = ClosedFormAtan2(Dot(tau, Cross(n1, n2)) / Len(tau), Dot(n1, n2));
			turn[3 * first.face + first.k] = t;
			turn[3 * sides[s + 1].face + sides[s + 1].k] = t;
		}
		s = e;
	}
	for (Int32 j = 0; j < face_count; ++j)
	{
		SurfaceAngles& f = out[j];
		const LVector v[3] = {at(vertex(j, 0)), at(vertex(j, 1)), at(vertex(j, 2))};
		for (int k = 0; k < 3; ++k)
		{
			const int k1 = (k + 1) % 3, k2 = (k + 2) % 3;
			f.edge[k] = kPi + turn[3 * j + k];
			// Corner k lies on edges k1 and k2.
			const double sum = angle_sum[vertex(j, k)];
			const double share = sum > 0.0 ? 2.0 * kPi * AngleBetween(v[k1] - v[k], v[k2] - v[k]) / sum : 0.0;
			f.corner[k] = 0.5 * (turn[3 * j + k1] + turn[3 * j + k2]) + share;
		}
	}
	return true;
}

double SurfaceAngle(const SurfaceAngles& angles, bool on_edge0, bool on_edge1, bool on_edge2)
{
	const int count = on_edge0 + on_edge1 + on_edge2;
	if (count == 0)
		return 2.0 * kPi;
	if (count == 1)
		return angles.edge[on_edge0 ? 0 : (on_edge1 ? 1 : 2)];
	// At corner i both edges beside it hold the point.
	return angles.corner[!on_edge0 ? 0 : (!on_edge1 ? 1 : 2)];
}
