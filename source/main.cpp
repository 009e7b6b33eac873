// Start-up of the plug-in: the entry module calls these for start, end and messages.
#include <cstring>

#include "object/morvex.h"
#include "vtn_basebitmap.h"
#include "vtn_general.h"
#include "vtn_pmain.h"
#include "vtn_register.h"
#include "vtn_resource.h"

namespace {

constexpr Int32 IDS_MORVEXER = 1000;
constexpr Int32 IDS_VERSION = 1001;
constexpr const char* kMakerAddress = "https://morvexer.example.org";

}  // namespace

bool RegisterMorvex()
{
	const String name = GeLoadString(IDS_MORVEXER);
	// Without resources there is nothing to show the user: start without the type.
	if (!name.Content())
		return true;

	BaseBitmap* strip = BaseBitmap::Alloc();
	if (!strip)
		return false;
	const Filename strip_file = GeGetPluginPath() + String("res") + String("morvexericons.tif");
	if (strip->Init(strip_file, -1, nullptr) != IMAGERESULT_OK)
	{
		BaseBitmap::Free(strip);
		return false;
	}
	RegisterIcon(ID_MORVEXER_ICONS, strip, 0, 0, strip->GetBw(), strip->GetBh(), ICONFLAG_COPY);

	bool ok;
	{
		AutoBitmap icon(String("morvexer.tif"));
		ok = RegisterObjectPlugin(ID_MORVEXER, name, OBJECT_MODIFIER, Morvex::Alloc, String("Omorvexer"), icon, 0);
	}
	BaseBitmap::Free(strip);
	return ok;
}

bool PluginStart()
{
	InstallCrashHandler();
	if (!RegisterMorvex())
		return false;
	GePrint(String("[*** Morvexer ") + GeLoadString(IDS_VERSION) + String(" by ") + String(kMakerAddress) + String(" ***]"));
	GePrint(String("Morvexer plugin is developed with proprietary Tel Aviv technology"));
	return true;
}

void PluginEnd() {}

namespace {

// Takes our own switches out of the host's command line.
void ConsumeCommandLine(VTNPL_CommandLineArgs* args)
{
	if (!args || !args->argv)
		return;
	for (Int32 i = 0; i < args->argc; ++i)
	{
		char* arg = args->argv[i];
		if (!arg)
			continue;
		if (std::strcmp(arg, "-SDK") == 0 || std::strcmp(arg, "-plugincrash") == 0)
			args->argv[i] = nullptr;
	}
}

}  // namespace

bool PluginMessage(Int32 id, void* data)
{
	switch (id)
	{
		case VTNMSG_NONE: return true;
		case VTNMSG_LOAD_RESOURCES: return resource.Init();
		case VTNMSG_COMMANDLINEARGS:
			ConsumeCommandLine(static_cast<VTNPL_CommandLineArgs*>(data));
			return false;
		default: return false;
	}
}
