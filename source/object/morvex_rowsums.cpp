#define VTN_SOURCE "Morvex"
#include "morvex_rowsums.h"

#include "morvex_cpu.h"

#include <cstdint>

// x86 with SSE arithmetic only: where the plain loop may keep x87 excess
// precision, the lanes would no longer match it bit for bit.
#if defined(__GNUC__) && (defined(__x86_64__) || (defined(__i386__) && defined(__SSE2_MATH__)))
#if !defined(__clang__)
// GCC 12 warns about its own _mm512_undefined_ps (a self-initialised
// placeholder) wherever an AVX-512 shuffle is inlined; the warning is false.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#define MORVEX_ROWSUMS_AVX 1
#endif

namespace {

// N rows side by side: one row's additions overlap the others', each row's
// own sum in its order.
template <int N>
void SumSideBySide(const RowSumTerms& t, const float* const* fi, const float* const* psi, SVector* A, SVector* B)
{
	SVector a[N], b[N];
	for (int u = 0; u < N; ++u)
	{
		a[u] = t.points[0] * fi[u][0];
		b[u] = SVector{0.0f, 0.0f, 0.0f};
	}
	for (Int32 k = 1; k < t.point_count; ++k)
		for (int u = 0; u < N; ++u)
			a[u] = a[u] + t.points[k] * fi[u][k];
	for (Int32 j = 0; j < t.face_count; ++j)
		for (int u = 0; u < N; ++u)
			b[u] = b[u] + t.faces[j] * psi[u][j];
	for (int u = 0; u < N; ++u)
	{
		A[u] = a[u];
		B[u] = b[u];
	}
}

#ifdef MORVEX_ROWSUMS_AVX

// The addresses ahead may lie past the table's end: they are kept as numbers,
// and a prefetch of any address is only a hint.
inline void Prefetch(std::uintptr_t address) { _mm_prefetch(reinterpret_cast<const char*>(address), _MM_HINT_T0); }

// Eight rows in the eight lanes: blocks of eight columns are loaded row by row
// and transposed, so each column's weights of all rows meet one broadcast
// coordinate. Lane u adds exactly the products row u's plain sum adds, in the
// same order; IEEE products and sums do not depend on the operands' order.
#define MORVEX_AVX __attribute__((target("avx")))

MORVEX_AVX inline void Transpose8(__m256 (&r)[8])
{
	const __m256 t0 = _mm256_unpacklo_ps(r[0], r[1]), t1 = _mm256_unpackhi_ps(r[0], r[1]);
	const __m256 t2 = _mm256_unpacklo_ps(r[2], r[3]), t3 = _mm256_unpackhi_ps(r[2], r[3]);
	const __m256 t4 = _mm256_unpacklo_ps(r[4], r[5]), t5 = _mm256_unpackhi_ps(r[4], r[5]);
	const __m256 t6 = _mm256_unpacklo_ps(r[6], r[7]), t7 = _mm256_unpackhi_ps(r[6], r[7]);
	const __m256 s0 = _mm256_shuffle_ps(t0, t2, 0x44), s1 = _mm256_shuffle_ps(t0, t2, 0xEE);
	const __m256 s2 = _mm256_shuffle_ps(t1, t3, 0x44), s3 = _mm256_shuffle_ps(t1, t3, 0xEE);
	const __m256 s4 = _mm256_shuffle_ps(t4, t6, 0x44), s5 = _mm256_shuffle_ps(t4, t6, 0xEE);
	const __m256 s6 = _mm256_shuffle_ps(t5, t7, 0x44), s7 = _mm256_shuffle_ps(t5, t7, 0xEE);
	r[0] = _mm256_permute2f128_ps(s0, s4, 0x20);
	r[1] = _mm256_permute2f128_ps(s1, s5, 0x20);
	r[2] = _mm256_permute2f128_ps(s2, s6, 0x20);
	r[3] = _mm256_permute2f128_ps(s3, s7, 0x20);
	r[4] = _mm256_permute2f128_ps(s0, s4, 0x31);
	r[5] = _mm256_permute2f128_ps(s1, s5, 0x31);
	r[6] = _mm256_permute2f128_ps(s2, s6, 0x31);
	r[7] = _mm256_permute2f128_ps(s3, s7, 0x31);
}

MORVEX_AVX inline __m256 Column8(const float* const* rows, Int32 k)
{
	return _mm256_set_ps(rows[7][k], rows[6][k], rows[5][k], rows[4][k], rows[3][k], rows[2][k], rows[1][k], rows[0][k]);
}

// acc = acc + v * column, per coordinate.
MORVEX_AVX inline void AddColumn(__m256 (&acc)[3], const SVector& v, __m256 column)
{
	acc[0] = _mm256_add_ps(acc[0], _mm256_mul_ps(_mm256_broadcast_ss(&v.x), column));
	acc[1] = _mm256_add_ps(acc[1], _mm256_mul_ps(_mm256_broadcast_ss(&v.y), column));
	acc[2] = _mm256_add_ps(acc[2], _mm256_mul_ps(_mm256_broadcast_ss(&v.z), column));
}

// Columns [from, n) of eight rows into acc. The sums stay in registers for
// the whole loop: kept in the caller's array they would make a round trip
// through memory on every addition.
MORVEX_AVX void Accumulate8(const float* const* rows, Int32 from, Int32 n, const SVector* v, __m256 (&acc)[3])
{
	__m256 sum[3] = {acc[0], acc[1], acc[2]};
	// A block reads four lines' worth of the eight rows: it asks for the next
	// four lines of the rows that follow them (see Accumulate16).
	std::uintptr_t ahead = reinterpret_cast<std::uintptr_t>(rows[7] + n);
	Int32 k = from;
	for (; k + 8 <= n; k += 8)
	{
		__m256 c[8];
		for (int u = 0; u < 8; ++u)
			c[u] = _mm256_loadu_ps(rows[u] + k);
		for (int line = 0; line < 4; ++line)
			Prefetch(ahead + 64 * line);
		ahead += 4 * 64;
		Transpose8(c);
		for (int i = 0; i < 8; ++i)
			AddColumn(sum, v[k + i], c[i]);
	}
	for (; k < n; ++k)
		AddColumn(sum, v[k], Column8(rows, k));
	for (int d = 0; d < 3; ++d)
		acc[d] = sum[d];
}

MORVEX_AVX void Store8(const __m256 (&acc)[3], SVector* out)
{
	alignas(32) float x[8], y[8], z[8];
	_mm256_store_ps(x, acc[0]);
	_mm256_store_ps(y, acc[1]);
	_mm256_store_ps(z, acc[2]);
	for (int u = 0; u < 8; ++u)
		out[u] = SVector{x[u], y[u], z[u]};
}

MORVEX_AVX void SumEightAvx(const RowSumTerms& t, const float* const* fi, const float* const* psi, SVector* A, SVector* B)
{
	// The vertex sum starts from its first product, the face sum from zero.
	const __m256 first = Column8(fi, 0);
	__m256 a[3] = {_mm256_mul_ps(_mm256_broadcast_ss(&t.points[0].x), first),
	               _mm256_mul_ps(_mm256_broadcast_ss(&t.points[0].y), first),
	               _mm256_mul_ps(_mm256_broadcast_ss(&t.points[0].z), first)};
	Accumulate8(fi, 1, t.point_count, t.points, a);
	__m256 b[3] = {_mm256_setzero_ps(), _mm256_setzero_ps(), _mm256_setzero_ps()};
	Accumulate8(psi, 0, t.face_count, t.faces, b);
	Store8(a, A);
	Store8(b, B);
}

// Sixteen rows in sixteen lanes, the same scheme at twice the width.
#define MORVEX_AVX512 __attribute__((target("avx512f")))

MORVEX_AVX512 inline void Transpose16(__m512 (&r)[16])
{
	__m512 t[16], u[16];
	for (int q = 0; q < 16; q += 2)
	{
		t[q] = _mm512_unpacklo_ps(r[q], r[q + 1]);
		t[q + 1] = _mm512_unpackhi_ps(r[q], r[q + 1]);
	}
	// Within each 128-bit lane, u[4g + j] holds column j of rows 4g to 4g + 3.
	for (int g = 0; g < 16; g += 4)
	{
		u[g] = _mm512_shuffle_ps(t[g], t[g + 2], 0x44);
		u[g + 1] = _mm512_shuffle_ps(t[g], t[g + 2], 0xEE);
		u[g + 2] = _mm512_shuffle_ps(t[g + 1], t[g + 3], 0x44);
		u[g + 3] = _mm512_shuffle_ps(t[g + 1], t[g + 3], 0xEE);
	}
	// Gather lane L of the four row groups: column 4 L + j.
	for (int j = 0; j < 4; ++j)
	{
		const __m512 even_lo = _mm512_shuffle_f32x4(u[j], u[4 + j], 0x88), odd_lo = _mm512_shuffle_f32x4(u[j], u[4 + j], 0xDD);
		const __m512 even_hi = _mm512_shuffle_f32x4(u[8 + j], u[12 + j], 0x88), odd_hi = _mm512_shuffle_f32x4(u[8 + j], u[12 + j], 0xDD);
		r[j] = _mm512_shuffle_f32x4(even_lo, even_hi, 0x88);
		r[8 + j] = _mm512_shuffle_f32x4(even_lo, even_hi, 0xDD);
		r[4 + j] = _mm512_shuffle_f32x4(odd_lo, odd_hi, 0x88);
		r[12 + j] = _mm512_shuffle_f32x4(odd_lo, odd_hi, 0xDD);
	}
}

MORVEX_AVX512 inline void AddColumn16(__m512& x, __m512& y, __m512& z, const SVector& v, __m512 column)
{
	x = _mm512_add_ps(x, _mm512_mul_ps(_mm512_set1_ps(v.x), column));
	y = _mm512_add_ps(y, _mm512_mul_ps(_mm512_set1_ps(v.y), column));
	z = _mm512_add_ps(z, _mm512_mul_ps(_mm512_set1_ps(v.z), column));
}

// Columns [from, n) of sixteen rows into x, y, z. Full blocks keep their
// columns in registers; the last, partial block is loaded under a mask, so no
// row is read past its end.
//
// Sixteen short rows are sixteen short streams, too short for the hardware
// prefetcher to pick up. But a table's rows follow one another in memory, so
// the rows after these sixteen start where the last one ends: each block asks
// for the next sixteen lines of that stretch, and by the end the next call's
// rows are on their way. (Rows that do not follow each other only make the
// requests useless; a prefetch never faults.)
MORVEX_AVX512 void Accumulate16(const float* const* rows, Int32 from, Int32 n, const SVector* v, __m512& x_out, __m512& y_out,
                                __m512& z_out)
{
	__m512 x = x_out, y = y_out, z = z_out;
	std::uintptr_t ahead = reinterpret_cast<std::uintptr_t>(rows[15] + n);
	Int32 k = from;
	for (; k + 16 <= n; k += 16)
	{
		__m512 c[16];
		for (int u = 0; u < 16; ++u)
		{
			Prefetch(ahead + 64 * u);
			c[u] = _mm512_loadu_ps(rows[u] + k);
		}
		ahead += 16 * 64;
		Transpose16(c);
		for (int i = 0; i < 16; ++i)
			AddColumn16(x, y, z, v[k + i], c[i]);
	}
	if (k < n)
	{
		const Int32 width = n - k;
		const __mmask16 mask = static_cast<__mmask16>((1u << width) - 1u);
		__m512 c[16];
		for (int u = 0; u < 16; ++u)
		{
			Prefetch(ahead + 64 * u);
			c[u] = _mm512_maskz_loadu_ps(mask, rows[u] + k);
		}
		Transpose16(c);
		for (Int32 i = 0; i < width; ++i)
			AddColumn16(x, y, z, v[k + i], c[i]);
	}
	x_out = x;
	y_out = y;
	z_out = z;
}

MORVEX_AVX512 void Store16(__m512 x, __m512 y, __m512 z, SVector* out)
{
	alignas(64) float xs[16], ys[16], zs[16];
	_mm512_store_ps(xs, x);
	_mm512_store_ps(ys, y);
	_mm512_store_ps(zs, z);
	for (int u = 0; u < 16; ++u)
		out[u] = SVector{xs[u], ys[u], zs[u]};
}

MORVEX_AVX512 void SumSixteenAvx512(const RowSumTerms& t, const float* const* fi, const float* const* psi, SVector* A,
                                    SVector* B)
{
	alignas(64) float first[16];
	for (int u = 0; u < 16; ++u)
		first[u] = fi[u][0];
	const __m512 f0 = _mm512_load_ps(first);
	__m512 ax = _mm512_mul_ps(_mm512_set1_ps(t.points[0].x), f0), ay = _mm512_mul_ps(_mm512_set1_ps(t.points[0].y), f0),
	       az = _mm512_mul_ps(_mm512_set1_ps(t.points[0].z), f0);
	Accumulate16(fi, 1, t.point_count, t.points, ax, ay, az);
	__m512 bx = _mm512_setzero_ps(), by = _mm512_setzero_ps(), bz = _mm512_setzero_ps();
	Accumulate16(psi, 0, t.face_count, t.faces, bx, by, bz);
	Store16(ax, ay, az, A);
	Store16(bx, by, bz, B);
}

bool HasAvx() { return RunsAvx(MachineCpu()); }
bool HasAvx512() { return RunsAvx512(MachineCpu()); }

#endif

}  // namespace

void SumRows(const RowSumTerms& terms, const float* const* fi, const float* const* psi, int count, SVector* A, SVector* B)
{
	int u = 0;
#ifdef MORVEX_ROWSUMS_AVX
	if (count == 16 && HasAvx512())
	{
		SumSixteenAvx512(terms, fi, psi, A, B);
		return;
	}
	if (HasAvx())
		for (; u + 8 <= count; u += 8)
			SumEightAvx(terms, fi + u, psi + u, A + u, B + u);
#endif
	for (; u + 4 <= count; u += 4)
		SumSideBySide<4>(terms, fi + u, psi + u, A + u, B + u);
	SumRowsPlain(terms, fi + u, psi + u, count - u, A + u, B + u);
}

void SumRowsPlain(const RowSumTerms& terms, const float* const* fi, const float* const* psi, int count, SVector* A, SVector* B)
{
	for (int u = 0; u < count; ++u)
		SumSideBySide<1>(terms, fi + u, psi + u, A + u, B + u);
}
