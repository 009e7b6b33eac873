// A viewport for the default handle drawing: it records the handles drawn (in
// global coordinates) and hit-tests screen positions against them. Screen x and
// y are the global x and y (a front view at scale 1).
#ifndef VTNHOST_VIEWPORT_H
#define VTNHOST_VIEWPORT_H

#include <vector>

#include "abi/vtn_types.h"

namespace vtnhost {

class Viewport
{
public:
	LMatrix matrix{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
	LVector pen{0, 0, 0};
	std::vector<LVector> handles;  // global positions, in drawing order
	double hitRadius = 4.0;

	BaseDraw* asBaseDraw() { return reinterpret_cast<BaseDraw*>(this); }
	static Viewport* from(BaseDraw* bd) { return reinterpret_cast<Viewport*>(bd); }
	// The colour the host uses for object handles.
	static LVector handleColor() { return {1.0, 0.8, 0.0}; }
};

}  // namespace vtnhost

#endif
