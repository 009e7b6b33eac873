// The host's geometry helpers: outlines and quads cut into triangles, and rays cast
// against meshes through the bounding volume hierarchy.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "vtnhost/ray_bvh.h"
#include "vtnhost/triangulate.h"
#include "vtnhost/vec.h"

using vtnhost::RayBvh;
using vtnhost::splitQuad;
using vtnhost::triangulateOutline;
using namespace vtnhost::vec;
using namespace vtnhost::vec::operators;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();
const double kPi = std::acos(-1.0);

LVector normalized(const LVector& a)
{
	return a * (1 / length(a));
}

LVector randomDirection(std::mt19937_64& rng)
{
	std::normal_distribution<double> gauss;
	LVector d{0, 0, 0};
	while (length(d) < 1e-3)
		d = LVector{gauss(rng), gauss(rng), gauss(rng)};
	return normalized(d);
}

// ---- outlines ----

using Corner = std::array<double, 2>;

double shoelace(const std::vector<Corner>& corners)
{
	double sum = 0;
	for (size_t i = 0; i < corners.size(); ++i)
	{
		const Corner& p = corners[i];
		const Corner& q = corners[(i + 1) % corners.size()];
		sum += p[0] * q[1] - q[0] * p[1];
	}
	return sum / 2;
}

// An orthonormal frame placing 2D outlines into some plane of space.
struct Frame
{
	LVector origin, u, v;
	LVector at(const Corner& c) const { return origin + u * c[0] + v * c[1]; }
	LVector normal() const { return cross(u, v); }
};

Frame randomFrame(std::mt19937_64& rng, double reach)
{
	const LVector n = randomDirection(rng);
	const LVector u = normalized(cross(n, randomDirection(rng)));
	std::uniform_real_distribution<double> offset(-reach, reach);
	return Frame{LVector{offset(rng), offset(rng), offset(rng)}, u, cross(n, u)};
}

// An outline placed into a frame, its corners scattered among unrelated points so
// that the triangles' indices have to be the outline's own.
struct PlacedOutline
{
	std::vector<LVector> points;
	std::vector<Int32> outline;
	std::map<Int32, Corner> flat;  // each index's position in the frame's plane
	LVector normal;                // the outline's own normal: frame normal, flipped when clockwise
	double area = 0;
};

PlacedOutline place(const std::vector<Corner>& corners, const Frame& frame, unsigned seed)
{
	PlacedOutline placed;
	const size_t total = corners.size() * 2 + 3;
	std::vector<Int32> slots(total);
	for (size_t i = 0; i < total; ++i)
		slots[i] = static_cast<Int32>(i);
	std::mt19937_64 rng(seed);
	std::shuffle(slots.begin(), slots.end(), rng);
	placed.points.assign(total, LVector{1e3, -2e3, 3e3});  // decoys, far from everything
	for (size_t i = 0; i < corners.size(); ++i)
	{
		placed.points[static_cast<size_t>(slots[i])] = frame.at(corners[i]);
		placed.outline.push_back(slots[i]);
		placed.flat[slots[i]] = corners[i];
	}
	const double signedArea = shoelace(corners);
	placed.normal = signedArea >= 0 ? frame.normal() : frame.normal() * -1;
	placed.area = std::fabs(signedArea);
	return placed;
}

double cornerArea(const Corner& a, const Corner& b, const Corner& c)
{
	return ((b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0])) / 2;
}

// Everything a triangulation of a simple outline must satisfy, checked in space and in the plane.
void expectValidTriangulation(const PlacedOutline& placed, const std::vector<CPolygon>& triangles)
{
	const std::set<Int32> corners(placed.outline.begin(), placed.outline.end());
	double scale = 0;
	for (const auto& entry : placed.flat)
		scale = std::max(scale, std::max(std::fabs(entry.second[0]), std::fabs(entry.second[1])));
	double total = 0;
	std::map<std::pair<Int32, Int32>, int> edges;
	for (const CPolygon& t : triangles)
	{
		EXPECT_EQ(t.c, t.d) << "a triangle repeats its last index";
		ASSERT_TRUE(corners.count(t.a) && corners.count(t.b) && corners.count(t.c)) << "only the outline's indices";
		const LVector& a = placed.points[static_cast<size_t>(t.a)];
		const LVector& b = placed.points[static_cast<size_t>(t.b)];
		const LVector& c = placed.points[static_cast<size_t>(t.c)];
		const LVector n = cross(b - a, c - a);
		EXPECT_GT(dot(n, placed.normal), 0) << "triangle " << t.a << " " << t.b << " " << t.c << " turned over";
		total += length(n) / 2;
		++edges[{t.a, t.b}];
		++edges[{t.b, t.c}];
		++edges[{t.c, t.a}];

		const Corner& fa = placed.flat.at(t.a);
		const Corner& fb = placed.flat.at(t.b);
		const Corner& fc = placed.flat.at(t.c);
		const double sign = cornerArea(fa, fb, fc) >= 0 ? 1 : -1;
		const double margin = 1e-9 * scale * scale;
		for (const auto& entry : placed.flat)
		{
			const Corner& p = entry.second;
			const bool inside = sign * cornerArea(fa, fb, p) > margin && sign * cornerArea(fb, fc, p) > margin
				&& sign * cornerArea(fc, fa, p) > margin;
			EXPECT_FALSE(inside) << "corner " << entry.first << " lies inside triangle " << t.a << " " << t.b << " " << t.c;
		}
	}
	EXPECT_NEAR(total, placed.area, 1e-9 * placed.area);

	// Each side of the outline belongs to exactly one triangle, running the same way; each
	// diagonal to exactly two, running opposite ways. With the area this rules out overlaps.
	const size_t n = placed.outline.size();
	std::set<std::pair<Int32, Int32>> sides;
	for (size_t i = 0; i < n; ++i)
		sides.insert({placed.outline[i], placed.outline[(i + 1) % n]});
	for (const auto& side : sides)
		EXPECT_EQ(edges[side], 1) << "side " << side.first << "-" << side.second;
	for (const auto& edge : edges)
	{
		if (sides.count(edge.first) || edge.second == 0)
			continue;
		EXPECT_EQ(edge.second, 1) << "diagonal " << edge.first.first << "-" << edge.first.second << " used twice";
		const auto reverse = edges.find({edge.first.second, edge.first.first});
		EXPECT_TRUE(reverse != edges.end() && reverse->second == 1)
			<< "diagonal " << edge.first.first << "-" << edge.first.second << " has no partner";
	}
}

std::vector<Corner> regularPolygon(int n, double radius)
{
	std::vector<Corner> corners;
	for (int i = 0; i < n; ++i)
	{
		const double angle = 2 * kPi * i / n;
		corners.push_back({radius * std::cos(angle), radius * std::sin(angle)});
	}
	return corners;
}

std::vector<Corner> star(int points, double outer, double inner)
{
	std::vector<Corner> corners;
	for (int i = 0; i < 2 * points; ++i)
	{
		const double angle = kPi * i / points;
		const double r = i % 2 == 0 ? outer : inner;
		corners.push_back({r * std::cos(angle), r * std::sin(angle)});
	}
	return corners;
}

// A comb: a bar along the bottom with teeth pointing up, counter-clockwise.
std::vector<Corner> comb(int teeth)
{
	std::vector<Corner> corners{{0, 0}, {2.0 * teeth - 1, 0}};
	for (int i = teeth - 1; i >= 0; --i)
	{
		corners.push_back({2.0 * i + 1, 4});
		corners.push_back({2.0 * i, 4});
		if (i > 0)
		{
			corners.push_back({2.0 * i, 1});
			corners.push_back({2.0 * i - 1, 1});
		}
	}
	return corners;
}

std::vector<Corner> reversed(std::vector<Corner> corners)
{
	std::reverse(corners.begin(), corners.end());
	return corners;
}

struct NamedOutline
{
	std::string name;
	std::vector<Corner> corners;
};

std::vector<NamedOutline> namedOutlines()
{
	return {
		{"pentagon", regularPolygon(5, 2)},
		{"hexagon", {{0, 0}, {4, -1}, {7, 1}, {7, 4}, {3, 6}, {-1, 3}}},
		{"L", {{0, 0}, {4, 0}, {4, 1}, {1, 1}, {1, 5}, {0, 5}}},
		{"clockwise L", reversed({{0, 0}, {4, 0}, {4, 1}, {1, 1}, {1, 5}, {0, 5}})},
		{"star", star(5, 5, 2)},
		{"thin star", star(9, 10, 0.5)},
		{"comb", comb(4)},
		{"clockwise comb", reversed(comb(3))},
		// a corner of 180 degrees on every side: it must still get real triangles
		{"square with side midpoints", {{0, 0}, {1, 0}, {2, 0}, {2, 1}, {2, 2}, {1, 2}, {0, 2}, {0, 1}}},
		{"spiral", {{0, 0}, {6, 0}, {6, 6}, {1, 6}, {1, 2}, {4, 2}, {4, 4}, {3, 4}, {3, 3}, {2, 3}, {2, 5}, {5, 5}, {5, 1},
					   {0, 1}}},
	};
}

}  // namespace

TEST(TriangulateOutline, SimpleOutlinesInTiltedPlanesGiveValidTriangulations)
{
	std::mt19937_64 rng(7);
	const Frame level{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
	const Frame far = randomFrame(rng, 1e4);
	for (const NamedOutline& shape : namedOutlines())
	{
		for (const Frame& frame : {level, randomFrame(rng, 10), randomFrame(rng, 10), far})
		{
			SCOPED_TRACE(shape.name);
			const PlacedOutline placed = place(shape.corners, frame, 11);
			std::vector<CPolygon> triangles;
			ASSERT_TRUE(triangulateOutline(placed.points, placed.outline, &triangles));
			EXPECT_EQ(triangles.size(), shape.corners.size() - 2);
			expectValidTriangulation(placed, triangles);
		}
	}
}

TEST(TriangulateOutline, RandomStarShapedOutlinesGiveValidTriangulations)
{
	std::mt19937_64 rng(2024);
	std::uniform_int_distribution<int> cornerCount(3, 40);
	std::uniform_real_distribution<double> unit(0, 1);
	for (int round = 0; round < 300; ++round)
	{
		// Corners in order of angle around the origin, no gap as wide as half a turn, so the
		// origin sees the whole outline and it cannot cross itself.
		const int n = cornerCount(rng);
		std::vector<double> angles;
		while (angles.empty())
		{
			double turn = 0;
			for (int i = 0; i < n; ++i)
			{
				turn += 0.05 + unit(rng);
				angles.push_back(turn);
			}
			for (size_t i = 0; i < angles.size(); ++i)
			{
				angles[i] *= 2 * kPi / turn;
				if (angles[i] - (i > 0 ? angles[i - 1] : 0) > 0.9 * kPi)
				{
					angles.clear();
					break;
				}
			}
		}
		std::vector<Corner> corners;
		for (double angle : angles)
		{
			const double r = 0.1 + unit(rng);
			corners.push_back({r * std::cos(angle), r * std::sin(angle)});
		}
		if (round % 2 == 1)
			corners = reversed(corners);
		SCOPED_TRACE("round " + std::to_string(round));
		const PlacedOutline placed = place(corners, randomFrame(rng, 100), static_cast<unsigned>(round));
		std::vector<CPolygon> triangles;
		ASSERT_TRUE(triangulateOutline(placed.points, placed.outline, &triangles));
		EXPECT_EQ(triangles.size(), corners.size() - 2);
		expectValidTriangulation(placed, triangles);
	}
}

TEST(TriangulateOutline, NearlyPlanarAndLargeOutlines)
{
	std::mt19937_64 rng(5);
	{
		SCOPED_TRACE("comb lifted slightly off its plane");
		const std::vector<Corner> corners = comb(5);
		PlacedOutline placed = place(corners, randomFrame(rng, 10), 3);
		std::uniform_real_distribution<double> lift(-1e-4, 1e-4);
		for (Int32 i : placed.outline)
			placed.points[static_cast<size_t>(i)] = placed.points[static_cast<size_t>(i)] + placed.normal * lift(rng);
		// Its own normal now is Newell's, and its area the one seen along that normal.
		LVector newell{0, 0, 0};
		for (size_t i = 0; i < placed.outline.size(); ++i)
		{
			const LVector& p = placed.points[static_cast<size_t>(placed.outline[i])];
			const LVector& q = placed.points[static_cast<size_t>(placed.outline[(i + 1) % placed.outline.size()])];
			newell = newell + cross(p, q);
		}
		const LVector normal = normalized(newell);
		std::vector<CPolygon> triangles;
		ASSERT_TRUE(triangulateOutline(placed.points, placed.outline, &triangles));
		EXPECT_EQ(triangles.size(), corners.size() - 2);
		double projected = 0;
		for (const CPolygon& t : triangles)
		{
			const LVector& a = placed.points[static_cast<size_t>(t.a)];
			const double area =
				dot(cross(placed.points[static_cast<size_t>(t.b)] - a, placed.points[static_cast<size_t>(t.c)] - a), normal) / 2;
			EXPECT_GT(area, 0);
			projected += area;
		}
		EXPECT_NEAR(projected, length(newell) / 2, 1e-9 * length(newell));
	}
	for (const NamedOutline& shape : {NamedOutline{"2000-gon", regularPolygon(2000, 50)}, NamedOutline{"comb of 300 teeth", comb(300)}})
	{
		SCOPED_TRACE(shape.name);
		const PlacedOutline placed = place(shape.corners, randomFrame(rng, 10), 9);
		std::vector<CPolygon> triangles;
		ASSERT_TRUE(triangulateOutline(placed.points, placed.outline, &triangles));
		EXPECT_EQ(triangles.size(), shape.corners.size() - 2);
		expectValidTriangulation(placed, triangles);
	}
}

// Faces of a hundred thousand corners come from scans and from careless exports;
// a triangulation that looks at every corner for every ear takes minutes on them.
// These take a moment, so the suite runs them; each triangle is checked only by
// its turn and the areas add up (the full check above looks at every corner).
TEST(TriangulateOutline, FacesOfManyCornersGiveEveryTriangle)
{
	std::mt19937_64 rng(31);
	std::vector<Corner> wavy;
	for (int i = 0; i < 60000; ++i)
	{
		const double angle = 2 * kPi * i / 60000, r = 40 + (i % 2 == 0 ? 1.0 : -1.0) * 0.5;  // every other corner reflex
		wavy.push_back({r * std::cos(angle), r * std::sin(angle)});
	}
	for (const NamedOutline& shape : {NamedOutline{"100000-gon", regularPolygon(100000, 50)}, NamedOutline{"star of 60000 corners", wavy},
	                                  NamedOutline{"comb of 5000 teeth", comb(5000)}})
	{
		SCOPED_TRACE(shape.name);
		const PlacedOutline placed = place(shape.corners, randomFrame(rng, 10), 9);
		std::vector<CPolygon> triangles;
		ASSERT_TRUE(triangulateOutline(placed.points, placed.outline, &triangles));
		EXPECT_EQ(triangles.size(), shape.corners.size() - 2);
		double total = 0;
		size_t turned = 0;
		for (const CPolygon& t : triangles)
		{
			const LVector& a = placed.points[static_cast<size_t>(t.a)];
			const LVector n = cross(placed.points[static_cast<size_t>(t.b)] - a, placed.points[static_cast<size_t>(t.c)] - a);
			turned += dot(n, placed.normal) > 0 ? 0 : 1;
			total += length(n) / 2;
		}
		EXPECT_EQ(turned, 0u);
		EXPECT_NEAR(total, placed.area, 1e-9 * placed.area) << "no triangle overlaps another or leaves a gap";
	}
}

TEST(TriangulateOutline, RepeatedAndCollinearCornersAreDroppedNotGivenZeroAreaTriangles)
{
	// A unit square whose corners repeat, once by index and once by position.
	const std::vector<LVector> points{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {1, 1, 0}};
	for (const std::vector<Int32>& outline :
		{std::vector<Int32>{0, 1, 1, 2, 3}, std::vector<Int32>{0, 1, 2, 4, 3}, std::vector<Int32>{0, 0, 1, 2, 2, 3, 3}})
	{
		std::vector<CPolygon> triangles;
		ASSERT_TRUE(triangulateOutline(points, outline, &triangles));
		double total = 0;
		for (const CPolygon& t : triangles)
		{
			const LVector& a = points[static_cast<size_t>(t.a)];
			const LVector n = cross(points[static_cast<size_t>(t.b)] - a, points[static_cast<size_t>(t.c)] - a);
			EXPECT_GT(n.z, 0.1) << "no zero-area or turned triangle";
			total += length(n) / 2;
		}
		EXPECT_NEAR(total, 1, 1e-12);
		EXPECT_EQ(triangles.size(), 2u);
	}
	// A spike out and straight back along the same line.
	const std::vector<LVector> spiked{{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}, {-3, 2, 0}};
	std::vector<CPolygon> triangles;
	ASSERT_TRUE(triangulateOutline(spiked, {0, 1, 2, 3, 4, 3}, &triangles));
	double total = 0;
	for (const CPolygon& t : triangles)
		total += length(cross(spiked[static_cast<size_t>(t.b)] - spiked[static_cast<size_t>(t.a)],
							 spiked[static_cast<size_t>(t.c)] - spiked[static_cast<size_t>(t.a)]))
			/ 2;
	EXPECT_NEAR(total, 4, 1e-12);
}

TEST(TriangulateOutline, KeyholeOutlinesKeepTheirHoleOpen)
{
	// A 4 x 4 square with a 2 x 2 hole, joined to it by a cut walked both ways, so that the
	// cut's ends repeat. The second cut leaves one of the hole corner's two visits reflex.
	const std::vector<LVector> points{{0, 0, 0}, {4, 0, 0}, {4, 4, 0}, {0, 4, 0}, {1, 1, 0}, {3, 1, 0}, {3, 3, 0}, {1, 3, 0}};
	for (const std::vector<Int32>& outline :
		{std::vector<Int32>{0, 1, 2, 3, 0, 4, 7, 6, 5, 4}, std::vector<Int32>{1, 2, 3, 0, 1, 4, 7, 6, 5, 4}})
	{
		std::vector<CPolygon> triangles;
		ASSERT_TRUE(triangulateOutline(points, outline, &triangles));
		EXPECT_EQ(triangles.size(), outline.size() - 2);
		// Every sample of the ring is covered once, every sample of the hole not at all; the
		// samples are offset so that none falls on a side or diagonal.
		for (int i = 0; i < 40; ++i)
		{
			for (int j = 0; j < 40; ++j)
			{
				const double x = 0.0123 + 0.1 * i, y = 0.0371 + 0.1 * j;
				int cover = 0;
				for (const CPolygon& t : triangles)
				{
					const LVector& a = points[static_cast<size_t>(t.a)];
					const LVector& b = points[static_cast<size_t>(t.b)];
					const LVector& c = points[static_cast<size_t>(t.c)];
					const LVector p{x, y, 0};
					if (cross(b - a, p - a).z > 0 && cross(c - b, p - b).z > 0 && cross(a - c, p - c).z > 0)
						++cover;
				}
				const bool inHole = x > 1 && x < 3 && y > 1 && y < 3;
				EXPECT_EQ(cover, inHole ? 0 : 1) << "at " << x << ", " << y;
			}
		}
	}
}

TEST(TriangulateOutline, SelfIntersectingOutlinesEndWithTrianglesOfTheirOwnOrientation)
{
	// A figure eight with lobes of different size: a net area, but no simple triangulation.
	const std::vector<LVector> points{{0, 0, 0}, {4, 4, 0}, {4, 0, 0}, {0, 2, 0}, {-1, 3, 1}};
	std::vector<CPolygon> triangles;
	triangulateOutline(points, {0, 1, 2, 3}, &triangles);
	triangulateOutline(points, {0, 2, 1, 3, 4, 1, 0, 2}, &triangles);
	// Pentagram drawn in one stroke.
	std::vector<LVector> pentagram;
	for (int i = 0; i < 5; ++i)
		pentagram.push_back({std::cos(4 * kPi * i / 5), std::sin(4 * kPi * i / 5), 0});
	ASSERT_TRUE(triangulateOutline(pentagram, {0, 1, 2, 3, 4}, &triangles));
	EXPECT_LE(triangles.size(), 3u);
	for (const CPolygon& t : triangles)
	{
		const LVector& a = pentagram[static_cast<size_t>(t.a)];
		EXPECT_GT(cross(pentagram[static_cast<size_t>(t.b)] - a, pentagram[static_cast<size_t>(t.c)] - a).z, 0);
	}
}

TEST(TriangulateOutline, RefusesOutlinesWithoutAreaOrWithBadIndices)
{
	const std::vector<LVector> points{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {2, 0, 0}, {kNaN, 0, 0}};
	const CPolygon junk{7, 7, 7, 7};
	auto refused = [&](const std::vector<Int32>& outline) {
		std::vector<CPolygon> triangles{junk, junk};
		const bool ok = triangulateOutline(points, outline, &triangles);
		EXPECT_TRUE(triangles.empty()) << "left empty";
		return !ok;
	};
	EXPECT_TRUE(refused({}));
	EXPECT_TRUE(refused({0, 1}));
	EXPECT_TRUE(refused({0, 1, 6}));
	EXPECT_TRUE(refused({0, -1, 2}));
	EXPECT_TRUE(refused({0, 1, 2, 3, 600}));
	EXPECT_TRUE(refused({0, 1, 4}));        // collinear
	EXPECT_TRUE(refused({0, 1, 4, 1}));     // collinear, back and forth
	EXPECT_TRUE(refused({2, 2, 2, 2}));     // one point
	EXPECT_TRUE(refused({0, 2, 1, 3}));     // a symmetric bow tie: the lobes cancel
	EXPECT_TRUE(refused({0, 1, 5}));        // not a number
	EXPECT_FALSE(triangulateOutline(points, {0, 1, 2}, nullptr));
}

TEST(SplitQuad, ConvexQuadsSplitAlongTheShorterDiagonal)
{
	std::mt19937_64 rng(3);
	// Corners a..d; the first has a-c shorter, the second b-d.
	const std::vector<std::vector<Corner>> quads{{{0, 0}, {3, -1}, {4, 1}, {1, 4}}, {{0, 0}, {5, 0}, {6, 1}, {0, 1}}};
	const std::pair<Int32, Int32> expected[] = {{0, 2}, {1, 3}};
	for (size_t q = 0; q < quads.size(); ++q)
	{
		for (bool clockwise : {false, true})
		{
			const std::vector<Corner> corners = clockwise ? reversed(quads[q]) : quads[q];
			const Frame frame = randomFrame(rng, 10);
			std::vector<LVector> points;
			for (const Corner& c : corners)
				points.push_back(frame.at(c));
			CPolygon halves[2];
			splitQuad(points, CPolygon{0, 1, 2, 3}, halves);
			// The diagonal is the pair of corners both triangles share.
			std::set<Int32> first{halves[0].a, halves[0].b, halves[0].c};
			std::vector<Int32> shared;
			for (Int32 i : {halves[1].a, halves[1].b, halves[1].c})
			{
				if (first.count(i))
					shared.push_back(i);
			}
			ASSERT_EQ(shared.size(), 2u);
			std::sort(shared.begin(), shared.end());
			const Int32 a = clockwise ? 3 - expected[q].second : expected[q].first;
			const Int32 b = clockwise ? 3 - expected[q].first : expected[q].second;
			EXPECT_EQ(shared[0], a) << "quad " << q << (clockwise ? " clockwise" : "");
			EXPECT_EQ(shared[1], b) << "quad " << q << (clockwise ? " clockwise" : "");
		}
	}
}

TEST(SplitQuad, DartsSplitAlongTheDiagonalInsideThem)
{
	// An arrowhead: tip, left wing, notch (the reflex corner), right wing. The outside
	// diagonal, wing to wing, is the shorter one.
	const std::vector<Corner> dart{{0, 10}, {-1, 0}, {0, 1}, {1, 0}};
	std::mt19937_64 rng(17);
	for (int rotation = 0; rotation < 4; ++rotation)
	{
		for (bool clockwise : {false, true})
		{
			std::vector<Corner> corners(4);
			for (int i = 0; i < 4; ++i)
				corners[static_cast<size_t>(i)] = dart[static_cast<size_t>((i + rotation) % 4)];
			if (clockwise)
				corners = reversed(corners);
			SCOPED_TRACE("rotation " + std::to_string(rotation) + (clockwise ? " clockwise" : ""));
			const Frame frame = randomFrame(rng, 10);
			std::vector<LVector> points;
			for (const Corner& c : corners)
				points.push_back(frame.at(c));
			const LVector normal = frame.normal() * (clockwise ? -1 : 1);
			CPolygon halves[2];
			splitQuad(points, CPolygon{0, 1, 2, 3}, halves);
			double total = 0;
			for (const CPolygon& t : halves)
			{
				EXPECT_EQ(t.c, t.d);
				const LVector n = cross(points[static_cast<size_t>(t.b)] - points[static_cast<size_t>(t.a)],
					points[static_cast<size_t>(t.c)] - points[static_cast<size_t>(t.a)]);
				EXPECT_GT(dot(n, normal), 0) << "a triangle outside the dart";
				total += length(n) / 2;
			}
			EXPECT_NEAR(total, 9, 1e-9);

			// The outline path takes the same diagonal.
			std::vector<CPolygon> triangles;
			ASSERT_TRUE(triangulateOutline(points, {0, 1, 2, 3}, &triangles));
			ASSERT_EQ(triangles.size(), 2u);
			for (int i = 0; i < 2; ++i)
			{
				EXPECT_EQ(triangles[static_cast<size_t>(i)].a, halves[i].a);
				EXPECT_EQ(triangles[static_cast<size_t>(i)].b, halves[i].b);
				EXPECT_EQ(triangles[static_cast<size_t>(i)].c, halves[i].c);
			}
		}
	}
}

TEST(SplitQuad, DegenerateAndBadQuads)
{
	// A 180 degree corner at b: the shorter diagonal a-c would leave a zero-area triangle.
	const std::vector<LVector> points{{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {1, 5, 0}};
	CPolygon halves[2];
	splitQuad(points, CPolygon{0, 1, 2, 3}, halves);
	for (const CPolygon& t : halves)
	{
		const LVector n = cross(points[static_cast<size_t>(t.b)] - points[static_cast<size_t>(t.a)],
			points[static_cast<size_t>(t.c)] - points[static_cast<size_t>(t.a)]);
		EXPECT_GT(n.z, 0.1);
	}

	// A triangle comes back whole, beside a zero-area rest.
	splitQuad(points, CPolygon{0, 1, 3, 3}, halves);
	EXPECT_TRUE(halves[0].a == 0 && halves[0].b == 1 && halves[0].c == 3 && halves[0].d == 3);
	EXPECT_TRUE(halves[1].b == halves[1].c || halves[1].a == halves[1].c || halves[1].a == halves[1].b);

	// Indices out of range are never read; the quad's own indices come back.
	for (const CPolygon& bad : {CPolygon{0, 1, 2, 4}, CPolygon{-1, 1, 2, 3}, CPolygon{0, 1000000, 2, 3}})
	{
		splitQuad(points, bad, halves);
		const std::set<Int32> own{bad.a, bad.b, bad.c, bad.d};
		for (const CPolygon& t : halves)
			EXPECT_TRUE(own.count(t.a) && own.count(t.b) && own.count(t.c) && t.c == t.d);
	}
}

namespace {

// ---- meshes for the ray tests ----

struct Mesh
{
	std::vector<LVector> points;
	std::vector<CPolygon> polygons;
};

// The cube [-1, 1]^3 as six quads, facing out.
Mesh cubeOfQuads()
{
	Mesh mesh;
	for (int i = 0; i < 8; ++i)
		mesh.points.push_back({i & 1 ? 1.0 : -1.0, i & 2 ? 1.0 : -1.0, i & 4 ? 1.0 : -1.0});
	mesh.polygons = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
	return mesh;
}

Mesh cubeOfTriangles()
{
	Mesh quads = cubeOfQuads();
	Mesh mesh{quads.points, {}};
	for (const CPolygon& q : quads.polygons)
	{
		mesh.polygons.push_back({q.a, q.b, q.c, q.c});
		mesh.polygons.push_back({q.a, q.c, q.d, q.d});
	}
	return mesh;
}

Mesh icosahedron()
{
	const double t = (1 + std::sqrt(5.0)) / 2;
	Mesh mesh;
	mesh.points = {{-1, t, 0}, {1, t, 0}, {-1, -t, 0}, {1, -t, 0}, {0, -1, t}, {0, 1, t}, {0, -1, -t}, {0, 1, -t},
		{t, 0, -1}, {t, 0, 1}, {-t, 0, -1}, {-t, 0, 1}};
	const int faces[20][3] = {{0, 11, 5}, {0, 5, 1}, {0, 1, 7}, {0, 7, 10}, {0, 10, 11}, {1, 5, 9}, {5, 11, 4},
		{11, 10, 2}, {10, 7, 6}, {7, 1, 8}, {3, 9, 4}, {3, 4, 2}, {3, 2, 6}, {3, 6, 8}, {3, 8, 9}, {4, 9, 5}, {2, 4, 11},
		{6, 2, 10}, {8, 6, 7}, {9, 8, 1}};
	for (const auto& f : faces)
		mesh.polygons.push_back({f[0], f[1], f[2], f[2]});
	return mesh;
}

// The icosahedron subdivided onto the unit sphere, each point's radius then varied by up to jitter.
Mesh icosphere(int levels, double jitter, unsigned seed)
{
	Mesh mesh = icosahedron();
	for (LVector& p : mesh.points)
		p = normalized(p);
	for (int level = 0; level < levels; ++level)
	{
		std::map<std::pair<Int32, Int32>, Int32> middles;
		auto middle = [&](Int32 a, Int32 b) {
			const auto key = std::minmax(a, b);
			const auto found = middles.find(key);
			if (found != middles.end())
				return found->second;
			mesh.points.push_back(normalized(mesh.points[static_cast<size_t>(a)] + mesh.points[static_cast<size_t>(b)]));
			const Int32 index = static_cast<Int32>(mesh.points.size() - 1);
			middles[key] = index;
			return index;
		};
		std::vector<CPolygon> finer;
		for (const CPolygon& f : mesh.polygons)
		{
			const Int32 ab = middle(f.a, f.b), bc = middle(f.b, f.c), ca = middle(f.c, f.a);
			finer.push_back({f.a, ab, ca, ca});
			finer.push_back({f.b, bc, ab, ab});
			finer.push_back({f.c, ca, bc, bc});
			finer.push_back({ab, bc, ca, ca});
		}
		mesh.polygons.swap(finer);
	}
	std::mt19937_64 rng(seed);
	std::uniform_real_distribution<double> vary(-jitter, jitter);
	for (LVector& p : mesh.points)
		p = p * (1 + vary(rng));
	return mesh;
}

// A latitude-longitude sphere: quads between the rings, triangles (c == d) at the poles.
Mesh uvSphere(int rings, int segments, double jitter, unsigned seed)
{
	Mesh mesh;
	std::mt19937_64 rng(seed);
	std::uniform_real_distribution<double> vary(-jitter, jitter);
	mesh.points.push_back({0, 0, 1 + vary(rng)});
	mesh.points.push_back({0, 0, -1 - vary(rng)});
	for (int r = 1; r < rings; ++r)
	{
		const double theta = kPi * r / rings;
		for (int s = 0; s < segments; ++s)
		{
			const double phi = 2 * kPi * s / segments;
			const double radius = 1 + vary(rng);
			mesh.points.push_back(
				{radius * std::sin(theta) * std::cos(phi), radius * std::sin(theta) * std::sin(phi), radius * std::cos(theta)});
		}
	}
	auto at = [&](int r, int s) { return static_cast<Int32>(2 + (r - 1) * segments + (s % segments)); };
	for (int s = 0; s < segments; ++s)
	{
		mesh.polygons.push_back({0, at(1, s), at(1, s + 1), at(1, s + 1)});
		for (int r = 1; r + 1 < rings; ++r)
			mesh.polygons.push_back({at(r, s), at(r + 1, s), at(r + 1, s + 1), at(r, s + 1)});
		mesh.polygons.push_back({1, at(rings - 1, s + 1), at(rings - 1, s), at(rings - 1, s)});
	}
	return mesh;
}

// The mesh's polygons as the triangles the hierarchy holds.
std::vector<CPolygon> triangles(const Mesh& mesh)
{
	std::vector<CPolygon> out;
	for (const CPolygon& p : mesh.polygons)
	{
		if (p.c == p.d)
		{
			out.push_back(p);
			continue;
		}
		CPolygon halves[2];
		splitQuad(mesh.points, p, halves);
		out.push_back(halves[0]);
		out.push_back(halves[1]);
	}
	return out;
}

// Closed and consistently oriented: every directed edge once, and its reverse once.
bool isClosed(const Mesh& mesh)
{
	std::map<std::pair<Int32, Int32>, int> edges;
	for (const CPolygon& t : triangles(mesh))
	{
		++edges[{t.a, t.b}];
		++edges[{t.b, t.c}];
		++edges[{t.c, t.a}];
	}
	for (const auto& edge : edges)
	{
		const auto reverse = edges.find({edge.first.second, edge.first.first});
		if (edge.second != 1 || reverse == edges.end() || reverse->second != 1)
			return false;
	}
	return true;
}

std::vector<LVector> edgeMiddles(const Mesh& mesh)
{
	std::set<std::pair<Int32, Int32>> seen;
	std::vector<LVector> middles;
	for (const CPolygon& t : triangles(mesh))
	{
		for (auto edge : {std::minmax(t.a, t.b), std::minmax(t.b, t.c), std::minmax(t.c, t.a)})
		{
			if (seen.insert(edge).second)
				middles.push_back((mesh.points[static_cast<size_t>(edge.first)] + mesh.points[static_cast<size_t>(edge.second)]) * 0.5);
		}
	}
	return middles;
}

// Möller and Trumbore's test, written independently of the hierarchy's, for a unit direction.
// Reports how far the hit is from the triangle's edges (negative outside) so unclear cases can be left out.
double mollerTrumbore(const LVector& o, const LVector& d, const LVector& p0, const LVector& p1, const LVector& p2,
	double* inside)
{
	const LVector e1 = p1 - p0, e2 = p2 - p0;
	const LVector pv = cross(d, e2);
	const double det = dot(e1, pv);
	*inside = -1;
	if (std::fabs(det) < 1e-12)
		return -1;
	const LVector tv = o - p0;
	const double u = dot(tv, pv) / det;
	const LVector qv = cross(tv, e1);
	const double v = dot(d, qv) / det;
	*inside = std::min(u, std::min(v, 1 - u - v));
	return dot(e2, qv) / det;
}

// Exact answer for the cube [-1, 1]^3: distance to its surface along a unit direction, or -1.
double cubeDistance(const LVector& o, const LVector& d)
{
	const double origin[3] = {o.x, o.y, o.z}, dir[3] = {d.x, d.y, d.z};
	double t0 = -kInf, t1 = kInf;
	for (int k = 0; k < 3; ++k)
	{
		if (dir[k] == 0)
		{
			if (std::fabs(origin[k]) > 1)
				return -1;
			continue;
		}
		double a = (-1 - origin[k]) / dir[k], b = (1 - origin[k]) / dir[k];
		if (a > b)
			std::swap(a, b);
		t0 = std::max(t0, a);
		t1 = std::min(t1, b);
	}
	if (t0 > t1 || t1 < 0)
		return -1;
	return t0 >= 0 ? t0 : t1;
}

}  // namespace

TEST(RayBvh, CubesOfQuadsAndOfTrianglesMatchTheExactAnswer)
{
	std::mt19937_64 rng(1);
	std::uniform_real_distribution<double> spread(-3, 3);
	for (const Mesh& mesh : {cubeOfQuads(), cubeOfTriangles()})
	{
		RayBvh bvh;
		bvh.build(mesh.points, mesh.polygons);
		EXPECT_EQ(bvh.triangleCount(), 12u);
		EXPECT_EQ(bvh.skipped(), 0u);

		EXPECT_DOUBLE_EQ(bvh.nearest({-3, 0.2, 0.3}, {1, 0, 0}, kInf), 2);
		EXPECT_DOUBLE_EQ(bvh.nearest({0.2, 0.3, 0.4}, {0, 0, -1}, kInf), 1.4);  // from inside
		EXPECT_FALSE(bvh.intersect({-3, 1.5, 0}, {1, 0, 0}, kInf)) << "passes beside";
		EXPECT_FALSE(bvh.intersect({-3, 0, 0}, {-1, 0, 0}, kInf)) << "points away";
		EXPECT_LT(bvh.nearest({-3, 0, 0}, {-1, 0, 0}, kInf), 0);

		int hits = 0;
		for (int i = 0; i < 2000; ++i)
		{
			const LVector o{spread(rng), spread(rng), spread(rng)};
			const LVector d = randomDirection(rng);
			const double expected = cubeDistance(o, d);
			const double got = bvh.nearest(o, d, kInf);
			ASSERT_EQ(got >= 0, expected >= 0) << "ray " << i;
			ASSERT_EQ(bvh.intersect(o, d, kInf), expected >= 0) << "ray " << i;
			if (expected >= 0)
			{
				++hits;
				EXPECT_NEAR(got, expected, 1e-12 * (1 + expected)) << "ray " << i;
			}
		}
		EXPECT_GT(hits, 150);
	}
}

TEST(RayBvh, RaysThroughSharedEdgesAndVerticesAreNeverLost)
{
	// Rotated, so that no face of the cube lies along an axis.
	Mesh tilted = cubeOfTriangles();
	const LVector axis = normalized({1, 2, 3});
	const double c = std::cos(0.7), s = std::sin(0.7);
	for (LVector& p : tilted.points)
		p = p * c + cross(axis, p) * s + axis * (dot(axis, p) * (1 - c)) + LVector{0.25, -0.5, 0.125};
	const LVector tiltedCentre{0.25, -0.5, 0.125};

	struct Case
	{
		std::string name;
		Mesh mesh;
		LVector centre;
	};
	const std::vector<Case> cases{{"cube", cubeOfTriangles(), {0, 0, 0}}, {"cube of quads", cubeOfQuads(), {0, 0, 0}},
		{"tilted cube", tilted, tiltedCentre}, {"icosahedron", icosahedron(), {0, 0, 0}},
		{"jittered icosphere", icosphere(2, 0.05, 4), {0, 0, 0}}};
	std::mt19937_64 rng(99);
	std::uniform_real_distribution<double> near(-0.3, 0.3);
	for (const Case& test : cases)
	{
		SCOPED_TRACE(test.name);
		ASSERT_TRUE(isClosed(test.mesh));
		RayBvh bvh;
		bvh.build(test.mesh.points, test.mesh.polygons);
		std::vector<LVector> targets = test.mesh.points;
		for (const LVector& m : edgeMiddles(test.mesh))
			targets.push_back(m);
		std::vector<LVector> sources{test.centre};
		for (int i = 0; i < 12; ++i)
			sources.push_back(test.centre + LVector{near(rng), near(rng), near(rng)});
		int lost = 0;
		for (const LVector& source : sources)
		{
			for (const LVector& target : targets)
			{
				const LVector d = target - source;
				// From inside out through the vertex or edge, and from outside in through it.
				// A hit only beyond the vertex or edge means the crossing there was lost.
				const double t = bvh.nearest(source, d, kInf);
				if (!bvh.intersect(source, d, kInf) || !(t >= 0 && t <= length(d) + 1e-9))
					++lost;
				for (double away : {1.0, 1e6})
				{
					const LVector outside = target + d * away;
					const double reach = length(d) * away;
					if (!bvh.intersect(outside, d * -1, kInf) || !(bvh.nearest(outside, d * -1, kInf) <= reach * (1 + 1e-9)))
						++lost;
				}
			}
		}
		EXPECT_EQ(lost, 0) << "of " << 3 * sources.size() * targets.size() << " rays";
	}
}

TEST(RayBvh, ARayGrazingASharedEdgeIsTakenByOneSideExactly)
{
	// The edge from b to c misses the ray's line by about 1e-32: too little for rounded
	// products to see, so only the exact remainders can tell which triangle it passes through.
	const double e = std::ldexp(1.0, -52);
	const std::vector<LVector> points{{1, 1 + e, 0}, {-(1 + e), -(1 + 2 * e), 0}, {-1, 1, 0}, {1, -1, 0}};
	const std::vector<CPolygon> left{{2, 0, 1, 1}}, right{{3, 1, 0, 0}};
	RayBvh one, other, both;
	one.build(points, left);
	other.build(points, right);
	both.build(points, {left[0], right[0]});
	const LVector o{0, 0, -1}, d{0, 0, 1};
	EXPECT_NE(one.intersect(o, d, kInf), other.intersect(o, d, kInf)) << "exactly one side owns the point";
	EXPECT_DOUBLE_EQ(both.nearest(o, d, kInf), 1);
	EXPECT_DOUBLE_EQ(both.nearest({0, 0, 1}, {0, 0, -1}, kInf), 1) << "from the other side";
}

TEST(RayBvh, LengthCutsOffHitsBeyondIt)
{
	const Mesh cube = cubeOfQuads();
	RayBvh bvh;
	bvh.build(cube.points, cube.polygons);
	const LVector o{-3, 0.1, 0.2}, d{1, 0, 0};
	EXPECT_TRUE(bvh.intersect(o, d, 2)) << "a hit at exactly the length counts";
	EXPECT_TRUE(bvh.intersect(o, d, 2 + 1e-12));
	EXPECT_FALSE(bvh.intersect(o, d, 2 - 1e-12));
	EXPECT_LT(bvh.nearest(o, d, 2 - 1e-12), 0);
	EXPECT_DOUBLE_EQ(bvh.nearest(o, d, 3.5), 2) << "the nearer of the two faces";
	EXPECT_DOUBLE_EQ(bvh.nearest({3, 0.1, 0.2}, {-7, 0, 0}, 10), 2);

	// Slanted faces: around whatever distance a ray reports.
	const Mesh sphere = icosphere(2, 0.05, 8);
	bvh.build(sphere.points, sphere.polygons);
	std::mt19937_64 rng(8);
	for (int i = 0; i < 200; ++i)
	{
		const LVector origin = randomDirection(rng) * 3;
		const LVector dir = LVector{0, 0, 0} - origin + randomDirection(rng) * 0.5;
		const double t = bvh.nearest(origin, dir, kInf);
		ASSERT_GT(t, 1);
		EXPECT_TRUE(bvh.intersect(origin, dir, t * (1 + 1e-12)));
		EXPECT_FALSE(bvh.intersect(origin, dir, t * (1 - 1e-12)));
		EXPECT_DOUBLE_EQ(bvh.nearest(origin, dir, t * 1.5), t);
	}
}

TEST(RayBvh, DirectionNeedNotBeNormalised)
{
	const Mesh sphere = icosphere(2, 0.05, 3);
	RayBvh bvh;
	bvh.build(sphere.points, sphere.polygons);
	EXPECT_DOUBLE_EQ(bvh.nearest({0, 0, -3}, {0, 0, 5}, kInf), bvh.nearest({0, 0, -3}, {0, 0, 1}, kInf));
	std::mt19937_64 rng(12);
	std::uniform_real_distribution<double> spread(-2, 2);
	for (int i = 0; i < 300; ++i)
	{
		const LVector o{spread(rng), spread(rng), spread(rng)};
		const LVector d = randomDirection(rng);
		const double expected = bvh.nearest(o, d, 1.5);
		for (double scale : {1e-200, 1e-3, 7.0, 1e5, 1e200})
		{
			const double got = bvh.nearest(o, d * scale, 1.5);
			ASSERT_EQ(got >= 0, expected >= 0) << "scale " << scale;
			if (expected >= 0)
			{
				EXPECT_NEAR(got, expected, 1e-12) << "a distance, not a multiple of the direction";
			}
		}
	}
	// Cube face at distance 2 along a long direction: still 2.
	const Mesh cube = cubeOfQuads();
	bvh.build(cube.points, cube.polygons);
	EXPECT_DOUBLE_EQ(bvh.nearest({0.5, 0.5, -3}, {0, 0, 1000}, kInf), 2);
}

TEST(RayBvh, RaysStartingOnTheSurfaceHitItAtZero)
{
	const Mesh cube = cubeOfQuads();
	RayBvh bvh;
	bvh.build(cube.points, cube.polygons);
	EXPECT_TRUE(bvh.intersect({1, 0.3, 0.2}, {1, 0, 0}, 0)) << "on a face, leaving it";
	EXPECT_EQ(bvh.nearest({1, 0.3, 0.2}, {1, 0.5, 0}, kInf), 0);
	EXPECT_EQ(bvh.nearest({1, 1, 1}, {1, 1, 1}, kInf), 0) << "on a corner";
	EXPECT_FALSE(bvh.intersect({1 + 1e-9, 0.3, 0.2}, {1, 0, 0}, kInf)) << "just off the face";

	// A slanted triangle, and an origin by its corner a few rounding steps off its plane:
	// on it, as far as the coordinates can tell, though outside its bounds.
	const std::vector<LVector> corner{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
	RayBvh single;
	single.build(corner, {{0, 1, 2, 2}});
	const double e = std::ldexp(1.0, -52);
	const LVector beside{1 + 2 * e, 4 * e, 4 * e};
	EXPECT_EQ(single.nearest(beside, {1, 1, 1}, kInf), 0);
	const double inward = single.nearest(beside, {-1, -1, -1}, kInf);
	EXPECT_TRUE(inward >= 0 && inward < 1e-14) << inward;
	EXPECT_LT(single.nearest(beside + LVector{1e-9, 1e-9, 1e-9}, {1, 1, 1}, kInf), 0) << "really off it";

	// Points on slanted faces, with the rounding of computing them; the icosphere is convex,
	// so from each the outward ray meets nothing else.
	const Mesh sphere = icosphere(3, 0, 0);
	bvh.build(sphere.points, sphere.polygons);
	std::mt19937_64 rng(21);
	std::uniform_real_distribution<double> unit(0, 1);
	int missed = 0, falseHits = 0;
	for (const CPolygon& f : sphere.polygons)
	{
		const LVector& a = sphere.points[static_cast<size_t>(f.a)];
		const LVector& b = sphere.points[static_cast<size_t>(f.b)];
		const LVector& c = sphere.points[static_cast<size_t>(f.c)];
		double u = unit(rng), v = unit(rng);
		if (u + v > 1)
		{
			u = 1 - u;
			v = 1 - v;
		}
		// Drawn a little towards the middle, off the edges; and beside every corner and edge,
		// where the point is just as likely to round out of the face's bounds as into them.
		const double near = 1e-9;
		const std::pair<double, double> places[] = {{1 / 3.0 + (u - 1 / 3.0) * 0.9, 1 / 3.0 + (v - 1 / 3.0) * 0.9},
			{near, near}, {1 - 2 * near, near}, {near, 1 - 2 * near}, {0.5, near}, {near, 0.5}, {0.5 - near, 0.5 - near}};
		const LVector out = normalized(cross(b - a, c - a));
		const LVector slanted = out + normalized(b - a) * 0.7;
		for (const auto& place : places)
		{
			const LVector p = a + (b - a) * place.first + (c - a) * place.second;
			for (const LVector& d : {out, slanted})
			{
				const double t = bvh.nearest(p, d, kInf);
				if (!bvh.intersect(p, d, 1) || !(t >= 0 && t < 1e-12))
					++missed;
			}
			if (bvh.intersect(p + out * 1e-7, out, kInf))
				++falseHits;
		}
	}
	EXPECT_EQ(missed, 0);
	EXPECT_EQ(falseHits, 0);
}

TEST(RayBvh, MatchesABruteForceLoopOverAllTriangles)
{
	std::mt19937_64 rng(31);
	std::uniform_real_distribution<double> spread(-1.6, 1.6);
	std::uniform_int_distribution<int> pick(0, 4);
	const double lengths[] = {0.3, 1, 2.5, 10, kInf};
	for (const Mesh& mesh : {uvSphere(14, 24, 0.1, 5), icosphere(3, 0.08, 6)})
	{
		ASSERT_TRUE(isClosed(mesh));
		RayBvh bvh;
		bvh.build(mesh.points, mesh.polygons);
		const std::vector<CPolygon> all = triangles(mesh);
		ASSERT_EQ(bvh.triangleCount(), all.size());
		// The brute force: one hierarchy per triangle, looped over.
		std::vector<RayBvh> single(all.size());
		for (size_t i = 0; i < all.size(); ++i)
			single[i].build(mesh.points, {all[i]});

		int hits = 0, unclear = 0;
		for (int r = 0; r < 3000; ++r)
		{
			const LVector o{spread(rng), spread(rng), spread(rng)};
			const LVector d = randomDirection(rng);
			const double limit = lengths[pick(rng)];
			double expected = -1;
			bool clear = true;
			for (size_t i = 0; i < all.size(); ++i)
			{
				const double t = single[i].nearest(o, d, limit);
				if (t >= 0 && (expected < 0 || t < expected))
					expected = t;
				double inside = 0;
				const double mt = mollerTrumbore(o, d, mesh.points[static_cast<size_t>(all[i].a)],
					mesh.points[static_cast<size_t>(all[i].b)], mesh.points[static_cast<size_t>(all[i].c)], &inside);
				const bool mtHit = inside > 1e-9 && mt > 1e-9 && mt < limit - 1e-9;
				const bool mtMiss = inside < -1e-9 || mt < -1e-9 || mt > limit + 1e-9;
				if (!mtHit && !mtMiss)
					clear = false;
				else if (clear && mtHit != (t >= 0))
					ADD_FAILURE() << "ray " << r << " triangle " << i << ": the watertight test disagrees with Moller-Trumbore";
			}
			const double got = bvh.nearest(o, d, limit);
			ASSERT_EQ(bvh.intersect(o, d, limit), expected >= 0) << "ray " << r;
			ASSERT_EQ(got >= 0, expected >= 0) << "ray " << r;
			if (expected >= 0)
			{
				++hits;
				EXPECT_DOUBLE_EQ(got, expected) << "ray " << r;
			}
			unclear += clear ? 0 : 1;
		}
		EXPECT_GT(hits, 300);
		EXPECT_LT(unclear, 30);
	}
}

TEST(RayBvh, ZeroAreaTrianglesAreNeverHit)
{
	const std::vector<LVector> points{{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {1, 0, 0}, {0.5, 0.5, 0}};
	const std::vector<CPolygon> degenerate{
		{0, 1, 2, 2},  // collinear
		{0, 0, 5, 5},  // a repeated index
		{1, 4, 5, 5},  // two corners in one place
		{0, 1, 2, 3},  // a quad along a line
		{5, 5, 5, 5}};
	RayBvh bvh;
	bvh.build(points, degenerate);
	EXPECT_EQ(bvh.triangleCount(), 0u);
	EXPECT_EQ(bvh.skipped(), 0u);
	for (double x : {0.5, 1.0, 1.5, 2.5})
	{
		EXPECT_FALSE(bvh.intersect({x, -1, 0}, {0, 1, 0}, kInf)) << "across the segment at " << x;
		EXPECT_FALSE(bvh.intersect({x, 0, -1}, {0, 0, 1}, kInf)) << "across the segment at " << x;
	}
	EXPECT_FALSE(bvh.intersect({-1, 0, 0}, {1, 0, 0}, kInf)) << "along the segment";
	EXPECT_LT(bvh.nearest({0.5, 0.5, 1}, {0, 0, -1}, kInf), 0) << "through the point";

	// On one line but for the rounding of their coordinates: still no area to hit.
	const LVector step{0.1, 0.2, 0.3};
	const std::vector<LVector> line{step * 0, step * 1.3, step * 3.7, step * 7.1};
	bvh.build(line, {{0, 1, 2, 2}, {3, 1, 0, 0}, {1, 2, 3, 3}});
	std::mt19937_64 rng(4);
	std::uniform_real_distribution<double> unit(0, 1);
	int hits = 0;
	for (int i = 0; i < 2000; ++i)
	{
		const LVector target = step * (7.1 * unit(rng));
		const LVector origin = target + randomDirection(rng) * 2;
		hits += bvh.intersect(origin, target - origin, kInf) ? 1 : 0;
	}
	EXPECT_EQ(hits, 0);

	// Mixed into a closed mesh, they change nothing.
	Mesh cube = cubeOfQuads();
	const Int32 base = static_cast<Int32>(cube.points.size());
	cube.points.push_back({-1, -1, -1});
	cube.points.push_back({0, 0, 0});
	cube.points.push_back({1, 1, 1});
	cube.polygons.push_back({base, base + 1, base + 2, base + 2});
	cube.polygons.push_back({0, 0, 7, 7});
	bvh.build(cube.points, cube.polygons);
	EXPECT_EQ(bvh.triangleCount(), 12u);
	EXPECT_DOUBLE_EQ(bvh.nearest({0, 0, 0}, {0, 0, 1}, kInf), 1);
	EXPECT_NEAR(bvh.nearest({0.5, 0.5, 0.5}, {-1, -1, -1}, kInf), std::sqrt(3.0) * 1.5, 1e-12) << "along them, to a corner";
}

TEST(RayBvh, EmptyUnbuiltAndRebuilt)
{
	RayBvh unbuilt;
	EXPECT_FALSE(unbuilt.intersect({0, 0, 0}, {1, 0, 0}, kInf));
	EXPECT_LT(unbuilt.nearest({0, 0, 0}, {1, 0, 0}, kInf), 0);
	EXPECT_EQ(unbuilt.triangleCount(), 0u);

	RayBvh bvh;
	const Mesh cube = cubeOfQuads();
	bvh.build(cube.points, cube.polygons);
	ASSERT_TRUE(bvh.intersect({0, 0, 0}, {1, 0, 0}, kInf));
	bvh.build({}, {});
	EXPECT_EQ(bvh.triangleCount(), 0u);
	EXPECT_FALSE(bvh.intersect({0, 0, 0}, {1, 0, 0}, kInf)) << "the old mesh is gone";
	bvh.build(cube.points, {});
	EXPECT_FALSE(bvh.intersect({0, 0, 0}, {1, 0, 0}, kInf));
	bvh.build(cube.points, {{0, 1, 2, 300}});
	EXPECT_EQ(bvh.skipped(), 1u);
	EXPECT_FALSE(bvh.intersect({0, 0, 0}, {1, 0, 0}, kInf));
}

TEST(RayBvh, PolygonsWithBadIndicesOrPointsAreSkipped)
{
	Mesh cube = cubeOfQuads();
	cube.points.push_back({kNaN, 0, 0});
	cube.points.push_back({0, kInf, 0});
	cube.polygons.push_back({0, 1, 9, 9});     // past the end
	cube.polygons.push_back({-1, 1, 2, 2});    // negative
	cube.polygons.push_back({0, 1, 2, 10});    // a quad whose last corner is past the end
	cube.polygons.push_back({0, 1, 8, 8});     // not a number
	cube.polygons.push_back({7, 8, 6, 5});     // not a number in a quad
	cube.polygons.push_back({4, 5, 9, 9});     // infinite
	cube.polygons.push_back({0, 1, 2, 1 << 30});
	RayBvh bvh;
	bvh.build(cube.points, cube.polygons);
	EXPECT_EQ(bvh.skipped(), 7u);
	EXPECT_EQ(bvh.triangleCount(), 12u);
	EXPECT_DOUBLE_EQ(bvh.nearest({0.2, 0.1, 0}, {0, 0, -1}, kInf), 1);
	EXPECT_DOUBLE_EQ(bvh.nearest({0, 0, 5}, {0, 0, -1}, kInf), 4);
}

TEST(RayBvh, BadRaysAreRefused)
{
	const Mesh cube = cubeOfQuads();
	RayBvh bvh;
	bvh.build(cube.points, cube.polygons);
	const LVector inside{0.1, 0.2, 0.3};
	EXPECT_FALSE(bvh.intersect(inside, {0, 0, 0}, kInf)) << "zero direction";
	EXPECT_LT(bvh.nearest(inside, {0, 0, 0}, kInf), 0);
	EXPECT_FALSE(bvh.intersect(inside, {0, 0, -0.0}, kInf));
	EXPECT_FALSE(bvh.intersect({kNaN, 0, 0}, {1, 0, 0}, kInf));
	EXPECT_FALSE(bvh.intersect({0, kInf, 0}, {1, 0, 0}, kInf));
	EXPECT_FALSE(bvh.intersect(inside, {kNaN, 1, 0}, kInf));
	EXPECT_FALSE(bvh.intersect(inside, {kInf, 0, 0}, kInf));
	EXPECT_FALSE(bvh.intersect(inside, {1, 0, 0}, kNaN));
	EXPECT_FALSE(bvh.intersect(inside, {1, 0, 0}, -1));
	EXPECT_LT(bvh.nearest(inside, {1, 0, 0}, -kInf), 0);
	EXPECT_TRUE(bvh.intersect(inside, {1, 0, 0}, kInf));
	EXPECT_TRUE(bvh.intersect(inside, {1e-310, 0, 0}, kInf)) << "tiny but not zero";
	// Rays along the cube's faces and edges: whatever they report, they report it quickly and sanely.
	for (const LVector& o : {LVector{-2, 1, 0}, LVector{-2, 1, 1}, LVector{-2, -1, 0.5}})
	{
		const double t = bvh.nearest(o, {1, 0, 0}, kInf);
		EXPECT_TRUE(t < 0 || (t >= 1 && t <= 3));
	}
}

TEST(RayBvh, LargeMeshStaysWatertight)
{
	// 400 x 200 quads and caps: about 160 000 triangles.
	const Mesh sphere = uvSphere(200, 400, 0.02, 77);
	RayBvh bvh;
	bvh.build(sphere.points, sphere.polygons);
	EXPECT_EQ(bvh.triangleCount(), 2u * 400 * 199);
	std::mt19937_64 rng(78);
	std::uniform_real_distribution<double> near(-0.2, 0.2);
	int lost = 0, strays = 0;
	for (int i = 0; i < 20000; ++i)
	{
		const LVector o{near(rng), near(rng), near(rng)};
		const LVector d = randomDirection(rng);
		const double t = bvh.nearest(o, d, kInf);
		if (!(t > 0.6 && t < 1.4))
			++lost;
		// From outside, pointing away: nothing.
		if (bvh.intersect(d * 1.1, d, kInf))
			++strays;
	}
	// Straight through the poles, where 400 triangles meet in one point.
	EXPECT_TRUE(bvh.intersect({0, 0, 0}, {0, 0, 1}, kInf));
	EXPECT_TRUE(bvh.intersect({0, 0, 0}, {0, 0, -1}, kInf));
	EXPECT_EQ(lost, 0);
	EXPECT_EQ(strays, 0);
}

TEST(RayBvh, LopsidedAndPiledUpTrianglesStayCorrect)
{
	// Walls across the x axis at doubling distances: the area heuristic peels a few off at a
	// time, which unchecked would make a tree some two hundred levels deep.
	Mesh walls;
	std::vector<double> xs;
	for (int k = 0; k < 1000; ++k)
	{
		const double x = std::ldexp(1.0, k);
		xs.push_back(x);
		const Int32 base = static_cast<Int32>(walls.points.size());
		walls.points.push_back({x, -1, -1});
		walls.points.push_back({x, 2, -1});
		walls.points.push_back({x, -1, 2});
		walls.polygons.push_back({base, base + 1, base + 2, base + 2});
	}
	RayBvh bvh;
	bvh.build(walls.points, walls.polygons);
	ASSERT_EQ(bvh.triangleCount(), 1000u);
	for (size_t k = 0; k + 1 < xs.size(); k += 7)
	{
		const double start = xs[k] * 1.5;
		EXPECT_DOUBLE_EQ(bvh.nearest({start, 0.1, 0.2}, {1, 0, 0}, kInf), xs[k + 1] - start) << "wall " << k + 1;
		EXPECT_DOUBLE_EQ(bvh.nearest({start, 0.1, 0.2}, {-1, 0, 0}, kInf), start - xs[k]) << "wall " << k;
	}
	EXPECT_FALSE(bvh.intersect({xs.back() * 2, 0.1, 0.2}, {1, 0, 0}, kInf));
	EXPECT_TRUE(bvh.intersect({xs.back() * 2, 0.1, 0.2}, {-1, 0, 0}, kInf));

	// Thousands of copies of one triangle: no centroid tells them apart.
	Mesh pile;
	pile.points = {{0, 0, 1}, {1, 0, 1}, {0, 1, 1}};
	pile.polygons.assign(5000, CPolygon{0, 1, 2, 2});
	bvh.build(pile.points, pile.polygons);
	EXPECT_EQ(bvh.triangleCount(), 5000u);
	EXPECT_DOUBLE_EQ(bvh.nearest({0.2, 0.2, 0}, {0, 0, 1}, kInf), 1);
	EXPECT_FALSE(bvh.intersect({0.8, 0.8, 0}, {0, 0, 1}, kInf));
}
