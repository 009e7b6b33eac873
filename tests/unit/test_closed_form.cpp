// The closed-form binding against the per-face integration it replaces: the
// same coordinates on real meshes, and exact where the integration is not.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "support/deformer_scene.h"

using testmesh::Mesh;
using vtnhost::Object;

namespace {

Mesh readObjPoints(const std::string& path)
{
	Mesh m;
	std::ifstream in(path);
	std::string line;
	while (std::getline(in, line))
		if (line.rfind("v ", 0) == 0)
		{
			LVector p;
			std::sscanf(line.c_str() + 2, "%lf %lf %lf", &p.x, &p.y, &p.z);
			m.points.push_back(p);
		}
	return m;
}

// A box with a deep dent in its top: planes of the dent's faces run through the inside.
Mesh dentedBox()
{
	Mesh m = testmesh::triangulated(testmesh::subdividedBox({-1, -1, -1}, {1, 1, 1}, 4));
	for (LVector& p : m.points)
		if (p.y > 0.99 && std::fabs(p.x) < 0.6 && std::fabs(p.z) < 0.6)
			p.y = 0.1;
	return m;
}

class ClosedForm : public DeformerScene
{
protected:
	struct Tables
	{
		std::vector<float> phi, psi;
		Int32 rows = 0, cols = 0, faces = 0;
	};
	Tables bind(Mesh mesh, const Mesh& cage, bool reference)
	{
		// Only objects with polygons are deformed; points alone get one triangle.
		if (mesh.polygons.empty())
			mesh.polygons.push_back({0, 1, 2, 2});
		Object* op = testscene::addMesh(host, doc, "Mesh", mesh);
		std::unique_ptr<Object> d = doc->remove(deformer);
		doc->insert(std::move(d), op, nullptr);
		Object* c = addLinked(MORVEX_CAGE, cage, "Cage");
		m->referenceBinding = reference;
		EXPECT_TRUE(host.pressButton(deformer, MORVEX_BIND));
		host.evaluate(doc);
		Tables t;
		if (m->bindings.GetCount() == 1)
		{
			const Cobjbuff* r = m->bindings[0];
			t.rows = r->pointCount;
			t.cols = r->cagePointCount;
			t.faces = r->faceCount;
			t.phi.assign(r->FI[0], r->FI[0] + size_t(t.rows) * size_t(t.cols));
			t.psi.assign(r->PSI[0], r->PSI[0] + size_t(t.rows) * size_t(t.faces));
		}
		// Leave the scene as it was for the next bind.
		std::unique_ptr<Object> back = doc->remove(deformer);
		doc->insert(std::move(back), nullptr, nullptr);
		doc->remove(op).reset();
		doc->remove(c).reset();
		return t;
	}
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
	Mesh bunny = readObjPoints(std::string(MORVEXER_SAMPLES_DIR) + "/bunny.obj");
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
	// a hair inside a face, next to a vertex. The per-face integration gives 0.5
	// instead of 1 a billionth inside the bottom face, and 0.06 outside a corner
	// where the true value is 0.
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
