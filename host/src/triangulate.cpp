#include "vtnhost/triangulate.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

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

// The corners of an outline that are not strictly convex, by where they lie:
// only they can reach into an ear, so an ear is tested against the few in the
// cells its triangle covers instead of against the whole outline. A grid of
// about one cell per corner keeps each test near constant for outlines whose
// corners spread evenly, which is what makes a face of a hundred thousand
// corners take a moment instead of minutes.
class ReflexGrid
{
public:
	explicit ReflexGrid(const std::vector<Point2>& flat) : flat_(flat), marked_(flat.size(), 0), listed_(flat.size(), 0)
	{
		lowX_ = highX_ = flat.empty() ? 0 : flat[0].x;
		lowY_ = highY_ = flat.empty() ? 0 : flat[0].y;
		for (const Point2& p : flat)
		{
			lowX_ = std::min(lowX_, p.x);
			highX_ = std::max(highX_, p.x);
			lowY_ = std::min(lowY_, p.y);
			highY_ = std::max(highY_, p.y);
		}
		side_ = std::max<size_t>(1, static_cast<size_t>(std::sqrt(static_cast<double>(flat.size()))));
		cells_.resize(side_ * side_);
	}

	void mark(size_t i, bool reflex)
	{
		if (reflex && !listed_[i])
		{
			cells_[cellX(flat_[i].x) + side_ * cellY(flat_[i].y)].push_back(i);
			listed_[i] = 1;
		}
		count_ += static_cast<size_t>(reflex) - static_cast<size_t>(marked_[i]);
		marked_[i] = reflex;
	}

	// True when blocks(j) holds for a marked corner j within reach of the
	// triangle t. Row by row, only the cells the triangle crosses in that row
	// are looked at: a long thin ear along a row of reflex corners (the bar of
	// a comb) then passes over those it does not come near.
	template <typename Blocks>
	bool any(const Point2 t[3], double reach, Blocks&& blocks) const
	{
		if (count_ == 0)
			return false;
		double y0 = t[0].y, y1 = t[0].y;
		for (int k = 1; k < 3; ++k)
		{
			y0 = std::min(y0, t[k].y);
			y1 = std::max(y1, t[k].y);
		}
		const size_t cy0 = cellY(y0 - reach), cy1 = cellY(y1 + reach);
		const double rowHeight = (highY_ - lowY_) / static_cast<double>(side_);
		for (size_t cy = cy0; cy <= cy1; ++cy)
		{
			// The row's band, widened by the reach and by what the cell's
			// rounding can move a corner across its border.
			const double slack = reach + rowHeight * 1e-6;
			const double bandLow = cy == 0 ? -HUGE_VAL : lowY_ + rowHeight * static_cast<double>(cy) - slack;
			const double bandHigh = cy + 1 == side_ ? HUGE_VAL : lowY_ + rowHeight * static_cast<double>(cy + 1) + slack;
			double x0 = HUGE_VAL, x1 = -HUGE_VAL;
			if (!spanInBand(t, bandLow, bandHigh, &x0, &x1))
				continue;
			const size_t cx0 = cellX(x0 - reach), cx1 = cellX(x1 + reach);
			for (size_t cx = cx0; cx <= cx1; ++cx)
				for (size_t j : cells_[cx + side_ * cy])
					if (marked_[j] && blocks(j))
						return true;
		}
		return false;
	}

private:
	// The x extent of the triangle's part between two heights; false when it has none.
	static bool spanInBand(const Point2 t[3], double low, double high, double* x0, double* x1)
	{
		auto take = [&](double x) {
			*x0 = std::min(*x0, x);
			*x1 = std::max(*x1, x);
		};
		for (int k = 0; k < 3; ++k)
		{
			const Point2& p = t[k];
			const Point2& q = t[(k + 1) % 3];
			if (p.y >= low && p.y <= high)
				take(p.x);
			for (double h : {low, high})
				if ((p.y < h && q.y > h) || (p.y > h && q.y < h))
					take(p.x + (q.x - p.x) * ((h - p.y) / (q.y - p.y)));
		}
		return *x0 <= *x1;
	}

	size_t cell(double v, double low, double high) const
	{
		const double t = high > low ? (v - low) / (high - low) * static_cast<double>(side_) : 0.0;
		if (!(t > 0))
			return 0;
		return std::min(side_ - 1, static_cast<size_t>(std::min(t, static_cast<double>(side_))));
	}
	size_t cellX(double x) const { return cell(x, lowX_, highX_); }
	size_t cellY(double y) const { return cell(y, lowY_, highY_); }

	const std::vector<Point2>& flat_;
	std::vector<char> marked_, listed_;  // listed: in its cell's list, marked or not
	std::vector<std::vector<size_t>> cells_;
	size_t side_ = 1, count_ = 0;
	double lowX_, highX_, lowY_, highY_;
};

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
	// In a simple outline only a corner that is not strictly convex can reach into an ear.
	ReflexGrid reflex(flat);
	auto classify = [&](size_t i) { reflex.mark(i, !(corner(i) > areaTolerance)); };
	for (size_t k = 0; k < n; ++k)
		classify(k);
	// A point this close to an ear's side counts as on it, and a point on it blocks the ear.
	const double sideTolerance = 64 * kRound * scale;
	// What rounding can add to an area2 of points of the outline, as a distance.
	const double extent = std::max(distance(Point2{0, 0}, Point2{size, size}), scale);
	const double roundingReach = 64 * kRound * extent;
	auto isEar = [&](size_t i) {
		const size_t a = prev[i];
		const size_t c = next[i];
		const Point2& pa = flat[a];
		const Point2& pb = flat[i];
		const Point2& pc = flat[c];
		if (!(area2(pa, pb, pc) > areaTolerance))
			return false;
		const double ab = distance(pa, pb), bc = distance(pb, pc), ca = distance(pc, pa);
		const double slackAB = sideTolerance * ab;
		const double slackBC = sideTolerance * bc;
		const double slackCA = sideTolerance * ca;
		auto blocks = [&](size_t j) {
			if (j == a || j == i || j == c)
				return false;
			// Repeated points (a bridged outline) touch the ear without entering it.
			if (coincide(j, a) || coincide(j, i) || coincide(j, c))
				return false;
			const Point2& p = flat[j];
			return area2(pa, pb, p) >= -slackAB && area2(pb, pc, p) >= -slackBC && area2(pc, pa, p) >= -slackCA;
		};
		// The sides moved out by the tolerance bound the ear's triangle grown about
		// its incentre by (r + tolerance) / r; that triangle, widened by what
		// rounding can reach, holds every corner the test above can accept.
		const double perimeter = ab + bc + ca;
		const double inradius = area2(pa, pb, pc) / perimeter;
		const Point2 centre{(bc * pa.x + ca * pb.x + ab * pc.x) / perimeter, (bc * pa.y + ca * pb.y + ab * pc.y) / perimeter};
		const double grow = 1 + sideTolerance / inradius;
		Point2 grown[3] = {pa, pb, pc};
		for (Point2& q : grown)
			q = Point2{centre.x + (q.x - centre.x) * grow, centre.y + (q.y - centre.y) * grow};
		return !reflex.any(grown, sideTolerance + roundingReach, blocks);
	};
	auto unlink = [&](size_t i) {
		next[prev[i]] = next[i];
		prev[next[i]] = prev[i];
		reflex.mark(i, false);
		classify(prev[i]);
		classify(next[i]);
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
