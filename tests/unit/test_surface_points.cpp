// Points on the cage surface: at its vertices, on its edges (at their middle
// and off it) and inside its faces. Their coordinates are the limit from
// inside the cage, by the closed form on every instruction-set path and by the
// per-face integration alike: so the rest cage gives every such point back, a
// similarity of the cage moves it by that similarity, and a bent cage takes it
// where it takes the point a billionth of the cage's size inside.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "object/morvex_closedform.h"
#include "object/morvex_surface.h"
#include "support/deformer_scene.h"

using testmesh::Mesh;

namespace {

constexpr double kPi = 3.14159265358979323846;

LVector unit(const LVector& v) { return testmesh::scaled(v, 1.0 / testmesh::length(v)); }

LVector faceNormal(const std::vector<LVector>& points, const CPolygon& f)
{
	using namespace testmesh;
	return unit(cross(sub(points[size_t(f.b)], points[size_t(f.a)]), sub(points[size_t(f.c)], points[size_t(f.a)])));
}

// The unit normals of the cage's faces with its points at `points`.
std::vector<LVector> normalsAt(const Mesh& cage, const std::vector<LVector>& points)
{
	std::vector<LVector> n;
	for (const CPolygon& f : cage.polygons)
		n.push_back(faceNormal(points, f));
	return n;
}

double diagonal(const std::vector<LVector>& points)
{
	LVector lo = points[0], hi = points[0];
	for (const LVector& p : points)
	{
		lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
		hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
	}
	return testmesh::distance(lo, hi);
}

using EdgeKey = std::pair<Int32, Int32>;
EdgeKey edgeKey(Int32 a, Int32 b) { return {std::min(a, b), std::max(a, b)}; }

// The undirected edges of a triangle cage, each with the faces on it.
std::map<EdgeKey, std::vector<size_t>> edgeFaces(const Mesh& cage)
{
	std::map<EdgeKey, std::vector<size_t>> edges;
	for (size_t j = 0; j < cage.polygons.size(); ++j)
	{
		const CPolygon& f = cage.polygons[j];
		const Int32 c[3] = {f.a, f.b, f.c};
		for (int k = 0; k < 3; ++k)
			edges[edgeKey(c[k], c[(k + 1) % 3])].push_back(j);
	}
	return edges;
}

// A point on the cage, the unit direction from it into the cage, and what it
// is, for the messages.
struct SurfacePoint
{
	LVector at;
	LVector inward;
	std::string what;
};

// Every `vertex_every`-th vertex, every `edge_every`-th edge at its middle and
// at 0.3 of its length, every `face_every`-th face at its centre and off it.
// Into the cage from a face is against its normal; from an edge, against the
// sum of its faces' normals; from a vertex, against the sum of its faces'
// normals weighed by their angles there.
struct Sampling
{
	size_t vertex_every, edge_every, face_every;
};

std::vector<SurfacePoint> surfacePoints(const Mesh& cage, Sampling s)
{
	using namespace testmesh;
	const std::vector<LVector> normals = normalsAt(cage, cage.points);
	std::vector<LVector> pseudo(cage.points.size(), LVector{0, 0, 0});
	for (size_t j = 0; j < cage.polygons.size(); ++j)
	{
		const CPolygon& f = cage.polygons[j];
		const Int32 c[3] = {f.a, f.b, f.c};
		for (int k = 0; k < 3; ++k)
		{
			const LVector p = cage.points[size_t(c[k])];
			const LVector u = sub(cage.points[size_t(c[(k + 1) % 3])], p), v = sub(cage.points[size_t(c[(k + 2) % 3])], p);
			const double angle = std::atan2(length(cross(u, v)), dot(u, v));
			pseudo[size_t(c[k])] = add(pseudo[size_t(c[k])], scaled(normals[j], angle));
		}
	}
	std::vector<SurfacePoint> out;
	for (size_t i = 0; i < cage.points.size(); i += s.vertex_every)
		out.push_back({cage.points[i], unit(scaled(pseudo[i], -1.0)), "vertex " + std::to_string(i)});
	size_t e = 0;
	for (const auto& [ends, faces] : edgeFaces(cage))
		if (e++ % s.edge_every == 0)
		{
			const LVector a = cage.points[size_t(ends.first)], b = cage.points[size_t(ends.second)];
			const LVector inward = unit(scaled(add(normals[faces[0]], normals[faces[1]]), -1.0));
			const std::string what = "edge " + std::to_string(ends.first) + "-" + std::to_string(ends.second);
			out.push_back({scaled(add(a, b), 0.5), inward, what + " at its middle"});
			out.push_back({add(scaled(a, 0.7), scaled(b, 0.3)), inward, what + " at 0.3"});
		}
	for (size_t j = 0; j < cage.polygons.size(); j += s.face_every)
	{
		const CPolygon& f = cage.polygons[j];
		const LVector a = cage.points[size_t(f.a)], b = cage.points[size_t(f.b)], c = cage.points[size_t(f.c)];
		const LVector inward = scaled(normals[j], -1.0);
		out.push_back({scaled(add(add(a, b), c), 1.0 / 3.0), inward, "face " + std::to_string(j) + " at its centre"});
		out.push_back({add(add(scaled(a, 0.6), scaled(b, 0.3)), scaled(c, 0.1)), inward, "face " + std::to_string(j) + " off its centre"});
	}
	return out;
}

// The cage's points in a pose, its faces' unit normals there, and the factor
// psi is taken with.
struct Pose
{
	std::vector<LVector> points, normals;
	double stretch;
};
Pose pose(const Mesh& cage, std::vector<LVector> points, double stretch)
{
	std::vector<LVector> normals = normalsAt(cage, points);
	return {std::move(points), std::move(normals), stretch};
}

// Where row r of the tables takes its point in pose p: sum phi_i P_i + sum
// psi_j stretch n_j, in double.
LVector deformedRow(const BoundTables& t, size_t r, const Pose& p)
{
	LVector x{0, 0, 0};
	for (size_t i = 0; i < size_t(t.cols); ++i)
		x = testmesh::add(x, testmesh::scaled(p.points[i], double(t.phi[r * size_t(t.cols) + i])));
	for (size_t j = 0; j < size_t(t.faces); ++j)
		x = testmesh::add(x, testmesh::scaled(p.normals[j], p.stretch * double(t.psi[r * size_t(t.faces) + j])));
	return x;
}

std::vector<LVector> mapped(const std::vector<LVector>& points, const LMatrix& m)
{
	std::vector<LVector> out;
	for (const LVector& p : points)
		out.push_back(testmesh::apply(m, p));
	return out;
}

// A smooth bend that no affine map gives: each point moves by up to a
// twentieth of the cage's size, by a wave of its own position.
std::vector<LVector> bent(const std::vector<LVector>& points, double size)
{
	std::vector<LVector> out;
	const double w = 2.0 * kPi / size, a = 0.05 * size;
	for (const LVector& p : points)
		out.push_back({p.x + a * std::sin(w * p.y), p.y + a * std::sin(w * p.z + 1.0), p.z + a * std::sin(w * p.x + 2.0)});
	return out;
}

// The cages. The bundled scanned model gives two: the box cage the tests bind
// it in, and its own closed surface as a cage (the cage made from a mesh's
// hull that users bind), with edges and corners that fold in, and saddles.
// The model's own surface, of 3 674 faces, gives a share of its points, and
// the integration, about 40 times slower, takes fewer points of the large
// cages. The integration also drops every face whose w is below 1e-5, which on
// those 3 674 small faces costs it 8e-6 of the diagonal at points deep inside:
// there it is held to what it reaches there.
struct CageCase
{
	const char* name;
	Mesh (*make)();
	Sampling closed, reference;
	double reference_tolerance;  // in diagonals
};

const CageCase kCages[] = {
	{"cube", [] { return testmesh::boxTriangles({-1, -1, -1}, {1, 1, 1}); }, {1, 1, 1}, {1, 1, 1}, 1e-6},
	{"scanned_model_box_cage",
	 [] { return testmesh::triangulated(testmesh::subdividedBox({-5.5, -0.5, -4.3}, {5.5, 10.2, 4.4}, 6)); }, {1, 1, 1}, {1, 3, 3},
	 1e-6},
	{"scanned_model_as_cage", [] { return testmesh::objMesh(std::string(MORVEXER_SAMPLES_DIR) + "/bunny.obj"); }, {3, 20, 20},
	 {23, 97, 89}, 2e-5},
};

// The closed form on each instruction set, then the per-face integration.
constexpr int kReference = static_cast<int>(ClosedFormPath::Avx512) + 1;
std::string schemeName(int scheme)
{
	return scheme == kReference ? "integration" : ClosedFormPathName(static_cast<ClosedFormPath>(scheme));
}

// The largest of one check's errors, and at which point.
struct Worst
{
	double error = 0.0;
	std::string at;
	void take(double e, const std::string& what)
	{
		if (!(e <= error))
		{
			error = e;
			at = what;
		}
	}
};

class SurfacePoints : public DeformerScene, public ::testing::WithParamInterface<std::tuple<int, int>>
{
};

}  // namespace

// The rest cage reproduces each point, a similarity moves it alike, and a bent
// cage moves it as the point a billionth of the cage's size inside, each
// within a millionth of the cage's diagonal.
TEST_P(SurfacePoints, ReproduceFollowASimilarityAndMatchThePointsJustInside)
{
	const CageCase& cage_case = kCages[std::get<0>(GetParam())];
	const int scheme = std::get<1>(GetParam());
	const bool reference = scheme == kReference;
	const ClosedFormPath best = BestClosedFormPath(ReadCpuFeatures());
	if (!reference && scheme > static_cast<int>(best))
		GTEST_SKIP() << "this machine cannot run the " << schemeName(scheme) << " path";
	struct Restore
	{
		ClosedFormPath saved = CurrentClosedFormPath();
		~Restore() { SetClosedFormPath(saved); }
	} restore;
	SetClosedFormPath(reference ? best : static_cast<ClosedFormPath>(scheme));

	const Mesh cage = cage_case.make();
	ASSERT_EQ(testmesh::edgeProblems(cage), "");
	const double diag = diagonal(cage.points);
	const std::vector<SurfacePoint> probes = surfacePoints(cage, reference ? cage_case.reference : cage_case.closed);
	Mesh on, inside;
	for (const SurfacePoint& p : probes)
	{
		on.points.push_back(p.at);
		inside.points.push_back(testmesh::add(p.at, testmesh::scaled(p.inward, 1e-9 * diag)));
		ASSERT_GT(testmesh::windingNumber(cage, inside.points.back()), 0.5) << p.what << ": the point meant inside is not";
	}
	// The closed form binds both sets together; the per-face integration is
	// held against the closed form's values inside, as its own go wrong that
	// close to an edge (test_closed_form's quadrature measures it).
	Tables t_on, t_inside;
	if (reference)
	{
		t_on = bind(on, cage, true);
		t_inside = bind(inside, cage, false);
	}
	else
	{
		Mesh both = on;
		both.points.insert(both.points.end(), inside.points.begin(), inside.points.end());
		t_on = t_inside = bind(both, cage, false);
	}
	const size_t n = probes.size(), inside_row = reference ? 0 : n;
	ASSERT_EQ(t_on.rows, static_cast<Int32>(reference ? n : 2 * n));
	ASSERT_EQ(t_inside.rows, static_cast<Int32>(reference ? n : 2 * n));

	const double scale = 1.7;
	const LMatrix similarity = testmesh::product(testmesh::translation({0.3, -2, 1}),
	                                             testmesh::product(testmesh::rotation({1, 2, -1}, 0.8), testmesh::scaling(scale)));
	const Pose rest_pose = pose(cage, cage.points, 1.0), moved = pose(cage, mapped(cage.points, similarity), scale),
	           bend = pose(cage, bent(cage.points, diag), 1.0);
	Worst rest, follow, limit;
	for (size_t r = 0; r < n; ++r)
	{
		const std::string& what = probes[r].what;
		rest.take(testmesh::distance(deformedRow(t_on, r, rest_pose), probes[r].at), what);
		follow.take(testmesh::distance(deformedRow(t_on, r, moved), testmesh::apply(similarity, probes[r].at)), what);
		limit.take(testmesh::distance(deformedRow(t_on, r, bend), deformedRow(t_inside, inside_row + r, bend)), what);
	}
	const double tolerance = (reference ? cage_case.reference_tolerance : 1e-6) * diag;
	EXPECT_LE(rest.error, tolerance) << "at rest, worst at " << rest.at;
	EXPECT_LE(follow.error, tolerance * scale) << "under a similarity, worst at " << follow.at;
	EXPECT_LE(limit.error, tolerance) << "against the points just inside, worst at " << limit.at;
}

INSTANTIATE_TEST_SUITE_P(EveryCageAndScheme, SurfacePoints,
                         ::testing::Combine(::testing::Range(0, int(std::size(kCages))), ::testing::Range(0, kReference + 1)),
                         [](const ::testing::TestParamInfo<std::tuple<int, int>>& info) {
	                         return std::string(kCages[std::get<0>(info.param)].name) + "_" + schemeName(std::get<1>(info.param));
                         });

// At every vertex the faces around it take, together, 4 pi less the cage's
// inside solid angle there, and along every edge its two faces take 4 pi less
// the inside wedge: what the winding number of the other faces leaves, which
// the test support measures its own way. Cages with corners and edges that
// fold in and out, and saddles.
TEST(SurfaceAngles, AddUpToWhatTheRestOfTheCageLeaves)
{
	Mesh dented = testmesh::triangulated(testmesh::subdividedBox({-1, -1, -1}, {1, 1, 1}, 4));
	for (LVector& p : dented.points)
		if (p.y > 0.99 && std::fabs(p.x) < 0.6 && std::fabs(p.z) < 0.6)
			p.y = 0.1;
	const std::pair<const char*, Mesh> cages[] = {
		{"cube", testmesh::boxTriangles({-1, -1, -1}, {1, 1, 1})},
		{"dented box", dented},
		{"icosphere", testmesh::icosphere({0.1, -0.2, 0.3}, 1.5, 1)},
		{"scanned model", testmesh::objMesh(std::string(MORVEXER_SAMPLES_DIR) + "/bunny.obj")},
	};
	for (const auto& [name, cage] : cages)
	{
		const std::vector<LVector> normals = normalsAt(cage, cage.points);
		GeDynamicArray<SurfaceAngles> angles;
		ASSERT_TRUE(CageSurfaceAngles(cage.points.data(), Int64(cage.points.size()), LVector{0, 0, 0}, cage.polygons.data(),
		                              Int32(cage.polygons.size()), normals.data(), angles));
		ASSERT_EQ(angles.GetCount(), Int64(cage.polygons.size()));
		std::vector<double> at_vertex(cage.points.size(), 0.0);
		for (size_t j = 0; j < cage.polygons.size(); ++j)
		{
			const CPolygon& f = cage.polygons[j];
			at_vertex[size_t(f.a)] += angles[Int64(j)].corner[0];
			at_vertex[size_t(f.b)] += angles[Int64(j)].corner[1];
			at_vertex[size_t(f.c)] += angles[Int64(j)].corner[2];
		}
		double worst = 0.0;
		for (size_t i = 0; i < cage.points.size(); ++i)
			worst = std::max(worst, std::fabs(at_vertex[i] - 4 * kPi * (1.0 - testmesh::windingNumber(cage, cage.points[i]))));
		EXPECT_LT(worst, 1e-9) << name << ", vertices";
		worst = 0.0;
		for (const auto& [ends, faces] : edgeFaces(cage))
		{
			ASSERT_EQ(faces.size(), 2u);
			double sum = 0.0;
			for (size_t j : faces)
			{
				const CPolygon& f = cage.polygons[j];
				const Int32 c[3] = {f.a, f.b, f.c};
				for (int k = 0; k < 3; ++k)
					if (edgeKey(c[(k + 1) % 3], c[(k + 2) % 3]) == ends)
						sum += angles[Int64(j)].edge[k];
			}
			const LVector middle = testmesh::scaled(testmesh::add(cage.points[size_t(ends.first)], cage.points[size_t(ends.second)]), 0.5);
			worst = std::max(worst, std::fabs(sum - 4 * kPi * (1.0 - testmesh::windingNumber(cage, middle))));
		}
		EXPECT_LT(worst, 1e-9) << name << ", edges";
	}
}
