// Inside/outside classification by rays, the point-triangle distance, the
// distance map and the check command.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "object/morvex_facetree.h"
#include "vtnhost/actions.h"
#include "support/deformer_scene.h"
#include "vtn_raycollider.h"

using testmesh::Mesh;
using vtnhost::Object;

namespace {

class Classification : public DeformerScene
{
protected:
	Object* cageOf(const Mesh& mesh) { return addLinked(MORVEX_CAGE, mesh, "Cage"); }
	Object* meshOf(const std::vector<LVector>& points) { return addLinked(MORVEX_CHECK_OBJECT, Mesh{points, {}}, "Mesh"); }
	std::vector<Int32> outside(Object* mesh, Object* cage)
	{
		BaseSelect* bs = BaseSelect::Alloc();
		m->trova_punti_ext(mesh->asObject(), cage->asObject(), bs);
		std::vector<Int32> out;
		for (Int32 i = 0; i < static_cast<Int32>(mesh->points.size()); ++i)
			if (bs->IsSelected(i))
				out.push_back(i);
		BaseSelect::Free(bs);
		return out;
	}
	void setSafeDistance(double d) { deformer->container().entries[MORVEX_SAFE_DISTANCE] = vtnhost::Value::Real(d); }
};

const LVector kLo{-1, -1, -1}, kHi{1, 1, 1};

}  // namespace

TEST(MatrixInverse, UndoesTheMatrixAndFallsBackToIdentity)
{
	const LMatrix m = testmesh::product(testmesh::translation({1, -2, 3}),
	                                    testmesh::product(testmesh::rotation({1, 2, 3}, 0.7), testmesh::scaling(2.5)));
	const LMatrix r = !m * m;
	for (double v : {r.v1.x, r.v2.y, r.v3.z})
		EXPECT_NEAR(v, 1.0, 1e-12);
	for (double v : {r.off.x, r.off.y, r.off.z, r.v1.y, r.v2.z, r.v3.x})
		EXPECT_NEAR(v, 0.0, 1e-12);
	LMatrix flat = m;
	flat.v3 = {0, 0, 0};
	flat.off = {4, 5, 6};
	const LMatrix id = !flat;
	EXPECT_EQ(id.off.x, 0);
	EXPECT_EQ(id.v1.x, 1);
	EXPECT_EQ(id.v2.y, 1);
	// In single precision a NaN determinant counts as singular too.
	SMatrix s = ToSingle(m);
	s.v1.x = std::numeric_limits<float>::quiet_NaN();
	const SMatrix si = InvertMatrix(s, true);
	EXPECT_EQ(si.v1.x, 1.0f);
	EXPECT_EQ(si.off.y, 0.0f);
}

TEST_F(Classification, PerturbedDirectionsStayNearTheirAxis)
{
	const SVector axes[3] = {{-1, 0, 0}, {0, 1, 0}, {0, 0, -1}};
	for (const SVector& axis : axes)
	{
		internals(m).random.Init(4729848);
		for (int k = 0; k < 7; ++k)
		{
			const SVector d = m->get_new_dir(axis, 0.5235988f);
			const float along = axis.x != 0 ? d.x : (axis.y != 0 ? d.y : d.z);
			EXPECT_EQ(along, axis.x + axis.y + axis.z) << "the axis component is kept";
			for (float side : {d.x, d.y, d.z})
				EXPECT_TRUE(side == along || std::fabs(side) <= 0.5f) << side;
		}
	}
	// Re-seeding repeats the series.
	internals(m).random.Init(4729848);
	const SVector first = m->get_new_dir({1, 0, 0}, 0.5235988f);
	internals(m).random.Init(4729848);
	EXPECT_EQ(m->get_new_dir({1, 0, 0}, 0.5235988f).y, first.y);
}

TEST_F(Classification, PointsOnVerticesAndEdgesCountAsInside)
{
	Object* cage = cageOf(testmesh::boxTriangles(kLo, kHi));
	// Corners, edge midpoints, face centres and a diagonal edge of the triangulation.
	Object* mesh = meshOf({{1, 1, 1}, {-1, -1, -1}, {1, 0, 1}, {0, -1, -1}, {1, 0, 0}, {0, 0, -1}, {0.3, 0.3, 1}, {0, 0, 0}});
	EXPECT_TRUE(outside(mesh, cage).empty());
}

TEST_F(Classification, AnOutsidePointWhoseFirstRayHitsIsStillOutside)
{
	Object* cage = cageOf(testmesh::boxTriangles(kLo, kHi));
	// Left of the box: +X hits the cage, -X escapes.
	Object* mesh = meshOf({{-3, 0.2, 0.1}, {0, 0, 0}, {0.5, 0.5, 5}, {2, 2, 2}});
	EXPECT_EQ(outside(mesh, cage), (std::vector<Int32>{0, 2, 3}));
}

TEST_F(Classification, TransformsTheObjectIntoTheCagesFrame)
{
	Object* cage = cageOf(testmesh::boxTriangles(kLo, kHi));
	cage->matrix = testmesh::product(testmesh::translation({10, 0, 0}), testmesh::rotation({0, 1, 0}, 0.5));
	Object* mesh = meshOf({{10, 0, 0}, {0, 0, 0}, {10.5, 0.5, 0.2}});
	EXPECT_EQ(outside(mesh, cage), (std::vector<Int32>{1}));
	mesh->matrix = testmesh::translation({10, 0, 0});
	EXPECT_EQ(outside(mesh, cage), (std::vector<Int32>{0, 2}));
}

TEST_F(Classification, AnEmptyObjectHasNothingOutside)
{
	Object* cage = cageOf(testmesh::boxTriangles(kLo, kHi));
	Object* mesh = meshOf({});
	BaseSelect* bs = BaseSelect::Alloc();
	EXPECT_FALSE(m->trova_punti_ext(mesh->asObject(), cage->asObject(), bs));
	EXPECT_EQ(bs->GetCount(), 0);
	BaseSelect::Free(bs);
}

TEST_F(Classification, ValidPointsAreTheOnesNotOutside)
{
	Object* cage = cageOf(testmesh::boxTriangles(kLo, kHi));
	Object* mesh = meshOf({{0, 0, 0}, {5, 0, 0}, {0.5, 0.5, 0.5}, {0, -7, 0}});
	Cobjbuff* buff = NewObj(Cobjbuff);
	buff->link = BaseLink::Alloc();
	buff->link->SetLink(mesh->asObject());
	EXPECT_EQ(m->Find_Valid_Pts(buff, cage->asObject()), 2);
	EXPECT_TRUE(buff->validPoints->IsSelected(0));
	EXPECT_FALSE(buff->validPoints->IsSelected(1));
	EXPECT_TRUE(buff->validPoints->IsSelected(2));
	EXPECT_EQ(m->Find_Valid_Pts(buff, cage->asObject()), 2) << "a second run replaces the set";
	FreeRecord(buff);
}

TEST_F(Classification, CheckTagsOutsidePointsAndAddsATagEachTime)
{
	cageOf(testmesh::boxTriangles(kLo, kHi));
	Object* mesh = meshOf({{0, 0, 0}, {3, 0, 0}, {0, 0, 0.99}, {0, -4, 0}});
	ASSERT_TRUE(vtnhost::pressButton(deformer, MORVEX_CHECK));
	ASSERT_EQ(mesh->tags.size(), 1u);
	EXPECT_EQ(mesh->tags[0]->name, "Points outside");
	EXPECT_EQ(testscene::selectedPoints(mesh), (std::vector<Int32>{1, 3}));
	ASSERT_TRUE(vtnhost::pressButton(deformer, MORVEX_CHECK));
	EXPECT_EQ(mesh->tags.size(), 2u) << "no distance map while points are outside";
	EXPECT_EQ(mesh->tags[1]->name, "Points outside");
}

TEST_F(Classification, WithNothingOutsideTheCheckMapsPointsNearTheCage)
{
	cageOf(testmesh::boxTriangles(kLo, kHi));
	// 0.5 from the +X face; exactly 0.25 from it; 0.05 from a corner's faces; the centre.
	Object* mesh = meshOf({{0.5, 0, 0}, {0.75, 0, 0}, {0.95, 0.95, 0.95}, {0, 0, 0}});
	setSafeDistance(0.25);
	ASSERT_TRUE(vtnhost::pressButton(deformer, MORVEX_CHECK));
	ASSERT_EQ(mesh->tags.size(), 1u);
	EXPECT_EQ(mesh->tags[0]->name, "Safe Distance Map >= 0.25") << "the distance, not its square";
	EXPECT_EQ(testscene::selectedPoints(mesh), (std::vector<Int32>{2})) << "exactly at the distance is not closer";

	setSafeDistance(0.0);
	ASSERT_TRUE(vtnhost::pressButton(deformer, MORVEX_CHECK));
	EXPECT_EQ(mesh->tags.size(), 1u) << "nothing is within a distance of 0";
	EXPECT_TRUE(m->Valuta_struttura(deformer->asObject(), mesh->asObject(), doc->findByName("Cage")->asObject()));
}

TEST_F(Classification, ACageWithoutUsablePolygonsLeavesEveryPointFar)
{
	Object* cage = cageOf(testmesh::boxTriangles(kLo, kHi));
	Object* mesh = meshOf({{0.99, 0, 0}});
	for (CPolygon& p : cage->polygons)
		p.a = 99;
	setSafeDistance(1000.0);
	m->Crea_mappa_distanze(deformer->asObject(), mesh->asObject(), cage->asObject());
	EXPECT_TRUE(mesh->tags.empty());
}

TEST_F(Classification, CheckNeedsBothLinksAndADocument)
{
	Object* mesh = meshOf({{5, 5, 5}});
	ASSERT_TRUE(vtnhost::pressButton(deformer, MORVEX_CHECK));
	EXPECT_TRUE(mesh->tags.empty()) << "no cage linked";
	vtnhost::setLink(deformer, MORVEX_CHECK_OBJECT, nullptr);
	cageOf(testmesh::boxTriangles(kLo, kHi));
	ASSERT_TRUE(vtnhost::pressButton(deformer, MORVEX_CHECK));
	EXPECT_TRUE(mesh->tags.empty()) << "no mesh linked";
	// Objects of another document do not count.
	vtnhost::Document* other = host.newDocument();
	Object* foreign = testscene::addMesh(host, other, "Elsewhere", Mesh{{{5, 5, 5}}, {}});
	vtnhost::setLink(deformer, MORVEX_CHECK_OBJECT, foreign);
	ASSERT_TRUE(vtnhost::pressButton(deformer, MORVEX_CHECK));
	EXPECT_TRUE(foreign->tags.empty());
	host.destroyDocument(other);
}

TEST_F(Classification, CheckMatchesTheWindingNumberOnADenseMesh)
{
	Object* cage = cageOf(testmesh::icosphere({0, 0, 0}, 1.3, 2));
	cage->matrix = testmesh::product(testmesh::translation({2, -1, 0.5}), testmesh::rotation({0.3, 1, 0.2}, 0.9));
	const testmesh::PushedMesh pushed = testmesh::pushedIcosphere({0, 0, 0}, 1.0, 4, 1.6, 7);
	Object* mesh = meshOf(pushed.mesh.points);
	mesh->matrix = cage->matrix;
	ASSERT_TRUE(vtnhost::pressButton(deformer, MORVEX_CHECK));
	const std::vector<Int32> expected = testscene::outsideByWinding(mesh, cage);
	ASSERT_FALSE(expected.empty());
	EXPECT_EQ(expected, pushed.pushed);
	EXPECT_EQ(testscene::selectedPoints(mesh), expected);
}

TEST_F(Classification, AnOpenCageLetsTheRaysOut)
{
	// A box without its top: every point inside sees the sky through the hole.
	Mesh open = testmesh::boxTriangles(kLo, kHi);
	open.polygons.erase(std::remove_if(open.polygons.begin(), open.polygons.end(),
	                                   [&](const CPolygon& p) {
		                                   return open.points[size_t(p.a)].z > 0 && open.points[size_t(p.b)].z > 0 && open.points[size_t(p.c)].z > 0;
	                                   }),
	                    open.polygons.end());
	ASSERT_EQ(open.polygons.size(), 10u);
	cageOf(open);
	Object* mesh = meshOf({{0, 0, 0}, {0.5, -0.5, 0.9}});
	ASSERT_TRUE(vtnhost::pressButton(deformer, MORVEX_CHECK));
	EXPECT_EQ(testscene::selectedPoints(mesh), (std::vector<Int32>{0, 1}));
}

TEST_F(Classification, CheckOutsideADocumentDoesNothing)
{
	std::unique_ptr<Object> loose = host.newObject(ID_MORVEXER);
	Object* cage = cageOf(testmesh::boxTriangles(kLo, kHi));
	Object* mesh = meshOf({{5, 5, 5}});
	vtnhost::setLink(loose.get(), MORVEX_CAGE, cage);
	vtnhost::setLink(loose.get(), MORVEX_CHECK_OBJECT, mesh);
	ASSERT_TRUE(vtnhost::pressButton(loose.get(), MORVEX_CHECK));
	EXPECT_TRUE(mesh->tags.empty());
}

namespace {

// The classification as one thread casts it, point after point: the six axis
// rays, and for an axis that misses, the seven tilted rays of a generator
// seeded afresh for that axis. The outside points the workers find must be these.
std::vector<Int32> outsideOneByOne(Morvex* m, Object* mesh, Object* cage)
{
	const SVector axes[6] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
	GeRayCollider* rc = GeRayCollider::Alloc();
	rc->Init(cage->asObject(), false);
	const SMatrix T = InvertMatrix(ToSingle(cage->asObject()->GetMg()), true) * ToSingle(mesh->asObject()->GetMg());
	const float length = float(Len(cage->asObject()->GetRad() * 2.01));
	std::vector<Int32> out;
	for (size_t i = 0; i < mesh->points.size(); ++i)
	{
		const LVector origin = ToDouble(T * ToSingle(mesh->points[i]));
		for (const SVector& axis : axes)
		{
			if (rc->Intersect(origin, ToDouble(axis), length))
				continue;
			internals(m).random.Init(4729848);
			bool hit = false;
			for (int k = 0; k < 7 && !hit; ++k)
			{
				SVector d = m->get_new_dir(axis, 0.5235988f);
				const float len = Len(d);
				if (len != 0.0f)
					d = d / len;
				hit = rc->Intersect(origin, ToDouble(d), length);
			}
			if (!hit)
			{
				out.push_back(Int32(i));
				break;
			}
		}
	}
	GeRayCollider::Free(rc);
	return out;
}

}  // namespace

// Points on the cage's edges and corners (where an axis ray may slip between
// two triangles and the tilted rays decide), inside, outside, on any number
// of workers: the points one thread would find.
TEST_F(Classification, WorkersFindTheOutsidePointsOneThreadFinds)
{
	Object* cage = cageOf(testmesh::icosphere({0, 0, 0}, 1.3, 2));
	cage->matrix = testmesh::product(testmesh::translation({2, -1, 0.5}), testmesh::rotation({0.3, 1, 0.2}, 0.9));
	std::vector<LVector> points = testmesh::pushedIcosphere({0, 0, 0}, 1.0, 4, 1.6, 7).mesh.points;
	for (const LVector& p : cage->points)
		points.push_back(p);
	for (const CPolygon& f : cage->polygons)
		points.push_back(testmesh::scaled(testmesh::add(cage->points[size_t(f.a)], cage->points[size_t(f.b)]), 0.5));
	for (const LVector& p : testmesh::randomPointsInBox({-2, -2, -2}, {2, 2, 2}, 3000, 11))
		points.push_back(p);
	Object* mesh = meshOf(points);
	mesh->matrix = cage->matrix;
	const std::vector<Int32> expected = outsideOneByOne(m, mesh, cage);
	ASSERT_GT(expected.size(), 500u);
	ASSERT_LT(expected.size(), points.size() - 500);
	const int workers_before = host.workerCount();
	for (int workers : {0, 1, 2, 3})
	{
		host.setWorkerCount(workers);
		EXPECT_EQ(outside(mesh, cage), expected) << "workers " << workers;
	}
	host.setWorkerCount(workers_before);
}

// A break while the rays are cast, on workers or here: no answer, and a bind
// of the inside points stops as a break in the bind does.
TEST_F(Classification, ABreakStopsTheRays)
{
	Object* cage = cageOf(testmesh::boxTriangles(kLo, kHi));
	Object* mesh = meshOf(testmesh::randomPointsInBox({-1.5, -1.5, -1.5}, {1.5, 1.5, 1.5}, 5000, 3));
	const int workers_before = host.workerCount();
	for (int workers : {0, 2})
	{
		host.setWorkerCount(workers);
		Cobjbuff* buff = NewObj(Cobjbuff);
		buff->link = BaseLink::Alloc();
		buff->link->SetLink(mesh->asObject());
		vtnhost::Thread at_once;
		at_once.breakAfterTests(0);
		EXPECT_EQ(m->Find_Valid_Pts(buff, cage->asObject(), at_once.asThread()), -1) << "workers " << workers;
		EXPECT_EQ(buff->validPoints, nullptr);
		if (workers == 0)
		{
			// Here the break is asked for before every 64 points: at 0, 64 and 128, which breaks.
			vtnhost::Thread later;
			later.breakAfterTests(2);
			EXPECT_EQ(m->Find_Valid_Pts(buff, cage->asObject(), later.asThread()), -1);
			EXPECT_EQ(later.tests(), 3);
		}
		vtnhost::Thread never;
		EXPECT_GT(m->Find_Valid_Pts(buff, cage->asObject(), never.asThread()), 0) << "workers " << workers;
		FreeRecord(buff);
	}
	host.setWorkerCount(workers_before);
}

// Without memory for the answers no point is known to be inside: none is
// counted valid (a bind of the inside points then binds nothing), and the
// check adds no tag, rather than treating every point as inside.
TEST_F(Classification, WithoutMemoryNoPointCountsAsInside)
{
	Object* cage = cageOf(testmesh::boxTriangles(kLo, kHi));
	Object* mesh = meshOf({{0, 0, 0}, {5, 0, 0}, {0.5, 0.5, 0.5}});
	Cobjbuff* buff = NewObj(Cobjbuff);
	buff->link = BaseLink::Alloc();
	buff->link->SetLink(mesh->asObject());
	host.memory().failAfter(0);
	const Int32 valid = m->Find_Valid_Pts(buff, cage->asObject());
	host.memory().failAfter(-1);
	EXPECT_EQ(valid, 0);
	EXPECT_EQ(buff->validPoints, nullptr);
	EXPECT_EQ(m->Find_Valid_Pts(buff, cage->asObject()), 2);
	FreeRecord(buff);

	setSafeDistance(100.0);
	host.memory().failAfter(0);
	EXPECT_FALSE(m->Valuta_struttura(deformer->asObject(), mesh->asObject(), cage->asObject()));
	host.memory().failAfter(-1);
	EXPECT_TRUE(mesh->tags.empty());
}

// The map on any number of workers marks the points the loop over every face
// puts closer than the safe distance, those exactly at it included.
TEST_F(Classification, TheDistanceMapIsTheLoopsOnAnyNumberOfWorkers)
{
	Object* cage = cageOf(testmesh::icosphere({0, 0, 0}, 1.5, 2));
	std::vector<LVector> points = testmesh::randomPointsInBox({-1, -1, -1}, {1, 1, 1}, 4000, 21);
	// And points halfway to some of the cage's corners.
	for (size_t k = 0; k < cage->points.size(); k += 7)
		points.push_back(testmesh::scaled(cage->points[k], 0.5));
	std::vector<Int32> expected;
	const double safe = 0.45;
	for (size_t i = 0; i < points.size(); ++i)
	{
		const double d = NearestFaceDistanceByLoop(cage->points.data(), Int32(cage->points.size()), cage->polygons.data(),
		                                           Int32(cage->polygons.size()), points[i]);
		if (safe * safe > d)
			expected.push_back(Int32(i));
	}
	ASSERT_GT(expected.size(), 100u);
	ASSERT_LT(expected.size(), points.size() - 100);
	Object* mesh = meshOf(points);
	setSafeDistance(safe);
	const int workers_before = host.workerCount();
	for (int workers : {0, 1, 3})
	{
		host.setWorkerCount(workers);
		mesh->tags.clear();
		m->Crea_mappa_distanze(deformer->asObject(), mesh->asObject(), cage->asObject());
		ASSERT_EQ(mesh->tags.size(), 1u);
		EXPECT_EQ(testscene::selectedPoints(mesh), expected) << "workers " << workers;
	}
	host.setWorkerCount(workers_before);
}
