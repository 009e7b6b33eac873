// Generated shapes and poses for the demo: box-shaped cages and bars, and the
// bend, twist and squash that pose them.
#ifndef MORVEXER_SHAPES_H
#define MORVEXER_SHAPES_H

#include <vector>

#include "abi/vtn_types.h"

namespace mvx {

struct Shape
{
	std::vector<LVector> points;
	std::vector<std::vector<Int32>> faces;
};

// The surface of the box lo..hi as nx x ny x nz quads, closed, faces outward,
// every point shared by the faces that meet there.
Shape boxGrid(const LVector& lo, const LVector& hi, int nx, int ny, int nz);

// Bends the x axis round a circle of the given radius about the z axis, through centre.
LVector bend(const LVector& p, const LVector& centre, double radius);
// Turns about the vertical axis through centre by up to `angle` at the top, then
// squashes: heights times `squash`, widths divided by its square root.
LVector twistSquash(const LVector& p, const LVector& centre, double height, double angle, double squash);

}  // namespace mvx

#endif
