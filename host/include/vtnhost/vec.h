// Vector arithmetic on the boundary's LVector, in double precision, for the
// host, the tool and the tests. Named functions first: the plug-in's layer
// (vtn_math.h) defines the operators on LVector, and the unit tests see both;
// code that never sees that layer may take the operators below instead. Each result is rounded in the order written here, so any
// caller that needs bit-for-bit results gets the same ones everywhere.
#ifndef VTNHOST_VEC_H
#define VTNHOST_VEC_H

#include <cmath>

#include "abi/vtn_types.h"

namespace vtnhost::vec {

inline LVector add(const LVector& a, const LVector& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline LVector sub(const LVector& a, const LVector& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline LVector scaled(const LVector& a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline double dot(const LVector& a, const LVector& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline LVector cross(const LVector& a, const LVector& b)
{
	return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double length(const LVector& a) { return std::sqrt(dot(a, a)); }
inline double distance(const LVector& a, const LVector& b) { return length(sub(a, b)); }

// Opt-in (`using namespace vtnhost::vec::operators;`), only where vtn_math.h is
// not included: both would define the same operators.
namespace operators {
inline LVector operator+(const LVector& a, const LVector& b) { return add(a, b); }
inline LVector operator-(const LVector& a, const LVector& b) { return sub(a, b); }
inline LVector operator*(const LVector& a, double s) { return scaled(a, s); }
}  // namespace operators

}  // namespace vtnhost::vec

#endif
