// Vector and matrix arithmetic on the shared geometry types. The same
// templates serve double (LVector, LMatrix) and single precision (SVector,
// SMatrix): every operation rounds in the precision of its operands, in the
// order written here, so results are reproducible to the bit.
#ifndef VTN_MATH_H
#define VTN_MATH_H

#include <cmath>
#include <type_traits>

#include "abi/vtn_types.h"

// Offset and axes in single precision.
struct SMatrix
{
	SVector off, v1, v2, v3;
};

template <typename V> struct IsVec3 : std::false_type {};
template <> struct IsVec3<LVector> : std::true_type {};
template <> struct IsVec3<SVector> : std::true_type {};
template <typename M> struct IsMat3 : std::false_type {};
template <> struct IsMat3<LMatrix> : std::true_type {};
template <> struct IsMat3<SMatrix> : std::true_type {};

template <typename V> using EnableVec = std::enable_if_t<IsVec3<V>::value, V>;
template <typename M> using EnableMat = std::enable_if_t<IsMat3<M>::value, M>;
template <typename V> using ScalarOf = decltype(V::x);
template <typename M> using VectorOf = decltype(M::off);

template <typename V> inline EnableVec<V> operator+(const V& a, const V& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
template <typename V> inline EnableVec<V> operator-(const V& a, const V& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
template <typename V> inline EnableVec<V> operator-(const V& a) { return {-a.x, -a.y, -a.z}; }
template <typename V> inline EnableVec<V> operator*(const V& a, ScalarOf<V> s) { return {a.x * s, a.y * s, a.z * s}; }
template <typename V> inline EnableVec<V> operator/(const V& a, ScalarOf<V> s) { return {a.x / s, a.y / s, a.z / s}; }
template <typename V> inline EnableVec<V> Cross(const V& a, const V& b)
{
	return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
template <typename V> inline std::enable_if_t<IsVec3<V>::value, ScalarOf<V>> Dot(const V& a, const V& b)
{
	return a.x * b.x + a.y * b.y + a.z * b.z;
}
template <typename V> inline std::enable_if_t<IsVec3<V>::value, ScalarOf<V>> Len(const V& a) { return std::sqrt(Dot(a, a)); }

inline LMatrix IdentityMatrix() { return {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}}; }

// A point: o + v1*p.x + v2*p.y + v3*p.z, summed in that order.
template <typename M, typename = EnableMat<M>> inline VectorOf<M> operator*(const M& m, const VectorOf<M>& p)
{
	return m.off + m.v1 * p.x + m.v2 * p.y + m.v3 * p.z;
}
// A direction: the axes alone.
template <typename M, typename = EnableMat<M>> inline VectorOf<M> TransformDir(const M& m, const VectorOf<M>& d)
{
	return m.v1 * d.x + m.v2 * d.y + m.v3 * d.z;
}
// a * b applies b first.
template <typename M> inline EnableMat<M> operator*(const M& a, const M& b)
{
	return {a * b.off, TransformDir(a, b.v1), TransformDir(a, b.v2), TransformDir(a, b.v3)};
}

// The inverse through the adjugate of the 3x3 part; the identity when its
// determinant is 0 (or, with nan_is_singular, NaN).
template <typename M> inline EnableMat<M> InvertMatrix(const M& m, bool nan_is_singular)
{
	using V = VectorOf<M>;
	using S = ScalarOf<V>;
	const V yz = Cross(m.v2, m.v3), zx = Cross(m.v3, m.v1), xy = Cross(m.v1, m.v2);
	const S det = Dot(m.v1, yz);
	if (det == S(0) || (nan_is_singular && std::isnan(det)))
		return {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
	M r;
	r.v1 = V{yz.x, zx.x, xy.x} / det;
	r.v2 = V{yz.y, zx.y, xy.y} / det;
	r.v3 = V{yz.z, zx.z, xy.z} / det;
	r.off = -TransformDir(r, m.off);
	return r;
}

// The inverse of an LMatrix; the identity when its 3x3 determinant is exactly 0.
inline LMatrix operator!(const LMatrix& m) { return InvertMatrix(m, false); }

inline SVector ToSingle(const LVector& v) { return {float(v.x), float(v.y), float(v.z)}; }
inline LVector ToDouble(const SVector& v) { return {v.x, v.y, v.z}; }
inline SMatrix ToSingle(const LMatrix& m) { return {ToSingle(m.off), ToSingle(m.v1), ToSingle(m.v2), ToSingle(m.v3)}; }

#endif
