// The host's node factory: the types it makes, and what it answers when it
// cannot make one (an unknown type, a plug-in whose allocator gives nothing).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "abi/vtn_os.h"
#include "host/host_environment.h"

namespace {

constexpr Int32 kUnknownType = 990100;
constexpr Int32 kNoInstance = 990101;

GeListNode* allocNode(Int32 type) { return testHost().table()->list->AllocNode(type); }

NodeData* noInstance() { return nullptr; }
void destroyNothing(BaseData*) {}

bool registerRecord(Int32 id, const std::string& name, const NODEPLUGIN& record)
{
	return testHost().registerPlugin(VTN_API_VERSION, VTN_PLUGINTYPE_NODE, id, name, &record, static_cast<Int32>(sizeof record));
}

// A node type whose allocator never gives an instance.
bool registerWithoutInstances(Int32 id, const std::string& name)
{
	NODEPLUGIN record{};
	record.allocator = noInstance;
	record.destroy = destroyNothing;
	return registerRecord(id, name, record);
}

bool errorMentions(const std::string& what)
{
	for (const std::string& e : testHost().errors())
		if (e.find(what) != std::string::npos)
			return true;
	return false;
}

}  // namespace

TEST(HostNodes, BuiltInTypesAreMadeAsObjectsOrTags)
{
	vtnhost::Host& host = testHost();
	for (Int32 type : {Opolygon, Onull})
	{
		GeListNode* node = allocNode(type);
		ASSERT_NE(node, nullptr) << type;
		auto* made = vtnhost::Node::from(node);
		EXPECT_NE(dynamic_cast<vtnhost::Object*>(made), nullptr) << type;
		EXPECT_EQ(made->type(), type);
		host.table()->list->FreeNode(node);
	}
	for (Int32 type : {Tdisplay, Tpointselection})
	{
		BaseTag* tag = host.table()->tag->Alloc(type);
		ASSERT_NE(tag, nullptr) << type;
		EXPECT_EQ(vtnhost::Node::from(tag)->type(), type);
		host.table()->tag->Free(tag);
	}
	EXPECT_EQ(host.table()->tag->Alloc(Opolygon), nullptr) << "an object type is not a tag";
}

TEST(HostNodes, AnUnknownTypeGivesNullEverywhere)
{
	vtnhost::Host& host = testHost();
	const size_t nodes = host.nodeCount();
	EXPECT_EQ(allocNode(kUnknownType), nullptr);
	EXPECT_EQ(host.table()->tag->Alloc(kUnknownType), nullptr);
	EXPECT_EQ(host.newNode(kUnknownType), nullptr);
	EXPECT_EQ(host.newObject(kUnknownType, "X"), nullptr);
	EXPECT_EQ(host.createNode(kUnknownType), nullptr);
	EXPECT_EQ(host.nodeCount(), nodes) << "nothing was made and kept";
	EXPECT_TRUE(errorMentions(std::to_string(kUnknownType)));
}

TEST(HostNodes, APluginTypeWhoseAllocatorGivesNothingGivesNull)
{
	vtnhost::Host& host = testHost();
	ASSERT_TRUE(registerWithoutInstances(kNoInstance, "No instance"));
	const size_t nodes = host.nodeCount();
	EXPECT_EQ(allocNode(kNoInstance), nullptr) << "the table slot hands on the failure, it does not follow it";
	EXPECT_EQ(host.createNode(kNoInstance), nullptr);
	EXPECT_EQ(host.newObject(kNoInstance), nullptr);
	EXPECT_EQ(host.nodeCount(), nodes);
	EXPECT_TRUE(errorMentions("the allocator returned no instance"));
}

TEST(HostNodes, ARecordWithoutAllocatorOrDestroyFunctionIsRefused)
{
	NODEPLUGIN record{};
	record.allocator = noInstance;
	EXPECT_FALSE(registerRecord(990102, "Never released", record)) << "its nodes could be made but not released";
	record.allocator = nullptr;
	record.destroy = destroyNothing;
	EXPECT_FALSE(registerRecord(990103, "Never made", record));
	EXPECT_EQ(testHost().findRegistration(990102), nullptr);
	EXPECT_EQ(testHost().findRegistration(990103), nullptr);
}

TEST(HostNodes, APluginCannotTakeTheIdOfAHostType)
{
	vtnhost::Host& host = testHost();
	EXPECT_FALSE(registerWithoutInstances(Opolygon, "Polygons"));
	EXPECT_EQ(host.findRegistration(Opolygon), nullptr);
	std::unique_ptr<vtnhost::Object> op = host.newObject(Opolygon);
	ASSERT_NE(op, nullptr) << "polygon objects are still the host's";
}

TEST(HostNodes, AnObjectOfATypeNoPluginProvidesStaysInItsSceneAndItsCopies)
{
	vtnhost::Host& host = testHost();
	vtnhost::Document* doc = host.newDocument();
	// As a scene saved where that plug-in was loaded holds it.
	std::unique_ptr<vtnhost::Object> stand_in = host.newStandIn(kUnknownType, "Orphan");
	ASSERT_NE(stand_in, nullptr);
	doc->insert(std::move(stand_in), nullptr, nullptr);
	std::vector<uint8_t> bytes = host.encodeDocument(doc);
	host.destroyDocument(doc);

	std::string why;
	vtnhost::Document* loaded = host.decodeDocument(bytes, &why);
	ASSERT_NE(loaded, nullptr) << why;
	vtnhost::Object* orphan = loaded->findByName("Orphan");
	ASSERT_NE(orphan, nullptr);
	EXPECT_EQ(orphan->type(), kUnknownType);
	std::unique_ptr<vtnhost::Object> copy = host.cloneObject(*orphan, 0);
	ASSERT_NE(copy, nullptr);
	EXPECT_EQ(copy->type(), kUnknownType);
	host.destroyDocument(loaded);
}

// Nodes keep a pointer to their type's registration: registering more types,
// as loading another module does, must not move the ones there are.
TEST(HostNodes, RegistrationsStayWhereTheyAreWhenMoreAreMade)
{
	vtnhost::Host& host = testHost();
	constexpr Int32 kFirst = 990200;
	ASSERT_TRUE(registerWithoutInstances(kFirst, "Stays"));
	const vtnhost::PluginRegistration* before = host.findRegistration(kFirst);
	ASSERT_NE(before, nullptr);
	for (Int32 i = 1; i <= 200; ++i)
		ASSERT_TRUE(registerWithoutInstances(kFirst + i, "More " + std::to_string(i)));
	EXPECT_EQ(host.findRegistration(kFirst), before);
}
