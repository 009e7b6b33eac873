// Loads the Morvexer plug-in into the stand-in host, as the application does at
// start-up, and shows what it did: the host console, the registered object
// types with their parameters, and any error the host met on the way.
#include <cstdio>
#include <string>

#include "vtnhost/host.h"

int main(int argc, char** argv)
{
	const std::string path = argc > 1 ? argv[1] : MORVEXER_PLUGIN_PATH;
	if (argc > 2 || path == "--help" || path == "-h")
	{
		std::printf("usage: morvexer-plugin-info [PLUGIN]\n  loads PLUGIN (default: %s) and lists what it registers\n", MORVEXER_PLUGIN_PATH);
		return argc > 2 ? 2 : 0;
	}
	vtnhost::Host host;
	const bool loaded = host.loadPlugin(path);
	std::printf("Host console:\n");
	for (const std::string& line : host.console())
		std::printf("  %s\n", line.c_str());
	for (const vtnhost::PluginRegistration& reg : host.registrations())
	{
		std::printf("Registered %s type %d \"%s\"\n", reg.type == VTN_PLUGINTYPE_OBJECT ? "object" : "node", reg.id, reg.name.c_str());
		if (const vtnhost::Description* d = host.description(reg.id))
		{
			std::printf("  description %s, %zu parameters:\n", d->name.c_str(), d->params.size());
			for (const vtnhost::ParameterDesc& p : d->params)
				std::printf("    %5d  %-7s %-22s \"%s\"\n", p.id, p.kind.c_str(), p.symbol.c_str(), p.label.c_str());
		}
	}
	for (const std::string& e : host.errors())
		std::fprintf(stderr, "error: %s\n", e.c_str());
	host.unloadPlugins();
	std::printf("Live plug-in blocks after end: %zu\n", host.memory().liveBlocks());
	return loaded ? 0 : 1;
}
