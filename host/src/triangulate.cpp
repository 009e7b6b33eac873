#include "vtnhost/triangulate.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

#include "vtnhost/vec.h"

namespace vtnhost {
namespace {

// Unit roundoff; tolerances below are a few dozen of these times the sizes involved,
// so they only absorb rounding, never real geometry.
constexpr double kRound = std::numeric_limits<double>::epsilon() * 0.5;

using vec::cross;
using vec::dot;
using vec::sub;

double maxAbs(const LVector& a)
{
	return std::max(std::fabs(a.x), std::max(std::fabs(a.y), std::fabs(a.z)));
}

bool samePoint(const LVector& a, const LVector& b)
{
	return a.x == b.x && a.y == b.y && a.z == b.z;
}

struct Point2
{
	double x, y;
};

// Twice the signed area of (a, b, c); positive when counter-clockwise.
double area2(const Point2& a, const Point2& b, const Point2& c)
{
	return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

double distance(const Point2& a, const Point2& b)
{
	return std::hypot(b.x - a.x, b.y - a.y);
}

CPolygon triangle(Int32 a, Int32 b, Int32 c)
{
	return CPolygon{a, b, c, c};
}

// True when the quad p[0..3] is better split along b-d than along a-c.
bool splitsAlongBD(const LVector p[4])
{
	// Centred first: the areas then round relative to the quad's size, not its position.
	const LVector centre{(p[0].x + p[1].x + p[2].x + p[3].x) / 4, (p[0].y + p[1].y + p[2].y + p[3].y) / 4,
		(p[0].z + p[1].z + p[2].z + p[3].z) / 4};
	LVector q[4];
	for (int i = 0; i < 4; ++i)
		q[i] = sub(p[i], centre);
	const LVector ac = sub(q[2], q[0]);
	const LVector bd = sub(q[3], q[1]);
	const LVector normal = cross(ac, bd);  // the quad's Newell normal
	// Each triangle's area measured along the quad's normal, so a folded one comes out negative.
	const double abc = dot(cross(sub(q[1], q[0]), ac), normal);
	const double acd = dot(cross(ac, sub(q[3], q[0])), normal);
	const double abd = dot(cross(sub(q[1], q[0]), sub(q[3], q[0])), normal);
	const double bcd = dot(cross(sub(q[2], q[1]), bd), normal);
	const double squareAC = dot(ac, ac);
	const double squareBD = dot(bd, bd);
	const double tolerance = 64 * kRound * std::max(squareAC, squareBD) * std::sqrt(dot(normal, normal));
	const double worstAC = std::min(abc, acd);
	const double worstBD = std::min(abd, bcd);
	const bool insideAC = worstAC > tolerance;
	const bool insideBD = worstBD > tolerance;
	if (insideAC != insideBD)
		return insideBD;
	return squareBD < squareAC;  // convex, or folded so that neither diagonal helps
}

}  // namespace

void splitQuad(const std::vector<LVector>& points, const CPolygon& quad, CPolygon out[2])
{
	const Int32 index[4] = {quad.a, quad.b, quad.c, quad.d};
	bool choose = quad.c != quad.d;
	for (Int32 i : index)
		choose = choose && i >= 0 && static_cast<size_t>(i) < points.size();
	LVector p[4];
	if (choose)
	{
		for (int i = 0; i < 4; ++i)
			p[i] = points[static_cast<size_t>(index[i])];
	}
	if (choose && splitsAlongBD(p))
	{
		out[0] = triangle(quad.a, quad.b, quad.d);
		out[1] = triangle(quad.b, quad.c, quad.d);
	}
	else
	{
		out[0] = triangle(quad.a, quad.b, quad.c);
		out[1] = triangle(quad.a, quad.c, quad.d);
	}
}

bool triangulateOutline(const std::vector<LVector>& points, const std::vector<Int32>& outline, std::vector<CPolygon>* out)
{
	if (out == nullptr)
		return false;
	out->clear();
	const size_t n = outline.size();
	if (n < 3)
		return false;
	for (Int32 i : outline)
	{
		if (i < 0 || static_cast<size_t>(i) >= points.size())
			return false;
	}
	auto at = [&](size_t corner) -> const LVector& { return points[static_cast<size_t>(outline[corner])]; };

	LVector centre{0, 0, 0};
	for (size_t i = 0; i < n; ++i)
	{
		centre.x += at(i).x;
		centre.y += at(i).y;
		centre.z += at(i).z;
	}
	centre = LVector{centre.x / n, centre.y / n, centre.z / n};
	std::vector<LVector> local(n);
	double size = 0;
	for (size_t i = 0; i < n; ++i)
	{
		local[i] = sub(at(i), centre);
		size = std::max(size, maxAbs(local[i]));
	}
	LVector normal{0, 0, 0};
	for (size_t i = 0; i < n; ++i)
	{
		const LVector& p = local[i];
		const LVector& q = local[(i + 1) % n];
		normal.x += (p.y - q.y) * (p.z + q.z);
		normal.y += (p.z - q.z) * (p.x + q.x);
		normal.z += (p.x - q.x) * (p.y + q.y);
	}
	// Areas round relative to the outline's size and to how far it sits from the origin.
	const double scale = size + maxAbs(centre);
	const double areaTolerance = 64 * kRound * size * scale;
	const double lengthNormal = std::sqrt(dot(normal, normal));
	if (!(lengthNormal > areaTolerance))  // also catches NaN from non-finite points
		return false;

	// (u, v, normal) right-handed, so the outline runs counter-clockwise in (u, v).
	const LVector w{normal.x / lengthNormal, normal.y / lengthNormal, normal.z / lengthNormal};
	const LVector axis = std::fabs(w.x) <= std::fabs(w.y) && std::fabs(w.x) <= std::fabs(w.z) ? LVector{1, 0, 0}
		: std::fabs(w.y) <= std::fabs(w.z)                                                        ? LVector{0, 1, 0}
		                                                                                            : LVector{0, 0, 1};
	LVector u = cross(axis, w);
	const double lengthU = std::sqrt(dot(u, u));
	u = LVector{u.x / lengthU, u.y / lengthU, u.z / lengthU};
	const LVector v = cross(w, u);
	std::vector<Point2> flat(n);
	for (size_t i = 0; i < n; ++i)
		flat[i] = Point2{dot(local[i], u), dot(local[i], v)};

	auto emit = [&](size_t a, size_t b, size_t c) {
		if (area2(flat[a], flat[b], flat[c]) > areaTolerance)
			out->push_back(triangle(outline[a], outline[b], outline[c]));
	};

	if (n == 4)
	{
		// Same diagonal as a quad of the mesh would get.
		const LVector p[4] = {at(0), at(1), at(2), at(3)};
		if (splitsAlongBD(p))
		{
			emit(0, 1, 3);
			emit(1, 2, 3);
		}
		else
		{
			emit(0, 1, 2);
			emit(0, 2, 3);
		}
		return !out->empty();
	}

	std::vector<size_t> prev(n), next(n);
	for (size_t i = 0; i < n; ++i)
	{
		prev[i] = (i + n - 1) % n;
		next[i] = (i + 1) % n;
	}
	auto corner = [&](size_t i) { return area2(flat[prev[i]], flat[i], flat[next[i]]); };
	auto coincide = [&](size_t i, size_t j) { return outline[i] == outline[j] || samePoint(at(i), at(j)); };
	// A point this close to an ear's side counts as on it, and a point on it blocks the ear.
	const double sideTolerance = 64 * kRound * scale;
	auto isEar = [&](size_t i) {
		const size_t a = prev[i];
		const size_t c = next[i];
		const Point2& pa = flat[a];
		const Point2& pb = flat[i];
		const Point2& pc = flat[c];
		if (!(area2(pa, pb, pc) > areaTolerance))
			return false;
		const double slackAB = sideTolerance * distance(pa, pb);
		const double slackBC = sideTolerance * distance(pb, pc);
		const double slackCA = sideTolerance * distance(pc, pa);
		for (size_t j = next[c]; j != a; j = next[j])
		{
			// In a simple outline only a corner that is not strictly convex can reach into an ear.
			if (corner(j) > areaTolerance)
				continue;
			// Repeated points (a bridged outline) touch the ear without entering it.
			if (coincide(j, a) || coincide(j, i) || coincide(j, c))
				continue;
			const Point2& p = flat[j];
			if (area2(pa, pb, p) >= -slackAB && area2(pb, pc, p) >= -slackBC && area2(pc, pa, p) >= -slackCA)
				return false;
		}
		return true;
	};
	auto unlink = [&](size_t i) {
		next[prev[i]] = next[i];
		prev[next[i]] = prev[i];
	};

	size_t remaining = n;
	size_t i = 0;
	size_t sinceLastClip = 0;
	while (remaining > 3)
	{
		if (isEar(i))
		{
			emit(prev[i], i, next[i]);
			const size_t after = next[i];
			unlink(i);
			--remaining;
			sinceLastClip = 0;
			i = after;  // moving on spreads the ears instead of fanning from one corner
			continue;
		}
		i = next[i];
		if (++sinceLastClip < remaining)
			continue;
		// A whole lap without an ear: only repeated or collinear corners, or an outline that
		// crosses itself. Every step still removes a corner, so this always ends.
		// A corner without area goes first, as it may be what blocks the ears; failing that, the
		// most convex corner, whose triangle emit keeps only if it has the outline's orientation.
		size_t pick = i;
		size_t j = i;
		do
		{
			if (std::fabs(corner(j)) <= areaTolerance)
			{
				pick = j;
				break;
			}
			if (corner(j) > corner(pick))
				pick = j;
			j = next[j];
		} while (j != i);
		emit(prev[pick], pick, next[pick]);
		i = next[pick];
		unlink(pick);
		--remaining;
		sinceLastClip = 0;
	}
	emit(prev[i], i, next[i]);
	return !out->empty();
}

}  // namespace vtnhost
