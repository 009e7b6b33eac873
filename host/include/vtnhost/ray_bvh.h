// Ray queries against a polygon mesh of the host.
#ifndef VTNHOST_RAY_BVH_H
#define VTNHOST_RAY_BVH_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "abi/vtn_types.h"

namespace vtnhost {

// Rays against the triangles and quads (quads are split with splitQuad) of a polygon mesh,
// in double precision, through a bounding volume hierarchy. The triangle test is
// watertight (Woop, Benthin and Wald, "Watertight Ray/Triangle Intersection", JCGT 2013),
// so a ray through a shared edge or vertex of a closed mesh is never lost between the
// neighbouring triangles. Both sides of a triangle are hit.
//
// A hit at t == 0 counts: a ray that starts on the surface hits it. So does a hit whose
// computed distance is below zero by no more than its rounding error, so that a point
// computed on a slanted face counts as on it. Zero-area triangles are never hit; they
// are left out at build.
class RayBvh
{
public:
	// Replaces whatever was built before. Polygons with an index out of range or a point
	// that is not finite are skipped (and counted in skipped()).
	void build(const std::vector<LVector>& points, const std::vector<CPolygon>& polygons);

	// True when the ray from origin along direction (any nonzero length; it is normalised)
	// hits a triangle at a distance t with 0 <= t <= length; length may be infinite.
	// Zero direction, a non-finite origin or direction, or a negative or NaN length: false.
	bool intersect(const LVector& origin, const LVector& direction, double length) const;
	// Distance to the nearest hit within length, or a negative value when there is none.
	double nearest(const LVector& origin, const LVector& direction, double length) const;

	// Triangles held: triangles and split quads of the kept polygons, less those of zero area.
	size_t triangleCount() const { return triangles_.size(); }
	size_t skipped() const { return skipped_; }

private:
	struct Triangle
	{
		double p[3][3];
	};
	// A leaf holds triangles [index, index + count); an inner node (count 0) has its
	// children at index and index + 1.
	struct Node
	{
		double lo[3];
		double hi[3];
		uint32_t index;
		uint32_t count;
	};

	double cast(const LVector& origin, const LVector& direction, double length, bool anyHit) const;

	std::vector<Triangle> triangles_;
	std::vector<Node> nodes_;
	size_t skipped_ = 0;
};

}  // namespace vtnhost

#endif
