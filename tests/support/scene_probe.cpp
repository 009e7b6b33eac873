// A separate host process for the tests: loads the plug-in and a scene file,
// evaluates it and writes every deformed object's points (as
// testscene::deformedPoints lays them out), so a test can compare them with
// what another process, or another build, computed. With --pose the deformers'
// cages take the fixed test pose first.
// Usage: morvexer_scene_probe PLUGIN SCENE OUT [--pose]
#include <cstdio>
#include <string>

#include "support/scene.h"
#include "vtnhost/host.h"
#include "vtnhost/platform.h"

int main(int argc, char** argv)
{
	const std::vector<std::string> args = vtnhost::platform::arguments(argc, argv);
	const bool pose = args.size() == 5 && args[4] == "--pose";
	if (args.size() != 4 && !pose)
	{
		std::fprintf(stderr, "usage: morvexer_scene_probe PLUGIN SCENE OUT [--pose]\n");
		return 2;
	}
	vtnhost::Host host;
	if (!host.loadPlugin(args[1]))
	{
		std::fprintf(stderr, "%s\n", host.errors().empty() ? "cannot load the plug-in" : host.errors().back().c_str());
		return 1;
	}
	std::string error;
	vtnhost::Document* doc = host.loadDocument(args[2], &error);
	if (!doc)
	{
		std::fprintf(stderr, "%s\n", error.c_str());
		return 1;
	}
	if (pose)
		testscene::poseCages(host, doc);
	host.evaluate(doc);
	for (const std::string& e : host.errors())
		std::fprintf(stderr, "%s\n", e.c_str());
	const std::string points = testscene::deformedPoints(doc);
	if (points.empty())
	{
		std::fprintf(stderr, "%s: nothing in the scene deforms\n", args[2].c_str());
		return 1;
	}
	if (!vtnhost::platform::writeFileAtomic(args[3], points, &error))
	{
		std::fprintf(stderr, "%s: %s\n", args[3].c_str(), error.c_str());
		return 1;
	}
	return host.errors().empty() ? 0 : 1;
}
