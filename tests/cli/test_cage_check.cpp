// The cage check stands between a user's file and the deformer: a cage that
// passes here must be closed, manifold and consistently wound, and the report
// must say which way it faces. Each broken cage is a good box with one fault.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "cage_check.h"

namespace {

using Faces = std::vector<std::vector<Int32>>;

const LVector kLo = {-1.0, -2.0, 0.5};
const LVector kHi = {2.0, 1.0, 3.0};
const double kBoxVolume = 3.0 * 3.0 * 2.5;

// Corner i has x from bit 0, y from bit 1, z from bit 2.
std::vector<LVector> boxPoints(const LVector& lo, const LVector& hi)
{
	std::vector<LVector> p;
	for (int i = 0; i < 8; ++i)
		p.push_back({(i & 1) ? hi.x : lo.x, (i & 2) ? hi.y : lo.y, (i & 4) ? hi.z : lo.z});
	return p;
}

// Counter-clockwise seen from outside: -z, +z, -y, +y, -x, +x.
Faces boxQuads()
{
	return {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
}

Faces boxTriangles()
{
	Faces t;
	for (const std::vector<Int32>& q : boxQuads())
	{
		t.push_back({q[0], q[1], q[2]});
		t.push_back({q[0], q[2], q[3]});
	}
	return t;
}

void expectProblem(const mvx::CageReport& r, const std::string& part)
{
	EXPECT_FALSE(r.ok);
	EXPECT_NE(std::string::npos, r.problem.find(part)) << r.problem;
	EXPECT_EQ(std::string::npos, r.problem.find('\n')) << r.problem;
}

// --- Good cages ---------------------------------------------------------------

TEST(CageCheck, ClosedBoxesPassWithTheirVolume)
{
	Faces mixed = boxQuads();
	mixed.erase(mixed.begin() + 1);
	mixed.push_back({4, 5, 7});
	mixed.push_back({4, 7, 6});
	const std::vector<std::pair<const char*, Faces>> boxes = {{"quads", boxQuads()}, {"triangles", boxTriangles()}, {"mixed", mixed}};
	for (const auto& box : boxes)
	{
		SCOPED_TRACE(box.first);
		const mvx::CageReport r = mvx::checkCage(boxPoints(kLo, kHi), box.second);
		EXPECT_TRUE(r.ok) << r.problem;
		EXPECT_TRUE(r.problem.empty());
		EXPECT_FALSE(r.inward);
		EXPECT_NEAR(kBoxVolume, r.volume, 1e-12);
	}
}

TEST(CageCheck, VerdictDoesNotDependOnScaleOrPlace)
{
	struct Case
	{
		LVector lo, hi;
	};
	const Case cases[] = {
	    {{1e-6, 2e-6, 3e-6}, {2e-6, 4e-6, 4e-6}},
	    {{-3e4, -1e4, 0}, {5e4, 2e4, 1e4}},
	    {{1e6, 1e6, 1e6}, {1e6 + 1, 1e6 + 2, 1e6 + 3}},
	};
	for (const Case& c : cases)
	{
		const mvx::CageReport r = mvx::checkCage(boxPoints(c.lo, c.hi), boxTriangles());
		const double v = (c.hi.x - c.lo.x) * (c.hi.y - c.lo.y) * (c.hi.z - c.lo.z);
		EXPECT_TRUE(r.ok) << r.problem;
		EXPECT_NEAR(v, r.volume, 1e-9 * v);
	}
}

TEST(CageCheck, NgonCapsCountAsFans)
{
	// A hexagonal prism: two 6-gons and six quads.
	const int n = 6;
	const double kPi = 3.14159265358979323846;
	std::vector<LVector> p;
	for (int k = 0; k < 2; ++k)
		for (int i = 0; i < n; ++i)
			p.push_back({2 * std::cos(2 * kPi * i / n), 2 * std::sin(2 * kPi * i / n), k * 1.5});
	Faces f = {{5, 4, 3, 2, 1, 0}, {6, 7, 8, 9, 10, 11}};
	for (Int32 i = 0; i < n; ++i)
	{
		const Int32 j = (i + 1) % n;
		f.push_back({i, j, j + n, i + n});
	}
	const mvx::CageReport r = mvx::checkCage(p, f);
	EXPECT_TRUE(r.ok) << r.problem;
	const double hexagon = 1.5 * std::sqrt(3.0) * 2 * 2;
	EXPECT_NEAR(hexagon * 1.5, r.volume, 1e-12);
}

TEST(CageCheck, InwardBoxIsReportedAndReversingFixesIt)
{
	// Written inward by hand, so the test does not lean on reverseFaces.
	Faces inward = {{0, 1, 3, 2}, {4, 6, 7, 5}, {0, 4, 5, 1}, {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 5, 7, 3}};
	const mvx::CageReport in = mvx::checkCage(boxPoints(kLo, kHi), inward);
	EXPECT_TRUE(in.ok) << in.problem;
	EXPECT_TRUE(in.inward);
	EXPECT_NEAR(-kBoxVolume, in.volume, 1e-12);

	mvx::reverseFaces(&inward);
	const mvx::CageReport out = mvx::checkCage(boxPoints(kLo, kHi), inward);
	EXPECT_TRUE(out.ok) << out.problem;
	EXPECT_FALSE(out.inward);
	EXPECT_NEAR(kBoxVolume, out.volume, 1e-12);
}

TEST(CageCheck, ReverseFacesTurnsEveryFaceKeepingItsFirstCorner)
{
	Faces f = {{0, 1, 2}, {3, 4, 5, 6}, {7, 8, 9, 10, 11}, {}};
	mvx::reverseFaces(&f);
	EXPECT_EQ((Faces{{0, 2, 1}, {3, 6, 5, 4}, {7, 11, 10, 9, 8}, {}}), f);
}

// --- Broken cages -------------------------------------------------------------

TEST(CageCheck, OpenCageIsRejected)
{
	Faces open = boxQuads();
	open.erase(open.begin() + 1);  // the +z side
	expectProblem(mvx::checkCage(boxPoints(kLo, kHi), open), "used by 1 face");

	Faces openTriangles = boxTriangles();
	openTriangles.pop_back();
	expectProblem(mvx::checkCage(boxPoints(kLo, kHi), openTriangles), "used by 1 face");
}

TEST(CageCheck, EdgeSharedByThreeFacesIsRejected)
{
	std::vector<LVector> p = boxPoints(kLo, kHi);
	p.push_back({0.5, -2.0, -3.0});
	Faces f = boxQuads();
	f.push_back({0, 1, 8});  // a fin hanging off edge 0-1
	expectProblem(mvx::checkCage(p, f), "edge 1-2 is used by 3 faces");
}

TEST(CageCheck, FlippedFaceIsRejected)
{
	for (size_t flip = 0; flip < 6; ++flip)
	{
		SCOPED_TRACE("flipped face " + std::to_string(flip));
		Faces f = boxQuads();
		f[flip] = {f[flip][3], f[flip][2], f[flip][1], f[flip][0]};
		expectProblem(mvx::checkCage(boxPoints(kLo, kHi), f), "orientation");
	}
}

TEST(CageCheck, CornersOutOfRangeAreRejected)
{
	Faces past = boxQuads();
	past[3][1] = 40;
	expectProblem(mvx::checkCage(boxPoints(kLo, kHi), past), "face 4 has a corner out of range (vertex 41, 8 points)");

	Faces negative = boxQuads();
	negative[5][0] = -1;
	expectProblem(mvx::checkCage(boxPoints(kLo, kHi), negative), "face 6");

	Faces atEnd = boxQuads();
	atEnd[0][2] = 8;
	expectProblem(mvx::checkCage(boxPoints(kLo, kHi), atEnd), "out of range");
}

TEST(CageCheck, DegenerateFacesAreRejected)
{
	{
		SCOPED_TRACE("repeated corner");
		Faces f = boxQuads();
		f[2] = {0, 1, 1, 5, 4};
		expectProblem(mvx::checkCage(boxPoints(kLo, kHi), f), "face 3");
	}
	{
		SCOPED_TRACE("two corners");
		Faces f = boxTriangles();
		f.push_back({0, 1});
		expectProblem(mvx::checkCage(boxPoints(kLo, kHi), f), "face 13");
	}
	{
		SCOPED_TRACE("collinear corners");
		std::vector<LVector> p = boxPoints(kLo, kHi);
		p.push_back({0.5, kLo.y, kLo.z});  // on edge 0-1
		Faces f = boxQuads();
		f[0] = {0, 2, 3, 1, 8};  // the bottom, now with 8 on its edge
		f[2] = {0, 8, 1, 5, 4};
		f.push_back({0, 8, 1});  // flat: three points on one line
		expectProblem(mvx::checkCage(p, f), "face 7 has no area");
	}
	{
		// Tiny next to the cage: a sliver a millionth of a millionth thin.
		SCOPED_TRACE("sliver");
		std::vector<LVector> p = boxPoints(kLo, kHi);
		p.push_back({0.5, kLo.y, kLo.z + 1e-12});
		Faces f = boxQuads();
		f.push_back({0, 1, 8});
		expectProblem(mvx::checkCage(p, f), "face 7 has no area");
	}
	{
		SCOPED_TRACE("bow tie");
		std::vector<LVector> p = {{0, 0, 0}, {1, 1, 0}, {1, 0, 0}, {0, 1, 0}};
		expectProblem(mvx::checkCage(p, {{0, 1, 2, 3}}), "face 1 has no area");
	}
}

// Problems are named as the OBJ counts (from 1), and coordinates too large
// for areas to be measured are called that, not a face without area.
TEST(CageCheck, HugeCoordinatesAreNamedAsSuch)
{
	for (const double scale : {1e16, 1e20, 1e160, 1e300})
	{
		SCOPED_TRACE(scale);
		std::vector<LVector> p = boxPoints(kLo, kHi);
		for (LVector& v : p)
			v = {v.x * scale, v.y * scale, v.z * scale};
		expectProblem(mvx::checkCage(p, boxQuads()), "the coordinates are too large: the cage spans ");
		EXPECT_EQ(mvx::checkCage(p, boxQuads()).problem.find("area"), std::string::npos);
	}
	std::vector<LVector> p = boxPoints(kLo, kHi);
	for (LVector& v : p)
		v = {v.x * 1e14, v.y * 1e14, v.z * 1e14};
	EXPECT_TRUE(mvx::checkCage(p, boxQuads()).ok) << "a cage of 1e14 is still measured";
}

TEST(CageCheck, PinchedPointIsRejected)
{
	// Two tetrahedra touching at point 0 only: every edge is fine, the point not.
	std::vector<LVector> p = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {-1, 0, 0}, {0, -1, 0}, {0, 0, -1}};
	Faces f = {{0, 2, 1}, {0, 1, 3}, {0, 3, 2}, {1, 2, 3}};
	const mvx::CageReport one = mvx::checkCage(p, f);
	EXPECT_TRUE(one.ok) << one.problem;
	EXPECT_NEAR(1.0 / 6.0, one.volume, 1e-15);

	// The mirror image through the origin, wound back outward.
	f.insert(f.end(), {{0, 4, 5}, {0, 6, 4}, {0, 5, 6}, {4, 6, 5}});
	expectProblem(mvx::checkCage(p, f), "point 1 joins");
}

TEST(CageCheck, OtherUnusableCagesAreRejected)
{
	expectProblem(mvx::checkCage(boxPoints(kLo, kHi), {}), "no faces");

	// Two sides of one triangle: closed and consistent, but encloses nothing.
	const std::vector<LVector> sheet = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
	expectProblem(mvx::checkCage(sheet, {{0, 1, 2}, {0, 2, 1}}), "volume");

	std::vector<LVector> p = boxPoints(kLo, kHi);
	p[6].y = std::nan("");
	expectProblem(mvx::checkCage(p, boxQuads()), "point 7 is not");
}

}  // namespace
