// The studio where it is not built (the Windows builds, see studio.cmake): the
// command is there, and says so.
#include <CLI/CLI.hpp>

#include <cstdio>

#include "studio.h"

namespace mvx {

CLI::App* addStudioCommand(CLI::App& app, StudioOptions&, CommonOptions&)
{
	CLI::App* cmd = app.add_subcommand("studio", "pose the cage by hand in a browser (not in this build)");
	cmd->allow_extras();
	return cmd;
}

int runStudio(const CommonOptions&, const StudioOptions&)
{
	std::fprintf(stderr, "error: this build of morvexer has no studio (it was built without cpp-httplib; the studio runs on Linux)\n");
	return 1;
}

}  // namespace mvx
