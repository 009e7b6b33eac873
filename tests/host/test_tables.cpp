// The master table as a plug-in receives it: every sub-table the host offers
// is there with every slot filled, and every library it registers announces
// its own size. A slot left out of a table's assembly shows up here by name of
// its table and position.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "abi/vtn_libraries.h"
#include "abi/vtn_os.h"
#include "host/host_environment.h"

namespace {

using Slot = void (*)();

// Positions (in slots, after the first `skip` bytes) that hold no function.
template <typename Table>
std::vector<size_t> emptySlots(const Table* table, size_t skip = 0)
{
	std::vector<size_t> out;
	const auto* bytes = reinterpret_cast<const unsigned char*>(table);
	for (size_t at = skip; at + sizeof(Slot) <= sizeof(Table); at += sizeof(Slot))
	{
		Slot slot = nullptr;
		std::memcpy(&slot, bytes + at, sizeof slot);
		if (!slot)
			out.push_back((at - skip) / sizeof(Slot));
	}
	return out;
}

template <typename Table>
void expectFull(const Table* table, const char* name)
{
	ASSERT_NE(table, nullptr) << name;
	EXPECT_EQ(emptySlots(table), std::vector<size_t>{}) << name << ": empty slots";
}

template <typename Library>
void expectLibrary(Int32 id, const char* name)
{
	const auto* lib = static_cast<const Library*>(testHost().registryFind(VTN_REGISTRY_LIBRARY, id));
	ASSERT_NE(lib, nullptr) << name;
	EXPECT_EQ(lib->head.version, 1) << name;
	EXPECT_EQ(lib->head.size, static_cast<Int32>(sizeof(Library))) << name;
	EXPECT_EQ(emptySlots(lib, sizeof(VTNLibrary)), std::vector<size_t>{}) << name << ": empty slots";
}

}  // namespace

TEST(HostTables, EverySubTableTheHostOffersHasEverySlotFilled)
{
	const VTNOS* os = testHost().table();
	EXPECT_EQ(os->version, VTN_API_VERSION);
	EXPECT_NE(os->crash_handler, nullptr);
	expectFull(os->general, "general");
	expectFull(os->hyperfile, "hyper file");
	expectFull(os->container, "container");
	expectFull(os->string, "string");
	expectFull(os->bitmap, "bitmap");
	expectFull(os->filename, "file name");
	expectFull(os->resource, "resource");
	expectFull(os->list, "list");
	expectFull(os->tag, "tag");
	expectFull(os->object, "object");
	expectFull(os->document, "document");
	expectFull(os->thread, "thread");
	expectFull(os->select, "selection");
	expectFull(os->draw, "draw");
	expectFull(os->link, "link");
	expectFull(os->value, "value");
	expectFull(os->atom, "atom");
}

TEST(HostTables, EveryLibraryAnnouncesItsSizeAndFillsEverySlot)
{
	expectLibrary<VTN_DescriptionLib>(VTN_LIB_DESCRIPTION, "description");
	expectLibrary<VTN_IconLib>(VTN_LIB_ICON, "icon");
	expectLibrary<VTN_RayColliderLib>(VTN_LIB_RAY_COLLIDER, "ray collider");
	expectLibrary<VTN_CompressionLib>(VTN_LIB_COMPRESSION, "compression");
}
