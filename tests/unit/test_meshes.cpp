// The reference geometry the deformer tests lean on: the generated meshes are
// closed and face outward, the winding number tells inside from outside (and
// gives the exact surface values), and the matrices and random points do what
// their names say. A fault here would hide faults everywhere else.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "support/meshes.h"

using namespace testmesh;

namespace {

const double kPi = 3.14159265358979323846;
const LVector kLo = {-1.0, -2.0, 0.5};
const LVector kHi = {2.0, 1.0, 3.0};

struct Named
{
	std::string name;
	Mesh mesh;
	LVector centre;
};

// Every closed generator, with a point well inside each.
std::vector<Named> ClosedMeshes()
{
	const LVector mid = scaled(add(kLo, kHi), 0.5);
	const LVector c = {0.3, -0.7, 1.1};
	return {
	    {"box", box(kLo, kHi), mid},
	    {"boxTriangles", boxTriangles(kLo, kHi), mid},
	    {"subdividedBox1", subdividedBox(kLo, kHi, 1), mid},
	    {"subdividedBox4", subdividedBox(kLo, kHi, 4), mid},
	    {"icosphere0", icosphere(c, 1.5, 0), c},
	    {"icosphere3", icosphere(c, 1.5, 3), c},
	    {"uvSphere2x3", uvSphere(c, 1.5, 2, 3), c},
	    {"uvSphere8x12", uvSphere(c, 1.5, 8, 12), c},
	    {"triangulatedUvSphere", triangulated(uvSphere(c, 1.5, 5, 7)), c},
	};
}

bool IsTriangle(const CPolygon& p) { return p.c == p.d; }

LVector Normal(const Mesh& m, const CPolygon& p)
{
	const LVector& a = m.points[p.a];
	const LVector& b = m.points[p.b];
	const LVector& c = m.points[p.c];
	if (IsTriangle(p))
		return cross(sub(b, a), sub(c, a));
	return cross(sub(c, a), sub(m.points[p.d], b));
}

LVector Centroid(const Mesh& m, const CPolygon& p)
{
	LVector s = add(add(m.points[p.a], m.points[p.b]), m.points[p.c]);
	if (IsTriangle(p))
		return scaled(s, 1.0 / 3.0);
	return scaled(add(s, m.points[p.d]), 0.25);
}

int UndirectedEdges(const Mesh& m)
{
	std::set<std::pair<Int32, Int32>> edges;
	for (const CPolygon& p : m.polygons)
	{
		const Int32 v[4] = {p.a, p.b, p.c, p.d};
		const int n = IsTriangle(p) ? 3 : 4;
		for (int k = 0; k < n; ++k)
			edges.insert(std::minmax(v[k], v[(k + 1) % n]));
	}
	return static_cast<int>(edges.size());
}

double BoxVolume(LVector lo, LVector hi) { return (hi.x - lo.x) * (hi.y - lo.y) * (hi.z - lo.z); }

Mesh Reversed(const Mesh& m)
{
	Mesh r = m;
	for (CPolygon& p : r.polygons)
		p = IsTriangle(p) ? CPolygon{p.a, p.c, p.b, p.b} : CPolygon{p.a, p.d, p.c, p.b};
	return r;
}

Mesh Joined(const Mesh& a, const Mesh& b)
{
	Mesh j = a;
	const Int32 shift = static_cast<Int32>(a.points.size());
	j.points.insert(j.points.end(), b.points.begin(), b.points.end());
	for (CPolygon p : b.polygons)
		j.polygons.push_back({p.a + shift, p.b + shift, p.c + shift, p.d + shift});
	return j;
}

::testing::AssertionResult Near(const LVector& a, const LVector& b, double tol = 1e-12)
{
	if (distance(a, b) <= tol)
		return ::testing::AssertionSuccess();
	return ::testing::AssertionFailure() << "(" << a.x << ", " << a.y << ", " << a.z << ") vs (" << b.x << ", " << b.y
	                                     << ", " << b.z << ")";
}

::testing::AssertionResult Near(const LMatrix& a, const LMatrix& b, double tol = 1e-12)
{
	const LVector pa[4] = {a.off, a.v1, a.v2, a.v3};
	const LVector pb[4] = {b.off, b.v1, b.v2, b.v3};
	for (int i = 0; i < 4; ++i)
		if (!Near(pa[i], pb[i], tol))
			return ::testing::AssertionFailure() << "row " << i << " " << Near(pa[i], pb[i], tol).message();
	return ::testing::AssertionSuccess();
}

// ---------------------------------------------------------------------------
// Topology

TEST(MeshTopology, GeneratorsProduceTheDocumentedCounts)
{
	const Mesh b = box(kLo, kHi);
	EXPECT_EQ(b.points.size(), 8u);
	ASSERT_EQ(b.polygons.size(), 6u);
	for (const CPolygon& p : b.polygons)
		EXPECT_FALSE(IsTriangle(p));

	const Mesh t = boxTriangles(kLo, kHi);
	EXPECT_EQ(t.points.size(), 8u);
	ASSERT_EQ(t.polygons.size(), 12u);
	for (const CPolygon& p : t.polygons)
		EXPECT_TRUE(IsTriangle(p));

	for (int n = 1; n <= 5; ++n)
	{
		const Mesh s = subdividedBox(kLo, kHi, n);
		EXPECT_EQ(s.points.size(), size_t(6 * n * n + 2)) << n;
		EXPECT_EQ(s.polygons.size(), size_t(6 * n * n)) << n;
		for (const CPolygon& p : s.polygons)
			EXPECT_FALSE(IsTriangle(p));
	}

	for (int s = 0; s <= 3; ++s)
	{
		const Mesh m = icosphere({0, 0, 0}, 1.0, s);
		const size_t f = size_t(20) << (2 * s);
		EXPECT_EQ(m.points.size(), f / 2 + 2) << s;
		EXPECT_EQ(m.polygons.size(), f) << s;
	}

	const int rings = 6, segments = 9;
	const Mesh uv = uvSphere({0, 0, 0}, 1.0, rings, segments);
	EXPECT_EQ(uv.points.size(), size_t(2 + (rings - 1) * segments));
	int triangles = 0, quads = 0;
	for (const CPolygon& p : uv.polygons)
		(IsTriangle(p) ? triangles : quads)++;
	EXPECT_EQ(triangles, 2 * segments);
	EXPECT_EQ(quads, (rings - 2) * segments);
}

TEST(MeshTopology, ClosedGeneratorsUseEveryEdgeTwiceInOppositeDirections)
{
	for (const Named& n : ClosedMeshes())
	{
		SCOPED_TRACE(n.name);
		EXPECT_EQ(edgeProblems(n.mesh), "");
		// A sphere's Euler characteristic: also fails if a point is duplicated
		// instead of shared, or left unused.
		const int v = static_cast<int>(n.mesh.points.size());
		const int f = static_cast<int>(n.mesh.polygons.size());
		EXPECT_EQ(v - UndirectedEdges(n.mesh) + f, 2);
		std::vector<bool> used(n.mesh.points.size(), false);
		for (const CPolygon& p : n.mesh.polygons)
			used[p.a] = used[p.b] = used[p.c] = used[p.d] = true;
		for (size_t i = 0; i < used.size(); ++i)
			EXPECT_TRUE(used[i]) << "point " << i;
	}
}

TEST(MeshTopology, EdgeCheckReportsOpenFlippedUnsharedAndBrokenPolygons)
{
	const Mesh good = box(kLo, kHi);
	ASSERT_EQ(edgeProblems(good), "");

	Mesh open = good;
	open.polygons.pop_back();
	EXPECT_NE(edgeProblems(open), "");

	Mesh flipped = good;
	flipped.polygons[2] = Reversed(Mesh{good.points, {good.polygons[2]}}).polygons[0];
	EXPECT_NE(edgeProblems(flipped), "");

	// Same corner twice instead of shared: positions agree, topology does not.
	Mesh unshared = good;
	unshared.points.push_back(unshared.points[7]);
	unshared.polygons[1].c = 8;
	EXPECT_NE(edgeProblems(unshared), "");

	Mesh twice = good;
	twice.polygons.push_back(good.polygons[0]);
	EXPECT_NE(edgeProblems(twice), "");

	Mesh outOfRange = good;
	outOfRange.polygons[0].b = 8;
	EXPECT_NE(edgeProblems(outOfRange), "");

	Mesh negative = good;
	negative.polygons[0].a = -1;
	EXPECT_NE(edgeProblems(negative), "");

	Mesh degenerate = good;
	degenerate.polygons[0].b = degenerate.polygons[0].a;
	EXPECT_NE(edgeProblems(degenerate), "");

	// Two closed pieces together are still closed.
	EXPECT_EQ(edgeProblems(Joined(good, icosphere({5, 5, 5}, 1, 1))), "");
}

TEST(MeshTopology, BoxCornersFollowTheIndexBits)
{
	const Mesh b = box(kLo, kHi);
	ASSERT_EQ(b.points.size(), 8u);
	EXPECT_TRUE(Near(b.points[0], kLo, 0));
	EXPECT_TRUE(Near(b.points[7], kHi, 0));
	EXPECT_TRUE(Near(b.points[1], {kHi.x, kLo.y, kLo.z}, 0));
	EXPECT_TRUE(Near(b.points[2], {kLo.x, kHi.y, kLo.z}, 0));
	EXPECT_TRUE(Near(b.points[4], {kLo.x, kLo.y, kHi.z}, 0));
	EXPECT_TRUE(Near(b.points[6], {kLo.x, kHi.y, kHi.z}, 0));

	const Mesh t = boxTriangles(kLo, kHi);
	for (size_t i = 0; i < 8; ++i)
		EXPECT_TRUE(Near(t.points[i], b.points[i], 0)) << i;
}

TEST(MeshTopology, SubdividedBoxSpacesItsPointsEvenlyOverTheSurface)
{
	const int n = 4;
	const Mesh s = subdividedBox(kLo, kHi, n);
	bool hasLo = false, hasHi = false;
	std::set<std::vector<long>> lattice;
	for (const LVector& p : s.points)
	{
		hasLo = hasLo || distance(p, kLo) == 0.0;
		hasHi = hasHi || distance(p, kHi) == 0.0;
		const double f[3] = {(p.x - kLo.x) / (kHi.x - kLo.x) * n, (p.y - kLo.y) / (kHi.y - kLo.y) * n,
		                     (p.z - kLo.z) / (kHi.z - kLo.z) * n};
		std::vector<long> k;
		bool onSurface = false;
		for (double v : f)
		{
			k.push_back(std::lround(v));
			EXPECT_NEAR(v, static_cast<double>(k.back()), 1e-9);
			onSurface = onSurface || k.back() == 0 || k.back() == n;
		}
		EXPECT_TRUE(onSurface);
		EXPECT_TRUE(lattice.insert(k).second) << "two points at one lattice position";
	}
	EXPECT_TRUE(hasLo);
	EXPECT_TRUE(hasHi);
	// Every quad is one lattice step on a side.
	for (const CPolygon& p : s.polygons)
	{
		const double stepArea = length(Normal(s, p)) / 2.0;
		const LVector nrm = scaled(Normal(s, p), 1.0 / length(Normal(s, p)));
		const double expected = std::fabs(nrm.x) > 0.5   ? (kHi.y - kLo.y) * (kHi.z - kLo.z) / (n * n)
		                        : std::fabs(nrm.y) > 0.5 ? (kHi.x - kLo.x) * (kHi.z - kLo.z) / (n * n)
		                                                 : (kHi.x - kLo.x) * (kHi.y - kLo.y) / (n * n);
		EXPECT_NEAR(stepArea, expected, 1e-12);
	}
}

TEST(MeshTopology, TriangulatedSplitsQuadsAlongTheFirstDiagonal)
{
	Mesh mixed = uvSphere({0, 0, 0}, 1, 3, 4);  // 8 triangles, 4 quads
	const Mesh t = triangulated(mixed);
	ASSERT_EQ(t.points.size(), mixed.points.size());
	ASSERT_EQ(t.polygons.size(), 8u + 2u * 4u);
	size_t k = 0;
	for (const CPolygon& p : mixed.polygons)
	{
		ASSERT_LT(k, t.polygons.size());
		if (IsTriangle(p))
		{
			const CPolygon& q = t.polygons[k++];
			EXPECT_TRUE(q.a == p.a && q.b == p.b && q.c == p.c && q.d == p.c);
			continue;
		}
		const CPolygon& first = t.polygons[k++];
		const CPolygon& second = t.polygons[k++];
		EXPECT_TRUE(first.a == p.a && first.b == p.b && first.c == p.c && first.d == p.c);
		EXPECT_TRUE(second.a == p.a && second.b == p.c && second.c == p.d && second.d == p.d);
	}
	for (size_t i = 0; i < t.points.size(); ++i)
		EXPECT_TRUE(Near(t.points[i], mixed.points[i], 0));
}

TEST(MeshTopology, GridIsOpenFlatAndFacesAlongUCrossV)
{
	const LVector origin = {1, 2, 3}, u = {2, 0, 0}, v = {0, 0, -3};
	const Mesh g = grid(origin, u, v, 4, 3);
	ASSERT_EQ(g.points.size(), 20u);
	ASSERT_EQ(g.polygons.size(), 12u);
	EXPECT_NE(edgeProblems(g), "");  // the border edges have no partner
	EXPECT_TRUE(Near(g.points[0], origin, 0));
	EXPECT_TRUE(Near(g.points[4], add(origin, u)));
	EXPECT_TRUE(Near(g.points[3 * 5], add(origin, v)));
	EXPECT_TRUE(Near(g.points[19], add(origin, add(u, v))));
	const LVector uv = cross(u, v);
	for (const CPolygon& p : g.polygons)
	{
		const LVector n = Normal(g, p);
		EXPECT_NEAR(dot(n, uv) / (length(n) * length(uv)), 1.0, 1e-12);
	}
}

// ---------------------------------------------------------------------------
// Orientation and volume

TEST(MeshVolume, BoxesEncloseTheirAnalyticVolume)
{
	const double expected = BoxVolume(kLo, kHi);
	EXPECT_NEAR(signedVolume(box(kLo, kHi)), expected, 1e-12);
	EXPECT_NEAR(signedVolume(boxTriangles(kLo, kHi)), expected, 1e-12);
	for (int n = 1; n <= 5; ++n)
		EXPECT_NEAR(signedVolume(subdividedBox(kLo, kHi, n)), expected, 1e-11) << n;
	// Far from the origin, where a careless sum loses digits.
	const LVector far = {1e4, -2e4, 3e4};
	EXPECT_NEAR(signedVolume(box(add(kLo, far), add(kHi, far))), expected, 1e-9);
	EXPECT_NEAR(signedVolume(box({0, 0, 0}, {1, 1, 1})), 1.0, 1e-15);
}

TEST(MeshVolume, EveryFaceOfTheConvexMeshesLooksAwayFromTheCentre)
{
	for (const Named& n : ClosedMeshes())
	{
		SCOPED_TRACE(n.name);
		EXPECT_GT(signedVolume(n.mesh), 0.0);
		for (size_t i = 0; i < n.mesh.polygons.size(); ++i)
		{
			const CPolygon& p = n.mesh.polygons[i];
			EXPECT_GT(dot(Normal(n.mesh, p), sub(Centroid(n.mesh, p), n.centre)), 0.0) << "polygon " << i;
		}
	}
}

TEST(MeshVolume, SpheresApproachTheBallFromInside)
{
	const LVector c = {0.5, -1.0, 2.0};
	const double r = 2.0;
	const double ball = 4.0 / 3.0 * kPi * r * r * r;
	double previous = 0.0;
	for (int s = 0; s <= 4; ++s)
	{
		const Mesh m = icosphere(c, r, s);
		for (const LVector& p : m.points)
			ASSERT_NEAR(distance(p, c), r, 1e-12);
		const double v = signedVolume(m);
		EXPECT_GT(v, previous) << s;  // inscribed, so growing towards the ball
		EXPECT_LT(v, ball) << s;
		previous = v;
	}
	EXPECT_NEAR(previous, ball, 0.005 * ball);

	const Mesh uv = uvSphere(c, r, 48, 96);
	for (const LVector& p : uv.points)
		ASSERT_NEAR(distance(p, c), r, 1e-12);
	EXPECT_LT(signedVolume(uv), ball);
	EXPECT_NEAR(signedVolume(uv), ball, 0.005 * ball);
}

TEST(MeshVolume, UvSphereHasSinglePolesOnTheYAxis)
{
	const LVector c = {1, 2, 3};
	const Mesh uv = uvSphere(c, 0.5, 5, 8);
	EXPECT_TRUE(Near(uv.points.front(), {1, 2.5, 3}));
	EXPECT_TRUE(Near(uv.points.back(), {1, 1.5, 3}));
	int atNorth = 0, atSouth = 0;
	for (const LVector& p : uv.points)
	{
		atNorth += distance(p, uv.points.front()) < 1e-9;
		atSouth += distance(p, uv.points.back()) < 1e-9;
	}
	EXPECT_EQ(atNorth, 1);
	EXPECT_EQ(atSouth, 1);
	// Each ring is one latitude.
	for (int k = 1; k < 5; ++k)
		for (int s = 0; s < 8; ++s)
			EXPECT_NEAR(uv.points[1 + (k - 1) * 8 + s].y - c.y, 0.5 * std::cos(kPi * k / 5), 1e-12);
}

TEST(MeshVolume, VolumeScalesCubedAndFlipsUnderMirroringOrReversal)
{
	const Mesh m = icosphere({0.2, 0.1, -0.3}, 1.0, 2);
	const double v = signedVolume(m);
	EXPECT_NEAR(signedVolume(transformed(m, scaling(3.0))), 27.0 * v, 1e-10);
	EXPECT_NEAR(signedVolume(transformed(m, product(translation({5, -4, 3}), rotation({1, 2, 3}, 0.7)))), v, 1e-12);
	EXPECT_NEAR(signedVolume(transformed(m, scaling(-1.0))), -v, 1e-12);
	EXPECT_NEAR(signedVolume(Reversed(m)), -v, 1e-12);
	EXPECT_NEAR(signedVolume(Reversed(box(kLo, kHi))), -BoxVolume(kLo, kHi), 1e-12);
}

// ---------------------------------------------------------------------------
// Winding number

TEST(MeshWinding, OneInsideZeroOutside)
{
	for (const Named& n : ClosedMeshes())
	{
		SCOPED_TRACE(n.name);
		EXPECT_NEAR(windingNumber(n.mesh, n.centre), 1.0, 1e-12);
		EXPECT_TRUE(insideByWinding(n.mesh, n.centre));
		const LVector far = add(n.centre, {100, -50, 30});
		EXPECT_NEAR(windingNumber(n.mesh, far), 0.0, 1e-12);
		EXPECT_FALSE(insideByWinding(n.mesh, far));
		// Just either side of every face.
		for (size_t i = 0; i < n.mesh.polygons.size(); i += 3)
		{
			const CPolygon& p = n.mesh.polygons[i];
			const LVector nrm = Normal(n.mesh, p);
			const LVector step = scaled(nrm, 1e-6 / length(nrm));
			const LVector at = Centroid(n.mesh, p);
			EXPECT_NEAR(windingNumber(n.mesh, sub(at, step)), 1.0, 1e-9) << "polygon " << i;
			EXPECT_NEAR(windingNumber(n.mesh, add(at, step)), 0.0, 1e-9) << "polygon " << i;
		}
	}
}

TEST(MeshWinding, SurfaceGetsItsInteriorAngleFraction)
{
	const LVector lo = {0, 0, 0}, hi = {1, 1, 1};
	for (const Mesh& m : {box(lo, hi), boxTriangles(lo, hi), subdividedBox(lo, hi, 3)})
	{
		// Off and on the quad's split diagonal (0,0,1)-(1,1,1).
		EXPECT_DOUBLE_EQ(windingNumber(m, {0.3, 0.6, 1.0}), 0.5);
		EXPECT_DOUBLE_EQ(windingNumber(m, {0.5, 0.5, 1.0}), 0.5);
		EXPECT_DOUBLE_EQ(windingNumber(m, {0.0, 0.2, 0.9}), 0.5);
		EXPECT_NEAR(windingNumber(m, {0.5, 0.0, 0.0}), 0.25, 1e-12);
		EXPECT_NEAR(windingNumber(m, {1.0, 0.3, 1.0}), 0.25, 1e-12);
		EXPECT_NEAR(windingNumber(m, lo), 0.125, 1e-12);
		EXPECT_NEAR(windingNumber(m, hi), 0.125, 1e-12);
	}
	const Mesh ico = icosphere({0.1, 0.2, 0.3}, 1.0, 2);
	for (size_t i = 0; i < ico.polygons.size(); i += 7)
		EXPECT_NEAR(windingNumber(ico, Centroid(ico, ico.polygons[i])), 0.5, 1e-12) << i;
	for (size_t i = 0; i < ico.points.size(); i += 5)
		EXPECT_FALSE(std::isnan(windingNumber(ico, ico.points[i]))) << i;
}

TEST(MeshWinding, SurfaceValuesHoldWhenTheFacesAreOffTheAxes)
{
	const LMatrix m = product(translation({3.5, -1.25, 7}), rotation({1, -2, 0.5}, 1.1));
	const Mesh b = transformed(box({0, 0, 0}, {1, 1, 1}), m);
	// Rounded points lie a hair off the plane on either side.
	EXPECT_NEAR(windingNumber(b, apply(m, {0.3, 0.6, 1.0})), 0.5, 1e-9);
	EXPECT_NEAR(windingNumber(b, apply(m, {0.7, 0.0, 0.1})), 0.5, 1e-9);
	EXPECT_NEAR(windingNumber(b, apply(m, {0.0, 0.5, 0.5})), 0.5, 1e-9);
	EXPECT_NEAR(windingNumber(b, apply(m, {0.5, 1.0, 1.0})), 0.25, 1e-9);
	// A real step off the face still counts fully.
	EXPECT_NEAR(windingNumber(b, apply(m, {0.3, 0.6, 1.0 - 1e-7})), 1.0, 1e-6);
	EXPECT_NEAR(windingNumber(b, apply(m, {0.3, 0.6, 1.0 + 1e-7})), 0.0, 1e-6);
}

TEST(MeshWinding, OpenSquareSubtendsItsAnalyticSolidAngle)
{
	// Square of half side a at height h above its centre: 4 asin(a^2 / (a^2 + h^2)).
	const double a = 1.0, h = 0.5;
	const Mesh g = grid({-a, -a, 0}, {2 * a, 0, 0}, {0, 2 * a, 0}, 3, 2);
	const double omega = 4.0 * std::asin(a * a / (a * a + h * h));
	// Seen from the side its faces turn to, the sign is negative.
	EXPECT_NEAR(windingNumber(g, {0, 0, h}), -omega / (4 * kPi), 1e-12);
	EXPECT_NEAR(windingNumber(g, {0, 0, -h}), omega / (4 * kPi), 1e-12);
	// A cube face seen from the cube's centre is a sixth of the sphere.
	EXPECT_NEAR(windingNumber(g, {0, 0, -a}), 1.0 / 6.0, 1e-12);
}

TEST(MeshWinding, ReversedMeshesCountNegativelyAndMeshesAdd)
{
	const Mesh a = box({0, 0, 0}, {2, 2, 2});
	const Mesh b = icosphere({2, 2, 2}, 1.0, 3);
	EXPECT_NEAR(windingNumber(Reversed(a), {1, 1, 1}), -1.0, 1e-12);
	EXPECT_NEAR(windingNumber(Reversed(b), {2, 2, 2}), -1.0, 1e-12);

	const Mesh both = Joined(a, b);
	EXPECT_NEAR(windingNumber(both, {1, 1, 1}), 1.0, 1e-12);
	EXPECT_NEAR(windingNumber(both, {1.7, 1.7, 1.7}), 2.0, 1e-12);
	EXPECT_NEAR(windingNumber(both, {2.5, 2.5, 2.5}), 1.0, 1e-12);
	EXPECT_NEAR(windingNumber(both, {3.5, 3.5, 3.5}), 0.0, 1e-12);
	EXPECT_TRUE(insideByWinding(both, {1.7, 1.7, 1.7}));

	// A hole cut by a reversed inner shell.
	const Mesh shell = Joined(a, Reversed(icosphere({1, 1, 1}, 0.5, 2)));
	EXPECT_NEAR(windingNumber(shell, {1, 1, 1}), 0.0, 1e-12);
	EXPECT_NEAR(windingNumber(shell, {1.8, 1.8, 1.8}), 1.0, 1e-12);
	EXPECT_FALSE(insideByWinding(shell, {1, 1, 1}));
}

TEST(MeshWinding, QuadsSplitAlongTheFirstDiagonal)
{
	// Raise the corners off the top's a/c diagonal: split along a/c the top is
	// a valley at z = 1 in the middle, split along b/d a ridge at z = 1.5.
	Mesh m = box({0, 0, 0}, {1, 1, 1});
	ASSERT_TRUE(m.polygons[1].a == 4 && m.polygons[1].c == 7);
	m.points[5].z = 1.5;
	m.points[6].z = 1.5;
	const LVector between = {0.5, 0.5, 1.25};
	EXPECT_NEAR(windingNumber(m, between), 0.0, 1e-12);
	EXPECT_NEAR(windingNumber(triangulated(m), between), 0.0, 1e-12);
	Mesh turned = m;
	for (CPolygon& p : turned.polygons)
		p = {p.b, p.c, p.d, p.a};
	EXPECT_NEAR(windingNumber(turned, between), 1.0, 1e-12);
}

TEST(MeshWinding, InvariantUnderRigidMotionOfMeshAndPoint)
{
	const LMatrix motion = product(translation({-3, 8, 0.25}), rotation({0.3, 1, -0.6}, 2.3));
	const std::vector<Mesh> meshes = {subdividedBox(kLo, kHi, 2), icosphere({0.5, 0, 1}, 2, 2),
	                                  uvSphere({0, -1, 1.5}, 1.8, 6, 10),
	                                  grid({-1, -1, 1}, {3, 0.5, 0}, {0, 2, 1}, 3, 4)};
	const std::vector<LVector> points = randomPointsInBox({-3, -4, -2}, {4, 3, 5}, 200, 11);
	for (size_t i = 0; i < meshes.size(); ++i)
	{
		const Mesh moved = transformed(meshes[i], motion);
		bool sawFraction = false;
		for (const LVector& p : points)
		{
			const double w = windingNumber(meshes[i], p);
			sawFraction = sawFraction || (std::fabs(w) > 0.01 && std::fabs(w - 1.0) > 0.01);
			ASSERT_NEAR(windingNumber(moved, apply(motion, p)), w, 1e-10) << "mesh " << i;
		}
		// The open grid has no inside: its values are fractions that really
		// depend on where the point is.
		if (i == 3)
		{
			EXPECT_TRUE(sawFraction);
		}
	}
}

TEST(MeshWinding, RandomPointsAgreeWithTheAnalyticBox)
{
	const LMatrix tilt = product(translation({1, 2, -3}), rotation({2, -1, 1}, 0.8));
	const LMatrix untilt = inverse(tilt);
	const std::vector<LVector> points =
	    randomPointsInBox(sub(kLo, {1, 1, 1}), add(kHi, {1, 1, 1}), 2000, 2024);
	for (const Mesh& m : {box(kLo, kHi), boxTriangles(kLo, kHi), subdividedBox(kLo, kHi, 3)})
	{
		const Mesh tilted = transformed(m, tilt);
		int inside = 0;
		for (const LVector& p : points)
		{
			const bool expected = insideBox(kLo, kHi, p);
			inside += expected;
			ASSERT_EQ(insideByWinding(m, p), expected) << p.x << " " << p.y << " " << p.z;
			ASSERT_NEAR(windingNumber(m, p), expected ? 1.0 : 0.0, 1e-9);
			const LVector q = apply(tilt, p);
			ASSERT_EQ(insideByWinding(tilted, q), insideBox(kLo, kHi, apply(untilt, q)));
		}
		// Both answers must actually occur.
		EXPECT_GT(inside, 300);
		EXPECT_LT(inside, 1700);
	}
}

TEST(MeshWinding, RandomPointsAgreeWithTheSphereAwayFromItsSurface)
{
	const LVector c = {0.4, -0.2, 0.9};
	const double r = 1.3;
	const Mesh m = icosphere(c, r, 3);
	int inside = 0, outside = 0;
	for (const LVector& p : randomPointsInBox(sub(c, {2, 2, 2}), add(c, {2, 2, 2}), 1500, 99))
	{
		const double d = distance(p, c);
		if (std::fabs(d - r) < 0.01 * r)  // the facets sit up to 0.4% inside the sphere
			continue;
		(d < r ? inside : outside)++;
		ASSERT_EQ(insideByWinding(m, p), d < r) << d;
	}
	EXPECT_GT(inside, 100);
	EXPECT_GT(outside, 100);
}

// ---------------------------------------------------------------------------
// Random points

TEST(MeshRandomPoints, SeedDecidesThePoints)
{
	const auto a = randomPointsInBox(kLo, kHi, 50, 7);
	const auto b = randomPointsInBox(kLo, kHi, 50, 7);
	const auto c = randomPointsInBox(kLo, kHi, 50, 8);
	ASSERT_EQ(a.size(), 50u);
	ASSERT_EQ(c.size(), 50u);
	int same = 0;
	for (size_t i = 0; i < a.size(); ++i)
	{
		EXPECT_TRUE(Near(a[i], b[i], 0)) << i;
		same += distance(a[i], c[i]) == 0.0;
	}
	EXPECT_EQ(same, 0);
	// A longer run starts with the shorter one.
	const auto longer = randomPointsInBox(kLo, kHi, 80, 7);
	for (size_t i = 0; i < a.size(); ++i)
		EXPECT_TRUE(Near(a[i], longer[i], 0)) << i;
	EXPECT_TRUE(randomPointsInBox(kLo, kHi, 0, 7).empty());
}

TEST(MeshRandomPoints, FillTheBoxUniformly)
{
	const int n = 8000;
	const auto points = randomPointsInBox(kLo, kHi, n, 3);
	ASSERT_EQ(points.size(), size_t(n));
	const LVector mid = scaled(add(kLo, kHi), 0.5);
	int octant[8] = {};
	LVector mean = {0, 0, 0};
	for (const LVector& p : points)
	{
		ASSERT_TRUE(p.x >= kLo.x && p.x < kHi.x && p.y >= kLo.y && p.y < kHi.y && p.z >= kLo.z && p.z < kHi.z);
		++octant[(p.x > mid.x) + 2 * (p.y > mid.y) + 4 * (p.z > mid.z)];
		mean = add(mean, scaled(p, 1.0 / n));
	}
	for (int k = 0; k < 8; ++k)
		EXPECT_NEAR(octant[k], n / 8, n / 8 / 5) << k;
	EXPECT_TRUE(Near(mean, mid, 0.05));
	// One draw per coordinate: reusing a draw would put points on a diagonal.
	int xyEqual = 0;
	for (const LVector& p : points)
		xyEqual += std::fabs((p.x - kLo.x) / (kHi.x - kLo.x) - (p.y - kLo.y) / (kHi.y - kLo.y)) < 1e-12;
	EXPECT_EQ(xyEqual, 0);
}

// ---------------------------------------------------------------------------
// Matrices

TEST(MeshMatrix, TranslationRotationAndScalingActAsNamed)
{
	const LVector p = {1.5, -2, 0.25};
	EXPECT_TRUE(Near(apply(identity(), p), p, 0));
	EXPECT_TRUE(Near(apply(translation({1, 2, 3}), p), {2.5, 0, 3.25}, 0));
	EXPECT_TRUE(Near(applyLinear(translation({1, 2, 3}), p), p, 0));
	EXPECT_TRUE(Near(apply(scaling(2), p), {3, -4, 0.5}, 0));

	// Right-handed: a quarter turn about z takes x to y, about x takes y to z.
	EXPECT_TRUE(Near(apply(rotation({0, 0, 1}, kPi / 2), {1, 0, 0}), {0, 1, 0}));
	EXPECT_TRUE(Near(apply(rotation({1, 0, 0}, kPi / 2), {0, 1, 0}), {0, 0, 1}));
	EXPECT_TRUE(Near(apply(rotation({0, 1, 0}, kPi / 2), {0, 0, 1}), {1, 0, 0}));
	// The axis length does not matter; the axis stays put, lengths are kept,
	// and a third of a turn about (1,1,1) cycles the axes.
	EXPECT_TRUE(Near(rotation({0, 0, 5}, 0.3), rotation({0, 0, 1}, 0.3)));
	const LMatrix r = rotation({1, -2, 2}, 0.9);
	EXPECT_TRUE(Near(apply(r, {1, -2, 2}), {1, -2, 2}));
	EXPECT_NEAR(length(apply(r, p)), length(p), 1e-12);
	EXPECT_NEAR(dot(r.v1, r.v2), 0.0, 1e-15);
	EXPECT_NEAR(dot(r.v1, cross(r.v2, r.v3)), 1.0, 1e-12);
	EXPECT_TRUE(Near(apply(rotation({1, 1, 1}, 2 * kPi / 3), {1, 0, 0}), {0, 1, 0}));
}

TEST(MeshMatrix, ProductAppliesTheRightFactorFirst)
{
	const LMatrix t = translation({1, 0, 0});
	const LMatrix r = rotation({0, 0, 1}, kPi / 2);
	const LVector p = {1, 0, 0};
	// Rotate then move, and the other way round.
	EXPECT_TRUE(Near(apply(product(t, r), p), {1, 1, 0}));
	EXPECT_TRUE(Near(apply(product(r, t), p), {0, 2, 0}));

	const LMatrix a = product(translation({0.5, -1, 2}), product(rotation({1, 2, -1}, 0.4), scaling(1.7)));
	const LMatrix b = product(translation({-3, 0.2, 1}), rotation({-2, 1, 0.3}, 1.9));
	for (const LVector& q : randomPointsInBox({-2, -2, -2}, {2, 2, 2}, 20, 5))
		EXPECT_TRUE(Near(apply(product(a, b), q), apply(a, apply(b, q))));
	EXPECT_TRUE(Near(product(identity(), a), a, 0));
	EXPECT_TRUE(Near(product(a, identity()), a, 0));
}

TEST(MeshMatrix, InverseUndoesTheMatrix)
{
	LMatrix skew = product(translation({4, -1, 2}), product(rotation({0.2, 1, 0.5}, 1.3), scaling(0.6)));
	skew.v2 = add(skew.v2, {0.3, 0, -0.2});  // not a similarity any more
	const LMatrix inv = inverse(skew);
	EXPECT_TRUE(Near(product(skew, inv), identity(), 1e-12));
	EXPECT_TRUE(Near(product(inv, skew), identity(), 1e-12));
	const LVector p = {0.7, -1.1, 2.9};
	EXPECT_TRUE(Near(apply(inv, apply(skew, p)), p, 1e-12));
}

TEST(MeshMatrix, TransformedMovesEveryPointAndKeepsThePolygons)
{
	const Mesh m = uvSphere({1, 0, 0}, 1, 4, 5);
	const LMatrix mat = product(translation({0, 3, -1}), rotation({1, 1, 0}, 0.6));
	const Mesh t = transformed(m, mat);
	ASSERT_EQ(t.points.size(), m.points.size());
	ASSERT_EQ(t.polygons.size(), m.polygons.size());
	for (size_t i = 0; i < m.points.size(); ++i)
		EXPECT_TRUE(Near(t.points[i], apply(mat, m.points[i]), 0)) << i;
	for (size_t i = 0; i < m.polygons.size(); ++i)
	{
		const CPolygon& a = m.polygons[i];
		const CPolygon& b = t.polygons[i];
		EXPECT_TRUE(a.a == b.a && a.b == b.b && a.c == b.c && a.d == b.d) << i;
	}
}

// ---------------------------------------------------------------------------
// Dense mesh with escaping points

TEST(MeshPushed, PushedPointsLeaveTheSphereAndTheRestStay)
{
	const LVector c = {0.5, 1, -0.5};
	const double r = 1.2, factor = 1.5;
	const int every = 7;
	const PushedMesh pm = pushedIcosphere(c, r, 3, factor, every);
	const Mesh plain = icosphere(c, r, 3);
	ASSERT_EQ(pm.mesh.points.size(), plain.points.size());
	ASSERT_EQ(pm.mesh.polygons.size(), plain.polygons.size());
	ASSERT_EQ(pm.pushed.size(), (plain.points.size() + every - 1) / every);

	const Mesh cage = icosphere(c, r * 1.1, 2);
	std::set<Int32> pushed(pm.pushed.begin(), pm.pushed.end());
	EXPECT_EQ(pushed.size(), pm.pushed.size());
	for (size_t k = 1; k < pm.pushed.size(); ++k)
		EXPECT_LT(pm.pushed[k - 1], pm.pushed[k]);
	for (size_t i = 0; i < plain.points.size(); ++i)
	{
		const LVector& p = pm.mesh.points[i];
		if (pushed.count(static_cast<Int32>(i)))
		{
			EXPECT_EQ(i % every, 0u);
			EXPECT_NEAR(distance(p, c), r * factor, 1e-12) << i;
			EXPECT_TRUE(Near(sub(p, c), scaled(sub(plain.points[i], c), factor), 1e-12)) << i;
			EXPECT_FALSE(insideByWinding(cage, p)) << i;
		}
		else
		{
			EXPECT_TRUE(Near(p, plain.points[i], 0)) << i;
			EXPECT_TRUE(insideByWinding(cage, p)) << i;
		}
	}
}

}  // namespace
