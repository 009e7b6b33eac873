// The nearest cage face to a point, for the safe-distance map: the plain loop
// over every face, and a bounding volume hierarchy that answers exactly as the
// loop does (the same double, bit for bit) in about log(faces) face tests.
#ifndef MORVEX_FACETREE_H
#define MORVEX_FACETREE_H

#include "ge_dynamicarray.h"
#include "vtn_math.h"

// The smallest Find_Tri2Point_Dist from q to the triangles (a, b, c) of the
// polygons whose corners all name one of cage_count points, taken face after
// face with <, so a NaN distance never wins; +infinity when no polygon is
// usable (or there are no points).
double NearestFaceDistanceByLoop(const LVector* cage_points, Int32 cage_count, const CPolygon* polys, Int32 poly_count,
                                 const LVector& q);

// The same answer through a tree of boxes around the faces. A box is skipped
// only when a lower bound on what any of its faces could return, in the
// rounding Find_Tri2Point_Dist works with, is already above the best distance
// found; equal distances are never skipped, and as only the smallest value is
// kept, the order the faces are met in does not change it.
//
// Faces the bound cannot be trusted for are measured for every point, outside
// the tree: those with a corner that is not finite, and slivers (height below
// 1e-4 of their longest side, those without area included), whose region
// tests and barycentric weights may come out far from the exact ones.
class NearestFaceTree
{
public:
	// False when memory is exhausted; the tree is then empty.
	bool Build(const LVector* cage_points, Int32 cage_count, const CPolygon* polys, Int32 poly_count);
	// NearestFaceDistanceByLoop over the polygons given to Build, bit for bit.
	double Nearest(const LVector& q) const;

	// Faces in the tree, and faces measured for every point.
	Int64 TreeFaces() const { return tree_.GetCount(); }
	Int64 LooseFaces() const { return loose_.GetCount(); }

private:
	struct Triangle
	{
		LVector a, b, c;
	};
	// A leaf holds tree_[first, first + count); an inner node (count 0) has its
	// children at nodes first and first + 1.
	struct Node
	{
		double lo[3], hi[3];
		Int32 first, count;
	};

	double LowerBound(const Node& n, const LVector& q, double slack) const;

	GeDynamicArray<Triangle> tree_;
	GeDynamicArray<Triangle> loose_;
	GeDynamicArray<Node> nodes_;
	// The largest magnitude of a tree corner's coordinate: with the point's
	// own, the scale of Find_Tri2Point_Dist's rounding.
	double scale_ = 0.0;
};

#endif
