#define VTN_SOURCE "Morvex"
#include "morvex_closedform.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kInv4Pi = 1.0 / (4.0 * kPi);

// tan(k pi / 16) for k = 1..3, and the tangents half way between k and k + 1.
constexpr double kTan1 = 0.198912367379658, kTan2 = 0.41421356237309503, kTan3 = 0.6681786379192989;
constexpr double kSplit0 = 0.09849140335716425, kSplit1 = 0.3033466836073424, kSplit2 = 0.5345111359507916,
                 kSplit3 = 0.8206787908286602;

// atan2(y, x) without a branch, so that a loop of them runs in vector lanes:
// the smaller of |x|, |y| over the larger is brought into [0, 1], then to
// within tan(pi/32) of 0 by the nearest c = tan(k pi / 16), as
// atan(a) = k pi / 16 + atan((a - c) / (1 + a c)), with one division; eight
// terms of the odd series leave an error below 1e-18 there. Every value is
// computed and the right one picked, and the conditions are joined with &, not
// &&: a loop is vectorized only without branches.
inline double Atan2Lanes(double y, double x)
{
	const double n = std::fabs(y), d = std::fabs(x);
	const bool swap = n > d;
	const double num = swap ? d : n, den = swap ? n : d;
	const bool k4 = num > kSplit3 * den, k3 = num > kSplit2 * den, k2 = num > kSplit1 * den, k1 = num > kSplit0 * den;
	const double c = k4 ? 1.0 : k3 ? kTan3 : k2 ? kTan2 : k1 ? kTan1 : 0.0;
	const double base = k4 ? 4 * (kPi / 16) : k3 ? 3 * (kPi / 16) : k2 ? 2 * (kPi / 16) : k1 ? kPi / 16 : 0.0;
	const double r = (num - c * den) / (den + c * num);
	const double z = r * r;
	const double series = r - r * z * (1.0 / 3 - z * (1.0 / 5 - z * (1.0 / 7 - z * (1.0 / 9 - z * (1.0 / 11 - z * (1.0 / 13 - z * (1.0 / 15)))))));
	const double angle = base + series;
	const double complement = 0.5 * kPi - angle;
	const double a = swap ? complement : angle;
	// Into the quadrant of (x, y); on the negative x axis, +pi for y = +-0, as
	// the solid angle's sign follows y >= 0 there; 0 at the origin.
	const double supplement = kPi - a;
	const double q = x >= 0.0 ? a : supplement;
	const double signed_q = std::copysign(q, y);
	const double on_axis = (y == 0.0) & (x < 0.0) ? q : signed_q;
	return (x == 0.0) & (y == 0.0) ? 0.0 : on_axis;
}

constexpr double kLn2 = 0.69314718055994530942;
constexpr double kSqrt2 = 1.41421356237309504880;

// ln x for x >= 1, +inf at +inf, without a branch: x = 2^e m with m in
// [sqrt(1/2), sqrt(2)), and ln m = 2 atanh(s), s = (m - 1) / (m + 1), whose odd
// series in |s| <= 0.172 has fallen below 1e-17 by its eleventh term. The
// exponent is read from the bits, as a double through the 2^52 trick, so the
// loop stays in vector lanes.
inline double LogLanes(double x)
{
	std::uint64_t bits;
	std::memcpy(&bits, &x, sizeof bits);
	const std::uint64_t exponent_bits = (bits >> 52) | 0x4330000000000000ull;
	const std::uint64_t mantissa_bits = (bits & 0x000FFFFFFFFFFFFFull) | 0x3FF0000000000000ull;
	double biased, mantissa;
	std::memcpy(&biased, &exponent_bits, sizeof biased);
	std::memcpy(&mantissa, &mantissa_bits, sizeof mantissa);
	const bool high = mantissa > kSqrt2;
	const double half = 0.5 * mantissa;
	const double m = high ? half : mantissa;
	const double e = (biased - 4503599627370496.0) - (high ? 1022.0 : 1023.0);
	const double f = m - 1.0;
	const double s = f / (2.0 + f);
	const double z = s * s;
	const double series =
	    1.0 + z * (1.0 / 3 + z * (1.0 / 5 + z * (1.0 / 7 + z * (1.0 / 9 + z * (1.0 / 11 + z * (1.0 / 13 + z * (1.0 / 15 +
	    z * (1.0 / 17 + z * (1.0 / 19 + z * (1.0 / 21))))))))));
	const double log = e * kLn2 + 2.0 * s * series;
	return x > 1.7976931348623157e308 ? x : log;
}

// ln(1 + y) for y >= 0, +inf at +inf: the logarithm of u = 1 + y, corrected by
// what rounding 1 + y lost, (y - (u - 1)) / u, so small y keep their digits.
inline double Log1pLanes(double y)
{
	const double u = 1.0 + y;
	const double log = LogLanes(u) + (y - (u - 1.0)) / u;
	return y > 1.7976931348623157e308 ? y : log;
}

// The per-point loops, marked for the compiler to vectorize whatever its cost
// model, and built for the vector units at hand where the toolchain can pick
// at load time. GCC 12 vectorizes them for AVX-512, whose masks take the
// selects; for AVX2 and the baseline it keeps branches, and they run scalar.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__ELF__) && defined(__GLIBC__) && \
    !defined(__SANITIZE_ADDRESS__)
#define MORVEX_VECTOR_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define MORVEX_VECTOR_CLONES
#endif
#if defined(_OPENMP) || defined(MORVEXER_OPENMP_SIMD)
#define MORVEX_SIMD _Pragma("omp simd")
#else
#define MORVEX_SIMD
#endif

// The solid angles 2 atan2(det, D) of a point's faces.
MORVEX_VECTOR_CLONES void SolidAngles(const double* __restrict det, const double* __restrict D, double* __restrict omega,
                                      Int64 n)
{
	MORVEX_SIMD
	for (Int64 j = 0; j < n; ++j)
		omega[j] = 2.0 * Atan2Lanes(det[j], D[j]);
}

// The edge potentials ln(1 + y) from y = 2 l / (ra + rb - l).
MORVEX_VECTOR_CLONES void EdgeLogs(const double* __restrict y, double* __restrict L, Int64 n)
{
	MORVEX_SIMD
	for (Int64 k = 0; k < n; ++k)
		L[k] = Log1pLanes(y[k]);
}

}  // namespace

double ClosedFormAtan2(double y, double x) { return Atan2Lanes(y, x); }
double ClosedFormLog1p(double y) { return Log1pLanes(y); }

bool ClosedFormCage::Init(const LVector* corners, Int64 corner_count, const LVector& origin, const CPolygon* polys,
                          Int32 face_count, const LVector* normals)
{
	face_count_ = face_count;
	if (!vertices_.SetCount(corner_count + 1) || !faces_.SetCount(face_count))
		return false;
	for (Int64 k = 0; k < corner_count; ++k)
		vertices_[k] = corners[k];
	vertices_[corner_count] = origin;
	const Int32 origin_id = static_cast<Int32>(corner_count);

	// Undirected edges by their lower end: each vertex heads a list of the edges
	// that start at it, so a face's edge finds its twin in a few steps.
	GeDynamicArray<Int32> head, next;
	if (!head.SetCount(corner_count + 1))
		return false;
	for (Int64 i = 0; i <= corner_count; ++i)
		head[i] = -1;
	for (Int32 j = 0; j < face_count; ++j)
	{
		const CPolygon& p = polys[j];
		Face& f = faces_[j];
		const Int32 c[3] = {p.a, p.b, p.c};
		for (int k = 0; k < 3; ++k)
		{
			f.corner[k] = c[k];
			f.v[k] = c[k] >= 0 && c[k] < corner_count ? c[k] : origin_id;
		}
		const LVector v0 = vertices_[f.v[0]], v1 = vertices_[f.v[1]], v2 = vertices_[f.v[2]];
		f.n = normals[j];
		f.two_area = Len(Cross(v1 - v0, v2 - v0));
		double size = 0.0;
		for (int k = 0; k < 3; ++k)
		{
			const LVector from = vertices_[f.v[(k + 1) % 3]], to = vertices_[f.v[(k + 2) % 3]];
			const double l = Len(to - from);
			const LVector tau = l > 0.0 ? (to - from) / l : LVector{0, 0, 0};
			f.m[k] = Cross(tau, f.n);
			f.inv_h[k] = f.two_area > 0.0 ? l / f.two_area : 0.0;
			size = size > l ? size : l;
			// The edge, shared with the face on its other side.
			const Int32 a = f.v[(k + 1) % 3], b = f.v[(k + 2) % 3];
			const Int32 lo = a < b ? a : b, hi = a < b ? b : a;
			Int32 id = head[lo];
			while (id >= 0 && edges_[id].b != hi)
				id = next[id];
			if (id < 0)
			{
				const LVector d = vertices_[hi] - vertices_[lo];
				const double len = Len(d);
				if (!edges_.Append(Edge{lo, hi, len, len > 0.0 ? d / len : LVector{0, 0, 0}}) || !next.Append(head[lo]))
					return false;
				id = static_cast<Int32>(edges_.GetCount() - 1);
				head[lo] = id;
			}
			f.edge[k] = id;
		}
		for (int k = 0; k < 3; ++k)
			for (int i = 0; i < 3; ++i)
				f.mm[k][i] = Dot(f.m[k], f.m[i]);
		f.tol = 1e-12 * size;
	}
	return true;
}

bool ClosedFormCage::Prepare(Scratch& s) const
{
	return s.e.SetCount(vertices_.GetCount()) && s.r.SetCount(vertices_.GetCount()) && s.L.SetCount(edges_.GetCount()) &&
	       s.dot.SetCount(edges_.GetCount()) && s.y.SetCount(edges_.GetCount()) && s.h.SetCount(face_count_) && s.t.SetCount(3 * face_count_) &&
	       s.det.SetCount(face_count_) && s.D.SetCount(face_count_) && s.omega.SetCount(face_count_);
}

void ClosedFormCage::Evaluate(const LVector& x, Scratch& s, float* phi, float* psi, Int32 cage_count) const
{
	const Int64 nv = vertices_.GetCount();
	for (Int64 i = 0; i < nv; ++i)
	{
		s.e[i] = vertices_[i] - x;
		s.r[i] = Len(s.e[i]);
	}
	// 1/R along each edge: ln((ra + rb + l) / (ra + rb - l)) = ln(1 + y) with
	// y = 2 l / gap, gap = ra + rb - l. The gap cancels where the foot point falls
	// on the edge, so there it is formed from the squared distance c2 to the edge
	// line: with ua = ra + xa, ub = rb + xb, gap = c2 (ua + ub) / (ua ub). On the
	// edge itself the gap is 0 and the logarithm infinite. Both forms are
	// computed and one kept: which one applies changes from edge to edge, too
	// often for a branch to guess.
	for (Int64 k = 0; k < edges_.GetCount(); ++k)
	{
		const Edge& ed = edges_[k];
		const double ra = s.r[ed.a], rb = s.r[ed.b], l = ed.length;
		const double xa = -Dot(s.e[ed.a], ed.tau), xb = l - xa;
		const LVector c = Cross(s.e[ed.a], ed.tau);
		const double ua = ra + xa, ub = rb + xb;
		const bool beside = xa > 0.0 && xb > 0.0;
		const double gap = beside ? Dot(c, c) * (ua + ub) : ra + rb - l;
		const double twice_l = beside ? 2.0 * l * (ua * ub) : 2.0 * l;
		// An edge without length has no potential: y = 0.
		s.y[k] = l > 0.0 ? (gap > 0.0 ? twice_l / gap : HUGE_VAL) : 0.0;
		s.dot[k] = Dot(s.e[ed.a], s.e[ed.b]);
	}
	EdgeLogs(s.y.data, s.L.data, edges_.GetCount());

	// The faces in three passes: the plane and edge-line distances and the
	// solid angle's two parts; the solid angles, all in one vectorized loop;
	// then the coordinates.
	for (Int64 j = 0; j < face_count_; ++j)
	{
		const Face& f = faces_[j];
		const LVector& e0 = s.e[f.v[0]];
		const LVector& e1 = s.e[f.v[1]];
		const LVector& e2 = s.e[f.v[2]];
		double h = Dot(f.n, e0);
		if (std::fabs(h) <= f.tol)
			h = 0.0;
		const LVector* ek[3] = {&e0, &e1, &e2};
		for (int k = 0; k < 3; ++k)
		{
			double t = Dot(f.m[k], *ek[(k + 1) % 3]);
			if (std::fabs(t) <= f.tol)
				t = 0.0;
			s.t[3 * j + k] = t;
		}
		s.h[j] = h;
		// Edge k joins the two vertices other than k: e1.e2 is edge 0's, and so on.
		const double r0 = s.r[f.v[0]], r1 = s.r[f.v[1]], r2 = s.r[f.v[2]];
		s.D[j] = r0 * r1 * r2 + s.dot[f.edge[2]] * r2 + s.dot[f.edge[0]] * r0 + s.dot[f.edge[1]] * r1;
		s.det[j] = f.two_area * h;
	}
	SolidAngles(s.det.data, s.D.data, s.omega.data, face_count_);

	for (Int64 j = 0; j < face_count_; ++j)
	{
		const Face& f = faces_[j];
		if (f.two_area <= 0.0)
		{
			psi[j] = 0.0f;
			continue;
		}
		const double h = s.h[j];
		const double* t = &s.t[3 * j];
		double lambda[3], L[3];
		bool inside = true;
		for (int k = 0; k < 3; ++k)
		{
			lambda[k] = t[k] * f.inv_h[k];
			inside = inside && t[k] >= 0.0;
			L[k] = s.L[f.edge[k]];
		}
		// The solid angle, unthresholded. On the face itself its limit from the
		// interior side: 2 pi inside the face, pi on an edge, the corner's angle at a vertex.
		double omega = s.omega[j];
		if (h == 0.0 && inside)
		{
			const int zeros = (t[0] == 0.0) + (t[1] == 0.0) + (t[2] == 0.0);
			if (zeros == 0)
				omega = 2.0 * kPi;
			else if (zeros == 1)
				omega = kPi;
			else
			{
				// At vertex i the two edges beside it have t = 0; m_j . m_k = -cos(angle at i).
				const int i = t[0] != 0.0 ? 0 : (t[1] != 0.0 ? 1 : 2);
				omega = std::acos(-f.mm[(i + 1) % 3][(i + 2) % 3]);
			}
		}
		// t L and h L tend to 0 where L is infinite (the point on an edge or vertex).
		double sum_tl = 0.0, hl[3];
		for (int k = 0; k < 3; ++k)
		{
			sum_tl += t[k] == 0.0 ? 0.0 : t[k] * L[k];
			hl[k] = h == 0.0 ? 0.0 : L[k];
		}
		psi[j] = float(kInv4Pi * (sum_tl - h * omega));
		for (int k = 0; k < 3; ++k)
		{
			const Int32 col = f.corner[k];
			if (col < 0 || col >= cage_count)
				continue;
			const double edges = h == 0.0 ? 0.0 : (h * f.inv_h[k]) * (f.mm[k][0] * hl[0] + f.mm[k][1] * hl[1] + f.mm[k][2] * hl[2]);
			phi[col] += float(kInv4Pi * (lambda[k] * omega + edges));
		}
	}
}
