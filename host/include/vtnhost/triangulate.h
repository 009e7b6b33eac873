// Triangles of the host's polygon outlines and quads.
#ifndef VTNHOST_TRIANGULATE_H
#define VTNHOST_TRIANGULATE_H

#include <vector>

#include "abi/vtn_types.h"

namespace vtnhost {

// Triangles of a planar (or nearly planar) polygon outline, convex or not, given as
// indices into points in the outline's order. Ear clipping in the plane of the
// outline's Newell normal. Every triangle keeps the outline's orientation and uses
// only the outline's point indices (no new points); triangles come back with c == d.
// A simple n-gon gives n - 2 triangles. Corners that add no area (repeated or
// collinear ones that no ear can take) are dropped rather than given a zero-area
// triangle, and a self-intersecting outline gives only triangles of its own
// orientation, so neither can give n - 2.
// False when the outline has fewer than 3 corners, an index out of range, or no area
// (then *out is left empty).
bool triangulateOutline(const std::vector<LVector>& points, const std::vector<Int32>& outline, std::vector<CPolygon>* out);

// The two triangles of a quad along its interior diagonal: for a convex quad the
// shorter diagonal, for a non-convex (dart) quad the diagonal that lies inside it.
// Both keep the quad's orientation. A diagonal that would leave a zero-area triangle
// is passed over where the other one does not; a folded quad, where neither lies
// inside, goes along the shorter one. A triangle (c == d) comes back as
// itself in out[0] with the zero-area (a, c, c) in out[1]; with an index out of range
// nothing is read and the quad is split along a-c.
void splitQuad(const std::vector<LVector>& points, const CPolygon& quad, CPolygon out[2]);

}  // namespace vtnhost

#endif
