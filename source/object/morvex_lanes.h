// Lanes of doubles for code written once and compiled for several vector
// widths: double is the one-lane case, Sse2Lanes, Avx2Lanes and Avx512Lanes
// hold 2, 4 and 8. Every operation on a wider type is, lane by lane, the one
// IEEE operation its double form performs (no fused multiply-add, no
// approximate reciprocal, selects as exact blends), so code written over these
// types gives the same bits at every width.
//
// Memory and mask operations go through Lanes<V>; arithmetic, comparisons and
// Select, Fabs, Copysign, Sqrt, BitsOf, FromBits are free functions, so the
// shared code reads like the scalar code it replaces.
#ifndef MORVEX_LANES_H
#define MORVEX_LANES_H

#include <cmath>
#include <cstdint>
#include <cstring>

#include "abi/vtn_types.h"

// The vector types need GCC's target attributes and `#pragma GCC target`
// (GCC and MinGW; Clang ignores the pragma, so it builds the scalar path
// alone) and doubles computed in SSE2 registers: where the scalar code keeps
// x87 extended precision (32-bit x86 without -mfpmath=sse), the lanes could
// not match it.
#if defined(__GNUC__) && !defined(__clang__) && (defined(__x86_64__) || defined(__i386__)) && defined(__SSE2_MATH__)
#define MORVEX_LANES_X86 1
// GCC 12 flags its own _mm512_undefined_* placeholders (self-initialised on
// purpose) as possibly uninitialised wherever an AVX-512 intrinsic that uses
// one is inlined; the warning is false.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#endif

// For every function that takes or returns lanes. GCC 12 clears the upper
// half of a wrapped vector that a function compiled for a target attribute
// returns (it places a vzeroupper before the return), so no lanes may cross a
// call that stays a call.
#if defined(__GNUC__)
#define MORVEX_LANES_INLINE __attribute__((always_inline)) inline
#else
#define MORVEX_LANES_INLINE inline
#endif

template <class V>
struct Lanes;

// One lane: plain doubles, bools for masks.
template <>
struct Lanes<double>
{
	static constexpr int kWidth = 1;
	static double Load(const double* p) { return *p; }
	static void Store(double* p, double v) { *p = v; }
	// Records of four (two) doubles: lane i loads the record at base + 4 index[i]
	// (base + 2 index[i]) into a, b, c, d; the stores write the records of lanes
	// 0, 1, ... one after the other from base. The wider types load whole
	// records and transpose them in registers: a gather per field cost twice
	// as much on the machines measured (bench/README.md).
	static void LoadRecords4(const double* base, const Int32* index, double& a, double& b, double& c, double& d)
	{
		const double* p = base + 4 * static_cast<Int64>(*index);
		a = p[0];
		b = p[1];
		c = p[2];
		d = p[3];
	}
	static void StoreRecords4(double* base, double a, double b, double c, double d)
	{
		base[0] = a;
		base[1] = b;
		base[2] = c;
		base[3] = d;
	}
	static void LoadRecords2(const double* base, const Int32* index, double& a, double& b)
	{
		const double* p = base + 2 * static_cast<Int64>(*index);
		a = p[0];
		b = p[1];
	}
	static void StoreRecords2(double* base, double a, double b)
	{
		base[0] = a;
		base[1] = b;
	}
	// The first count (here 1) lanes, rounded to float.
	static void StoreFloats(float* p, double v, int /*count*/) { *p = float(v); }
	// Bit i set for lane i set in m.
	static unsigned MaskBits(bool m) { return m ? 1u : 0u; }
};

inline double Select(bool m, double a, double b) { return m ? a : b; }
inline double Fabs(double x) { return std::fabs(x); }
inline double Copysign(double x, double y) { return std::copysign(x, y); }
inline double Sqrt(double x) { return std::sqrt(x); }
inline std::uint64_t BitsOf(double x)
{
	std::uint64_t bits;
	std::memcpy(&bits, &x, sizeof bits);
	return bits;
}
inline double FromBits(std::uint64_t bits)
{
	double x;
	std::memcpy(&x, &bits, sizeof x);
	return x;
}

#ifdef MORVEX_LANES_X86

// SSE2 is the baseline of x86-64, and the 32-bit build asks for it with
// -mfpmath=sse: these need no target of their own.
#define MORVEX_SSE2 __attribute__((always_inline)) inline
#define MORVEX_AVX2 __attribute__((target("avx2"), always_inline)) inline
#define MORVEX_AVX512 __attribute__((target("avx512f"), always_inline)) inline

// ---- two lanes, SSE2

struct Sse2Lanes
{
	__m128d v;
	Sse2Lanes() = default;
	MORVEX_SSE2 Sse2Lanes(double x) : v(_mm_set1_pd(x)) {}
	MORVEX_SSE2 explicit Sse2Lanes(__m128d x) : v(x) {}
};
// All bits of a lane set or clear.
struct Sse2Mask
{
	__m128d m;
};
struct Sse2Bits
{
	__m128i v;
	Sse2Bits() = default;
	MORVEX_SSE2 Sse2Bits(std::uint64_t x) : v(_mm_set1_epi64x(static_cast<long long>(x))) {}
	MORVEX_SSE2 explicit Sse2Bits(__m128i x) : v(x) {}
};

template <>
struct Lanes<Sse2Lanes>
{
	static constexpr int kWidth = 2;
	static MORVEX_SSE2 Sse2Lanes Load(const double* p) { return Sse2Lanes(_mm_loadu_pd(p)); }
	static MORVEX_SSE2 void Store(double* p, Sse2Lanes v) { _mm_storeu_pd(p, v.v); }
	static MORVEX_SSE2 void LoadRecords4(const double* base, const Int32* index, Sse2Lanes& a, Sse2Lanes& b, Sse2Lanes& c,
	                                     Sse2Lanes& d)
	{
		const double* p0 = base + 4 * static_cast<Int64>(index[0]);
		const double* p1 = base + 4 * static_cast<Int64>(index[1]);
		const __m128d lo0 = _mm_loadu_pd(p0), hi0 = _mm_loadu_pd(p0 + 2), lo1 = _mm_loadu_pd(p1), hi1 = _mm_loadu_pd(p1 + 2);
		a = Sse2Lanes(_mm_unpacklo_pd(lo0, lo1));
		b = Sse2Lanes(_mm_unpackhi_pd(lo0, lo1));
		c = Sse2Lanes(_mm_unpacklo_pd(hi0, hi1));
		d = Sse2Lanes(_mm_unpackhi_pd(hi0, hi1));
	}
	static MORVEX_SSE2 void StoreRecords4(double* base, Sse2Lanes a, Sse2Lanes b, Sse2Lanes c, Sse2Lanes d)
	{
		_mm_storeu_pd(base, _mm_unpacklo_pd(a.v, b.v));
		_mm_storeu_pd(base + 2, _mm_unpacklo_pd(c.v, d.v));
		_mm_storeu_pd(base + 4, _mm_unpackhi_pd(a.v, b.v));
		_mm_storeu_pd(base + 6, _mm_unpackhi_pd(c.v, d.v));
	}
	static MORVEX_SSE2 void LoadRecords2(const double* base, const Int32* index, Sse2Lanes& a, Sse2Lanes& b)
	{
		const __m128d r0 = _mm_loadu_pd(base + 2 * static_cast<Int64>(index[0]));
		const __m128d r1 = _mm_loadu_pd(base + 2 * static_cast<Int64>(index[1]));
		a = Sse2Lanes(_mm_unpacklo_pd(r0, r1));
		b = Sse2Lanes(_mm_unpackhi_pd(r0, r1));
	}
	static MORVEX_SSE2 void StoreRecords2(double* base, Sse2Lanes a, Sse2Lanes b)
	{
		_mm_storeu_pd(base, _mm_unpacklo_pd(a.v, b.v));
		_mm_storeu_pd(base + 2, _mm_unpackhi_pd(a.v, b.v));
	}
	static MORVEX_SSE2 void StoreFloats(float* p, Sse2Lanes v, int count)
	{
		const __m128 f = _mm_cvtpd_ps(v.v);
		if (count == 2)
			_mm_storel_pi(reinterpret_cast<__m64*>(p), f);
		else
			_mm_store_ss(p, f);
	}
	static MORVEX_SSE2 unsigned MaskBits(Sse2Mask m) { return static_cast<unsigned>(_mm_movemask_pd(m.m)); }
};

MORVEX_SSE2 Sse2Lanes operator+(Sse2Lanes a, Sse2Lanes b) { return Sse2Lanes(_mm_add_pd(a.v, b.v)); }
MORVEX_SSE2 Sse2Lanes operator-(Sse2Lanes a, Sse2Lanes b) { return Sse2Lanes(_mm_sub_pd(a.v, b.v)); }
MORVEX_SSE2 Sse2Lanes operator*(Sse2Lanes a, Sse2Lanes b) { return Sse2Lanes(_mm_mul_pd(a.v, b.v)); }
MORVEX_SSE2 Sse2Lanes operator/(Sse2Lanes a, Sse2Lanes b) { return Sse2Lanes(_mm_div_pd(a.v, b.v)); }
MORVEX_SSE2 Sse2Lanes operator-(Sse2Lanes a) { return Sse2Lanes(_mm_xor_pd(a.v, _mm_set1_pd(-0.0))); }
MORVEX_SSE2 Sse2Mask operator<(Sse2Lanes a, Sse2Lanes b) { return {_mm_cmplt_pd(a.v, b.v)}; }
MORVEX_SSE2 Sse2Mask operator<=(Sse2Lanes a, Sse2Lanes b) { return {_mm_cmple_pd(a.v, b.v)}; }
MORVEX_SSE2 Sse2Mask operator>(Sse2Lanes a, Sse2Lanes b) { return {_mm_cmpgt_pd(a.v, b.v)}; }
MORVEX_SSE2 Sse2Mask operator>=(Sse2Lanes a, Sse2Lanes b) { return {_mm_cmpge_pd(a.v, b.v)}; }
MORVEX_SSE2 Sse2Mask operator==(Sse2Lanes a, Sse2Lanes b) { return {_mm_cmpeq_pd(a.v, b.v)}; }
MORVEX_SSE2 Sse2Mask operator&(Sse2Mask a, Sse2Mask b) { return {_mm_and_pd(a.m, b.m)}; }
MORVEX_SSE2 Sse2Lanes Select(Sse2Mask m, Sse2Lanes a, Sse2Lanes b)
{
	return Sse2Lanes(_mm_or_pd(_mm_and_pd(m.m, a.v), _mm_andnot_pd(m.m, b.v)));
}
MORVEX_SSE2 Sse2Lanes Fabs(Sse2Lanes x) { return Sse2Lanes(_mm_andnot_pd(_mm_set1_pd(-0.0), x.v)); }
MORVEX_SSE2 Sse2Lanes Copysign(Sse2Lanes x, Sse2Lanes y)
{
	const __m128d sign = _mm_set1_pd(-0.0);
	return Sse2Lanes(_mm_or_pd(_mm_andnot_pd(sign, x.v), _mm_and_pd(sign, y.v)));
}
MORVEX_SSE2 Sse2Lanes Sqrt(Sse2Lanes x) { return Sse2Lanes(_mm_sqrt_pd(x.v)); }
MORVEX_SSE2 Sse2Bits BitsOf(Sse2Lanes x) { return Sse2Bits(_mm_castpd_si128(x.v)); }
MORVEX_SSE2 Sse2Lanes FromBits(Sse2Bits x) { return Sse2Lanes(_mm_castsi128_pd(x.v)); }
MORVEX_SSE2 Sse2Bits operator>>(Sse2Bits a, int n) { return Sse2Bits(_mm_srli_epi64(a.v, n)); }
MORVEX_SSE2 Sse2Bits operator&(Sse2Bits a, Sse2Bits b) { return Sse2Bits(_mm_and_si128(a.v, b.v)); }
MORVEX_SSE2 Sse2Bits operator|(Sse2Bits a, Sse2Bits b) { return Sse2Bits(_mm_or_si128(a.v, b.v)); }

// ---- four lanes, AVX2

struct Avx2Lanes
{
	__m256d v;
	Avx2Lanes() = default;
	MORVEX_AVX2 Avx2Lanes(double x) : v(_mm256_set1_pd(x)) {}
	MORVEX_AVX2 explicit Avx2Lanes(__m256d x) : v(x) {}
};
struct Avx2Mask
{
	__m256d m;
};
struct Avx2Bits
{
	__m256i v;
	Avx2Bits() = default;
	MORVEX_AVX2 Avx2Bits(std::uint64_t x) : v(_mm256_set1_epi64x(static_cast<long long>(x))) {}
	MORVEX_AVX2 explicit Avx2Bits(__m256i x) : v(x) {}
};

template <>
struct Lanes<Avx2Lanes>
{
	static constexpr int kWidth = 4;
	static MORVEX_AVX2 Avx2Lanes Load(const double* p) { return Avx2Lanes(_mm256_loadu_pd(p)); }
	static MORVEX_AVX2 void Store(double* p, Avx2Lanes v) { _mm256_storeu_pd(p, v.v); }
	static MORVEX_AVX2 void LoadRecords4(const double* base, const Int32* index, Avx2Lanes& a, Avx2Lanes& b, Avx2Lanes& c,
	                                     Avx2Lanes& d)
	{
		const __m256d r0 = _mm256_loadu_pd(base + 4 * static_cast<Int64>(index[0]));
		const __m256d r1 = _mm256_loadu_pd(base + 4 * static_cast<Int64>(index[1]));
		const __m256d r2 = _mm256_loadu_pd(base + 4 * static_cast<Int64>(index[2]));
		const __m256d r3 = _mm256_loadu_pd(base + 4 * static_cast<Int64>(index[3]));
		// (a0 a1 | c0 c1), (b0 b1 | d0 d1), and the same for records 2 and 3.
		const __m256d ac01 = _mm256_unpacklo_pd(r0, r1), bd01 = _mm256_unpackhi_pd(r0, r1);
		const __m256d ac23 = _mm256_unpacklo_pd(r2, r3), bd23 = _mm256_unpackhi_pd(r2, r3);
		a = Avx2Lanes(_mm256_permute2f128_pd(ac01, ac23, 0x20));
		b = Avx2Lanes(_mm256_permute2f128_pd(bd01, bd23, 0x20));
		c = Avx2Lanes(_mm256_permute2f128_pd(ac01, ac23, 0x31));
		d = Avx2Lanes(_mm256_permute2f128_pd(bd01, bd23, 0x31));
	}
	static MORVEX_AVX2 void StoreRecords4(double* base, Avx2Lanes a, Avx2Lanes b, Avx2Lanes c, Avx2Lanes d)
	{
		// (a0 b0 | a2 b2), (a1 b1 | a3 b3), (c0 d0 | c2 d2), (c1 d1 | c3 d3).
		const __m256d ab02 = _mm256_unpacklo_pd(a.v, b.v), ab13 = _mm256_unpackhi_pd(a.v, b.v);
		const __m256d cd02 = _mm256_unpacklo_pd(c.v, d.v), cd13 = _mm256_unpackhi_pd(c.v, d.v);
		_mm256_storeu_pd(base, _mm256_permute2f128_pd(ab02, cd02, 0x20));
		_mm256_storeu_pd(base + 4, _mm256_permute2f128_pd(ab13, cd13, 0x20));
		_mm256_storeu_pd(base + 8, _mm256_permute2f128_pd(ab02, cd02, 0x31));
		_mm256_storeu_pd(base + 12, _mm256_permute2f128_pd(ab13, cd13, 0x31));
	}
	static MORVEX_AVX2 void LoadRecords2(const double* base, const Int32* index, Avx2Lanes& a, Avx2Lanes& b)
	{
		// Records 0 and 2 in one register, 1 and 3 in the other.
		const __m256d r02 = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(base + 2 * static_cast<Int64>(index[0]))),
		                                         _mm_loadu_pd(base + 2 * static_cast<Int64>(index[2])), 1);
		const __m256d r13 = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(base + 2 * static_cast<Int64>(index[1]))),
		                                         _mm_loadu_pd(base + 2 * static_cast<Int64>(index[3])), 1);
		a = Avx2Lanes(_mm256_unpacklo_pd(r02, r13));
		b = Avx2Lanes(_mm256_unpackhi_pd(r02, r13));
	}
	static MORVEX_AVX2 void StoreRecords2(double* base, Avx2Lanes a, Avx2Lanes b)
	{
		const __m256d r02 = _mm256_unpacklo_pd(a.v, b.v), r13 = _mm256_unpackhi_pd(a.v, b.v);
		_mm256_storeu_pd(base, _mm256_permute2f128_pd(r02, r13, 0x20));
		_mm256_storeu_pd(base + 4, _mm256_permute2f128_pd(r02, r13, 0x31));
	}
	static MORVEX_AVX2 void StoreFloats(float* p, Avx2Lanes v, int count)
	{
		const __m128 f = _mm256_cvtpd_ps(v.v);
		if (count == 4)
		{
			_mm_storeu_ps(p, f);
			return;
		}
		float all[4];
		_mm_storeu_ps(all, f);
		for (int i = 0; i < count; ++i)
			p[i] = all[i];
	}
	static MORVEX_AVX2 unsigned MaskBits(Avx2Mask m) { return static_cast<unsigned>(_mm256_movemask_pd(m.m)); }
};

MORVEX_AVX2 Avx2Lanes operator+(Avx2Lanes a, Avx2Lanes b) { return Avx2Lanes(_mm256_add_pd(a.v, b.v)); }
MORVEX_AVX2 Avx2Lanes operator-(Avx2Lanes a, Avx2Lanes b) { return Avx2Lanes(_mm256_sub_pd(a.v, b.v)); }
MORVEX_AVX2 Avx2Lanes operator*(Avx2Lanes a, Avx2Lanes b) { return Avx2Lanes(_mm256_mul_pd(a.v, b.v)); }
MORVEX_AVX2 Avx2Lanes operator/(Avx2Lanes a, Avx2Lanes b) { return Avx2Lanes(_mm256_div_pd(a.v, b.v)); }
MORVEX_AVX2 Avx2Lanes operator-(Avx2Lanes a) { return Avx2Lanes(_mm256_xor_pd(a.v, _mm256_set1_pd(-0.0))); }
// Ordered, quiet predicates: false where either side is NaN, as in C.
MORVEX_AVX2 Avx2Mask operator<(Avx2Lanes a, Avx2Lanes b) { return {_mm256_cmp_pd(a.v, b.v, _CMP_LT_OQ)}; }
MORVEX_AVX2 Avx2Mask operator<=(Avx2Lanes a, Avx2Lanes b) { return {_mm256_cmp_pd(a.v, b.v, _CMP_LE_OQ)}; }
MORVEX_AVX2 Avx2Mask operator>(Avx2Lanes a, Avx2Lanes b) { return {_mm256_cmp_pd(a.v, b.v, _CMP_GT_OQ)}; }
MORVEX_AVX2 Avx2Mask operator>=(Avx2Lanes a, Avx2Lanes b) { return {_mm256_cmp_pd(a.v, b.v, _CMP_GE_OQ)}; }
MORVEX_AVX2 Avx2Mask operator==(Avx2Lanes a, Avx2Lanes b) { return {_mm256_cmp_pd(a.v, b.v, _CMP_EQ_OQ)}; }
MORVEX_AVX2 Avx2Mask operator&(Avx2Mask a, Avx2Mask b) { return {_mm256_and_pd(a.m, b.m)}; }
MORVEX_AVX2 Avx2Lanes Select(Avx2Mask m, Avx2Lanes a, Avx2Lanes b) { return Avx2Lanes(_mm256_blendv_pd(b.v, a.v, m.m)); }
MORVEX_AVX2 Avx2Lanes Fabs(Avx2Lanes x) { return Avx2Lanes(_mm256_andnot_pd(_mm256_set1_pd(-0.0), x.v)); }
MORVEX_AVX2 Avx2Lanes Copysign(Avx2Lanes x, Avx2Lanes y)
{
	const __m256d sign = _mm256_set1_pd(-0.0);
	return Avx2Lanes(_mm256_or_pd(_mm256_andnot_pd(sign, x.v), _mm256_and_pd(sign, y.v)));
}
MORVEX_AVX2 Avx2Lanes Sqrt(Avx2Lanes x) { return Avx2Lanes(_mm256_sqrt_pd(x.v)); }
MORVEX_AVX2 Avx2Bits BitsOf(Avx2Lanes x) { return Avx2Bits(_mm256_castpd_si256(x.v)); }
MORVEX_AVX2 Avx2Lanes FromBits(Avx2Bits x) { return Avx2Lanes(_mm256_castsi256_pd(x.v)); }
MORVEX_AVX2 Avx2Bits operator>>(Avx2Bits a, int n) { return Avx2Bits(_mm256_srli_epi64(a.v, n)); }
MORVEX_AVX2 Avx2Bits operator&(Avx2Bits a, Avx2Bits b) { return Avx2Bits(_mm256_and_si256(a.v, b.v)); }
MORVEX_AVX2 Avx2Bits operator|(Avx2Bits a, Avx2Bits b) { return Avx2Bits(_mm256_or_si256(a.v, b.v)); }

// ---- eight lanes, AVX-512F (nothing beyond the foundation: the bit
// operations on doubles go through the integer forms). Where GCC's plain form
// of an intrinsic starts from an undefined register, which its own
// uninitialized-use warning then flags, the zero-masked form with every lane
// selected stands in: the same instruction on every lane.

constexpr __mmask8 kAll8 = 0xFF;

struct Avx512Lanes
{
	__m512d v;
	Avx512Lanes() = default;
	MORVEX_AVX512 Avx512Lanes(double x) : v(_mm512_set1_pd(x)) {}
	MORVEX_AVX512 explicit Avx512Lanes(__m512d x) : v(x) {}
};
struct Avx512Mask
{
	__mmask8 k;
};
struct Avx512Bits
{
	__m512i v;
	Avx512Bits() = default;
	MORVEX_AVX512 Avx512Bits(std::uint64_t x) : v(_mm512_set1_epi64(static_cast<long long>(x))) {}
	MORVEX_AVX512 explicit Avx512Bits(__m512i x) : v(x) {}
};

template <>
struct Lanes<Avx512Lanes>
{
	static constexpr int kWidth = 8;
	static MORVEX_AVX512 Avx512Lanes Load(const double* p) { return Avx512Lanes(_mm512_loadu_pd(p)); }
	static MORVEX_AVX512 void Store(double* p, Avx512Lanes v) { _mm512_storeu_pd(p, v.v); }
	static MORVEX_AVX512 __m512d Pair(const double* lo, const double* hi)
	{
		return _mm512_insertf64x4(_mm512_castpd256_pd512(_mm256_loadu_pd(lo)), _mm256_loadu_pd(hi), 1);
	}
	static MORVEX_AVX512 void LoadRecords4(const double* base, const Int32* index, Avx512Lanes& a, Avx512Lanes& b,
	                                       Avx512Lanes& c, Avx512Lanes& d)
	{
		const double* p[8];
		for (int i = 0; i < 8; ++i)
			p[i] = base + 4 * static_cast<Int64>(index[i]);
		// Records (0 | 2), (1 | 3), (4 | 6), (5 | 7); then per 128-bit lane
		// (a_i a_i+1), (c_i c_i+1), ... and the lanes picked in order.
		const __m512d r02 = Pair(p[0], p[2]), r13 = Pair(p[1], p[3]), r46 = Pair(p[4], p[6]), r57 = Pair(p[5], p[7]);
		const __m512d ac03 = _mm512_unpacklo_pd(r02, r13), bd03 = _mm512_unpackhi_pd(r02, r13);
		const __m512d ac47 = _mm512_unpacklo_pd(r46, r57), bd47 = _mm512_unpackhi_pd(r46, r57);
		a = Avx512Lanes(_mm512_shuffle_f64x2(ac03, ac47, 0x88));
		b = Avx512Lanes(_mm512_shuffle_f64x2(bd03, bd47, 0x88));
		c = Avx512Lanes(_mm512_shuffle_f64x2(ac03, ac47, 0xDD));
		d = Avx512Lanes(_mm512_shuffle_f64x2(bd03, bd47, 0xDD));
	}
	static MORVEX_AVX512 void StoreRecords4(double* base, Avx512Lanes a, Avx512Lanes b, Avx512Lanes c, Avx512Lanes d)
	{
		// (a_i b_i) and (c_i d_i) for even i, then odd i, in 128-bit lanes;
		// a record is one of each, side by side.
		const __m512d ab_even = _mm512_unpacklo_pd(a.v, b.v), ab_odd = _mm512_unpackhi_pd(a.v, b.v);
		const __m512d cd_even = _mm512_unpacklo_pd(c.v, d.v), cd_odd = _mm512_unpackhi_pd(c.v, d.v);
		const __m512i first = _mm512_set_epi64(11, 10, 3, 2, 9, 8, 1, 0), second = _mm512_set_epi64(15, 14, 7, 6, 13, 12, 5, 4);
		// Records 0 and 2, 1 and 3, 4 and 6, 5 and 7.
		const __m512d r02 = _mm512_permutex2var_pd(ab_even, first, cd_even), r46 = _mm512_permutex2var_pd(ab_even, second, cd_even);
		const __m512d r13 = _mm512_permutex2var_pd(ab_odd, first, cd_odd), r57 = _mm512_permutex2var_pd(ab_odd, second, cd_odd);
		_mm256_storeu_pd(base, _mm512_castpd512_pd256(r02));
		_mm256_storeu_pd(base + 4, _mm512_castpd512_pd256(r13));
		_mm256_storeu_pd(base + 8, _mm512_extractf64x4_pd(r02, 1));
		_mm256_storeu_pd(base + 12, _mm512_extractf64x4_pd(r13, 1));
		_mm256_storeu_pd(base + 16, _mm512_castpd512_pd256(r46));
		_mm256_storeu_pd(base + 20, _mm512_castpd512_pd256(r57));
		_mm256_storeu_pd(base + 24, _mm512_extractf64x4_pd(r46, 1));
		_mm256_storeu_pd(base + 28, _mm512_extractf64x4_pd(r57, 1));
	}
	static MORVEX_AVX512 __m256d Pair2(const double* base, Int32 lo, Int32 hi)
	{
		return _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(base + 2 * static_cast<Int64>(lo))),
		                            _mm_loadu_pd(base + 2 * static_cast<Int64>(hi)), 1);
	}
	static MORVEX_AVX512 void LoadRecords2(const double* base, const Int32* index, Avx512Lanes& a, Avx512Lanes& b)
	{
		// Records (0 2 | 4 6) and (1 3 | 5 7).
		const __m512d even = _mm512_insertf64x4(_mm512_castpd256_pd512(Pair2(base, index[0], index[2])), Pair2(base, index[4], index[6]), 1);
		const __m512d odd = _mm512_insertf64x4(_mm512_castpd256_pd512(Pair2(base, index[1], index[3])), Pair2(base, index[5], index[7]), 1);
		a = Avx512Lanes(_mm512_unpacklo_pd(even, odd));
		b = Avx512Lanes(_mm512_unpackhi_pd(even, odd));
	}
	static MORVEX_AVX512 void StoreRecords2(double* base, Avx512Lanes a, Avx512Lanes b)
	{
		const __m512d even = _mm512_unpacklo_pd(a.v, b.v), odd = _mm512_unpackhi_pd(a.v, b.v);
		_mm512_storeu_pd(base, _mm512_permutex2var_pd(even, _mm512_set_epi64(11, 10, 3, 2, 9, 8, 1, 0), odd));
		_mm512_storeu_pd(base + 8, _mm512_permutex2var_pd(even, _mm512_set_epi64(15, 14, 7, 6, 13, 12, 5, 4), odd));
	}
	static MORVEX_AVX512 void StoreFloats(float* p, Avx512Lanes v, int count)
	{
		const __m512 f = _mm512_castps256_ps512(_mm512_maskz_cvtpd_ps(kAll8, v.v));
		_mm512_mask_storeu_ps(p, static_cast<__mmask16>((1u << count) - 1u), f);
	}
	static MORVEX_AVX512 unsigned MaskBits(Avx512Mask m) { return m.k; }
};

MORVEX_AVX512 Avx512Lanes operator+(Avx512Lanes a, Avx512Lanes b) { return Avx512Lanes(_mm512_add_pd(a.v, b.v)); }
MORVEX_AVX512 Avx512Lanes operator-(Avx512Lanes a, Avx512Lanes b) { return Avx512Lanes(_mm512_sub_pd(a.v, b.v)); }
MORVEX_AVX512 Avx512Lanes operator*(Avx512Lanes a, Avx512Lanes b) { return Avx512Lanes(_mm512_mul_pd(a.v, b.v)); }
MORVEX_AVX512 Avx512Lanes operator/(Avx512Lanes a, Avx512Lanes b) { return Avx512Lanes(_mm512_div_pd(a.v, b.v)); }
MORVEX_AVX512 Avx512Lanes operator-(Avx512Lanes a)
{
	return Avx512Lanes(_mm512_castsi512_pd(
	    _mm512_xor_epi64(_mm512_castpd_si512(a.v), _mm512_set1_epi64(static_cast<long long>(0x8000000000000000ull)))));
}
MORVEX_AVX512 Avx512Mask operator<(Avx512Lanes a, Avx512Lanes b) { return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_LT_OQ)}; }
MORVEX_AVX512 Avx512Mask operator<=(Avx512Lanes a, Avx512Lanes b) { return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_LE_OQ)}; }
MORVEX_AVX512 Avx512Mask operator>(Avx512Lanes a, Avx512Lanes b) { return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_GT_OQ)}; }
MORVEX_AVX512 Avx512Mask operator>=(Avx512Lanes a, Avx512Lanes b) { return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_GE_OQ)}; }
MORVEX_AVX512 Avx512Mask operator==(Avx512Lanes a, Avx512Lanes b) { return {_mm512_cmp_pd_mask(a.v, b.v, _CMP_EQ_OQ)}; }
MORVEX_AVX512 Avx512Mask operator&(Avx512Mask a, Avx512Mask b) { return {static_cast<__mmask8>(a.k & b.k)}; }
MORVEX_AVX512 Avx512Lanes Select(Avx512Mask m, Avx512Lanes a, Avx512Lanes b)
{
	return Avx512Lanes(_mm512_mask_blend_pd(m.k, b.v, a.v));
}
MORVEX_AVX512 Avx512Lanes Fabs(Avx512Lanes x)
{
	return Avx512Lanes(_mm512_castsi512_pd(
	    _mm512_and_epi64(_mm512_castpd_si512(x.v), _mm512_set1_epi64(static_cast<long long>(0x7FFFFFFFFFFFFFFFull)))));
}
MORVEX_AVX512 Avx512Lanes Copysign(Avx512Lanes x, Avx512Lanes y)
{
	const __m512i sign = _mm512_set1_epi64(static_cast<long long>(0x8000000000000000ull));
	return Avx512Lanes(_mm512_castsi512_pd(
	    _mm512_or_epi64(_mm512_maskz_andnot_epi64(kAll8, sign, _mm512_castpd_si512(x.v)), _mm512_and_epi64(sign, _mm512_castpd_si512(y.v)))));
}
MORVEX_AVX512 Avx512Lanes Sqrt(Avx512Lanes x) { return Avx512Lanes(_mm512_maskz_sqrt_pd(kAll8, x.v)); }
MORVEX_AVX512 Avx512Bits BitsOf(Avx512Lanes x) { return Avx512Bits(_mm512_castpd_si512(x.v)); }
MORVEX_AVX512 Avx512Lanes FromBits(Avx512Bits x) { return Avx512Lanes(_mm512_castsi512_pd(x.v)); }
MORVEX_AVX512 Avx512Bits operator>>(Avx512Bits a, int n) { return Avx512Bits(_mm512_maskz_srli_epi64(kAll8, a.v, static_cast<unsigned>(n))); }
MORVEX_AVX512 Avx512Bits operator&(Avx512Bits a, Avx512Bits b) { return Avx512Bits(_mm512_and_epi64(a.v, b.v)); }
MORVEX_AVX512 Avx512Bits operator|(Avx512Bits a, Avx512Bits b) { return Avx512Bits(_mm512_or_epi64(a.v, b.v)); }

#undef MORVEX_SSE2
#undef MORVEX_AVX2
#undef MORVEX_AVX512

#endif  // MORVEX_LANES_X86

#endif
