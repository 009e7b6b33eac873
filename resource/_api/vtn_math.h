// Vector and matrix arithmetic on the shared geometry types, in double precision.
#ifndef VTN_MATH_H
#define VTN_MATH_H

#include "abi/vtn_types.h"

inline LVector operator+(const LVector& a, const LVector& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline LVector operator-(const LVector& a, const LVector& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline LVector operator*(const LVector& a, double s) { return {a.x * s, a.y * s, a.z * s}; }

inline LMatrix IdentityMatrix() { return {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}}; }

// o + v1*p.x + v2*p.y + v3*p.z, summed in that order.
inline LVector operator*(const LMatrix& m, const LVector& p)
{
	return m.off + m.v1 * p.x + m.v2 * p.y + m.v3 * p.z;
}

#endif
