// Free functions of the layer: byte-count texts, strings, optional libraries.
#include <gtest/gtest.h>

#include <string>

#include "support/unit_host.h"
#include "vtn_general.h"
#include "vtn_pmain.h"
#include "vtn_resource.h"

namespace {

std::string text(const String& s)
{
	char buf[256];
	s.GetCString(buf, sizeof buf);
	return buf;
}

struct TestLib
{
	VTNLibrary head;
	int (*first)();
	int (*second)();
};

int one() { return 1; }

}  // namespace

TEST(MemoryToString, PicksTheUnitAtEachPowerOf1024)
{
	EXPECT_EQ(text(MemoryToString(0)), "0 B");
	EXPECT_EQ(text(MemoryToString(-1)), "-1 B");
	EXPECT_EQ(text(MemoryToString(1024)), "1024 B");
	EXPECT_EQ(text(MemoryToString(1025)), "1.00 KB");
	EXPECT_EQ(text(MemoryToString(160000)), "156.25 KB");
	EXPECT_EQ(text(MemoryToString(1048576)), "1024.00 KB");
	EXPECT_EQ(text(MemoryToString(1048577)), "1.00 MB");
	EXPECT_EQ(text(MemoryToString(1073741824)), "1024.00 MB");
	EXPECT_EQ(text(MemoryToString(1073741825)), "1.00 GB");
	// MB and GB drop the low bits before dividing.
	EXPECT_EQ(text(MemoryToString(1048576 * 3 + 1023)), "3.00 MB");
	EXPECT_EQ(text(MemoryToString(10000000000LL)), "9.31 GB");
}

TEST(Strings, JoinCompareAndNumbers)
{
	const String a("Box"), b("-copy");
	EXPECT_EQ(text(a + b), "Box-copy");
	EXPECT_TRUE(a + b == String("Box-copy"));
	EXPECT_TRUE(a != b);
	EXPECT_FALSE(String().Content());
	EXPECT_EQ(text(String::IntToString(-42)), "-42");
	EXPECT_EQ(text(String::FloatToString(0.126, 2)), "0.13");
	char tiny[4];
	EXPECT_EQ(String("abcdef").GetLength(), 6);
	String("abcdef").GetCString(tiny, sizeof tiny);
	EXPECT_STREQ(tiny, "abc");
}

TEST(Strings, FileNamesJoinAndSplit)
{
	const Filename f = Filename(String("/opt/plugins")) + String("res") + String("icon.tif");
	EXPECT_EQ(text(f.GetString()), "/opt/plugins/res/icon.tif");
	EXPECT_EQ(text(f.GetDirectory().GetString()), "/opt/plugins/res");
	EXPECT_FALSE(Filename().Content());
}

TEST(Resources, StringsAreEmptyBeforeTheResourcesAreLoaded)
{
	EXPECT_FALSE(GeLoadString(1000).Content());
	EXPECT_FALSE(GeLoadString(-1).Content());
}

TEST(Libraries, CheckLibTestsTheSizeOnEveryCall)
{
	static TestLib lib{{0, 0}, one, one};
	ASSERT_TRUE(InstallLibrary(4242001, &lib.head, 3, sizeof(TestLib)));
	EXPECT_EQ(lib.head.version, 3);
	EXPECT_EQ(lib.head.size, static_cast<Int32>(sizeof(TestLib)));
	EXPECT_EQ(unitHost().registryFind(VTN_REGISTRY_LIBRARY, 4242001), &lib);

	VTNLibrary* cache = nullptr;
	EXPECT_EQ(CheckLib(4242001, VTN_LIB_END(TestLib, second), &cache), &lib.head);
	EXPECT_EQ(cache, &lib.head);

	// An older, shorter table: the cached library no longer serves the second slot.
	lib.head.size = static_cast<Int32>(VTN_LIB_END(TestLib, first));
	EXPECT_EQ(CheckLib(4242001, VTN_LIB_END(TestLib, second), &cache), nullptr);
	EXPECT_EQ(CheckLib(4242001, VTN_LIB_END(TestLib, first), &cache), &lib.head);
	EXPECT_EQ(CheckLib(4242001, VTN_LIB_END(TestLib, second), nullptr), nullptr);

	VTNLibrary* none = nullptr;
	EXPECT_EQ(CheckLib(4242999, 8, &none), nullptr);
	EXPECT_EQ(none, nullptr);
	EXPECT_TRUE(UninstallLibrary(&lib.head, 4242001, 3));
	unitHost().registryRemove(VTN_REGISTRY_LIBRARY, 4242001);
}

TEST(HostServices, ConsoleStatusBarAndEventsReachTheHost)
{
	vtnhost::Host& host = unitHost();
	const size_t lines = host.console().size();
	const int events = unitRecorder().events;
	GePrint(String("hello"));
	StatusSetText(String("Binding: Bunny"));
	StatusSetBar(42);
	EventAdd();
	ASSERT_EQ(host.console().size(), lines + 1);
	EXPECT_EQ(host.console().back(), "hello");
	EXPECT_EQ(host.statusText(), "Binding: Bunny");
	EXPECT_EQ(host.statusBar(), 42);
	EXPECT_EQ(unitRecorder().events, events + 1);
	StatusClear();
	EXPECT_EQ(host.statusText(), "");
	EXPECT_EQ(host.statusBar(), 0);
	unitRecorder().criticalStops.clear();
	GeCriticalStop(12, "here");
	ASSERT_EQ(unitRecorder().criticalStops.size(), 1u);
	EXPECT_EQ(unitRecorder().criticalStops[0].line, 12);
	EXPECT_EQ(unitRecorder().criticalStops[0].source, "here");
	EXPECT_EQ(host.errors().back(), "critical stop: here:12") << "the host's user sees it too";
}
