// The deformer's numeric kernels against analytic answers: areas, distances,
// normals, stretch, the tolerant comparison, corner ranges and the
// per-triangle integral of the Green-coordinate binding.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>

#include "object/morvex_geometry.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// n steps of nextafter from x towards `to`.
double ulpsAway(double x, int n, double to)
{
	for (int i = 0; i < n; ++i)
		x = std::nextafter(x, to);
	return x;
}

// The integral over the right triangle (0,0,0), (1,0,0), (0,1,0) of dA / |x - eta|
// for eta at height h above the right-angled corner, by Simpson's rule in polar
// coordinates about that corner: the opposite edge lies at 1/sqrt(2) along the
// diagonal, so a ray at angle phi from the diagonal ends at R = 1 / (sqrt(2) cos phi),
// and the radial integral of r dr / sqrt(r^2 + h^2) is sqrt(R^2 + h^2) - h.
double rightTriangleIntegral(double h)
{
	const int n = 4000;
	const double lo = -kPi / 4, step = (kPi / 2) / n;
	auto f = [&](double phi) {
		const double R = 1.0 / (std::sqrt(2.0) * std::cos(phi));
		return std::sqrt(R * R + h * h) - h;
	};
	double sum = f(lo) + f(lo + n * step);
	for (int i = 1; i < n; ++i)
		sum += f(lo + i * step) * (i % 2 ? 4.0 : 2.0);
	return sum * step / 3.0;
}

}  // namespace

TEST(GreenCoordinates, CompareFloatTolerantAllowsSevenUnits)
{
	EXPECT_TRUE(CompareFloatTolerant(0.0, 0.0));
	EXPECT_TRUE(CompareFloatTolerant(7 * 4.9406564584124654e-324, 0.0));
	EXPECT_FALSE(CompareFloatTolerant(8 * 4.9406564584124654e-324, 0.0));
	EXPECT_FALSE(CompareFloatTolerant(-0.0, 0.0)) << "-0.0 is the farthest pattern from +0.0";
	EXPECT_TRUE(CompareFloatTolerant(1.0, std::nextafter(std::nextafter(1.0, 2.0), 2.0)));
	EXPECT_FALSE(CompareFloatTolerant(1.0, 1.0 + 1e-10));
	EXPECT_FALSE(CompareFloatTolerant(std::nan(""), 0.0));
}

TEST(GreenCoordinates, CompareFloatTolerantCountsUnitsInTheLastPlace)
{
	for (double x : {1.0, -1.0, 3.5e-300, -7.25e300, 4.9406564584124654e-324})
	{
		const double up = x > 0 ? HUGE_VAL : -HUGE_VAL;
		EXPECT_TRUE(CompareFloatTolerant(x, ulpsAway(x, 7, up))) << x;
		EXPECT_TRUE(CompareFloatTolerant(ulpsAway(x, 7, up), x)) << x << ", either order";
		EXPECT_FALSE(CompareFloatTolerant(x, ulpsAway(x, 8, up))) << x;
		EXPECT_FALSE(CompareFloatTolerant(x, -x)) << x << " against its negative";
	}
	// Patterns, not values: the negative side starts again at -0.0, and the
	// largest double is the neighbour of infinity.
	EXPECT_TRUE(CompareFloatTolerant(-0.0, -4.9406564584124654e-324));
	EXPECT_TRUE(CompareFloatTolerant(DBL_MAX, HUGE_VAL));
}

TEST(GreenCoordinates, TriangleIntegralFlagsDegenerateInput)
{
	Int32 degenerate = -1;
	const LVector o{0, 0, 0};
	EXPECT_EQ(GCTriIn(o, o, {1, 0, 0}, o, &degenerate), 0.0);
	EXPECT_EQ(degenerate, 1) << "p on a corner";
	EXPECT_EQ(GCTriIn({0, 1, 0}, {1, 1, 0}, {1, 1, 0}, o, &degenerate), 0.0);
	EXPECT_EQ(degenerate, 1) << "an edge without length";
	const double v = GCTriIn({0, 0, 1}, {1, 0, 1}, {0, 1, 1}, o, &degenerate);
	EXPECT_EQ(degenerate, 0);
	EXPECT_TRUE(std::isfinite(v));
	EXPECT_LE(v, 0.0);
	// The face integral of a point in the face's plane (gamma = 0) is finite.
	EXPECT_TRUE(std::isfinite(GCTriIn({0.2, 0.2, 0}, {1, 0, 0}, {0, 1, 0}, o, &degenerate)));
	const double nan = std::nan("");
	degenerate = -1;
	EXPECT_EQ(GCTriIn({nan, 0, 0}, {1, 0, 0}, {0, 1, 0}, o, &degenerate), 0.0);
	EXPECT_EQ(degenerate, 1) << "NaN corners";
	EXPECT_EQ(GCTriIn(o, {1, 0, 0}, {1, 0, 0}, o, &degenerate), 0.0);
	EXPECT_EQ(degenerate, 1) << "va and vb on one point";
}

TEST(GreenCoordinates, TriangleIntegralIsTheScaledIntegralOfTheInverseDistance)
{
	const LVector o{0, 0, 0}, a{1, 0, 0}, b{0, 1, 0};
	Int32 degenerate = -1;
	// In the plane the integral has a closed form: sqrt(2) ln(1 + sqrt(2)).
	const double in_plane = std::sqrt(2.0) * std::log(1.0 + std::sqrt(2.0));
	const double v = GCTriIn(o, a, b, o, &degenerate);
	EXPECT_EQ(degenerate, 0);
	EXPECT_NEAR(v, kMinusQuarterOverPiTenDigits * in_plane, 1e-15);
	EXPECT_NEAR(v, kMinusQuarterOverPiTenDigits * rightTriangleIntegral(0.0), 1e-13) << "the quadrature agrees";
	// The ten digits of the scale, not -1/(4 pi) itself, are what tables were made with.
	EXPECT_GT(std::fabs(v - (-1.0 / (4.0 * kPi)) * in_plane), 1e-12);

	// Above the corner, against the quadrature; either order of the edge's ends.
	for (double h : {0.1, 0.5, 2.0})
	{
		const LVector eta{0, 0, h};
		const double want = kMinusQuarterOverPiTenDigits * rightTriangleIntegral(h);
		EXPECT_NEAR(GCTriIn(o, a, b, eta, &degenerate), want, 1e-12) << "height " << h;
		EXPECT_EQ(degenerate, 0);
		EXPECT_NEAR(GCTriIn(o, b, a, eta, &degenerate), want, 1e-12) << "height " << h << ", ends swapped";
	}
	// The integral of 1/r over an area grows with the length: twice the size, twice the value.
	EXPECT_NEAR(GCTriIn(o, {2, 0, 0}, {0, 2, 0}, {0, 0, 1}, &degenerate), 2.0 * GCTriIn(o, a, b, {0, 0, 0.5}, &degenerate), 1e-13);
}

TEST(HeronArea, MeasuresTrianglesInSinglePrecision)
{
	EXPECT_EQ(HeronArea({0, 0, 0}, {3, 0, 0}, {0, 4, 0}), 6.0f);
	EXPECT_EQ(HeronArea({0, 0, 0}, {1, 1, 1}, {2, 2, 2}), 0.0f) << "collinear corners have no area, never NaN";
	EXPECT_EQ(HeronArea({1, 2, 3}, {1, 2, 3}, {1, 2, 3}), 0.0f);
	const double nan = std::nan("");
	EXPECT_EQ(HeronArea({nan, 0, 0}, {1, 0, 0}, {0, 1, 0}), 0.0f);
	EXPECT_NEAR(HeronArea({0, 0, 0}, {2, 0, 0}, {0, 0, 2}), 2.0f, 1e-6f);
}

TEST(HeronArea, SidesAreRoundedToSinglePrecisionFirst)
{
	// An equilateral triangle of side 1: sqrt(3)/4 as the float formula gives it.
	const float s = 1.5f, area = std::sqrt(((s - 1.0f) * (s - 1.0f)) * s * (s - 1.0f));
	EXPECT_EQ(HeronArea({0, 0, 0}, {1, 0, 0}, {0.5, std::sqrt(3.0) / 2.0, 0}), area);
	EXPECT_NEAR(area, std::sqrt(3.0) / 4.0, 1e-7);
	// Moved anywhere, turned or with its corners in another order, the same area.
	EXPECT_EQ(HeronArea({10, 20, 30}, {13, 20, 30}, {10, 20, 34}), 6.0f);
	EXPECT_EQ(HeronArea({0, 4, 0}, {0, 0, 0}, {3, 0, 0}), 6.0f);
}

TEST(PointTriangleDistance, FollowsTheNearestFeature)
{
	const LVector a{0, 0, 0}, b{4, 0, 0}, c{0, 4, 0};
	EXPECT_EQ(Find_Tri2Point_Dist(a, b, c, {1, 1, 3}), 9.0) << "above the face";
	EXPECT_EQ(Find_Tri2Point_Dist(a, b, c, {-1, -2, 0}), 5.0) << "beyond corner a";
	EXPECT_EQ(Find_Tri2Point_Dist(a, b, c, {6, -1, 0}), 5.0) << "beyond corner b";
	EXPECT_EQ(Find_Tri2Point_Dist(a, b, c, {-1, 7, 2}), 14.0) << "beyond corner c";
	EXPECT_EQ(Find_Tri2Point_Dist(a, b, c, {2, -3, 0}), 9.0) << "beside edge ab";
	EXPECT_EQ(Find_Tri2Point_Dist(a, b, c, {-2, 1, 1}), 5.0) << "beside edge ca";
	EXPECT_NEAR(Find_Tri2Point_Dist(a, b, c, {3, 3, 0}), 2.0, 1e-6) << "beside edge bc";
	EXPECT_EQ(Find_Tri2Point_Dist(a, b, c, {1, 1, 0}), 0.0) << "on the face";
	// Rounded to single precision.
	const double d = Find_Tri2Point_Dist(a, b, c, {0.1, 0.1, 0.1});
	EXPECT_EQ(d, double(float(d)));
	EXPECT_EQ(d, double(float(0.1 * 0.1)));
	// A triangle without area still measures to its sides.
	EXPECT_EQ(Find_Tri2Point_Dist(a, {2, 0, 0}, {4, 0, 0}, {2, 3, 0}), 9.0);
	EXPECT_EQ(Find_Tri2Point_Dist(a, a, a, {0, 3, 4}), 25.0);
}

TEST(PointTriangleDistance, MeasuresToTheUnitTriangle)
{
	const LVector a{0, 0, 0}, b{1, 0, 0}, c{0, 1, 0};
	EXPECT_EQ(Find_Tri2Point_Dist(a, b, c, {0.25, 0.25, -2}), 4.0) << "below the face";
	EXPECT_EQ(Find_Tri2Point_Dist(a, b, c, {-1, -1, 1}), 3.0) << "corner a";
	EXPECT_EQ(Find_Tri2Point_Dist(a, b, c, {2, -1, 0}), 2.0) << "corner b";
	EXPECT_EQ(Find_Tri2Point_Dist(a, b, c, {0, 3, 0}), 4.0) << "corner c";
	EXPECT_EQ(Find_Tri2Point_Dist(a, b, c, {0.5, -1, 0}), 1.0) << "edge ab";
	EXPECT_EQ(Find_Tri2Point_Dist(a, b, c, {-2, 0.5, 0}), 4.0) << "edge ca";
	EXPECT_EQ(Find_Tri2Point_Dist(a, b, c, {1, 1, 0}), 0.5) << "edge bc, at its middle";
	EXPECT_EQ(Find_Tri2Point_Dist(b, c, a, {1, 1, 0}), 0.5) << "the corners in another order";
	// The result is the float nearest the double distance, not the double itself.
	const double third = Find_Tri2Point_Dist(a, b, c, {0.25, 0.25, 1.0 / 3.0});
	EXPECT_EQ(third, double(float(1.0 / 9.0)));
	EXPECT_NE(third, 1.0 / 9.0);
}

TEST(FaceNormal, TrianglesByTheirWindingAndQuadsByTheirDiagonals)
{
	const LVector o{0, 0, 0}, x{1, 0, 0}, y{0, 1, 0}, z{0, 0, 1};
	auto expectVec = [](const LVector& got, const LVector& want, const char* what) {
		EXPECT_NEAR(got.x, want.x, 1e-15) << what;
		EXPECT_NEAR(got.y, want.y, 1e-15) << what;
		EXPECT_NEAR(got.z, want.z, 1e-15) << what;
	};
	expectVec(FaceNormal(o, x, y, y, true), z, "counter-clockwise seen from +z");
	expectVec(FaceNormal(o, y, x, x, true), LVector{0, 0, -1}, "the other winding");
	expectVec(FaceNormal({5, 5, 5}, {5, 5, 9}, {5, 7, 5}, {5, 7, 5}, true), LVector{-1, 0, 0}, "any size, anywhere");
	// A quad: (b - d) x (c - a), which for a planar one is its plane's normal.
	expectVec(FaceNormal(o, {2, 0, 0}, {2, 1, 0}, {0, 1, 0}, false), z, "a planar quad");
	const double r6 = 1.0 / std::sqrt(6.0);
	expectVec(FaceNormal(o, x, {1, 1, 1}, y, false), LVector{-r6, -r6, 2 * r6}, "a bent quad: the diagonals' normal");
	const LVector tri = FaceNormal(o, x, {1, 1, 1}, y, true);
	EXPECT_NE(tri.z, 2 * r6) << "the same corners as a triangle ignore d";
	const LVector unit = FaceNormal({0.3, -2, 7}, {1.1, 4, 2}, {-3, 0.5, 1}, {-3, 0.5, 1}, true);
	EXPECT_NEAR(Dot(unit, unit), 1.0, 2e-16);

	// Without area: the zero vector, which the second division keeps zero.
	const LVector flat = FaceNormal(o, x, {2, 0, 0}, {2, 0, 0}, true);
	EXPECT_EQ(Dot(flat, flat), 0.0);
	const LVector still = UnitOrZero(flat);
	EXPECT_EQ(Dot(still, still), 0.0);
	const LVector twice = UnitOrZero(LVector{3, 0, 4});
	EXPECT_EQ(twice.x, 0.6);
	EXPECT_EQ(twice.z, 0.8);
}

TEST(ConformalStretch, IsOneForRigidMotionsAndTheFactorOfAUniformScaling)
{
	const LVector ra{0, 0, 0}, rb{3, 0, 0}, rc{0, 4, 0};
	const float area = HeronArea(ra, rb, rc);
	ASSERT_EQ(area, 6.0f);
	// Turned a quarter about z and moved.
	const LVector t{5, -1, 2};
	EXPECT_NEAR(ConformalStretch(ra, rb, rc, t, t + LVector{0, 3, 0}, t + LVector{-4, 0, 0}, area), 1.0, 1e-7);
	EXPECT_NEAR(ConformalStretch(ra, rb, rc, ra, rb, rc, area), 1.0, 1e-7) << "unmoved";
	// The constant is 2 sqrt(2) in single precision: unmoved gives 1 only to that precision.
	const double rounding = 2.0 * std::sqrt(2.0) / double(float(2.0 * std::sqrt(2.0)));
	ASSERT_GT(rounding - 1.0, 1e-8);
	EXPECT_NEAR(ConformalStretch(ra, rb, rc, ra, rb, rc, area), rounding, 4e-16);
	for (double k : {0.5, 2.5, 40.0})
		EXPECT_NEAR(ConformalStretch(ra, rb, rc, ra * k, rb * k, rc * k, area), k, 1e-7 * k) << "scaled by " << k;
	// Stretched along one leg only: sqrt(5/2) for a right angle doubled on one side.
	EXPECT_NEAR(ConformalStretch(ra, rb, rc, ra, rb * 2.0, rc, area), std::sqrt(2.5), 1e-7);
	// A face without rest area has nothing to measure.
	EXPECT_EQ(ConformalStretch(ra, rb, rc, ra * 2.0, rb * 2.0, rc * 2.0, 0.0f), 1.0);
	EXPECT_EQ(ConformalStretch(ra, rb, rc, ra * 2.0, rb * 2.0, rc * 2.0, -1.0f), 1.0);
	EXPECT_EQ(ConformalStretch(ra, rb, rc, ra * 2.0, rb * 2.0, rc * 2.0, std::numeric_limits<float>::quiet_NaN()), 1.0);
}

TEST(CornerRange, EveryCornerOfEveryPolygonNamesAPoint)
{
	EXPECT_TRUE(PolygonCornersIn({0, 1, 2, 2}, 3));
	EXPECT_FALSE(PolygonCornersIn({0, 1, 3, 3}, 3)) << "one past the last point";
	EXPECT_FALSE(PolygonCornersIn({-1, 1, 2, 2}, 3));
	EXPECT_TRUE(PolygonCornersIn({0, 1, 2, 3}, 4));
	EXPECT_FALSE(PolygonCornersIn({0, 1, 2, 4}, 4)) << "a quad's fourth corner counts too";
	EXPECT_FALSE(PolygonCornersIn({0, 0, 0, 0}, 0)) << "no points: no corner can name one";

	const CPolygon polys[] = {{0, 1, 2, 2}, {2, 1, 3, 3}, {0, 2, 3, 1}};
	EXPECT_TRUE(CornersInRange(polys, 3, 4));
	EXPECT_FALSE(CornersInRange(polys, 3, 3)) << "the second polygon names point 3";
	EXPECT_TRUE(CornersInRange(polys, 1, 3)) << "only the polygons counted are checked";
	EXPECT_TRUE(CornersInRange(polys, 0, 0));
}
