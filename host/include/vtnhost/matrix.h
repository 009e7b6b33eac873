// Matrix arithmetic of the host, in double precision.
#ifndef VTNHOST_MATRIX_H
#define VTNHOST_MATRIX_H

#include "abi/vtn_types.h"

namespace vtnhost {

inline LMatrix identityMatrix() { return {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}}; }

inline LVector applyDirection(const LMatrix& m, const LVector& v)
{
	return {m.v1.x * v.x + m.v2.x * v.y + m.v3.x * v.z, m.v1.y * v.x + m.v2.y * v.y + m.v3.y * v.z,
	        m.v1.z * v.x + m.v2.z * v.y + m.v3.z * v.z};
}

inline LVector apply(const LMatrix& m, const LVector& p)
{
	const LVector d = applyDirection(m, p);
	return {m.off.x + d.x, m.off.y + d.y, m.off.z + d.z};
}

// a * b applies b first.
inline LMatrix multiply(const LMatrix& a, const LMatrix& b)
{
	return {apply(a, b.off), applyDirection(a, b.v1), applyDirection(a, b.v2), applyDirection(a, b.v3)};
}

// The inverse; the identity when the 3x3 part is singular.
LMatrix invert(const LMatrix& m);

}  // namespace vtnhost

#endif
