#include "vtnhost/matrix.h"

#include "vtnhost/vec.h"

namespace vtnhost {

using vec::cross;
using vec::dot;

LMatrix invert(const LMatrix& m)
{
	const LVector yz = cross(m.v2, m.v3), zx = cross(m.v3, m.v1), xy = cross(m.v1, m.v2);
	const double det = dot(m.v1, yz);
	if (det == 0.0 || det != det)
		return identityMatrix();
	LMatrix r;
	r.v1 = {yz.x / det, zx.x / det, xy.x / det};
	r.v2 = {yz.y / det, zx.y / det, xy.y / det};
	r.v3 = {yz.z / det, zx.z / det, xy.z / det};
	r.off = {0, 0, 0};
	const LVector o = applyDirection(r, m.off);
	r.off = {-o.x, -o.y, -o.z};
	return r;
}

}  // namespace vtnhost
