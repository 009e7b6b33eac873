// The real module binding a dense mesh to a cage of a few hundred triangles and
// deforming it through the host's evaluation.
#include <gtest/gtest.h>

#include <cmath>

#include "vtnhost/actions.h"
#include "support/plugin_files.h"
#include "support/scene.h"
#include "vtnhost/host.h"

using testmesh::Mesh;
using vtnhost::Object;

namespace {

// A bar of 10 088 points in a box cage of 6 x 6 quads a side (432 triangles once bound).
const LVector kBarLo{-2, -0.4, -0.4}, kBarHi{2, 0.4, 0.4};
const LVector kCageLo{-2.25, -0.65, -0.65}, kCageHi{2.25, 0.65, 0.65};

std::vector<LVector> mapped(const std::vector<LVector>& pts, LVector (*f)(const LVector&))
{
	std::vector<LVector> out;
	for (const LVector& p : pts)
		out.push_back(f(p));
	return out;
}

// Bends the x axis round a circle of radius 3 about the z axis.
LVector bend(const LVector& p)
{
	const double rho = 3.0, a = p.x / rho;
	return {(rho + p.y) * std::sin(a), (rho + p.y) * std::cos(a) - rho, p.z};
}

class ModuleDeformation : public ::testing::Test
{
protected:
	void SetUp() override
	{
		ASSERT_TRUE(host.loadPlugin(builtPluginPath()));
		doc = host.newDocument();
		bar = testscene::addMesh(host, doc, "Bar", testmesh::subdividedBox(kBarLo, kBarHi, 41));
		ASSERT_GE(bar->points.size(), 10000u);
		deformer = host.newObject(ID_MORVEXER, "Morvexer").release();
		doc->insert(std::unique_ptr<Object>(deformer), bar, nullptr);
		cage = testscene::addMesh(host, doc, "Cage", testmesh::subdividedBox(kCageLo, kCageHi, 6));
		vtnhost::setLink(deformer, MORVEX_CAGE, cage);
		rest = cage->points;
		ASSERT_TRUE(vtnhost::pressButton(deformer, MORVEX_BIND));
		ASSERT_EQ(cage->polygons.size(), 432u) << "the bind triangulated the cage";
		host.evaluate(doc);
	}
	double maxError(const std::vector<LVector>& expected) const
	{
		double e = 0;
		for (size_t i = 0; i < expected.size(); ++i)
			e = std::max(e, testmesh::distance(bar->deformCache->points[i], expected[i]));
		return e;
	}
	double diagonal() const { return testmesh::distance(kBarLo, kBarHi); }

	vtnhost::Host host;
	vtnhost::Document* doc = nullptr;
	Object* bar = nullptr;
	Object* deformer = nullptr;
	Object* cage = nullptr;
	std::vector<LVector> rest;
};

}  // namespace

TEST_F(ModuleDeformation, GreenCoordinatePropertiesHoldOnADenseMesh)
{
	ASSERT_NE(bar->deformCache, nullptr);
	EXPECT_EQ(deformer->container().find(MORVEX_MEMORY)->s, "25.01 MB");
	// (a) The unchanged cage reproduces every point.
	EXPECT_LT(maxError(bar->points), 1e-5 * diagonal());

	// (c) A translation of the cage moves each point by the sum of its vertex
	// weights times the translation: the weights sum to one.
	for (LVector& p : cage->points)
		p = testmesh::add(p, {0, 0, 10});
	host.evaluate(doc);
	for (size_t i = 0; i < bar->points.size(); ++i)
		ASSERT_NEAR((bar->deformCache->points[i].z - bar->points[i].z) / 10.0, 1.0, 1e-5) << "point " << i;

	// (b) Rotated, uniformly scaled and translated: the mesh follows the similarity.
	const LMatrix sim = testmesh::product(testmesh::translation({1, -3, 0.5}),
	                                      testmesh::product(testmesh::rotation({0.2, 1, 0.4}, 2.1), testmesh::scaling(0.6)));
	for (size_t k = 0; k < rest.size(); ++k)
		cage->points[k] = testmesh::apply(sim, rest[k]);
	host.evaluate(doc);
	std::vector<LVector> expected;
	for (const LVector& p : bar->points)
		expected.push_back(testmesh::apply(sim, p));
	EXPECT_LT(maxError(expected), 1e-5 * 0.6 * diagonal());
}

TEST_F(ModuleDeformation, ABentCageBendsTheBarSmoothly)
{
	cage->points = mapped(rest, bend);
	host.evaluate(doc);
	const std::vector<LVector>& out = bar->deformCache->points;
	const std::vector<LVector> analytic = mapped(bar->points, bend);
	// Near the exact bend; Green coordinates are conformal, so the outer side
	// swells a little in every direction rather than only along the bar.
	EXPECT_LT(maxError(analytic), 0.05 * diagonal());
	// Detail kept: every face keeps its shape (the ratio of its sides and its
	// corner angle) and faces the way the exact bend turns it, so nothing kinks or folds.
	double worst_aspect = 0, worst_angle = 0, worst_facing = 1;
	for (const CPolygon& f : bar->polygons)
	{
		const LVector* in = bar->points.data();
		const LVector u0 = testmesh::sub(in[f.b], in[f.a]), v0 = testmesh::sub(in[f.d], in[f.a]);
		const LVector u1 = testmesh::sub(out[size_t(f.b)], out[size_t(f.a)]), v1 = testmesh::sub(out[size_t(f.d)], out[size_t(f.a)]);
		const double aspect = (testmesh::length(u1) / testmesh::length(v1)) / (testmesh::length(u0) / testmesh::length(v0));
		worst_aspect = std::max(worst_aspect, std::fabs(aspect - 1.0));
		const double cos1 = testmesh::dot(u1, v1) / (testmesh::length(u1) * testmesh::length(v1));
		worst_angle = std::max(worst_angle, std::fabs(cos1));
		const LVector n1 = testmesh::cross(u1, v1);
		const LVector n2 = testmesh::cross(testmesh::sub(analytic[size_t(f.b)], analytic[size_t(f.a)]),
		                                   testmesh::sub(analytic[size_t(f.d)], analytic[size_t(f.a)]));
		worst_facing = std::min(worst_facing, testmesh::dot(n1, n2) / (testmesh::length(n1) * testmesh::length(n2)));
	}
	// Conformality is approximate where the cage's ends bend the bar's caps.
	EXPECT_LT(worst_aspect, 0.2);
	EXPECT_LT(worst_angle, 0.05) << "right angles stay near right";
	EXPECT_GT(worst_facing, 0.99);
}
