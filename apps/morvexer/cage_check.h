// Checks that a polygon cage can drive the deformer: a closed, manifold,
// consistently oriented surface without degenerate faces, and which way it
// faces. Face and point numbers in the messages are 0-based indices.
#ifndef MORVEXER_APP_CAGE_CHECK_H
#define MORVEXER_APP_CAGE_CHECK_H

#include <string>
#include <vector>

#include "abi/vtn_types.h"

namespace mvx {

struct CageReport
{
	bool ok = true;       // closed, manifold, indices in range, no degenerate face
	std::string problem;  // one line naming the first problem found and where, when !ok
	bool inward = false;  // faces point inward: negative signed volume
	double volume = 0;    // signed volume, positive for outward faces; set once the surface is known to be closed and consistent
};

// Every undirected edge must be in exactly two faces, once each way, and the
// faces around every point must form one fan. A face with a repeated corner or
// an area below 1e-10 of the squared bounding-box diagonal is degenerate, as
// is a cage enclosing a volume below 1e-10 of the cubed diagonal. N-gons count
// as fans from their first corner.
CageReport checkCage(const std::vector<LVector>& points, const std::vector<std::vector<Int32>>& faces);

// Turns every face the other way: its corners in reverse order, the first kept first.
void reverseFaces(std::vector<std::vector<Int32>>* faces);

}  // namespace mvx

#endif
