// A separate host process for the tests: loads the plug-in and a scene file,
// evaluates it and writes every deformed object's points, so a test can compare
// them with what the process that saved the scene computed.
// Usage: morvexer_scene_probe PLUGIN SCENE OUT
#include <cstdio>
#include <fstream>

#include "vtnhost/host.h"

int main(int argc, char** argv)
{
	if (argc != 4)
	{
		std::fprintf(stderr, "usage: morvexer_scene_probe PLUGIN SCENE OUT\n");
		return 2;
	}
	vtnhost::Host host;
	if (!host.loadPlugin(argv[1]))
	{
		std::fprintf(stderr, "%s\n", host.errors().empty() ? "cannot load the plug-in" : host.errors().back().c_str());
		return 1;
	}
	std::string error;
	vtnhost::Document* doc = host.loadDocument(argv[2], &error);
	if (!doc)
	{
		std::fprintf(stderr, "%s\n", error.c_str());
		return 1;
	}
	host.evaluate(doc);
	std::ofstream out(argv[3], std::ios::binary);
	for (vtnhost::Object* o : doc->objects())
		if (o->deformCache)
		{
			out << o->name << '\n';
			const auto& pts = o->deformCache->points;
			out.write(reinterpret_cast<const char*>(pts.data()), static_cast<std::streamsize>(pts.size() * sizeof(LVector)));
			out << '\n';
		}
	for (const std::string& e : host.errors())
		std::fprintf(stderr, "%s\n", e.c_str());
	return out ? 0 : 1;
}
