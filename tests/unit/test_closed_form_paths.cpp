// The closed form's instruction-set paths against its scalar path, bit for
// bit: the lane math on awkward arguments, whole tables on real cages and on
// points where the formulas switch branches, with every length of a last,
// partial vector. Also how a path is chosen. Each test runs every path this
// machine offers, whatever MORVEXER_SIMD chose for the rest of the suite.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "object/morvex_closedform.h"
#include "object/morvex_lanes.h"
#include "support/meshes.h"

using testmesh::Mesh;

namespace {

// MORVEXER_SIMD=avx512|avx2|sse2|scalar runs the whole binary on that path
// (or the best below it that this machine runs), set before any test starts.
struct EnvironmentPath
{
	const char* name = nullptr;
	bool known = false;
	ClosedFormPath taken = ClosedFormPath::Scalar;
};
const EnvironmentPath kEnvironment = [] {
	EnvironmentPath e;
	e.name = std::getenv("MORVEXER_SIMD");
	ClosedFormPath wanted;
	if (e.name && ClosedFormPathFromName(e.name, &wanted))
	{
		e.known = true;
		e.taken = SetClosedFormPath(wanted);
	}
	return e;
}();

ClosedFormPath machineBest() { return BestClosedFormPath(ReadClosedFormCpu()); }

// The paths this machine runs, narrowest first.
std::vector<ClosedFormPath> runnablePaths()
{
	std::vector<ClosedFormPath> paths;
	for (int p = 0; p <= static_cast<int>(machineBest()); ++p)
		paths.push_back(static_cast<ClosedFormPath>(p));
	return paths;
}

ClosedFormPath narrower(ClosedFormPath a, ClosedFormPath b) { return static_cast<int>(a) < static_cast<int>(b) ? a : b; }

// Puts back the path the suite runs on when a test is done with its own.
class PathScope
{
public:
	PathScope() : saved_(CurrentClosedFormPath()) {}
	~PathScope() { SetClosedFormPath(saved_); }
	PathScope(const PathScope&) = delete;
	PathScope& operator=(const PathScope&) = delete;

private:
	ClosedFormPath saved_;
};

// Index of the first element whose bits differ, -1 if none: unlike ==, it
// tells -0 from +0 and one NaN from another.
template <class T>
long firstDifference(const std::vector<T>& a, const std::vector<T>& b)
{
	if (a.size() != b.size())
		return 0;
	for (size_t i = 0; i < a.size(); ++i)
		if (std::memcmp(&a[i], &b[i], sizeof(T)) != 0)
			return static_cast<long>(i);
	return -1;
}

// One row per point, as the binding lays out its tables.
struct Tables
{
	std::vector<float> phi, psi;
	ClosedFormPath path = ClosedFormPath::Scalar;
};

// The cage's triangles bound with the closed form on the current path,
// normals as the binding makes them; a corner outside the points stands at
// the origin.
Tables closedForm(const Mesh& cage, const std::vector<LVector>& points)
{
	const Int64 n = static_cast<Int64>(cage.points.size());
	auto corner = [&](Int32 k) { return k >= 0 && k < n ? cage.points[size_t(k)] : LVector{0, 0, 0}; };
	std::vector<LVector> normals;
	for (const CPolygon& f : cage.polygons)
	{
		const LVector c = Cross(corner(f.b) - corner(f.a), corner(f.c) - corner(f.a));
		const double len = Len(c);
		normals.push_back(len != 0.0 ? c / len : c);
	}
	const Int32 faces = static_cast<Int32>(cage.polygons.size());
	ClosedFormCage closed;
	ClosedFormCage::Scratch scratch;
	Tables t;
	if (!closed.Init(cage.points.data(), n, LVector{0, 0, 0}, cage.polygons.data(), faces, normals.data()) ||
	    !closed.Prepare(scratch))
	{
		ADD_FAILURE() << "no memory for the cage";
		return t;
	}
	t.path = closed.Path();
	t.phi.assign(points.size() * size_t(n), 0.0f);
	t.psi.assign(points.size() * size_t(faces), 0.0f);
	for (size_t q = 0; q < points.size(); ++q)
		closed.Evaluate(points[q], scratch, t.phi.data() + q * size_t(n), t.psi.data() + q * size_t(faces), static_cast<Int32>(n));
	return t;
}

// Every runnable path's tables against the scalar path's, bit for bit.
void expectEveryPathAsScalar(const Mesh& cage, const std::vector<LVector>& points, const std::string& what)
{
	PathScope scope;
	SetClosedFormPath(ClosedFormPath::Scalar);
	const Tables scalar = closedForm(cage, points);
	ASSERT_EQ(scalar.path, ClosedFormPath::Scalar);
	for (ClosedFormPath p : runnablePaths())
	{
		ASSERT_EQ(SetClosedFormPath(p), p);
		const Tables t = closedForm(cage, points);
		ASSERT_EQ(t.path, p);
		EXPECT_EQ(firstDifference(t.phi, scalar.phi), -1) << what << ", phi, " << ClosedFormPathName(p);
		EXPECT_EQ(firstDifference(t.psi, scalar.psi), -1) << what << ", psi, " << ClosedFormPathName(p);
	}
}

// Points where the closed form changes branch: on the cage's vertices, edges
// and faces, a hair off them, and far away.
std::vector<LVector> awkwardPoints(const Mesh& cage)
{
	const Int32 n = static_cast<Int32>(cage.points.size());
	auto corner = [&](Int32 k) { return k >= 0 && k < n ? cage.points[size_t(k)] : LVector{0, 0, 0}; };
	std::vector<LVector> p = cage.points;
	for (const CPolygon& f : cage.polygons)
	{
		const LVector a = corner(f.a), b = corner(f.b), c = corner(f.c);
		const LVector normal = Cross(b - a, c - a);
		p.push_back((a + b) * 0.5);                         // on an edge
		p.push_back((a + b + c) / 3.0);                     // inside the face
		p.push_back(a * 0.25 + b * 0.75);                   // on an edge, off its middle
		p.push_back((a + b + c) / 3.0 + normal * 1e-9);     // a hair off the face
		p.push_back((a + c) * 0.5 - normal * 1e-12);        // a hair off an edge
		p.push_back(a * 1.5 - b * 0.5);                     // on an edge's line, beyond its end
	}
	for (const LVector& far : {LVector{1e6, -2e6, 3e6}, LVector{1e15, 1e-15, -3.0}, LVector{0, 0, 0}, LVector{1e-300, 0, 0}})
		p.push_back(far);
	return p;
}

std::vector<LVector> bunnyPoints()
{
	std::vector<LVector> points;
	std::ifstream in(std::string(MORVEXER_SAMPLES_DIR) + "/bunny.obj");
	std::string line;
	while (std::getline(in, line))
		if (line.rfind("v ", 0) == 0)
		{
			LVector p;
			std::sscanf(line.c_str() + 2, "%lf %lf %lf", &p.x, &p.y, &p.z);
			points.push_back(p);
		}
	return points;
}

}  // namespace

TEST(ClosedFormPaths, TheEnvironmentSwitchChoosesThePath)
{
	if (!kEnvironment.name)
	{
		EXPECT_EQ(CurrentClosedFormPath(), machineBest()) << "without MORVEXER_SIMD the best path runs";
		return;
	}
	ASSERT_TRUE(kEnvironment.known) << "MORVEXER_SIMD=" << kEnvironment.name << " names no path (avx512, avx2, sse2, scalar)";
	ClosedFormPath wanted;
	ASSERT_TRUE(ClosedFormPathFromName(kEnvironment.name, &wanted));
	EXPECT_EQ(kEnvironment.taken, narrower(wanted, machineBest()));
	EXPECT_EQ(CurrentClosedFormPath(), kEnvironment.taken);
	std::printf("closed form path: %s\n", ClosedFormPathName(CurrentClosedFormPath()));
}

TEST(ClosedFormPaths, NamesGoBothWays)
{
	for (int p = 0; p < 4; ++p)
	{
		ClosedFormPath back;
		ASSERT_TRUE(ClosedFormPathFromName(ClosedFormPathName(static_cast<ClosedFormPath>(p)), &back));
		EXPECT_EQ(static_cast<int>(back), p);
	}
	ClosedFormPath untouched = ClosedFormPath::Avx2;
	EXPECT_FALSE(ClosedFormPathFromName("AVX512", &untouched));
	EXPECT_FALSE(ClosedFormPathFromName("", &untouched));
	EXPECT_FALSE(ClosedFormPathFromName(nullptr, &untouched));
	EXPECT_EQ(untouched, ClosedFormPath::Avx2);
}

#ifdef MORVEX_LANES_X86

// The instructions alone are not enough: the wide paths also need the OS to
// save their registers on a thread switch, as XCR0 tells.
TEST(ClosedFormPaths, TheCpuCheckAsksTheOsForTheRegisters)
{
	ClosedFormCpu all;
	all.sse2 = all.avx = all.osxsave = all.avx2 = all.avx512f = true;
	all.xcr0 = 0xE7;  // x87, SSE, AVX, opmask, ZMM upper halves, ZMM16-31
	EXPECT_EQ(BestClosedFormPath(all), ClosedFormPath::Avx512);

	ClosedFormCpu no_zmm = all;
	no_zmm.xcr0 = 0x7;
	EXPECT_EQ(BestClosedFormPath(no_zmm), ClosedFormPath::Avx2);
	ClosedFormCpu no_hi16 = all;
	no_hi16.xcr0 = 0x67;
	EXPECT_EQ(BestClosedFormPath(no_hi16), ClosedFormPath::Avx2);
	ClosedFormCpu no_avx512 = all;
	no_avx512.avx512f = false;
	EXPECT_EQ(BestClosedFormPath(no_avx512), ClosedFormPath::Avx2);

	ClosedFormCpu no_ymm = all;
	no_ymm.xcr0 = 0x3;
	EXPECT_EQ(BestClosedFormPath(no_ymm), ClosedFormPath::Sse2) << "AVX-512 without the OS saving YMM";
	ClosedFormCpu no_osxsave = all;
	no_osxsave.osxsave = false;
	EXPECT_EQ(BestClosedFormPath(no_osxsave), ClosedFormPath::Sse2) << "xcr0 cannot be read";
	ClosedFormCpu no_avx = no_avx512;
	no_avx.avx = false;
	EXPECT_EQ(BestClosedFormPath(no_avx), ClosedFormPath::Sse2);
	ClosedFormCpu no_avx2 = no_avx512;
	no_avx2.avx2 = false;
	EXPECT_EQ(BestClosedFormPath(no_avx2), ClosedFormPath::Sse2);

	EXPECT_EQ(BestClosedFormPath(ClosedFormCpu{}), ClosedFormPath::Scalar);
	// The build needs SSE2, so every machine it runs on has it.
	EXPECT_TRUE(ReadClosedFormCpu().sse2);
	EXPECT_GE(static_cast<int>(machineBest()), static_cast<int>(ClosedFormPath::Sse2));
}

TEST(ClosedFormPaths, AMissingPathFallsBackAndSaysWhichRuns)
{
	PathScope scope;
	const Mesh cage = testmesh::triangulated(testmesh::box({-1, -1, -1}, {1, 1, 1}));
	const std::vector<LVector> points = {{0.1, 0.2, 0.3}, {1.0, 0.0, 0.5}};

	ClosedFormCpu avx2_only;
	avx2_only.sse2 = avx2_only.avx = avx2_only.osxsave = avx2_only.avx2 = true;
	avx2_only.xcr0 = 0x7;
	ClosedFormCpu zmm_unsaved = avx2_only;
	zmm_unsaved.avx512f = true;
	struct Case
	{
		const char* what;
		ClosedFormCpu cpu;
		ClosedFormPath expected;
	};
	for (const Case& c : {Case{"AVX2 only", avx2_only, ClosedFormPath::Avx2},
	                      Case{"AVX-512 with the ZMM state unsaved", zmm_unsaved, ClosedFormPath::Avx2},
	                      Case{"no vector unit", ClosedFormCpu{}, ClosedFormPath::Scalar}})
	{
		const ClosedFormPath expected = narrower(c.expected, machineBest());
		EXPECT_EQ(SetClosedFormPath(ClosedFormPath::Avx512, c.cpu), expected) << c.what;
		EXPECT_EQ(CurrentClosedFormPath(), expected) << c.what;
		EXPECT_EQ(closedForm(cage, points).path, expected) << c.what;
	}
	// What this machine runs is taken as asked, and a cage keeps the path it was set up with.
	for (ClosedFormPath p : runnablePaths())
	{
		EXPECT_EQ(SetClosedFormPath(p), p);
		ClosedFormCage closed;
		const std::vector<LVector> normals(cage.polygons.size(), LVector{0, 0, 1});
		ASSERT_TRUE(closed.Init(cage.points.data(), Int64(cage.points.size()), LVector{0, 0, 0}, cage.polygons.data(),
		                        Int32(cage.polygons.size()), normals.data()));
		SetClosedFormPath(p == ClosedFormPath::Scalar ? machineBest() : ClosedFormPath::Scalar);
		EXPECT_EQ(closed.Path(), p);
	}
}

#endif

// atan2 and log1p of the lanes against the scalar forms: signed zeros,
// subnormals, infinities, NaN, the reduction's switch points and their
// neighbours, huge and tiny ratios, then random doubles of every binade; in
// arrays of every length up to two vectors, so each tail length runs.
TEST(ClosedFormPaths, LaneMathMatchesTheScalarBitForBit)
{
	const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
	const double tiny = std::numeric_limits<double>::denorm_min(), least = std::numeric_limits<double>::min();
	const double most = std::numeric_limits<double>::max();
	std::vector<double> awkward = {0.0, tiny, 3 * tiny, least, least * (1 - 1e-16), 1e-300, 1e-20, 1e-8, 0.5, 1.0, 2.0, 1e8,
	                               1e20, 1e300, most, inf, nan, std::sqrt(2.0) - 1.0, std::sqrt(2.0), 0.7071067811865476};
	for (double t : {0.09849140335716425, 0.3033466836073424, 0.5345111359507916, 0.8206787908286602})
		for (double f : {1 - 2e-16, 1.0, 1 + 2e-16})
			awkward.push_back(t * f);
	const size_t unsigned_count = awkward.size();
	for (size_t i = 0; i < unsigned_count; ++i)
		awkward.push_back(-awkward[i]);

	std::vector<double> y, x;
	for (double a : awkward)
		for (double b : awkward)
		{
			y.push_back(a);
			x.push_back(b);
		}
	std::mt19937_64 rng(31);
	std::uniform_int_distribution<int> binade(-1074, 1023);
	std::uniform_real_distribution<double> mantissa(1.0, 2.0);
	auto randomDouble = [&] { return (rng() & 1 ? -1.0 : 1.0) * std::ldexp(mantissa(rng), binade(rng)); };
	for (int i = 0; i < 20011; ++i)
	{
		y.push_back(randomDouble());
		x.push_back(randomDouble());
	}
	std::vector<double> logs = awkward;
	for (int i = 0; i < 20011; ++i)
		logs.push_back(std::fabs(randomDouble()));
	for (int i = 0; i <= 1000; ++i)
		logs.push_back(std::pow(10.0, -16.0 + 32.0 * i / 1000.0));

	// The scalar functions themselves, one value at a time.
	std::vector<double> atan2_want(y.size()), log1p_want(logs.size());
	for (size_t i = 0; i < y.size(); ++i)
		atan2_want[i] = ClosedFormAtan2(y[i], x[i]);
	for (size_t i = 0; i < logs.size(); ++i)
		log1p_want[i] = ClosedFormLog1p(logs[i]);

	PathScope scope;
	for (ClosedFormPath p : runnablePaths())
	{
		SetClosedFormPath(p);
		std::vector<double> atan2_got(y.size()), log1p_got(logs.size());
		ClosedFormAtan2Lanes(y.data(), x.data(), atan2_got.data(), Int64(y.size()));
		ClosedFormLog1pLanes(logs.data(), log1p_got.data(), Int64(logs.size()));
		const long a = firstDifference(atan2_got, atan2_want), l = firstDifference(log1p_got, log1p_want);
		EXPECT_EQ(a, -1) << ClosedFormPathName(p) << ": atan2(" << y[size_t(std::max(a, 0L))] << ", " << x[size_t(std::max(a, 0L))] << ")";
		EXPECT_EQ(l, -1) << ClosedFormPathName(p) << ": log1p(" << logs[size_t(std::max(l, 0L))] << ")";
		// Short arrays: a tail only, or whole vectors and a tail. Taken from
		// the awkward values' end, where inf and NaN sit in the last lanes.
		for (size_t n = 1; n <= 17; ++n)
		{
			const size_t from = unsigned_count * (unsigned_count + 1) - n;
			std::vector<double> got(n), want(atan2_want.begin() + long(from), atan2_want.begin() + long(from + n));
			ClosedFormAtan2Lanes(y.data() + from, x.data() + from, got.data(), Int64(n));
			EXPECT_EQ(firstDifference(got, want), -1) << ClosedFormPathName(p) << ", atan2 of " << n;
			const size_t log_from = unsigned_count - n % unsigned_count;
			std::vector<double> log_got(n), log_want(log1p_want.begin() + long(log_from), log1p_want.begin() + long(log_from + n));
			ClosedFormLog1pLanes(logs.data() + log_from, log_got.data(), Int64(n));
			EXPECT_EQ(firstDifference(log_got, log_want), -1) << ClosedFormPathName(p) << ", log1p of " << n;
		}
	}
}

// The bundled scanned model in a box cage of 432 triangles, every point.
TEST(ClosedFormPaths, TheScannedModelBindsTheSameOnEveryPath)
{
	const std::vector<LVector> bunny = bunnyPoints();
	ASSERT_EQ(bunny.size(), 1839u);
	const Mesh cage = testmesh::triangulated(testmesh::subdividedBox({-5.5, -0.5, -4.3}, {5.5, 10.2, 4.4}, 6));
	expectEveryPathAsScalar(cage, bunny, "bunny");
	expectEveryPathAsScalar(cage, awkwardPoints(cage), "bunny's cage, points on it");
}

TEST(ClosedFormPaths, SphereCagesBindTheSameOnEveryPath)
{
	for (int subdivisions = 0; subdivisions <= 2; ++subdivisions)
	{
		const Mesh cage = testmesh::icosphere({0.1, -0.2, 0.3}, 1.5, subdivisions);
		std::vector<LVector> points = testmesh::randomPointsInBox({-2, -2, -2}, {2, 2, 2}, 200, 5 + subdivisions);
		const std::vector<LVector> awkward = awkwardPoints(cage);
		points.insert(points.end(), awkward.begin(), awkward.end());
		expectEveryPathAsScalar(cage, points, "icosphere " + std::to_string(subdivisions));
	}
}

// Vertex counts 6 to 13 (a pole and the origin included) and face counts 1 to
// 16: every length of a last, partial vector, in each pass.
TEST(ClosedFormPaths, EveryTailLengthBindsTheSame)
{
	for (int segments = 3; segments <= 10; ++segments)
	{
		const Mesh cage = testmesh::triangulated(testmesh::uvSphere({0, 0, 0}, 1.0, 2, segments));
		std::vector<LVector> points = testmesh::randomPointsInBox({-1.2, -1.2, -1.2}, {1.2, 1.2, 1.2}, 40, segments);
		const std::vector<LVector> awkward = awkwardPoints(cage);
		points.insert(points.end(), awkward.begin(), awkward.end());
		expectEveryPathAsScalar(cage, points, std::to_string(segments) + " segments");
	}
	const Mesh box = testmesh::triangulated(testmesh::subdividedBox({-1, -1, -1}, {1, 1, 1}, 2));
	for (size_t faces = 1; faces <= 16; ++faces)
	{
		Mesh part = box;
		part.polygons.resize(faces);
		const std::vector<LVector> points = testmesh::randomPointsInBox({-1.5, -1.5, -1.5}, {1.5, 1.5, 1.5}, 30, int(faces));
		expectEveryPathAsScalar(part, points, std::to_string(faces) + " faces");
		expectEveryPathAsScalar(part, awkwardPoints(part), std::to_string(faces) + " faces, points on them");
	}
}

// A face without area, an edge without length, corners that name no cage
// point (they stand at the origin and have no phi column, however far out of
// range) and a face of three points on one line.
TEST(ClosedFormPaths, DegenerateFacesBindTheSame)
{
	Mesh cage = testmesh::triangulated(testmesh::box({-1, -1, -1}, {1, 1, 1}));
	const CPolygon first = cage.polygons.front();
	cage.polygons.push_back({first.a, first.b, first.a, first.a});
	cage.polygons.push_back({first.a, 99, first.b, first.b});
	cage.polygons.push_back({first.c, first.b, 2147483647, 2147483647});
	cage.polygons.push_back({-5, first.c, first.a, first.a});
	cage.points.push_back({3.0, 3.0, 3.0});
	cage.points.push_back({4.0, 4.0, 4.0});
	cage.points.push_back({5.0, 5.0, 5.0});
	const Int32 n = static_cast<Int32>(cage.points.size());
	cage.polygons.push_back({n - 3, n - 2, n - 1, n - 1});
	std::vector<LVector> points = testmesh::randomPointsInBox({-1.5, -1.5, -1.5}, {1.5, 1.5, 1.5}, 60, 3);
	const std::vector<LVector> awkward = awkwardPoints(cage);
	points.insert(points.end(), awkward.begin(), awkward.end());
	expectEveryPathAsScalar(cage, points, "degenerate faces");
}

// phi sums, in float, each face's contributions in face order, corners a, b,
// c: the same bits as binding the cage one face at a time into the same row,
// which adds them that way by construction. Every path, as each must.
TEST(ClosedFormPaths, PhiAddsTheFacesInTheirOrder)
{
	const Mesh cage = testmesh::triangulated(testmesh::subdividedBox({-5.5, -0.5, -4.3}, {5.5, 10.2, 4.4}, 3));
	const Int64 n = static_cast<Int64>(cage.points.size());
	std::vector<LVector> normals;
	for (const CPolygon& f : cage.polygons)
	{
		const LVector c = Cross(cage.points[size_t(f.b)] - cage.points[size_t(f.a)], cage.points[size_t(f.c)] - cage.points[size_t(f.a)]);
		normals.push_back(c / Len(c));
	}
	const std::vector<LVector> points = testmesh::randomPointsInBox({-5, 0, -4}, {5, 10, 4}, 20, 17);
	PathScope scope;
	for (ClosedFormPath p : runnablePaths())
	{
		SetClosedFormPath(p);
		const Tables whole = closedForm(cage, points);
		std::vector<float> phi(whole.phi.size(), 0.0f), psi(whole.psi.size(), 0.0f);
		const size_t faces = cage.polygons.size();
		for (size_t j = 0; j < faces; ++j)
		{
			ClosedFormCage one;
			ClosedFormCage::Scratch scratch;
			ASSERT_TRUE(one.Init(cage.points.data(), n, LVector{0, 0, 0}, &cage.polygons[j], 1, &normals[j]) && one.Prepare(scratch));
			for (size_t q = 0; q < points.size(); ++q)
				one.Evaluate(points[q], scratch, phi.data() + q * size_t(n), psi.data() + q * faces + j, static_cast<Int32>(n));
		}
		EXPECT_EQ(firstDifference(whole.phi, phi), -1) << ClosedFormPathName(p);
		EXPECT_EQ(firstDifference(whole.psi, psi), -1) << ClosedFormPathName(p);
	}
}

// The comparison the tests above rest on sees a single bit, in any lane,
// and the sign of a zero.
TEST(ClosedFormPaths, TheComparisonSeesOneFlippedBit)
{
	const Mesh cage = testmesh::triangulated(testmesh::subdividedBox({-1, -1, -1}, {1, 1, 1}, 2));
	const Tables t = closedForm(cage, {{0.1, 0.2, 0.3}, {1.0, 0.25, 0.5}});
	ASSERT_FALSE(t.psi.empty());
	ASSERT_EQ(firstDifference(t.phi, t.phi), -1);
	for (size_t at : {size_t(0), size_t(3), t.psi.size() - 1})
	{
		std::vector<float> flipped = t.psi;
		std::uint32_t bits;
		std::memcpy(&bits, &flipped[at], sizeof bits);
		bits ^= 1u;
		std::memcpy(&flipped[at], &bits, sizeof bits);
		EXPECT_EQ(firstDifference(flipped, t.psi), long(at));
	}
	EXPECT_EQ(firstDifference(std::vector<float>{0.0f, -0.0f}, std::vector<float>{0.0f, 0.0f}), 1);
	const double nan = std::numeric_limits<double>::quiet_NaN();
	EXPECT_EQ(firstDifference(std::vector<double>{nan}, std::vector<double>{-nan}), 0);
}
