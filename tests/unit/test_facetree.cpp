// The nearest-face tree of the distance map against the loop over every face,
// bit for bit: points inside, outside, on faces, edges and corners, far away
// and not finite, in cages from a cube to degenerate ones.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "object/morvex_facetree.h"
#include "support/meshes.h"
#include "support/unit_host.h"

using testmesh::Mesh;

namespace {

uint64_t Bits(double d)
{
	uint64_t u;
	std::memcpy(&u, &d, sizeof u);
	return u;
}

// Points of every kind around a cage: random in and around its box, on its
// faces (at barycentric points, edges and corners), just off them, and far.
std::vector<LVector> probes(const Mesh& cage, unsigned seed)
{
	LVector lo{1e300, 1e300, 1e300}, hi{-1e300, -1e300, -1e300};
	for (const LVector& p : cage.points)
	{
		lo = {std::fmin(lo.x, p.x), std::fmin(lo.y, p.y), std::fmin(lo.z, p.z)};
		hi = {std::fmax(hi.x, p.x), std::fmax(hi.y, p.y), std::fmax(hi.z, p.z)};
	}
	const LVector mid = testmesh::scaled(testmesh::add(lo, hi), 0.5);
	const LVector half = testmesh::scaled(testmesh::sub(hi, lo), 0.5);
	std::vector<LVector> out = testmesh::randomPointsInBox(testmesh::sub(mid, testmesh::scaled(half, 1.5)),
	                                                       testmesh::add(mid, testmesh::scaled(half, 1.5)), 1500, seed);
	const std::vector<LVector> weights = testmesh::randomPointsInBox({0, 0, 0}, {1, 1, 1}, 200, seed + 1);
	for (size_t k = 0; k < cage.polygons.size(); ++k)
	{
		const CPolygon& f = cage.polygons[k];
		if (f.a < 0 || f.b < 0 || f.c < 0 || size_t(f.a) >= cage.points.size() || size_t(f.b) >= cage.points.size() ||
		    size_t(f.c) >= cage.points.size())
			continue;
		const LVector a = cage.points[size_t(f.a)], b = cage.points[size_t(f.b)], c = cage.points[size_t(f.c)];
		const LVector w = weights[k % weights.size()];
		const double s = w.x + w.y + w.z;
		const LVector on = testmesh::add(testmesh::add(testmesh::scaled(a, w.x / s), testmesh::scaled(b, w.y / s)),
		                                 testmesh::scaled(c, w.z / s));
		const LVector n = testmesh::cross(testmesh::sub(b, a), testmesh::sub(c, a));
		const double len = testmesh::length(n);
		out.push_back(on);
		out.push_back(a);
		out.push_back(testmesh::scaled(testmesh::add(a, b), 0.5));
		if (len > 0)
			for (double off : {1e-12, -1e-9, 1e-3, 0.25})
				out.push_back(testmesh::add(on, testmesh::scaled(n, off / len)));
	}
	for (double far : {10.0, 1e3, 1e6, 1e9, 1e15})
		for (const LVector& d : testmesh::randomPointsInBox({-1, -1, -1}, {1, 1, 1}, 20, seed + 2))
			out.push_back(testmesh::add(mid, testmesh::scaled(d, far * (half.x + half.y + half.z + 1))));
	return out;
}

// Every probe, the tree's answer and the loop's, as bits.
void expectSameAsLoop(const Mesh& cage, unsigned seed, std::vector<LVector> extra = {})
{
	NearestFaceTree tree;
	const Int32 count = Int32(cage.points.size()), faces = Int32(cage.polygons.size());
	ASSERT_TRUE(tree.Build(cage.points.data(), count, cage.polygons.data(), faces));
	std::vector<LVector> points = probes(cage, seed);
	points.insert(points.end(), extra.begin(), extra.end());
	for (const LVector& q : points)
	{
		const double loop = NearestFaceDistanceByLoop(cage.points.data(), count, cage.polygons.data(), faces, q);
		const double fast = tree.Nearest(q);
		ASSERT_EQ(Bits(fast), Bits(loop)) << "at " << q.x << " " << q.y << " " << q.z << ": " << fast << " against " << loop;
	}
}

}  // namespace

TEST(NearestFaceTree, MatchesTheLoopInRegularCages)
{
	expectSameAsLoop(testmesh::boxTriangles({-1, -1, -1}, {1, 1, 1}), 1);
	expectSameAsLoop(testmesh::icosphere({0.3, -2, 5}, 1.5, 3), 2);
	// Far from the origin the rounding of the distances grows with the coordinates.
	expectSameAsLoop(testmesh::transformed(testmesh::icosphere({0, 0, 0}, 1.0, 2),
	                                       testmesh::product(testmesh::translation({1e5, -3e5, 2e4}),
	                                                         testmesh::rotation({1, 2, 3}, 0.4))),
	                 3);
	// Quads as they are: the loop measures only their a, b, c triangle, and so must the tree.
	expectSameAsLoop(testmesh::subdividedBox({-2, -1, -3}, {2, 1, 3}, 3), 4);
}

TEST(NearestFaceTree, MatchesTheLoopInTheScannedModelsCage)
{
	const Mesh bunny = testmesh::objPoints(std::string(MORVEXER_SAMPLES_DIR) + "/bunny.obj");
	ASSERT_EQ(bunny.points.size(), 1839u);
	// The bound cage of the tests and the demo: a box of 6 x 6 quads a side around the model, as triangles.
	const Mesh cage = testmesh::triangulated(testmesh::subdividedBox({-5.5, -0.5, -4.3}, {5.5, 10.2, 4.4}, 6));
	NearestFaceTree tree;
	ASSERT_TRUE(tree.Build(cage.points.data(), Int32(cage.points.size()), cage.polygons.data(), Int32(cage.polygons.size())));
	EXPECT_EQ(tree.LooseFaces(), 0) << "a regular cage is all in the tree";
	expectSameAsLoop(cage, 5, bunny.points);
}

TEST(NearestFaceTree, MatchesTheLoopWithDegenerateAndUnusableFaces)
{
	Mesh cage = testmesh::triangulated(testmesh::subdividedBox({-1, -1, -1}, {1, 1, 1}, 2));
	const Int32 n = Int32(cage.points.size());
	cage.points.push_back({0.5, 0.5, 0.5});
	cage.points.push_back({0.5 + 1e-9, 0.5, 0.5});
	cage.points.push_back({3, 0.5, 0.5});
	cage.points.push_back({0.2, 0.4, std::numeric_limits<double>::quiet_NaN()});
	cage.points.push_back({std::numeric_limits<double>::infinity(), 0, 0});
	cage.points.push_back({0.5, 0.5 + 1e-7, 0.5});
	cage.polygons.push_back({n, n, n, n});              // a point
	cage.polygons.push_back({n, n + 2, n + 2, n + 2});  // a segment
	cage.polygons.push_back({n, n + 1, n + 2, n + 2});  // a line of three points
	cage.polygons.push_back({n, n + 2, n + 5, n + 5});  // a sliver
	cage.polygons.push_back({0, 1, n + 3, n + 3});      // a NaN corner
	cage.polygons.push_back({2, n + 4, 3, 3});          // an infinite corner
	cage.polygons.push_back({0, 1, 99, 99});            // a corner naming no point
	cage.polygons.push_back({0, 1, 2, -1});             // a fourth corner naming no point
	NearestFaceTree tree;
	ASSERT_TRUE(tree.Build(cage.points.data(), Int32(cage.points.size()), cage.polygons.data(), Int32(cage.polygons.size())));
	EXPECT_EQ(tree.LooseFaces(), 6);
	expectSameAsLoop(cage, 6,
	                 {{0.5, 0.5, 0.5},
	                  {std::numeric_limits<double>::quiet_NaN(), 0, 0},
	                  {std::numeric_limits<double>::infinity(), 1, 1},
	                  {1e200, -1e200, 1e200}});

	// Nothing usable, or no points at all: every point is infinitely far.
	Mesh none = testmesh::boxTriangles({-1, -1, -1}, {1, 1, 1});
	for (CPolygon& p : none.polygons)
		p.a = 99;
	expectSameAsLoop(none, 7);
	NearestFaceTree empty;
	ASSERT_TRUE(empty.Build(nullptr, 0, none.polygons.data(), Int32(none.polygons.size())));
	EXPECT_EQ(empty.Nearest({0, 0, 0}), std::numeric_limits<double>::infinity());
}

TEST(NearestFaceTree, ATreeWithoutMemoryIsLeftEmpty)
{
	const Mesh cage = testmesh::icosphere({0, 0, 0}, 1.0, 2);
	Mesh with_loose = cage;
	with_loose.polygons.push_back({0, 0, 0, 0});
	for (long allowed = 0;; ++allowed)
	{
		NearestFaceTree tree;
		unitHost().memory().failAfter(allowed);
		const bool built = tree.Build(with_loose.points.data(), Int32(with_loose.points.size()), with_loose.polygons.data(),
		                              Int32(with_loose.polygons.size()));
		unitHost().memory().failAfter(-1);
		if (built)
		{
			EXPECT_EQ(tree.TreeFaces(), Int64(cage.polygons.size()));
			EXPECT_EQ(tree.LooseFaces(), 1);
			break;
		}
		EXPECT_EQ(tree.TreeFaces() + tree.LooseFaces(), 0) << "after " << allowed << " requests";
		ASSERT_LT(allowed, 5000);
	}
}
