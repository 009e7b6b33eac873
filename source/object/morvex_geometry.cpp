#include "morvex_geometry.h"

#include <cstdint>
#include <cstring>
#include <initializer_list>

namespace {

constexpr double kPi = 3.14159265358979323846;
// 2 * sqrt(2), in single precision as the rest areas are.
constexpr double kStretchNorm = 2.8284270763397217;

// An angle from its cosine, with the cosine clamped into [-1, 1].
double AngleOf(double cosine)
{
	if (cosine >= 1.0)
		return 0.0;
	if (cosine <= -1.0)
		return kPi;
	return std::acos(cosine);
}

// Squared distance from p to the segment (a, b); a point when a == b.
double SegmentDistance2(const LVector& a, const LVector& b, const LVector& p)
{
	const LVector ab = b - a;
	const double len2 = Dot(ab, ab);
	double t = len2 > 0.0 ? Dot(p - a, ab) / len2 : 0.0;
	t = t < 0.0 ? 0.0 : (t > 1.0 ? 1.0 : t);
	const LVector d = p - (a + ab * t);
	return Dot(d, d);
}

}  // namespace

bool CompareFloatTolerant(double x, double y)
{
	int64_t bx, by;
	std::memcpy(&bx, &x, sizeof bx);
	std::memcpy(&by, &y, sizeof by);
	// The difference wraps in two's complement; its magnitude is taken unsigned so
	// that -0.0 (the most negative pattern) never matches +0.0.
	const uint64_t diff = static_cast<uint64_t>(bx) - static_cast<uint64_t>(by);
	const uint64_t magnitude = static_cast<int64_t>(diff) < 0 ? 0 - diff : diff;
	return magnitude <= 7;
}

float HeronArea(const LVector& pa, const LVector& pb, const LVector& pc)
{
	const float e = float(Len(pa - pc));
	const float f = float(Len(pc - pb));
	const float g = float(Len(pb - pa));
	const float s = ((f + e) + g) * 0.5f;
	const float product = (((s - g) * (s - f)) * s) * (s - e);
	// Rounding can take a flat triangle's product just below 0, where the root is NaN.
	return product > 0.0f ? std::sqrt(product) : 0.0f;
}

LVector UnitOrZero(const LVector& v)
{
	const double len = Len(v);
	return len != 0.0 ? v / len : LVector{0, 0, 0};
}

LVector FaceNormal(const LVector& a, const LVector& b, const LVector& c, const LVector& d, bool triangle)
{
	const LVector n = triangle ? Cross(b - a, c - a) : Cross(b - d, c - a);
	const double len = Len(n);
	return len != 0.0 ? n / len : n;
}

double ConformalStretch(const LVector& ra, const LVector& rb, const LVector& rc, const LVector& a, const LVector& b,
                        const LVector& c, float rest_area)
{
	if (!(rest_area > 0.0f))
		return 1.0;
	const LVector U = rb - ra, V = rc - ra;
	const LVector U1 = b - a, V1 = c - a;
	return std::sqrt(Dot(U1, U1) * Dot(V, V) + Dot(V1, V1) * Dot(U, U) - 2.0 * Dot(U1, V1) * Dot(U, V)) /
	       (double(rest_area) * kStretchNorm);
}

bool PolygonCornersIn(const CPolygon& p, Int32 point_count)
{
	for (Int32 k : {p.a, p.b, p.c, p.d})
		if (k < 0 || k >= point_count)
			return false;
	return true;
}

bool CornersInRange(const CPolygon* polys, Int32 poly_count, Int32 point_count)
{
	for (Int32 i = 0; i < poly_count; ++i)
		if (!PolygonCornersIn(polys[i], point_count))
			return false;
	return true;
}

double Find_Tri2Point_Dist(LVector a, LVector b, LVector c, LVector p)
{
	const LVector ab = b - a, ac = c - a, ap = p - a;
	double result;
	if (Dot(Cross(ab, ac), Cross(ab, ac)) == 0.0)
	{
		const double d1 = SegmentDistance2(a, b, p), d2 = SegmentDistance2(b, c, p), d3 = SegmentDistance2(c, a, p);
		result = d1 < d2 ? (d1 < d3 ? d1 : d3) : (d2 < d3 ? d2 : d3);
		return double(float(result));
	}
	const double d1 = Dot(ab, ap), d2 = Dot(ac, ap);
	LVector q;
	if (d1 <= 0.0 && d2 <= 0.0)
		q = a;
	else
	{
		const LVector bp = p - b;
		const double d3 = Dot(ab, bp), d4 = Dot(ac, bp);
		const LVector cp = p - c;
		const double d5 = Dot(ab, cp), d6 = Dot(ac, cp);
		const double vc = d1 * d4 - d3 * d2, vb = d5 * d2 - d1 * d6, va = d3 * d6 - d5 * d4;
		if (d3 >= 0.0 && d4 <= d3)
			q = b;
		else if (vc <= 0.0 && d1 >= 0.0 && d3 <= 0.0)
			q = a + ab * (d1 / (d1 - d3));
		else if (d6 >= 0.0 && d5 <= d6)
			q = c;
		else if (vb <= 0.0 && d2 >= 0.0 && d6 <= 0.0)
			q = a + ac * (d2 / (d2 - d6));
		else if (va <= 0.0 && (d4 - d3) >= 0.0 && (d5 - d6) >= 0.0)
			q = b + (c - b) * ((d4 - d3) / ((d4 - d3) + (d5 - d6)));
		else
		{
			const double denom = 1.0 / (va + vb + vc);
			q = a + ab * (vb * denom) + ac * (vc * denom);
		}
	}
	const LVector d = p - q;
	result = Dot(d, d);
	return double(float(result));
}

double GCTriIn(LVector p, LVector va, LVector vb, LVector eta, Int32* degenerate)
{
	*degenerate = 1;
	const double a = Len(p - va);
	const double ab = Len(vb - va);
	if (ab * a == 0.0 || std::isnan(ab * a))
		return 0.0;
	const double alpha = AngleOf(Dot(p - va, vb - va) / (ab * a));
	const double pb = Len(vb - p), pa = Len(va - p);
	if (pb * pa == 0.0 || std::isnan(pb * pa))
		return 0.0;
	const double beta = AngleOf(Dot(va - p, vb - p) / (pb * pa));
	const double h = a * std::sin(alpha);
	const double lambda = h * h;
	const double eta_dist = Len(p - eta);
	const double gamma = eta_dist * eta_dist;

	double terms[2];
	const double thetas[2] = {kPi - alpha, kPi - alpha - beta};
	for (int k = 0; k < 2; ++k)
	{
		const double sigma = std::sin(thetas[k]);
		const double kappa = std::cos(thetas[k]);
		const double sigma2 = sigma * sigma;
		const double D = std::sqrt(lambda * lambda + lambda * gamma * sigma2) + lambda + (1.0 + kappa) * gamma;
		if (D == 0.0 || std::isnan(D) || kappa == 1.0 || std::isnan(kappa))
			return 0.0;
		const double R = std::sqrt(lambda + gamma * sigma2);
		if (R == 0.0 || std::isnan(R))
			return 0.0;
		const double one_minus = 1.0 - kappa;
		const double L = (1.0 + (-2.0) * gamma * kappa / D) * (2.0 * std::sqrt(lambda) * sigma2 / (one_minus * one_minus));
		if (!(L > 0.0))
			return 0.0;
		if (CompareFloatTolerant(sigma, 0.0))
			terms[k] = -0.0;
		else
		{
			const double term = 0.5 * (2.0 * std::sqrt(gamma) * std::atan(kappa * std::sqrt(gamma) / R) + std::sqrt(lambda) * std::log(L));
			terms[k] = sigma >= 0.0 ? -term : term;
		}
	}
	*degenerate = 0;
	return kMinusQuarterOverPiTenDigits * std::fabs(terms[0] - terms[1] - std::sqrt(gamma) * beta);
}
