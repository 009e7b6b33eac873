// The deformer type as the host sees it: its registration record, its icons,
// and a node's life from allocation to destruction.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>

#include "omorvexer.h"
#include "support/plugin_files.h"
#include "vtnhost/host.h"
#include "vtnhost/viewport.h"

using vtnhost::Host;

namespace {

class DeformerNode : public ::testing::Test
{
protected:
	void SetUp() override
	{
		ASSERT_TRUE(host.loadPlugin(builtPluginPath()));
		reg = host.findRegistration(ID_MORVEXER);
		ASSERT_NE(reg, nullptr);
	}

	template <typename T>
	static bool isZero(const T& ref)
	{
		static const unsigned char zero[sizeof(T)] = {};
		return std::memcmp(&ref, zero, sizeof(T)) == 0;
	}

	Host host;
	const vtnhost::PluginRegistration* reg = nullptr;
};

bool allZero(const void* p, size_t n)
{
	const auto* b = static_cast<const unsigned char*>(p);
	return std::all_of(b, b + n, [](unsigned char c) { return c == 0; });
}

}  // namespace

TEST_F(DeformerNode, RegistrationRecordIsLaidOutAsTheHostReadsIt)
{
	EXPECT_EQ(reg->type, VTN_PLUGINTYPE_OBJECT);
	EXPECT_EQ(reg->recordSize, static_cast<Int32>(VTN_WORDS(144))) << "1152 bytes in the 64-bit build";
	EXPECT_EQ(reg->apiVersion, 12000);
	EXPECT_EQ(reg->name, "Morvexer");

	const OBJECTPLUGIN& r = reg->record;
	EXPECT_EQ(r.node.info, OBJECT_MODIFIER);
	EXPECT_EQ(r.node.disk_level, 0);
	EXPECT_EQ(r.node.emulation, nullptr);
	EXPECT_NE(r.node.destroy, nullptr);
	EXPECT_NE(r.node.allocator, nullptr);
	ASSERT_NE(r.node.icon, nullptr);
	EXPECT_EQ(r.icon, r.node.icon);

	// Modifier: ModifyObject is there; the generator, spline and particle references are not.
	EXPECT_FALSE(isZero(r.ModifyObject));
	EXPECT_TRUE(isZero(r.GetVirtualObjects));
	EXPECT_TRUE(isZero(r.GetContour));
	EXPECT_TRUE(isZero(r.ModifyParticles));
	for (bool present : {!isZero(r.node.Init), !isZero(r.node.Free), !isZero(r.node.Read), !isZero(r.node.Write),
	                     !isZero(r.node.CopyTo), !isZero(r.node.Message), !isZero(r.node.IsDocumentRelated),
	                     !isZero(r.GetDimension), !isZero(r.Draw), !isZero(r.DetectHandle), !isZero(r.MoveHandle),
	                     !isZero(r.CheckDirty), !isZero(r.AddToExecution), !isZero(r.Execute), !isZero(r.GetModelingAxis)})
		EXPECT_TRUE(present);

	// Every byte the layout does not name stays zero.
	const auto* bytes = reinterpret_cast<const unsigned char*>(&r.node);
	const size_t info_end = offsetof(NODEPLUGIN, info) + sizeof r.node.info;
	const size_t level_end = offsetof(NODEPLUGIN, disk_level) + sizeof r.node.disk_level;
	EXPECT_TRUE(allZero(bytes + info_end, offsetof(NODEPLUGIN, destroy) - info_end)) << "the padding behind info";
	EXPECT_TRUE(allZero(bytes + level_end, offsetof(NODEPLUGIN, reserved1) - level_end)) << "the padding behind the disk level";
	EXPECT_EQ(r.node.zero0, nullptr);
	EXPECT_EQ(r.node.zero1, nullptr);
	EXPECT_TRUE(allZero(r.node.reserved0, sizeof r.node.reserved0));
	EXPECT_TRUE(allZero(&r.node.reserved1, sizeof r.node.reserved1));
	EXPECT_TRUE(allZero(r.node.reserved2, sizeof r.node.reserved2));
	EXPECT_TRUE(allZero(r.reserved, sizeof r.reserved));
}

TEST_F(DeformerNode, IconsComeFromTheResourceFolder)
{
	const vtnhost::Bitmap* strip = host.icon(ID_MORVEXER_ICONS);
	ASSERT_NE(strip, nullptr);
	EXPECT_EQ(strip->width(), 64);
	EXPECT_EQ(strip->height(), 32);
	// The plug-in releases its object icon after registering: the record must point at the host's copy.
	ASSERT_NE(reg->icon, nullptr);
	EXPECT_EQ(reinterpret_cast<const vtnhost::Bitmap*>(reg->record.node.icon), reg->icon.get());
	EXPECT_EQ(reg->icon->width(), 32);
	EXPECT_EQ(reg->icon->height(), 32);
	EXPECT_NE(reg->icon->pixel(3, 5)[3], 0) << "a cage corner is opaque";
}

TEST_F(DeformerNode, ANewNodeCarriesTheParameterDefaults)
{
	vtnhost::Node* node = host.createNode(ID_MORVEXER);
	ASSERT_NE(node, nullptr);
	const VtnContainer& bc = node->container();
	ASSERT_EQ(bc.typeOf(MORVEX_STRETCH), VTN_DA_REAL);
	EXPECT_EQ(bc.find(MORVEX_STRETCH)->r, 100.0);
	ASSERT_EQ(bc.typeOf(MORVEX_SAFE_DISTANCE), VTN_DA_REAL);
	EXPECT_EQ(bc.find(MORVEX_SAFE_DISTANCE)->r, 0.1);
	ASSERT_EQ(bc.typeOf(MORVEX_INSIDE_ONLY), VTN_DA_BOOL);
	EXPECT_EQ(bc.find(MORVEX_INSIDE_ONLY)->l, 0);
	ASSERT_EQ(bc.typeOf(MORVEX_STRENGTH), VTN_DA_REAL);
	EXPECT_EQ(bc.find(MORVEX_STRENGTH)->r, 1.0);
	EXPECT_EQ(bc.typeOf(MORVEX_MEMORY), VTN_DA_NIL) << "the memory text is absent until a reset, bind or load";
	EXPECT_EQ(bc.typeOf(MORVEX_CAGE), VTN_DA_NIL);
	EXPECT_EQ(bc.entries.size(), 4u);
}

// The ids the plug-in, the tool and the tests compile in are the ones the
// description the host reads declares, symbol for symbol.
TEST_F(DeformerNode, TheParameterIdsAreTheDescriptions)
{
	const vtnhost::Description* d = host.description(ID_MORVEXER);
	ASSERT_NE(d, nullptr);
	const std::map<std::string, Int32> ids = {
	    {"MORVEX_CAGE", MORVEX_CAGE},
	    {"MORVEX_BIND", MORVEX_BIND},
	    {"MORVEX_STRETCH", MORVEX_STRETCH},
	    {"MORVEX_MEMORY", MORVEX_MEMORY},
	    {"MORVEX_RESTORE_CAGE", MORVEX_RESTORE_CAGE},
	    {"MORVEX_CHECK", MORVEX_CHECK},
	    {"MORVEX_CHECK_OBJECT", MORVEX_CHECK_OBJECT},
	    {"MORVEX_INSIDE_ONLY", MORVEX_INSIDE_ONLY},
	    {"MORVEX_SAFE_DISTANCE", MORVEX_SAFE_DISTANCE},
	    {"MORVEX_STRENGTH", MORVEX_STRENGTH},
	};
	EXPECT_EQ(d->params.size(), ids.size());
	for (const vtnhost::ParameterDesc& p : d->params)
	{
		auto it = ids.find(p.symbol);
		ASSERT_NE(it, ids.end()) << p.symbol << " has no id in omorvexer.h";
		EXPECT_EQ(p.id, it->second) << p.symbol;
	}
}

TEST_F(DeformerNode, ItsInstanceComesFromTheHostAllocator)
{
	const size_t before = host.memory().liveBlocks();
	vtnhost::Node* node = host.createNode(ID_MORVEXER);
	ASSERT_NE(node, nullptr);
	ASSERT_NE(node->nodeData(), nullptr);
	const auto live = host.memory().live();
	EXPECT_TRUE(std::any_of(live.begin(), live.end(), [](const vtnhost::AllocRecord& r) { return r.source == "Morvex" && r.line > 0; }));
	host.destroyNode(node);
	EXPECT_EQ(host.memory().liveBlocks(), before);
}

TEST_F(DeformerNode, HasNoHandlesToDrawOrHit)
{
	vtnhost::Node* node = host.createNode(ID_MORVEXER);
	ASSERT_NE(node, nullptr);
	vtnhost::Viewport view;
	for (DRAWPASS pass = 0; pass < 6; ++pass)
		EXPECT_EQ(node->callDraw(pass, view.asBaseDraw(), nullptr), DRAWRESULT_SKIP) << pass;
	for (QUALIFIER q = 0; q < 4; ++q)
		for (int x : {-100, 0, 7, 100})
			EXPECT_EQ(node->callDetectHandle(view.asBaseDraw(), x, x / 2, q), -1);
	EXPECT_TRUE(view.handles.empty());
}

TEST_F(DeformerNode, ManyNodesLiveAndDieIndependently)
{
	const size_t before = host.memory().liveBlocks();
	std::vector<vtnhost::Node*> nodes;
	for (int i = 0; i < 20; ++i)
		nodes.push_back(host.createNode(ID_MORVEXER));
	for (vtnhost::Node* n : nodes)
		ASSERT_NE(n, nullptr);
	EXPECT_GE(host.memory().liveBlocks(), before + 20);
	// Out of creation order, so a node's release never depends on another's.
	for (size_t i = 0; i < nodes.size(); i += 2)
		host.destroyNode(nodes[i]);
	for (size_t i = 1; i < nodes.size(); i += 2)
		host.destroyNode(nodes[i]);
	EXPECT_EQ(host.memory().liveBlocks(), before);
}
