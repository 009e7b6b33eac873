// The deformation's two single-precision sums for several bound points at once.
// Each point's sums keep the order and the roundings of the plain loop
//   A = p[0] * fi[0] + p[1] * fi[1] + ... + p[n-1] * fi[n-1]
//   B = 0 + t[0] * psi[0] + ... + t[m-1] * psi[m-1]
// (a product, then an addition, per component), so they are bit-identical to
// it; only different points' sums run side by side.
#ifndef MORVEX_ROWSUMS_H
#define MORVEX_ROWSUMS_H

#include "vtn_math.h"

struct RowSumTerms
{
	const SVector* points;  // the cage points in the deformer's frame
	Int32 point_count;
	const SVector* faces;   // the stretched face normals
	Int32 face_count;
};

// The most rows one call takes.
constexpr int kRowSumMax = 16;

// A[u] and B[u] for the rows fi[u] and psi[u], u < count <= kRowSumMax.
void SumRows(const RowSumTerms& terms, const float* const* fi, const float* const* psi, int count, SVector* A, SVector* B);

// The same sums one row at a time, as the plain per-point loop forms them.
void SumRowsPlain(const RowSumTerms& terms, const float* const* fi, const float* const* psi, int count, SVector* A, SVector* B);

// Asks for the line at p ahead of a write; a hint, which no address makes fault.
inline void PrefetchForWrite(const void* p)
{
#if defined(__GNUC__)
	__builtin_prefetch(p, 1);
#else
	(void)p;
#endif
}

#endif
