// The buttons of the real module, pressed through the stand-in host on a dense
// mesh inside a cage of a few hundred triangles.
#include <gtest/gtest.h>

#include "vtnhost/actions.h"
#include "support/plugin_files.h"
#include "support/recorder.h"
#include "support/scene.h"
#include "vtnhost/host.h"

using vtnhost::Object;

namespace {

class ModuleCommands : public ::testing::Test
{
protected:
	void SetUp() override
	{
		ASSERT_TRUE(host.loadPlugin(builtPluginPath()));
		doc = host.newDocument();
		deformer = testscene::addObject(host, doc, ID_MORVEXER, "Morvexer");
		ASSERT_NE(deformer, nullptr);
		// A rig: the cage sits under a moved and turned parent.
		rig = testscene::addObject(host, doc, Onull, "Rig");
		rig->matrix = testmesh::product(testmesh::translation({3, 0, -1}), testmesh::rotation({0, 1, 0}, 0.4));
		cage = testscene::addMesh(host, doc, "Cage", testmesh::icosphere({0, 0, 0}, 1.3, 2), rig);
		vtnhost::setLink(deformer, MORVEX_CAGE, cage);
	}

	vtnhost::Host host;
	Recorder recorder{host};
	vtnhost::Document* doc = nullptr;
	Object* deformer = nullptr;
	Object* rig = nullptr;
	Object* cage = nullptr;
};

}  // namespace

TEST_F(ModuleCommands, BindCheckAndRestoreOnADenseMesh)
{
	const std::vector<LVector> rest = cage->points;
	ASSERT_EQ(cage->polygons.size(), 320u);
	ASSERT_TRUE(vtnhost::pressButton(deformer, MORVEX_BIND));
	EXPECT_EQ(deformer->container().find(MORVEX_MEMORY)->s, "0 B");
	EXPECT_NE(cage->firstTag(Tdisplay), nullptr);
	EXPECT_TRUE(cage->colors.xray);
	EXPECT_EQ(recorder.messageCount(cage, MSG_UPDATE), 1u);

	// A mesh of 2562 points, every seventh pushed out of the cage.
	const testmesh::PushedMesh pushed = testmesh::pushedIcosphere({0, 0, 0}, 1.0, 4, 1.6, 7);
	Object* mesh = testscene::addMesh(host, doc, "Mesh", pushed.mesh, rig);
	vtnhost::setLink(deformer, MORVEX_CHECK_OBJECT, mesh);
	ASSERT_TRUE(vtnhost::pressButton(deformer, MORVEX_CHECK));
	ASSERT_EQ(mesh->tags.size(), 1u);
	EXPECT_EQ(mesh->tags[0]->name, "Points outside");
	EXPECT_EQ(testscene::selectedPoints(mesh), testscene::outsideByWinding(mesh, cage));
	EXPECT_EQ(testscene::selectedPoints(mesh), pushed.pushed);

	// A mesh wholly inside gets the distance map instead.
	Object* inner = testscene::addMesh(host, doc, "Inner", testmesh::icosphere({0, 0, 0}, 1.0, 3), rig);
	vtnhost::setLink(deformer, MORVEX_CHECK_OBJECT, inner);
	deformer->container().entries[MORVEX_SAFE_DISTANCE] = vtnhost::Value::Real(0.5);
	ASSERT_TRUE(vtnhost::pressButton(deformer, MORVEX_CHECK));
	ASSERT_EQ(inner->tags.size(), 1u);
	EXPECT_EQ(inner->tags[0]->name, "Safe Distance Map >= 0.5");
	EXPECT_EQ(testscene::selectedPoints(inner).size(), inner->points.size()) << "every point is within 0.5 of the cage";

	// Move and edit the cage, then restore it.
	const LMatrix mg = cage->globalMatrix();
	cage->matrix = testmesh::translation({0, 5, 0});
	for (LVector& p : cage->points)
		p.y *= 2.0;
	ASSERT_TRUE(vtnhost::pressButton(deformer, MORVEX_RESTORE_CAGE));
	EXPECT_EQ(cage->points.size(), rest.size());
	for (size_t i = 0; i < rest.size(); ++i)
		ASSERT_EQ(cage->points[i].y, rest[i].y);
	for (double d : {cage->globalMatrix().off.x - mg.off.x, cage->globalMatrix().v1.z - mg.v1.z})
		EXPECT_NEAR(d, 0.0, 1e-12);
}

TEST_F(ModuleCommands, NoBlocksOutliveTheScene)
{
	ASSERT_TRUE(vtnhost::pressButton(deformer, MORVEX_BIND));
	host.destroyDocument(doc);
	host.unloadPlugins();
	EXPECT_EQ(host.memory().liveBlocks(), 0u);
	EXPECT_EQ(host.nodeCount(), 0u);
}
