#define VTN_SOURCE "Morvex"
#include "morvex_facetree.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "morvex_geometry.h"

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr Int32 kLeafFaces = 4;
// (twice the area)^2 below this times (longest side^2)^2: a sliver, whose
// height is under 1e-4 of its longest side.
constexpr double kSliver = 1e-8;
// What Find_Tri2Point_Dist's rounding may take off a distance, relative to the
// magnitude of the coordinates it works with: its error grows with that
// magnitude (the differences p - a and the foot point a + ab s + ac t), by
// some units in the last place, enlarged for the faces the tree keeps by at
// most the 1e4 of the sliver limit. 1e-9 leaves a margin of over a thousand.
constexpr double kSlack = 1e-9;
// The box's own distance, computed in double, deflated by far more than its
// few roundings.
constexpr double kDeflate = 1.0 - 1e-12;

bool Finite(const LVector& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }
double MaxAbs(const LVector& v) { return std::max(std::fabs(v.x), std::max(std::fabs(v.y), std::fabs(v.z))); }
double Coord(const LVector& v, int axis) { return axis == 0 ? v.x : (axis == 1 ? v.y : v.z); }

// A face the bound holds for: finite corners, and not a sliver.
bool Trusted(const LVector& a, const LVector& b, const LVector& c)
{
	if (!Finite(a) || !Finite(b) || !Finite(c))
		return false;
	const LVector ab = b - a, ac = c - a, bc = c - b;
	const LVector n = Cross(ab, ac);
	const double cross2 = Dot(n, n);
	const double longest2 = std::max(Dot(ab, ab), std::max(Dot(ac, ac), Dot(bc, bc)));
	const double limit = kSliver * longest2 * longest2;
	return std::isfinite(cross2) && std::isfinite(limit) && cross2 >= limit && cross2 > 0.0;
}

struct Item
{
	double centre[3];
	Int32 face;
};


}  // namespace

double NearestFaceDistanceByLoop(const LVector* cage_points, Int32 cage_count, const CPolygon* polys, Int32 poly_count,
                                 const LVector& q)
{
	double best = kInfinity;
	for (Int32 k = 0; k < poly_count; ++k)
	{
		const CPolygon& p = polys[k];
		if (!cage_points || !PolygonCornersIn(p, cage_count))
			continue;
		const double d = Find_Tri2Point_Dist(cage_points[p.a], cage_points[p.b], cage_points[p.c], q);
		if (d < best)
			best = d;
	}
	return best;
}

bool NearestFaceTree::Build(const LVector* cage_points, Int32 cage_count, const CPolygon* polys, Int32 poly_count)
{
	tree_.Clear();
	loose_.Clear();
	nodes_.Clear();
	scale_ = 0.0;
	auto fail = [this] {
		tree_.Clear();
		loose_.Clear();
		nodes_.Clear();
		return false;
	};
	if (!cage_points)
		return true;
	GeDynamicArray<Item> items;
	for (Int32 k = 0; k < poly_count; ++k)
	{
		const CPolygon& p = polys[k];
		if (!PolygonCornersIn(p, cage_count))
			continue;
		const Triangle t{cage_points[p.a], cage_points[p.b], cage_points[p.c]};
		if (!Trusted(t.a, t.b, t.c))
		{
			if (!loose_.Append(t))
				return fail();
			continue;
		}
		Item item;
		item.centre[0] = (t.a.x + t.b.x + t.c.x) / 3.0;
		item.centre[1] = (t.a.y + t.b.y + t.c.y) / 3.0;
		item.centre[2] = (t.a.z + t.b.z + t.c.z) / 3.0;
		item.face = static_cast<Int32>(tree_.GetCount());
		if (!tree_.Append(t) || !items.Append(item))
			return fail();
		scale_ = std::max(scale_, std::max(MaxAbs(t.a), std::max(MaxAbs(t.b), MaxAbs(t.c))));
	}
	const Int64 n = tree_.GetCount();
	if (n == 0)
		return true;
	if (!nodes_.SetCount(2 * n - 1))
		return fail();

	// Halves by count along the longest side of the centres' box: depth stays
	// at log2(faces), within the traversal's fixed stack.
	Int32 next = 1;
	struct Range
	{
		Int32 node, first, count;
	};
	// Each level leaves one range waiting at the most, and there are at most 32.
	Range todo[64];
	int waiting = 0;
	todo[waiting++] = Range{0, 0, static_cast<Int32>(n)};
	while (waiting > 0)
	{
		const Range r = todo[--waiting];
		Node& node = nodes_[r.node];
		double clo[3] = {kInfinity, kInfinity, kInfinity}, chi[3] = {-kInfinity, -kInfinity, -kInfinity};
		for (int k = 0; k < 3; ++k)
		{
			node.lo[k] = kInfinity;
			node.hi[k] = -kInfinity;
		}
		for (Int32 i = r.first; i < r.first + r.count; ++i)
		{
			const Triangle& t = tree_[items[i].face];
			for (int k = 0; k < 3; ++k)
			{
				for (const LVector* v : {&t.a, &t.b, &t.c})
				{
					node.lo[k] = std::min(node.lo[k], Coord(*v, k));
					node.hi[k] = std::max(node.hi[k], Coord(*v, k));
				}
				clo[k] = std::min(clo[k], items[i].centre[k]);
				chi[k] = std::max(chi[k], items[i].centre[k]);
			}
		}
		if (r.count <= kLeafFaces)
		{
			node.first = r.first;
			node.count = r.count;
			continue;
		}
		int axis = 0;
		for (int k = 1; k < 3; ++k)
			if (chi[k] - clo[k] > chi[axis] - clo[axis])
				axis = k;
		const Int32 half = r.count / 2;
		Item* first = items.data + r.first;
		std::nth_element(first, first + half, first + r.count, [axis](const Item& x, const Item& y) {
			return x.centre[axis] < y.centre[axis] || (x.centre[axis] == y.centre[axis] && x.face < y.face);
		});
		node.first = next;
		node.count = 0;
		todo[waiting++] = Range{next, r.first, half};
		todo[waiting++] = Range{next + 1, r.first + half, r.count - half};
		next += 2;
	}
	// The leaves' faces in the items' order, so that a leaf reads one run.
	GeDynamicArray<Triangle> ordered;
	if (!ordered.SetCount(n))
		return fail();
	for (Int64 i = 0; i < n; ++i)
		ordered[i] = tree_[items[i].face];
	for (Int64 i = 0; i < n; ++i)
		tree_[i] = ordered[i];
	return true;
}

double NearestFaceTree::LowerBound(const Node& n, const LVector& q, double slack) const
{
	const double p[3] = {q.x, q.y, q.z};
	double d2 = 0.0;
	for (int k = 0; k < 3; ++k)
	{
		const double below = n.lo[k] - p[k], above = p[k] - n.hi[k];
		const double gap = below > 0.0 ? below : (above > 0.0 ? above : 0.0);
		d2 += gap * gap;
	}
	const double d = std::sqrt(d2) * kDeflate - slack;
	// NaN (an infinite slack) bounds nothing either.
	return d > 0.0 ? d * d * kDeflate : 0.0;
}

double NearestFaceTree::Nearest(const LVector& q) const
{
	double best = kInfinity;
	auto measure = [&](const Triangle& t) {
		const double d = Find_Tri2Point_Dist(t.a, t.b, t.c, q);
		if (d < best)
			best = d;
	};
	for (Int64 i = 0; i < loose_.GetCount(); ++i)
		measure(loose_[i]);
	if (nodes_.GetCount() == 0)
		return best;
	if (!Finite(q))
	{
		for (Int64 i = 0; i < tree_.GetCount(); ++i)
			measure(tree_[i]);
		return best;
	}
	const double slack = kSlack * (scale_ + MaxAbs(q));
	// Nearer boxes first, so that the best distance shrinks early. Each level
	// leaves at most one entry behind, and the tree is at most 32 levels deep.
	struct Entry
	{
		Int32 node;
		double bound;
	};
	Entry stack[64];
	int top = 0;
	stack[top++] = {0, LowerBound(nodes_[0], q, slack)};
	while (top > 0)
	{
		const Entry e = stack[--top];
		if (e.bound > best)
			continue;
		const Node& n = nodes_[e.node];
		if (n.count > 0)
		{
			for (Int32 i = n.first; i < n.first + n.count; ++i)
				measure(tree_[i]);
			continue;
		}
		const Entry left{n.first, LowerBound(nodes_[n.first], q, slack)};
		const Entry right{n.first + 1, LowerBound(nodes_[n.first + 1], q, slack)};
		const bool left_first = left.bound <= right.bound;
		stack[top++] = left_first ? right : left;
		stack[top++] = left_first ? left : right;
	}
	return best;
}
