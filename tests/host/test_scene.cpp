// The stand-in host's scene: faces and command 221, clones, the object tree,
// matrices through parents, links and tags.
#include <gtest/gtest.h>

#include "vtnhost/actions.h"
#include "support/recorder.h"
#include "support/scene.h"
#include "host/host_environment.h"
#include "vtnhost/matrix.h"

using vtnhost::Object;

namespace {

double area(const std::vector<LVector>& pts, const CPolygon& p)
{
	const LVector n = testmesh::cross(testmesh::sub(pts[size_t(p.b)], pts[size_t(p.a)]), testmesh::sub(pts[size_t(p.c)], pts[size_t(p.a)]));
	const double tri = 0.5 * testmesh::length(n);
	if (p.c == p.d)
		return tri;
	const LVector m = testmesh::cross(testmesh::sub(pts[size_t(p.c)], pts[size_t(p.a)]), testmesh::sub(pts[size_t(p.d)], pts[size_t(p.a)]));
	return tri + 0.5 * testmesh::length(m);
}

}  // namespace

TEST(HostScene, CommandTriangulatesQuadsAndNgonsInPlace)
{
	vtnhost::Host& host = testHost();
	// An L-shaped hexagon (not convex), a quad beside it, a triangle.
	std::unique_ptr<Object> op = host.newPolygonObject(
	    "Shape", {{0, 0, 0}, {2, 0, 0}, {2, 1, 0}, {1, 1, 0}, {1, 2, 0}, {0, 2, 0}, {3, 0, 0}, {3, 1, 0}, {4, 0, 0}}, {});
	ASSERT_TRUE(op->addFace({0, 1, 2, 3, 4, 5}));
	ASSERT_TRUE(op->addFace({1, 6, 7, 2}));
	ASSERT_TRUE(op->addFace({6, 8, 7}));
	EXPECT_FALSE(op->addFace({0, 1, 99}));
	ASSERT_EQ(op->ngons.size(), 1u);
	const size_t before = op->polygons.size();
	EXPECT_LT(before, 4u + 2u) << "an n-gon is kept in fewer polygons than its triangles";
	double total = 0;
	for (const CPolygon& p : op->polygons)
		total += area(op->points, p);
	EXPECT_NEAR(total, 3.0 + 1.0 + 0.5, 1e-12);

	const std::vector<LVector> points = op->points;
	ModelingCommandData mcd{};
	mcd.op = op->asObject();
	ASSERT_TRUE(host.sendModelingCommand(MCOMMAND_TRIANGULATE, &mcd));
	EXPECT_EQ(op->polygons.size(), 4u + 2u + 1u);
	EXPECT_TRUE(op->ngons.empty());
	double after = 0;
	for (const CPolygon& p : op->polygons)
	{
		EXPECT_EQ(p.c, p.d);
		EXPECT_GT(area(op->points, p), 0.0);
		after += area(op->points, p);
	}
	EXPECT_NEAR(after, total, 1e-12) << "no triangle leaves the L";
	for (size_t i = 0; i < points.size(); ++i)
		EXPECT_EQ(op->points[i].x, points[i].x) << "points keep their indices and places";

	{
		Recorder recorder(host);
		recorder.failModeling = true;
		EXPECT_FALSE(host.sendModelingCommand(MCOMMAND_TRIANGULATE, &mcd)) << "a recorder can make commands fail";
		ASSERT_EQ(recorder.modelingCommands.size(), 1u);
		EXPECT_EQ(recorder.modelingCommands[0].command, MCOMMAND_TRIANGULATE);
		EXPECT_EQ(recorder.modelingCommands[0].node, op->id());
	}
	EXPECT_EQ(host.recorder(), nullptr) << "a recorder leaves with its scope";
	std::unique_ptr<Object> null = host.newObject(Onull);
	mcd.op = null->asObject();
	EXPECT_FALSE(host.sendModelingCommand(MCOMMAND_TRIANGULATE, &mcd)) << "only polygon objects triangulate";
}

TEST(HostScene, ClonesCopyGeometryTagsAndChildrenByFlag)
{
	vtnhost::Host& host = testHost();
	vtnhost::Document* doc = host.newDocument();
	Object* cage = testscene::addMesh(host, doc, "Cage", testmesh::box({0, 0, 0}, {1, 1, 1}));
	testscene::addMesh(host, doc, "Child", testmesh::box({0, 0, 0}, {1, 1, 1}), cage);
	cage->insertTag(std::unique_ptr<vtnhost::Tag>(static_cast<vtnhost::Tag*>(host.newNode(Tdisplay).release())), nullptr);
	cage->colors.xray = true;

	std::unique_ptr<Object> all = host.cloneObject(*cage, COPYFLAGS_NO_ANIMATION | COPYFLAGS_NO_BITS);
	EXPECT_EQ(all->name, "Cage");
	EXPECT_EQ(all->points.size(), 8u);
	EXPECT_TRUE(all->colors.xray);
	EXPECT_EQ(all->tags.size(), 1u);
	EXPECT_EQ(all->children().size(), 1u);
	EXPECT_EQ(all->document(), nullptr) << "a clone belongs to no document until inserted";

	std::unique_ptr<Object> bare = host.cloneObject(*cage, COPYFLAGS_NO_ANIMATION | COPYFLAGS_NO_BITS | COPYFLAGS_NO_BRANCHES | COPYFLAGS_NO_HIERARCHY);
	EXPECT_TRUE(bare->tags.empty());
	EXPECT_TRUE(bare->children().empty());
	host.destroyDocument(doc);
}

TEST(HostScene, TreeOrderInsertionBeforeAndGlobalMatrices)
{
	vtnhost::Host& host = testHost();
	vtnhost::Document* doc = host.newDocument();
	Object* a = testscene::addObject(host, doc, Onull, "A");
	Object* b = testscene::addObject(host, doc, Onull, "B");
	doc->insertBefore(host.newObject(Onull, "X"), b);
	doc->insertBefore(host.newObject(Onull, "W"), a);
	std::vector<std::string> names;
	for (Object* o : doc->objects())
		names.push_back(o->name);
	EXPECT_EQ(names, (std::vector<std::string>{"W", "A", "X", "B"}));

	a->matrix = testmesh::product(testmesh::translation({1, 2, 3}), testmesh::rotation({0, 0, 1}, 1.0));
	Object* child = testscene::addMesh(host, doc, "C", testmesh::box({0, 0, 0}, {2, 4, 6}), a);
	const LMatrix want = testmesh::product(testmesh::translation({-4, 0, 1}), testmesh::rotation({1, 0, 0}, 0.5));
	child->setGlobalMatrix(want);
	const LMatrix got = child->globalMatrix();
	for (double d : {got.off.x - want.off.x, got.off.z - want.off.z, got.v2.y - want.v2.y, got.v3.x - want.v3.x})
		EXPECT_NEAR(d, 0.0, 1e-12);
	EXPECT_EQ(child->dirty(DIRTYFLAGS_MATRIX), 1);
	EXPECT_EQ(child->boundingRadius().z, 3.0);
	EXPECT_EQ(child->document(), doc);

	// A link to a node that is gone reads as empty.
	vtnhost::setLink(b, 1000, child);
	const uint64_t id = child->id();
	EXPECT_EQ(host.findNode(id), child);
	std::unique_ptr<Object> removed = doc->remove(a);
	EXPECT_EQ(child->document(), nullptr) << "children leave with their parent";
	removed.reset();
	EXPECT_EQ(host.findNode(id), nullptr);
	host.destroyDocument(doc);
}
