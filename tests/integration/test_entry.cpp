// The handshake through the module's one export, as the application drives it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "omorvexer.h"
#include "support/plugin_files.h"
#include "vtnhost/host.h"
#include "vtnhost/platform.h"

using vtnhost::Host;
using vtnhost::PluginModule;

namespace {

std::unique_ptr<PluginModule> openBuilt()
{
	std::string error;
	auto mod = PluginModule::open(builtPluginPath(), &error);
	EXPECT_TRUE(mod) << error;
	return mod;
}

bool hasLiveBlock(Host& host, int line, const std::string& source)
{
	const auto live = host.memory().live();
	return std::any_of(live.begin(), live.end(), [&](const vtnhost::AllocRecord& r) { return r.line == line && r.source == source; });
}

bool anyErrorContains(const Host& host, const std::string& text)
{
	const auto& e = host.errors();
	return std::any_of(e.begin(), e.end(), [&](const std::string& s) { return s.find(text) != std::string::npos; });
}

}  // namespace

TEST(Entry, ProtocolQueryAnswersFiveInEveryState)
{
	Host host;
	auto mod = openBuilt();
	EXPECT_EQ(mod->call(VTNPL_PROTOCOL_QUERY), 5);
	ASSERT_EQ(mod->attach(host), 1);
	EXPECT_EQ(mod->call(VTNPL_PROTOCOL_QUERY), 5);
	ASSERT_EQ(mod->call(VTNPL_END), 1);
	EXPECT_EQ(mod->call(VTNPL_PROTOCOL_QUERY), 5);
}

TEST(Entry, UnknownActionsAnswerMinusOneAndChangeNothing)
{
	Host host;
	auto mod = openBuilt();
	for (int action : {0, 5, 7, -1})
		EXPECT_EQ(mod->call(action), -1) << action;
	ASSERT_EQ(mod->attach(host), 1);
	const size_t blocks = host.memory().liveBlocks();
	for (int action : {0, 5, 7, -1, 1000})
		EXPECT_EQ(mod->call(action, host.table(), nullptr, nullptr), -1) << action;
	EXPECT_EQ(host.memory().liveBlocks(), blocks);
	EXPECT_TRUE(host.console().empty());
	EXPECT_EQ(mod->call(VTNPL_END), 1);
}

TEST(Entry, AttachStoresTheFileNameInAHostBlock)
{
	Host host;
	auto mod = openBuilt();
	ASSERT_EQ(mod->attach(host), 1);
	EXPECT_TRUE(hasLiveBlock(host, 109, "vtn_pmain"));
	ASSERT_EQ(mod->call(VTNPL_END), 1);
	EXPECT_EQ(host.memory().liveBlocks(), 0u);
}

TEST(Entry, NestedAttachOnlyCountsAndOnlyTheLastEndReleases)
{
	Host host;
	auto mod = openBuilt();
	ASSERT_EQ(mod->attach(host), 1);
	// A nested attach must not read its arguments again: null ones would be refused.
	EXPECT_EQ(mod->call(VTNPL_ATTACH, nullptr, nullptr, nullptr), 1);
	ASSERT_EQ(mod->message(VTNMSG_LOAD_RESOURCES, nullptr), 1);
	EXPECT_EQ(host.liveResources(), 1);

	EXPECT_EQ(mod->call(VTNPL_END), 1);
	EXPECT_EQ(host.liveResources(), 1) << "the inner end released the resources";
	EXPECT_TRUE(hasLiveBlock(host, 109, "vtn_pmain"));

	EXPECT_EQ(mod->call(VTNPL_END), 1);
	EXPECT_EQ(host.liveResources(), 0);
	EXPECT_EQ(host.memory().liveBlocks(), 0u);
}

TEST(Entry, HostsOlderThan12000AreRefused)
{
	{
		Host host;
		host.setApiVersion(11999);
		auto mod = openBuilt();
		EXPECT_EQ(mod->attach(host), VTNPL_ERR_HOST_TOO_OLD);
		EXPECT_EQ(host.memory().liveBlocks(), 0u) << "the path must not be stored";
	}
	{
		Host host;
		host.setApiVersion(11999);
		EXPECT_FALSE(host.loadPlugin(builtPluginPath()));
		EXPECT_TRUE(anyErrorContains(host, "11999"));
		EXPECT_TRUE(host.console().empty());
	}
	{
		Host host;
		host.setApiVersion(12000);
		auto mod = openBuilt();
		EXPECT_EQ(mod->attach(host), 1);
		EXPECT_EQ(mod->call(VTNPL_END), 1);
	}
}

TEST(Entry, AttachWithoutAFileNameIsRefused)
{
	Host host;
	auto mod = openBuilt();
	EXPECT_EQ(mod->call(VTNPL_ATTACH, host.table(), nullptr, nullptr), VTNPL_ERR_HOST_TOO_OLD);
	EXPECT_EQ(host.memory().liveBlocks(), 0u);
}

TEST(Messages, OnlyNoneAndResourcesAreAnsweredTrue)
{
	Host host;
	auto mod = openBuilt();
	ASSERT_EQ(mod->attach(host), 1);
	EXPECT_EQ(mod->message(0, nullptr), 1);
	EXPECT_EQ(mod->message(1, nullptr), 1);
	for (int id : {2, 1001, 1003, -5})
		EXPECT_EQ(mod->message(id, nullptr), -1) << id;
	EXPECT_EQ(mod->call(VTNPL_END), 1);
}

TEST(Messages, CommandLineLosesOnlyThePluginsOwnSwitches)
{
	Host host;
	auto mod = openBuilt();
	ASSERT_EQ(mod->attach(host), 1);

	char a0[] = "-SDK", a1[] = "-plugincrash", a2[] = "--help", a3[] = "scene.vtn", a4[] = "-help";
	char* argv[] = {a0, a1, a2, a3, a4};
	VTNPL_CommandLineArgs args{5, argv};
	EXPECT_EQ(mod->message(VTNMSG_COMMANDLINEARGS, &args), -1);
	EXPECT_EQ(argv[0], nullptr);
	EXPECT_EQ(argv[1], nullptr);
	EXPECT_EQ(argv[2], a2);
	EXPECT_EQ(argv[3], a3);
	EXPECT_EQ(argv[4], a4);
	EXPECT_TRUE(host.console().empty()) << "-plugincrash triggers nothing";

	char* sparse[] = {nullptr, a2, nullptr};
	VTNPL_CommandLineArgs with_nulls{3, sparse};
	EXPECT_EQ(mod->message(VTNMSG_COMMANDLINEARGS, &with_nulls), -1);
	EXPECT_EQ(sparse[1], a2);

	VTNPL_CommandLineArgs empty{0, nullptr};
	EXPECT_EQ(mod->message(VTNMSG_COMMANDLINEARGS, &empty), -1);
	EXPECT_EQ(mod->call(VTNPL_END), 1);
}

TEST(Start, PrintsTheTwoBannerLines)
{
	Host host;
	ASSERT_TRUE(host.loadPlugin(builtPluginPath()));
	ASSERT_EQ(host.console().size(), 2u);
	EXPECT_EQ(host.console()[0], "[*** Morvexer 1.0 by https://morvexer.example.org ***]");
	EXPECT_EQ(host.console()[1], "Morvexer plugin is developed with proprietary Tel Aviv technology");
	EXPECT_TRUE(host.errors().empty());
}

TEST(Start, ChainsTheCrashHandlerToTheOneItReplaced)
{
	Host host;
	const VtnCrashHandler hosts_own = host.table()->crash_handler;
	ASSERT_TRUE(host.loadPlugin(builtPluginPath()));
	const VtnCrashHandler installed = host.table()->crash_handler;
	ASSERT_NE(installed, hosts_own);
	char info[] = "access violation";
	installed(info);
	EXPECT_EQ(host.console().back(), "crash: access violation");

	host.unloadPlugins();
	// The slot is not restored at end; the host puts its own back before unloading for good.
	host.table()->crash_handler = hosts_own;
}

TEST(Start, WithoutAPreviousHandlerTheChainEndsQuietly)
{
	Host host;
	host.table()->crash_handler = nullptr;
	ASSERT_TRUE(host.loadPlugin(builtPluginPath()));
	const size_t lines = host.console().size();
	char info[] = "fault";
	host.table()->crash_handler(info);
	EXPECT_EQ(host.console().size(), lines);
	host.table()->crash_handler = nullptr;
}

TEST(Start, WithoutTheIconStripNothingIsRegisteredOrPrinted)
{
	PluginCopy copy;
	copy.remove("res/morvexericons.tif");
	Host host;
	EXPECT_FALSE(host.loadPlugin(copy.modulePath()));
	EXPECT_TRUE(host.console().empty());
	EXPECT_TRUE(host.registrations().empty());
	EXPECT_TRUE(anyErrorContains(host, "morvexericons.tif"));
	EXPECT_EQ(host.memory().liveBlocks(), 0u);
}

TEST(Start, AnUnreadableIconStripCountsAsMissing)
{
	PluginCopy copy;
	copy.write("res/morvexericons.tif", "not an image");
	Host host;
	EXPECT_FALSE(host.loadPlugin(copy.modulePath()));
	EXPECT_TRUE(host.registrations().empty());
	EXPECT_TRUE(anyErrorContains(host, "morvexericons.tif"));
}

TEST(Start, WithoutTheObjectIconTheTypeIsRegisteredWithoutIcon)
{
	PluginCopy copy;
	copy.remove("res/morvexer.tif");
	Host host;
	ASSERT_TRUE(host.loadPlugin(copy.modulePath()));
	const vtnhost::PluginRegistration* reg = host.findRegistration(ID_MORVEXER);
	ASSERT_NE(reg, nullptr);
	EXPECT_EQ(reg->record.node.icon, nullptr);
	EXPECT_EQ(reg->record.icon, nullptr);
}

TEST(Start, WithoutResourcesStartSucceedsButRegistersNothing)
{
	PluginCopy copy;
	copy.remove("res");
	Host host;
	EXPECT_TRUE(host.loadPlugin(copy.modulePath()));
	EXPECT_TRUE(anyErrorContains(host, vtnhost::platform::joinPath(copy.dir(), "res")));
	EXPECT_TRUE(host.registrations().empty());
	ASSERT_EQ(host.console().size(), 2u);
	EXPECT_EQ(host.console()[0], "[*** Morvexer  by https://morvexer.example.org ***]");
}

TEST(Start, WithoutTheDescriptionStartFailsSilently)
{
	PluginCopy copy;
	copy.remove("res/description/Omorvexer.res");
	Host host;
	EXPECT_FALSE(host.loadPlugin(copy.modulePath()));
	EXPECT_TRUE(host.console().empty());
	EXPECT_TRUE(host.registrations().empty());
	EXPECT_TRUE(anyErrorContains(host, "Omorvexer"));
	EXPECT_EQ(host.memory().liveBlocks(), 0u);
}

TEST(Start, ADamagedDescriptionIsReportedWithItsLine)
{
	PluginCopy copy;
	copy.write("res/description/Omorvexer.res", "DESCRIPTION Omorvexer\n{\n  REAL MORVEX_STRENGTH x \"Strength\";\n}\n");
	Host host;
	EXPECT_FALSE(host.loadPlugin(copy.modulePath()));
	EXPECT_TRUE(anyErrorContains(host, "Omorvexer.res:3:"));
}

TEST(Load, BadPluginFilesAreRefusedWithAReason)
{
	Host host;
	EXPECT_FALSE(host.loadPlugin("/nonexistent/morvexer.so"));
	EXPECT_TRUE(anyErrorContains(host, "no such plug-in file"));

	EXPECT_FALSE(host.loadPlugin(NOT_A_PLUGIN_PATH));
	EXPECT_TRUE(anyErrorContains(host, "no vtn_main"));

	PluginCopy copy;
	copy.write("garbage.so", "this is not a shared library");
	EXPECT_FALSE(host.loadPlugin(copy.dir() + "/garbage.so"));
	EXPECT_TRUE(anyErrorContains(host, "cannot load the plug-in"));
	EXPECT_TRUE(host.console().empty());
}

TEST(Load, ABareFileNameIsTheFileInTheCurrentFolder)
{
	PluginCopy copy;
	const std::filesystem::path before = std::filesystem::current_path();
	std::filesystem::current_path(vtnhost::platform::fsPath(copy.dir()));
	Host host;
	// dlopen and LoadLibrary would look a bare name up along the library path.
	const bool loaded = host.loadPlugin(vtnhost::platform::fileNameOf(copy.modulePath()));
	std::filesystem::current_path(before);
	EXPECT_TRUE(loaded) << (host.errors().empty() ? std::string() : host.errors().back());
	EXPECT_NE(host.findRegistration(ID_MORVEXER), nullptr) << "its res/ folder was found beside it";
}

TEST(End, LeavesNoLivePluginBlocks)
{
	Host host;
	ASSERT_TRUE(host.loadPlugin(builtPluginPath()));
	vtnhost::Node* node = host.createNode(ID_MORVEXER);
	ASSERT_NE(node, nullptr);
	EXPECT_GT(host.memory().liveBlocks(), 0u);
	host.unloadPlugins();
	EXPECT_EQ(host.nodeCount(), 0u) << "nodes of plug-in types go before their code";
	EXPECT_EQ(host.memory().liveBlocks(), 0u);
	EXPECT_EQ(host.liveResources(), 0);
}
