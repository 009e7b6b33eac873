// The node base classes as the host reaches them: through the member-function
// references of a registration record, on instances from the allocator.
#include <gtest/gtest.h>

#include "support/unit_host.h"
#include "vtn_memory.h"
#include "vtn_basecontainer.h"
#include "vtn_register.h"
#include "vtnhost/viewport.h"

namespace {

// Overrides only ModifyObject: every other callback must give the defaults.
class OnlyModify : public ObjectData
{
public:
	static NodeData* Alloc() { return NewObj(OnlyModify); }
	bool ModifyObject(BaseObject*, BaseDocument*, BaseObject*, const LMatrix&, const LMatrix&, double, Int32, BaseThread*) override
	{
		++modified;
		return false;
	}
	int modified = 0;
};

// Three handles, the middle one hidden; a per-instance offset tells copies apart.
class WithHandles : public ObjectData
{
public:
	static NodeData* Alloc() { return NewObj(WithHandles); }
	Int32 GetHandleCount(BaseObject*) override { return 3; }
	LVector GetHandle(BaseObject*, Int32 i) override
	{
		if (i == 1)
			return {1e308, 0, 0};
		return {offset + 2.0 * i, 5.0, 0.0};
	}
	void SetHandle(BaseObject*, Int32 i, LVector p) override
	{
		setIndex = i;
		setTo = p;
	}
	double offset = 0.0;
	Int32 setIndex = -1;
	LVector setTo{0, 0, 0};
};

// Refuses to start: Init fails. Counts what the host does with it after that.
class FailsInit : public ObjectData
{
public:
	static NodeData* Alloc() { return NewObj(FailsInit); }
	~FailsInit() override { ++destroyed; }
	bool Init(GeListNode*) override
	{
		++inits;
		return false;
	}
	static int inits;
	static int destroyed;
};
int FailsInit::inits = 0;
int FailsInit::destroyed = 0;

constexpr Int32 kOnlyModify = 990001;
constexpr Int32 kWithHandles = 990002;
constexpr Int32 kPlainNode = 990003;
constexpr Int32 kFailsInit = 990005;

const vtnhost::PluginRegistration& registered(Int32 id, DataAllocator alloc)
{
	if (!unitHost().findRegistration(id))
	{
		EXPECT_TRUE(RegisterObjectPlugin(id, String("Test object"), OBJECT_MODIFIER, alloc, String(), nullptr, 0));
	}
	return *unitHost().findRegistration(id);
}

// A node with the three handles, its object moved to x = 100.
vtnhost::Node* handlesAt100()
{
	registered(kWithHandles, WithHandles::Alloc);
	vtnhost::Node* node = unitHost().createNode(kWithHandles);
	if (node)
		static_cast<vtnhost::Object*>(node)->matrix.off = {100, 0, 0};
	return node;
}

}  // namespace

TEST(NodeDefaults, AClassOverridingOnlyModifyObjectGetsEveryOtherDefault)
{
	const OBJECTPLUGIN& r = registered(kOnlyModify, OnlyModify::Alloc).record;
	EXPECT_EQ(unitHost().description(kOnlyModify), nullptr) << "an empty description name registers none";
	vtnhost::Node* node = unitHost().createNode(kOnlyModify);
	ASSERT_NE(node, nullptr);
	auto* d = static_cast<OnlyModify*>(node->nodeData());
	GeListNode* ln = node->asListNode();
	BaseObject* op = node->asObject();

	EXPECT_TRUE((d->*r.node.Init)(ln));
	EXPECT_TRUE((d->*r.node.Read)(ln, nullptr, 0));
	EXPECT_TRUE((d->*r.node.Write)(ln, nullptr));
	EXPECT_TRUE((d->*r.node.Message)(ln, 18, nullptr));
	EXPECT_TRUE((d->*r.node.CopyTo)(d, ln, ln, 0, nullptr));
	EXPECT_EQ((d->*r.node.GetDocument)(ln), nullptr);
	EXPECT_EQ((d->*r.node.GetBranchInfo)(ln, nullptr, 10, 0), 0);
	EXPECT_FALSE((d->*r.node.IsInstanceOf)(ln, kOnlyModify));
	DESCFLAGS_DESC dflags = 77;
	EXPECT_FALSE((d->*r.node.GetDDescription)(ln, nullptr, dflags));
	EXPECT_EQ(dflags, 77) << "out-parameters stay untouched";
	bool related = true;
	EXPECT_FALSE((d->*r.node.IsDocumentRelated)(ln, related));
	EXPECT_TRUE(related);
	VTNAtom* atom = reinterpret_cast<VTNAtom*>(ln);
	const DescID id;
	DescID res_id;
	EXPECT_FALSE((d->*r.node.TranslateDescID)(ln, id, res_id, atom));
	EXPECT_EQ(atom, reinterpret_cast<VTNAtom*>(ln));

	LVector a{1, 2, 3}, b{4, 5, 6};
	(d->*r.GetDimension)(op, &a, &b);
	EXPECT_EQ(a.z, 3);
	EXPECT_EQ(b.x, 4);
	vtnhost::Viewport view;
	EXPECT_EQ((d->*r.Draw)(op, DRAWPASS_HANDLES, view.asBaseDraw(), nullptr), DRAWRESULT_SKIP);
	EXPECT_EQ((d->*r.DetectHandle)(op, view.asBaseDraw(), 0, 0, 0), -1);
	EXPECT_FALSE((d->*r.AddToExecution)(op, nullptr));
	EXPECT_EQ((d->*r.Execute)(op, nullptr, nullptr, 0, 0), 0);
	LMatrix axis{{9, 9, 9}, {9, 9, 9}, {9, 9, 9}, {9, 9, 9}};
	(d->*r.GetModelingAxis)(op, nullptr, axis);
	EXPECT_EQ(axis.off.x, 9);

	// The override is what the ModifyObject reference reaches.
	const LMatrix m{};
	EXPECT_FALSE((d->*r.ModifyObject)(op, nullptr, op, m, m, 1.0, 0, nullptr));
	EXPECT_EQ(d->modified, 1);
	unitHost().destroyNode(node);
}

TEST(NodeDefaults, HandlesAreDrawnInTheObjectsFrameExceptHiddenOnes)
{
	vtnhost::Node* node = handlesAt100();
	ASSERT_NE(node, nullptr);
	vtnhost::Viewport view;
	for (DRAWPASS pass : {0, 1, 3})
		EXPECT_EQ(node->callDraw(pass, view.asBaseDraw(), nullptr), DRAWRESULT_SKIP);
	EXPECT_TRUE(view.handles.empty());

	EXPECT_EQ(node->callDraw(DRAWPASS_HANDLES, view.asBaseDraw(), nullptr), DRAWRESULT_OK);
	ASSERT_EQ(view.handles.size(), 2u);
	EXPECT_EQ(view.handles[0].x, 100);
	EXPECT_EQ(view.handles[1].x, 104);
	EXPECT_EQ(view.handles[1].y, 5);
	EXPECT_EQ(view.pen.x, vtnhost::Viewport::handleColor().x);
	unitHost().destroyNode(node);
}

TEST(NodeDefaults, DetectHandleFindsTheFirstOrWithShiftTheLastHit)
{
	vtnhost::Node* node = handlesAt100();
	ASSERT_NE(node, nullptr);
	vtnhost::Viewport view;
	BaseDraw* bd = view.asBaseDraw();
	// Handles at x = 100 and 104 (both within reach of 102); the hidden one is never hit.
	EXPECT_EQ(node->callDetectHandle(bd, 102, 5, 0), 0);
	EXPECT_EQ(node->callDetectHandle(bd, 102, 5, QUALIFIER_SHIFT), 2);
	EXPECT_EQ(node->callDetectHandle(bd, 107, 5, 0), 2);
	EXPECT_EQ(node->callDetectHandle(bd, 102, 5, QUALIFIER_CTRL), -1);
	EXPECT_EQ(node->callDetectHandle(bd, 2, 5, 0), -1) << "handles sit in the object's global frame";
	EXPECT_EQ(node->callDetectHandle(bd, 102, 50, 0), -1);
	unitHost().destroyNode(node);
}

TEST(NodeDefaults, MoveHandleTakesTheHandleFromTheUndoCopy)
{
	const OBJECTPLUGIN& r = registered(kWithHandles, WithHandles::Alloc).record;
	vtnhost::Node* node = unitHost().createNode(kWithHandles);
	vtnhost::Node* undo = unitHost().createNode(kWithHandles);
	ASSERT_TRUE(node && undo);
	static_cast<WithHandles*>(undo->nodeData())->offset = 10.0;
	auto* d = static_cast<WithHandles*>(node->nodeData());
	const LMatrix tm{{1, 2, 3}, {2, 0, 0}, {0, 2, 0}, {0, 0, 2}};
	EXPECT_TRUE((d->*r.MoveHandle)(node->asObject(), undo->asObject(), tm, 2, 0));
	EXPECT_EQ(d->setIndex, 2);
	// The undo copy's handle 2 is (14, 5, 0); scaled by 2 and moved by (1, 2, 3).
	EXPECT_EQ(d->setTo.x, 29);
	EXPECT_EQ(d->setTo.y, 12);
	EXPECT_EQ(d->setTo.z, 3);
	unitHost().destroyNode(node);
	unitHost().destroyNode(undo);
}

TEST(NodeDefaults, PlainNodeTypesRegisterTheNodePartAlone)
{
	if (!unitHost().findRegistration(kPlainNode))
	{
		ASSERT_TRUE(RegisterNodePlugin(kPlainNode, String("Plain"), 0, OnlyModify::Alloc, nullptr, 3, nullptr));
	}
	const vtnhost::PluginRegistration* reg = unitHost().findRegistration(kPlainNode);
	EXPECT_EQ(reg->type, VTN_PLUGINTYPE_NODE);
	EXPECT_EQ(reg->recordSize, static_cast<Int32>(VTN_WORDS(80))) << "640 bytes in the 64-bit build";
	EXPECT_EQ(reg->apiVersion, 12000);
	EXPECT_EQ(reg->record.node.disk_level, 3);
	EXPECT_FALSE(RegisterNodePlugin(kPlainNode, String("Plain"), 0, OnlyModify::Alloc, nullptr, 3, nullptr))
	    << "an id is registered once";
	EXPECT_FALSE(RegisterObjectPlugin(990004, String("Described"), 0, OnlyModify::Alloc, String("Onone"), nullptr, 0))
	    << "a description that cannot be registered keeps the type out";
	EXPECT_EQ(unitHost().findRegistration(990004), nullptr);
}

TEST(NodeDefaults, DestructorOfNullDoesNothing)
{
	BaseData::Destructor(nullptr);
	const size_t live = unitHost().memory().liveBlocks();
	BaseData::Destructor(OnlyModify::Alloc());
	EXPECT_EQ(unitHost().memory().liveBlocks(), live);
}

TEST(NodeDefaults, AnInstanceWhoseInitFailsIsReleasedAndTheAllocationGivesNull)
{
	registered(kFailsInit, FailsInit::Alloc);
	const size_t live = unitHost().memory().liveBlocks();
	const size_t nodes = unitHost().nodeCount();
	FailsInit::inits = FailsInit::destroyed = 0;
	EXPECT_EQ(unitHost().table()->list->AllocNode(kFailsInit), nullptr);
	EXPECT_EQ(unitHost().createNode(kFailsInit), nullptr);
	EXPECT_EQ(FailsInit::inits, 2);
	EXPECT_EQ(FailsInit::destroyed, 2) << "each instance the allocator made is destroyed again";
	EXPECT_EQ(unitHost().memory().liveBlocks(), live);
	EXPECT_EQ(unitHost().nodeCount(), nodes);
	EXPECT_NE(unitHost().errors().back().find("Init failed"), std::string::npos);
}
