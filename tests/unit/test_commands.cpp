// The deformer's buttons and messages on real geometry in the stand-in host,
// with the deformer's own state in view.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "vtnhost/actions.h"
#include "support/deformer_scene.h"
#include "vtnhost/matrix.h"

using testmesh::Mesh;
using vtnhost::Object;

namespace {

class Commands : public DeformerScene
{
protected:
	void SetUp() override
	{
		DeformerScene::SetUp();
		if (!host.icon(ID_MORVEXER_ICONS))
		{
			vtnhost::Bitmap strip;
			strip.resize(64, 32);
			ASSERT_TRUE(host.registerIcon(ID_MORVEXER_ICONS, strip, 0, 0, 64, 32));
		}
	}

	Object* addCage(const Mesh& mesh, const std::string& name = "Cage") { return addLinked(MORVEX_CAGE, mesh, name); }
	bool bind() { return vtnhost::pressButton(deformer, MORVEX_BIND); }
	std::string memoryText() const
	{
		const vtnhost::Value* v = deformer->container().find(MORVEX_MEMORY);
		return v ? v->s : std::string("<absent>");
	}
	size_t commandsOn(const Object* op) const
	{
		const auto& c = unitRecorder().modelingCommands;
		return static_cast<size_t>(std::count_if(c.begin(), c.end(), [&](const auto& r) { return r.node == op->id(); }));
	}
	size_t undoFor(const Object* op) const
	{
		return static_cast<size_t>(std::count_if(doc->undo.begin(), doc->undo.end(), [&](const auto& u) { return u.node == op->id(); }));
	}
};

const LVector kLo{-1, -1, -1}, kHi{1, 2, 3};

}  // namespace

TEST_F(Commands, BindOnATriangulatedCageCapturesTheRestPose)
{
	Object* cage = addCage(testmesh::boxTriangles(kLo, kHi));
	cage->matrix = testmesh::product(testmesh::translation({5, 0, 0}), testmesh::rotation({0, 0, 1}, 0.3));
	const int events = unitRecorder().events;
	ASSERT_TRUE(bind());

	EXPECT_EQ(internals(m).bindArmed, 1);
	ASSERT_EQ(internals(m).restPoints.GetCount(), 8);
	ASSERT_EQ(internals(m).restAreas.GetCount(), 12);
	for (int i = 0; i < 8; ++i)
		EXPECT_EQ(internals(m).restPoints[i].z, cage->points[static_cast<size_t>(i)].z);
	for (int i = 0; i < 12; ++i)
	{
		const CPolygon& p = cage->polygons[static_cast<size_t>(i)];
		EXPECT_EQ(internals(m).restAreas[i], HeronArea(cage->points[size_t(p.a)], cage->points[size_t(p.b)], cage->points[size_t(p.c)]));
	}
	EXPECT_EQ(internals(m).restMatrix.off.x, 5);
	EXPECT_EQ(internals(m).restMatrix.v1.y, cage->matrix.v1.y);
	EXPECT_EQ(memoryText(), "0 B");
	EXPECT_EQ(internals(m).memoryUsed, 0);

	// The cage is shown see-through and not rendered; the deformer is switched on.
	EXPECT_EQ(cage->renderMode, 1);
	EXPECT_TRUE(cage->colors.xray);
	EXPECT_TRUE(deformer->deformMode);
	EXPECT_EQ(unitRecorder().messageCount(cage, MSG_UPDATE), 1u);
	EXPECT_EQ(unitRecorder().events, events + 1);

	// No copy, no triangulation and no undo step for a cage that is triangulated already.
	EXPECT_EQ(doc->roots().size(), 2u);
	EXPECT_EQ(commandsOn(cage), 0u);
	EXPECT_EQ(undoFor(cage), 0u);
}

TEST_F(Commands, BindAddsTheDisplayTagOnce)
{
	Object* cage = addCage(testmesh::boxTriangles(kLo, kHi));
	ASSERT_TRUE(bind());
	ASSERT_TRUE(bind());
	ASSERT_EQ(cage->tags.size(), 1u);
	const vtnhost::Tag* tag = cage->firstTag(Tdisplay);
	ASSERT_NE(tag, nullptr);
	EXPECT_EQ(tag->container().find(1000)->l, 6);
	EXPECT_EQ(tag->container().find(1013)->l, 0);
	EXPECT_EQ(tag->container().find(1007)->l, 1);
	ASSERT_EQ(doc->undo.size(), 1u);
	EXPECT_EQ(doc->undo[0].type, UNDOTYPE_NEW);
	EXPECT_EQ(doc->undo[0].node, tag->id());
}

TEST_F(Commands, BindTriangulatesAQuadCageAndKeepsAHiddenCopy)
{
	Object* cage = addCage(testmesh::box(kLo, kHi), "Box");
	ASSERT_TRUE(bind());

	Object* copy = doc->predecessor(cage);
	ASSERT_NE(copy, nullptr);
	EXPECT_EQ(copy->name, "Box-copy");
	EXPECT_EQ(copy->editorMode, 1);
	EXPECT_EQ(copy->renderMode, 1);
	EXPECT_EQ(copy->polygons.size(), 6u) << "the copy keeps the user's quads";
	ASSERT_EQ(cage->polygons.size(), 12u);
	for (const CPolygon& p : cage->polygons)
		EXPECT_EQ(p.c, p.d);
	EXPECT_EQ(testmesh::edgeProblems({cage->points, cage->polygons}), "");
	EXPECT_EQ(commandsOn(cage), 1u);
	ASSERT_EQ(doc->undo.size(), 3u);
	EXPECT_EQ(doc->undo[0].type, UNDOTYPE_NEW);
	EXPECT_EQ(doc->undo[0].node, copy->id());
	EXPECT_EQ(doc->undo[1].type, UNDOTYPE_CHANGE);
	EXPECT_EQ(doc->undo[1].node, cage->id());
	EXPECT_EQ(doc->undo[2].type, UNDOTYPE_NEW);
	EXPECT_EQ(internals(m).restAreas.GetCount(), 12);
	EXPECT_EQ(internals(m).bindArmed, 1);

	// The cage is triangulated now: a second bind makes no second copy.
	ASSERT_TRUE(bind());
	EXPECT_EQ(doc->roots().size(), 3u);
	EXPECT_EQ(commandsOn(cage), 1u);
}

TEST_F(Commands, BindStopsCleanlyOnBadInput)
{
	// Not in a document.
	auto loose = host.newObject(ID_MORVEXER);
	auto* lm = static_cast<Morvex*>(loose->nodeData());
	ASSERT_TRUE(vtnhost::pressButton(loose.get(), MORVEX_BIND));
	EXPECT_EQ(internals(lm).bindArmed, 0);
	EXPECT_EQ(loose->container().find(MORVEX_MEMORY)->s, "0 B");
	loose.reset();

	// No cage linked.
	ASSERT_TRUE(bind());
	EXPECT_EQ(internals(m).bindArmed, 0);
	EXPECT_EQ(memoryText(), "0 B");

	// A cage without points, and a polygon whose corner names no point.
	Object* cage = addCage(Mesh{});
	ASSERT_TRUE(bind());
	EXPECT_EQ(internals(m).bindArmed, 0);
	cage->points = testmesh::boxTriangles(kLo, kHi).points;
	cage->polygons = testmesh::boxTriangles(kLo, kHi).polygons;
	cage->polygons[3].b = 8;
	ASSERT_TRUE(bind());
	EXPECT_EQ(internals(m).bindArmed, 0);
	EXPECT_EQ(internals(m).restPoints.GetCount() + internals(m).restAreas.GetCount(), 0);
}

// A cage the host cannot triangulate (its command fails, or the linked object
// is no polygon object) stops the bind with a message, before anything of the
// scene or of the deformer changes.
TEST_F(Commands, ACageThatCannotBeTriangulatedStopsTheBindAndChangesNothing)
{
	Object* mesh = testscene::addMesh(host, doc, "Mesh", testmesh::icosphere({0, 0.5, 1}, 0.5, 1));
	std::unique_ptr<Object> d = doc->remove(deformer);
	doc->insert(std::move(d), mesh, nullptr);
	Object* good = addCage(testmesh::boxTriangles(kLo, kHi), "Good");
	ASSERT_TRUE(bind());
	host.evaluate(doc);
	ASSERT_EQ(internals(m).bindings.GetCount(), 1);
	const std::string memory = memoryText();
	const std::vector<LVector> bound = mesh->deformCache->points;

	for (bool null_object : {false, true})
	{
		Object* bad = null_object ? testscene::addObject(host, doc, Onull, "Null") : addCage(testmesh::box(kLo, kHi), "Box");
		vtnhost::setLink(deformer, MORVEX_CAGE, bad);
		unitRecorder().failModeling = !null_object;
		const std::vector<Object*> objects = doc->objects();
		const size_t undo = doc->undo.size(), console = host.console().size();
		const size_t polygons = bad->polygons.size();
		ASSERT_TRUE(bind());
		unitRecorder().failModeling = false;

		EXPECT_EQ(doc->objects(), objects) << "no backup copy, nothing moved";
		EXPECT_EQ(doc->undo.size(), undo) << "no undo record";
		EXPECT_EQ(bad->polygons.size(), polygons);
		EXPECT_TRUE(bad->tags.empty());
		EXPECT_EQ(bad->renderMode, MODE_UNDEF);
		EXPECT_FALSE(bad->colors.xray);
		EXPECT_EQ(internals(m).bindings.GetCount(), 1) << "the bindings stay";
		EXPECT_EQ(internals(m).restPoints.GetCount(), 8);
		EXPECT_EQ(internals(m).restAreas.GetCount(), 12);
		EXPECT_EQ(internals(m).bindArmed, 1);
		EXPECT_EQ(memoryText(), memory);
		const std::string message = "cannot triangulate the cage " + bad->name;
		ASSERT_EQ(host.console().size(), console + 1);
		EXPECT_EQ(host.console().back(), message);
		EXPECT_EQ(host.statusText(), message);
	}
	// The deformer is as it was: with its cage linked again, the same binding deforms.
	vtnhost::setLink(deformer, MORVEX_CAGE, good);
	host.evaluate(doc);
	ASSERT_EQ(internals(m).bindings.GetCount(), 1);
	EXPECT_EQ(mesh->deformCache->points.size(), bound.size());
	EXPECT_EQ(std::memcmp(mesh->deformCache->points.data(), bound.data(), bound.size() * sizeof(LVector)), 0);
}

TEST_F(Commands, BindKeepsDegenerateAndOpenCagesWithoutCrashing)
{
	Mesh open = testmesh::grid({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, 2, 2);
	Object* cage = addCage(testmesh::triangulated(open));
	// A flat triangle and a triangle with a repeated corner.
	cage->polygons.push_back({0, 1, 2, 2});
	cage->polygons.push_back({4, 4, 5, 5});
	ASSERT_TRUE(bind());
	EXPECT_EQ(internals(m).bindArmed, 1);
	ASSERT_EQ(internals(m).restAreas.GetCount(), static_cast<Int64>(cage->polygons.size()));
	EXPECT_EQ(internals(m).restAreas[internals(m).restAreas.GetCount() - 2], 0.0f);
	EXPECT_EQ(internals(m).restAreas[internals(m).restAreas.GetCount() - 1], 0.0f);
}

TEST_F(Commands, RestorePutsMatrixAndPointsBack)
{
	Object* cage = addCage(testmesh::boxTriangles(kLo, kHi));
	const Mesh rest = testmesh::boxTriangles(kLo, kHi);
	cage->matrix = testmesh::translation({1, 2, 3});
	ASSERT_TRUE(bind());
	cage->matrix = testmesh::rotation({1, 1, 0}, 1.0);
	cage->points[2] = {9, 9, 9};
	const size_t updates = unitRecorder().messageCount(cage, MSG_UPDATE);
	ASSERT_TRUE(vtnhost::pressButton(deformer, MORVEX_RESTORE_CAGE));
	EXPECT_EQ(cage->globalMatrix().off.z, 3);
	EXPECT_EQ(cage->globalMatrix().v1.x, 1);
	EXPECT_EQ(cage->points[2].x, rest.points[2].x);
	EXPECT_EQ(unitRecorder().messageCount(cage, MSG_UPDATE), updates + 1);
	EXPECT_TRUE(doc->undo.size() == 1u) << "restore records no undo";

	// With points added the points stay; only the matrix comes back.
	cage->matrix = testmesh::translation({7, 7, 7});
	cage->points.push_back({0, 0, 0});
	cage->points[2] = {9, 9, 9};
	ASSERT_TRUE(vtnhost::pressButton(deformer, MORVEX_RESTORE_CAGE));
	EXPECT_EQ(cage->globalMatrix().off.x, 1);
	EXPECT_EQ(cage->points[2].x, 9);
}

TEST_F(Commands, RestoreWorksThroughAParent)
{
	Object* parent = testscene::addObject(host, doc, Onull, "Rig");
	parent->matrix = testmesh::translation({10, 0, 0});
	Object* cage = testscene::addMesh(host, doc, "Cage", testmesh::boxTriangles(kLo, kHi), parent);
	vtnhost::setLink(deformer, MORVEX_CAGE, cage);
	cage->matrix = testmesh::translation({0, 1, 0});
	ASSERT_TRUE(bind());
	EXPECT_EQ(internals(m).restMatrix.off.x, 10);
	EXPECT_EQ(internals(m).restMatrix.off.y, 1);
	parent->matrix = testmesh::translation({-5, 0, 0});
	ASSERT_TRUE(vtnhost::pressButton(deformer, MORVEX_RESTORE_CAGE));
	EXPECT_DOUBLE_EQ(cage->globalMatrix().off.x, 10) << "the global matrix comes back, whatever the parent";
	EXPECT_DOUBLE_EQ(cage->globalMatrix().off.y, 1);
}

TEST_F(Commands, TheIconShowsOnlyWhileSomethingIsBound)
{
	IconData icon{nullptr, -1, -1, -1, -1};
	EXPECT_FALSE(vtnhost::requestIcon(deformer, &icon));
	EXPECT_EQ(icon.w, -1);
	internals(m).memoryUsed = 4;
	ASSERT_TRUE(vtnhost::requestIcon(deformer, &icon));
	EXPECT_EQ(icon.bmp, reinterpret_cast<const BaseBitmap*>(host.icon(ID_MORVEXER_ICONS)));
	EXPECT_EQ(icon.x, 0);
	EXPECT_EQ(icon.y, 0);
	EXPECT_EQ(icon.w, 32);
	EXPECT_EQ(icon.h, 32);
	internals(m).memoryUsed = 0;
}

TEST_F(Commands, OtherMessagesAnswerTrue)
{
	deformer->deformMode = false;
	EXPECT_TRUE(deformer->callMessage(MSG_MENUPREPARE, nullptr));
	EXPECT_TRUE(deformer->deformMode);
	for (Int32 type : {0, Int32(MSG_UPDATE), 17, 1001091})
		EXPECT_TRUE(deformer->callMessage(type, nullptr));
	EXPECT_TRUE(deformer->callMessage(MSG_DESCRIPTION_COMMAND, nullptr)) << "a command without its record";
	EXPECT_TRUE(vtnhost::pressButton(deformer, 1002));
	EXPECT_EQ(internals(m).bindArmed, 0);
}

TEST_F(Commands, CheckDirtyFollowsTheCagesCountForMatrixDataAndCache)
{
	Object* cage = addCage(testmesh::boxTriangles(kLo, kHi));
	const Int32 before = deformer->dirty(DIRTYFLAGS_DATA);
	deformer->callCheckDirty(doc);
	EXPECT_EQ(deformer->dirty(DIRTYFLAGS_DATA), before) << "an unchanged count changes nothing";
	cage->setDirty(DIRTYFLAGS_SELECT);
	deformer->callCheckDirty(doc);
	EXPECT_EQ(deformer->dirty(DIRTYFLAGS_DATA), before) << "selection changes are not watched";
	cage->setDirty(DIRTYFLAGS_MATRIX);
	deformer->callCheckDirty(doc);
	EXPECT_EQ(deformer->dirty(DIRTYFLAGS_DATA), before + 1);
	EXPECT_EQ(internals(m).cageDirty, cage->dirty(DIRTYFLAGS_MATRIX | DIRTYFLAGS_DATA | DIRTYFLAGS_CACHE));
	deformer->callCheckDirty(doc);
	EXPECT_EQ(deformer->dirty(DIRTYFLAGS_DATA), before + 1);
	cage->setDirty(DIRTYFLAGS_CACHE);
	deformer->callCheckDirty(doc);
	EXPECT_EQ(deformer->dirty(DIRTYFLAGS_DATA), before + 2);
}
