// The closed-form binding against the per-face integration it replaces: the
// same coordinates on real meshes, and exact where the integration is not.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "object/morvex_closedform.h"
#include "vtnhost/actions.h"
#include "support/deformer_scene.h"

using testmesh::Mesh;
using vtnhost::Object;

namespace {

// A box with a deep dent in its top: planes of the dent's faces run through the inside.
Mesh dentedBox()
{
	Mesh m = testmesh::triangulated(testmesh::subdividedBox({-1, -1, -1}, {1, 1, 1}, 4));
	for (LVector& p : m.points)
		if (p.y > 0.99 && std::fabs(p.x) < 0.6 && std::fabs(p.z) < 0.6)
			p.y = 0.1;
	return m;
}

// The defining integrals of one cage triangle at eta, by an adaptive quadrature
// that shares nothing with the binding's formulas: the yardstick for the closed
// form where the per-face integration cannot be trusted. With n the outward
// normal and h = n.(v0 - eta), which is n.(xi - eta) for every xi on the plane,
//   psi   = 1/4pi int_T dS / R,
//   phi_k = 1/4pi int_T lambda_k(xi) h / R^3 dS,      R = |xi - eta|.
// The triangle is fanned about its point q nearest to eta, so wherever the
// integrands peak it is at a corner of every fan triangle (q, v_l, v_l+1). Each
// is swept from q as xi = q + s w(u), w(u) = (1 - u)(v_l - q) + u (v_l+1 - q),
// with dS = s J ds du: the factor s cancels the 1/R singularity, and what is
// left peaks at s ~ |eta - q| / |w|, which the nested adaptive rules follow
// down by halving.
class GreenQuadrature
{
public:
	using Values = std::array<double, 4>;  // psi, phi_0, phi_1, phi_2

	Values face(const LVector& v0, const LVector& v1, const LVector& v2, const LVector& eta)
	{
		using namespace testmesh;
		const LVector v[3] = {v0, v1, v2};
		const LVector normal = cross(sub(v1, v0), sub(v2, v0));
		const double two_area = length(normal);
		const LVector n = scaled(normal, 1.0 / two_area);
		const double h = dot(n, sub(v0, eta));
		const LVector foot = add(eta, scaled(n, h));
		auto barycentric = [&](const LVector& x, int k) {
			return dot(n, cross(sub(v[(k + 1) % 3], x), sub(v[(k + 2) % 3], x))) / two_area;
		};
		LVector q = foot;
		if (barycentric(foot, 0) < 0.0 || barycentric(foot, 1) < 0.0 || barycentric(foot, 2) < 0.0)
		{
			double nearest = HUGE_VAL;
			for (int l = 0; l < 3; ++l)
			{
				const LVector e = sub(v[(l + 1) % 3], v[l]);
				const double t = std::min(1.0, std::max(0.0, dot(sub(foot, v[l]), e) / dot(e, e)));
				const LVector x = add(v[l], scaled(e, t));
				if (distance(x, foot) < nearest)
				{
					nearest = distance(x, foot);
					q = x;
				}
			}
		}
		const LVector from_eta = sub(q, eta);
		const double at_q[3] = {barycentric(q, 0), barycentric(q, 1), barycentric(q, 2)};
		Values sum{};
		for (int l = 0; l < 3; ++l)
		{
			const int l1 = (l + 1) % 3;
			const LVector a = sub(v[l], q), b = sub(v[l1], q);
			const double J = dot(n, cross(a, b));
			if (J == 0.0)
				continue;  // q on this edge: the fan triangle has no area
			const Values part = adaptive(
				[&](double u) {
					const LVector w = add(scaled(a, 1.0 - u), scaled(b, u));
					// Barycentric coordinates run linearly from q's to those of the edge point.
					double at_edge[3] = {0.0, 0.0, 0.0};
					at_edge[l] = 1.0 - u;
					at_edge[l1] = u;
					return adaptive(
						[&](double s) {
							const double R = length(add(from_eta, scaled(w, s)));
							const double flux = s * h / (R * R * R);
							Values y{s / R, 0.0, 0.0, 0.0};
							for (int k = 0; k < 3; ++k)
								y[k + 1] = ((1.0 - s) * at_q[k] + s * at_edge[k]) * flux;
							return y;
						},
						0.0, 1.0);
				},
				0.0, 1.0);
			for (int k = 0; k < 4; ++k)
				sum[k] += J * part[k];
		}
		for (double& x : sum)
			x /= 4.0 * 3.14159265358979323846;
		return sum;
	}

	// Integrals left short of the tolerance at the panel limit.
	int unconverged = 0;

private:
	struct Panel
	{
		double a, b;
		Values value;
		double error;
	};

	// Gauss-Kronrod 7/15 on [a, b]. The error is the gap between the 7- and the
	// 15-point values, largest over the four integrands: it overstates the
	// 15-point rule's own error, which errs on the safe side.
	template <class F>
	static Panel kronrod(const F& f, double a, double b)
	{
		static const double x[8] = {0.991455371120812639206854697526329, 0.949107912342758524526189684047851,
		                            0.864864423359769072789712788640926, 0.741531185599394439863864773280788,
		                            0.586087235467691130294144845693013, 0.405845151377397166906606412076961,
		                            0.207784955007898467600689403773245, 0.0};
		static const double wk[8] = {0.022935322010529224963732008058970, 0.063092092629978553290700663189204,
		                             0.104790010322250183839876322541518, 0.140653259715525918745189590510238,
		                             0.169004726639267902826583426598550, 0.190350578064785409913256402421014,
		                             0.204432940075298892414161999234649, 0.209482141084727828012999174891714};
		// The 7-point Gauss rule's weights, at the odd Kronrod nodes.
		static const double wg[4] = {0.129484966168869693270611432679082, 0.279705391489276667901467771423780,
		                             0.381830050505118944950369775488975, 0.417959183673469387755102040816327};
		const double mid = 0.5 * (a + b), half = 0.5 * (b - a);
		Values k{}, g{};
		for (int i = 0; i < 8; ++i)
			for (double side : {-1.0, 1.0})
			{
				if (i == 7 && side > 0.0)
					break;  // the midpoint counts once
				const Values y = f(mid + side * half * x[i]);
				for (int c = 0; c < 4; ++c)
				{
					k[c] += wk[i] * y[c];
					if (i % 2 == 1)
						g[c] += wg[i / 2] * y[c];
				}
			}
		Panel panel{a, b, {}, 0.0};
		for (int c = 0; c < 4; ++c)
		{
			panel.value[c] = half * k[c];
			panel.error = std::max(panel.error, half * std::fabs(k[c] - g[c]));
		}
		return panel;
	}

	// Globally adaptive: the panel with the largest error is halved until the
	// errors add up to 1e-10 of the largest of the four integrals. Relative,
	// because the inner integrals grow as 1 / |eta - q|^2 near the apex.
	template <class F>
	Values adaptive(const F& f, double a, double b)
	{
		std::array<Panel, 100> panels;
		size_t count = 1;
		panels[0] = kronrod(f, a, b);
		for (;;)
		{
			Values total{};
			double error = 0.0, worst = -1.0;
			size_t split = 0;
			for (size_t i = 0; i < count; ++i)
			{
				for (int c = 0; c < 4; ++c)
					total[c] += panels[i].value[c];
				error += panels[i].error;
				if (panels[i].error > worst)
				{
					worst = panels[i].error;
					split = i;
				}
			}
			double scale = 0.0;
			for (double t : total)
				scale = std::max(scale, std::fabs(t));
			if (error <= 1e-10 * scale)
				return total;
			if (count == panels.size())
			{
				++unconverged;
				return total;
			}
			const Panel whole = panels[split];
			const double mid = 0.5 * (whole.a + whole.b);
			panels[split] = kronrod(f, whole.a, mid);
			panels[count++] = kronrod(f, mid, whole.b);
		}
	}
};

// One point's row by the quadrature: phi per cage point, psi per face.
struct QuadratureRow
{
	std::vector<double> phi, psi;
};
QuadratureRow quadratureRow(const Mesh& cage, const LVector& eta, GreenQuadrature& quadrature)
{
	QuadratureRow row{std::vector<double>(cage.points.size(), 0.0), {}};
	for (const CPolygon& f : cage.polygons)
	{
		const GreenQuadrature::Values v = quadrature.face(cage.points[f.a], cage.points[f.b], cage.points[f.c], eta);
		row.psi.push_back(v[0]);
		row.phi[f.a] += v[1];
		row.phi[f.b] += v[2];
		row.phi[f.c] += v[3];
	}
	return row;
}

class ClosedForm : public DeformerScene
{
protected:
	static float largest(const std::vector<float>& v)
	{
		float m = 0;
		for (float x : v)
			m = std::max(m, std::fabs(x));
		return m;
	}
	// Both ways, every coordinate within 1e-6 of the table's largest.
	void expectSame(const Mesh& mesh, const Mesh& cage)
	{
		const Tables plain = bind(mesh, cage, true), closed = bind(mesh, cage, false);
		ASSERT_GT(plain.rows, 0);
		ASSERT_EQ(plain.phi.size(), closed.phi.size());
		ASSERT_EQ(plain.psi.size(), closed.psi.size());
		const float phi_tol = 1e-6f * largest(plain.phi), psi_tol = 1e-6f * largest(plain.psi);
		for (size_t i = 0; i < plain.phi.size(); ++i)
			ASSERT_NEAR(closed.phi[i], plain.phi[i], phi_tol) << "phi " << i;
		for (size_t i = 0; i < plain.psi.size(); ++i)
		{
			ASSERT_NEAR(closed.psi[i], plain.psi[i], psi_tol) << "psi " << i;
			ASSERT_GE(closed.psi[i], 0.0f);
		}
	}
};

}  // namespace

TEST_F(ClosedForm, AgreesWithTheIntegrationOnTheBunny)
{
	Mesh bunny = testmesh::objPoints(std::string(MORVEXER_SAMPLES_DIR) + "/bunny.obj");
	ASSERT_EQ(bunny.points.size(), 1839u);
	// Every fourth point keeps the test quick; the cage: 6 x 6 quads a side, 432 triangles.
	Mesh some;
	for (size_t i = 0; i < bunny.points.size(); i += 4)
		some.points.push_back(bunny.points[i]);
	expectSame(some, testmesh::subdividedBox({-5.5, -0.5, -4.3}, {5.5, 10.2, 4.4}, 6));
}

TEST_F(ClosedForm, AgreesInANonConvexCage)
{
	const Mesh cage = dentedBox();
	Mesh inside;
	for (const LVector& p : testmesh::randomPointsInBox({-0.95, -0.95, -0.95}, {0.95, 0.95, 0.95}, 300, 7))
		if (testmesh::windingNumber(cage, p) > 0.99)
			inside.points.push_back(p);
	ASSERT_GT(inside.points.size(), 150u);
	expectSame(inside, cage);
}

TEST_F(ClosedForm, IsExactWhereTheIntegrationIsNot)
{
	const Mesh cage = dentedBox();
	// On the dent's floor where two faces meet, in the planes of the dent's faces,
	// a hair inside a face, next to a vertex: where the per-face integration
	// goes wrong (the quadrature test below measures by how much), the closed
	// form stays finite, a partition of unity, and psi stays non-negative.
	const std::vector<LVector> probes = {{0.0, 0.1, 0.3}, {0.55, 0.1, 0.0}, {0.3, -0.5, 0.0}, {0.0, -0.999999999, 0.2},
	                                     {-0.999999, -0.999999, -0.999999}, {-0.5, 0.0, -0.5}};
	const Tables t = bind(Mesh{probes, {}}, cage, false);
	ASSERT_EQ(t.rows, static_cast<Int32>(probes.size()));
	// Every coordinate finite, the vertex weights a partition of unity, psi never negative.
	for (Int32 r = 0; r < t.rows; ++r)
	{
		double sum = 0;
		for (Int32 k = 0; k < t.cols; ++k)
		{
			ASSERT_TRUE(std::isfinite(t.phi[size_t(r) * t.cols + k]));
			sum += t.phi[size_t(r) * t.cols + k];
		}
		EXPECT_NEAR(sum, 1.0, 1e-5) << "probe " << r;
		for (Int32 j = 0; j < t.faces; ++j)
			ASSERT_GE(t.psi[size_t(r) * t.faces + j], 0.0f);
	}
}

TEST_F(ClosedForm, PointsOnTheCageGetTheLimits)
{
	const Mesh cage = testmesh::boxTriangles({-1, -1, -1}, {1, 1, 1});
	// On a face, on an edge, at a vertex.
	const Tables t = bind(Mesh{{{0.2, 0.3, 1.0}, {1.0, 0.0, 1.0}, {1, 1, 1}}, {}}, cage, false);
	ASSERT_EQ(t.rows, 3);
	for (float v : t.phi)
		ASSERT_TRUE(std::isfinite(v));
	for (float v : t.psi)
		ASSERT_TRUE(std::isfinite(v) && v >= 0.0f);
}

TEST_F(ClosedForm, MatchesAQuadratureOfTheIntegralsWhereTheIntegrationFails)
{
	const Mesh cage = dentedBox();
	struct Probe
	{
		LVector at;
		bool inside;
	};
	// The reference's largest error against the quadrature, in phi (its psi stays
	// within 3e-9 throughout), and its vertex-weight sum where that is wrong.
	const std::vector<Probe> probes = {
		// An ordinary point, where all three agree: it vouches for the quadrature.
		{{0.1, -0.3, 0.2}, true},
		// In the plane of the dent's floor, 0.05 beyond it; in the plane of a dent wall.
		{{0.55, 0.1, 0.0}, true},
		{{0.25, -0.35, 0.2}, true},
		// Foot points 1e-8 from the x = 0.5 edge lines, 7e-9 from diagonals.
		{{0.5 + 1e-8, -0.6, 0.2}, true},
		{{0.3, -0.6, 0.3 + 1e-8}, true},
		// A billionth above the bottom, over an edge: 0.3, sum 0.5.
		{{0.0, -0.999999999, 0.2}, true},
		// 1e-7 under the dent's floor: 0.2, sum 0.5.
		{{0.2, 0.1 - 1e-7, 0.35}, true},
		// 1e-8 in from a corner of the box: 0.875, sum 0.125.
		{{-1 + 1e-8, -1 + 1e-8, -1 + 1e-8}, true},
		// 1e-7 from the dent's corner, where the floor meets two walls: 0.225, sum 0.775.
		{{0.5 + 1e-7, 0.1 - 1e-7, 0.5 + 1e-7}, true},
		// 1e-7 outside a corner of the box: 0.125, sum 0.125 where it is 0.
		{{-1.0000001, -1.0000001, -1.0000001}, false},
	};
	Mesh points;
	for (const Probe& p : probes)
		points.points.push_back(p.at);
	const Tables closed = bind(points, cage, false), reference = bind(points, cage, true);
	ASSERT_EQ(closed.rows, static_cast<Int32>(probes.size()));
	ASSERT_EQ(reference.rows, closed.rows);
	ASSERT_EQ(closed.cols, static_cast<Int32>(cage.points.size()));
	ASSERT_EQ(closed.faces, static_cast<Int32>(cage.polygons.size()));

	// The float tables carry about 3e-8 here.
	const double tolerance = 1e-6;
	// Largest gap over a row of both tables.
	auto gap = [](const QuadratureRow& exact, const Tables& t, size_t r) {
		double worst = 0.0;
		for (size_t i = 0; i < exact.phi.size(); ++i)
			worst = std::max(worst, std::fabs(t.phi[r * t.cols + i] - exact.phi[i]));
		for (size_t j = 0; j < exact.psi.size(); ++j)
			worst = std::max(worst, std::fabs(t.psi[r * t.faces + j] - exact.psi[j]));
		return worst;
	};
	GreenQuadrature quadrature;
	double reference_worst = 0.0;
	for (size_t r = 0; r < probes.size(); ++r)
	{
		const QuadratureRow exact = quadratureRow(cage, probes[r].at, quadrature);
		// The quadrature on its own: the weights rebuild the point inside the cage
		// and cancel outside it.
		LVector rebuilt{0, 0, 0};
		double weight = 0.0;
		for (size_t i = 0; i < exact.phi.size(); ++i)
		{
			rebuilt = testmesh::add(rebuilt, testmesh::scaled(cage.points[i], exact.phi[i]));
			weight += exact.phi[i];
		}
		for (size_t j = 0; j < exact.psi.size(); ++j)
		{
			const CPolygon& f = cage.polygons[j];
			const LVector normal = testmesh::cross(testmesh::sub(cage.points[f.b], cage.points[f.a]),
			                                       testmesh::sub(cage.points[f.c], cage.points[f.a]));
			rebuilt = testmesh::add(rebuilt, testmesh::scaled(normal, exact.psi[j] / testmesh::length(normal)));
		}
		const LVector expected = probes[r].inside ? probes[r].at : LVector{0, 0, 0};
		ASSERT_LT(testmesh::distance(rebuilt, expected), 1e-9) << "quadrature, probe " << r;
		ASSERT_NEAR(weight, probes[r].inside ? 1.0 : 0.0, 1e-9) << "quadrature, probe " << r;

		EXPECT_LT(gap(exact, closed, r), tolerance) << "probe " << r;
		if (r == 0)
			EXPECT_LT(gap(exact, reference, r), tolerance);
		else
			reference_worst = std::max(reference_worst, gap(exact, reference, r));
	}
	EXPECT_EQ(quadrature.unconverged, 0);
	EXPECT_GT(reference_worst, 1e5 * tolerance);
}

// The binding's own atan2 and logarithm, which run in vector lanes, against the C library's.
TEST(ClosedFormMath, Atan2AgreesWithTheLibraryInEveryQuadrant)
{
	const double pi = 3.14159265358979323846;
	double worst = 0;
	for (double r : {1e-300, 1e-8, 1.0, 3.7e5, 1e300})
		for (int i = -20000; i <= 20000; ++i)
		{
			const double a = pi * i / 20000.0;
			const double y = r * std::sin(a), x = r * std::cos(a);
			const double want = std::atan2(y, x), got = ClosedFormAtan2(y, x);
			worst = std::max(worst, std::fabs(got - want) / std::max(std::fabs(want), 1e-300));
			ASSERT_EQ(std::signbit(got), std::signbit(want)) << y << " " << x;
		}
	EXPECT_LT(worst, 4.5e-16);
	// Where the reduction switches from one tan(k pi / 16) to the next.
	for (double t : {0.09849140335716425, 0.3033466836073424, 0.5345111359507916, 0.8206787908286602, 1.0})
		for (double f : {1 - 1e-15, 1.0, 1 + 1e-15})
			EXPECT_NEAR(ClosedFormAtan2(t * f, 1.0), std::atan(t * f), 4e-16);
	// The axes: +pi on the negative x axis whatever the zero's sign, 0 at the origin.
	EXPECT_EQ(ClosedFormAtan2(0.0, -2.0), pi);
	EXPECT_EQ(ClosedFormAtan2(-0.0, -2.0), pi);
	EXPECT_EQ(ClosedFormAtan2(3.0, 0.0), pi / 2);
	EXPECT_EQ(ClosedFormAtan2(-3.0, 0.0), -pi / 2);
	EXPECT_EQ(ClosedFormAtan2(0.0, 5.0), 0.0);
	EXPECT_TRUE(std::signbit(ClosedFormAtan2(-0.0, 5.0))) << "as the library: -0";
	EXPECT_EQ(ClosedFormAtan2(0.0, 0.0), 0.0);
}

TEST(ClosedFormMath, Log1pAgreesWithTheLibraryFromZeroToInfinity)
{
	double worst = 0;
	for (int i = 0; i <= 100000; ++i)
	{
		// Every binade from 1e-15 to 1e300: far points give small y, points near an edge huge ones.
		const double y = std::pow(10.0, -15.0 + 315.0 * i / 100000.0);
		const double want = std::log1p(y);
		worst = std::max(worst, std::fabs(ClosedFormLog1p(y) - want) / want);
	}
	EXPECT_LT(worst, 6e-16);
	EXPECT_EQ(ClosedFormLog1p(0.0), 0.0);
	EXPECT_EQ(ClosedFormLog1p(HUGE_VAL), HUGE_VAL);
	// Where the reduction halves the mantissa: 1 + y = sqrt(2).
	EXPECT_NEAR(ClosedFormLog1p(std::sqrt(2.0) - 1.0), 0.5 * std::log(2.0), 2e-16);
}

TEST_F(ClosedForm, AFaceWithoutAreaAddsNothing)
{
	// A box with one more face, (a, b, a): no area, and an edge of no length.
	Mesh cage = testmesh::boxTriangles({-1, -1, -1}, {1, 1, 1});
	const CPolygon first = cage.polygons.front();
	cage.polygons.push_back({first.a, first.b, first.a, first.a});
	Mesh inside;
	for (const LVector& p : testmesh::randomPointsInBox({-0.9, -0.9, -0.9}, {0.9, 0.9, 0.9}, 60, 3))
		inside.points.push_back(p);
	expectSame(inside, cage);
	const Tables t = bind(inside, cage, false);
	ASSERT_EQ(t.rows, 60);
	for (Int32 r = 0; r < t.rows; ++r)
		EXPECT_EQ(t.psi[size_t(r) * t.faces + size_t(t.faces - 1)], 0.0f) << "row " << r;
}

// The deformer's own binding, on every path this machine runs: the same
// tables, bit for bit, as on the scalar path.
TEST_F(ClosedForm, EveryPathBindsTheSameTables)
{
	Mesh bunny = testmesh::objPoints(std::string(MORVEXER_SAMPLES_DIR) + "/bunny.obj");
	Mesh some;
	for (size_t i = 0; i < bunny.points.size(); i += 3)
		some.points.push_back(bunny.points[i]);
	const Mesh cage = testmesh::subdividedBox({-5.5, -0.5, -4.3}, {5.5, 10.2, 4.4}, 5);
	struct Restore
	{
		ClosedFormPath saved = CurrentClosedFormPath();
		~Restore() { SetClosedFormPath(saved); }
	} restore;
	auto same = [](const std::vector<float>& a, const std::vector<float>& b) {
		return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
	};
	SetClosedFormPath(ClosedFormPath::Scalar);
	const Tables scalar = bind(some, cage, false);
	ASSERT_EQ(scalar.rows, static_cast<Int32>(some.points.size()));
	const int best = static_cast<int>(BestClosedFormPath(ReadCpuFeatures()));
	for (int p = 1; p <= best; ++p)
	{
		const ClosedFormPath path = static_cast<ClosedFormPath>(p);
		ASSERT_EQ(SetClosedFormPath(path), path);
		const Tables t = bind(some, cage, false);
		EXPECT_TRUE(same(t.phi, scalar.phi)) << ClosedFormPathName(path);
		EXPECT_TRUE(same(t.psi, scalar.psi)) << ClosedFormPathName(path);
	}
}
