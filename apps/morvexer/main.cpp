// morvexer: bind meshes to cages, deform them, check them and inspect scenes,
// with the real plug-in loaded into the stand-in host.
#include <CLI/CLI.hpp>

#include <cstdio>

#include "cli_host.h"
#include "commands.h"
#include "options.h"
#include "steps.h"
#include "studio.h"
#include "vtnhost/platform.h"

int main(int argc, char** argv)
{
	// First of all, so a Ctrl-C at any point stops the running step cleanly instead of killing the tool.
	mvx::StepRunner::installInterruptHandler();
	vtnhost::platform::prepareConsole();
	// Arguments in UTF-8 on every system, so file names reach the file functions whole.
	std::vector<std::string> args = vtnhost::platform::arguments(argc, argv);
	std::vector<char*> arg_ptrs;
	for (std::string& a : args)
		arg_ptrs.push_back(a.data());
	arg_ptrs.push_back(nullptr);
	mvx::CommonOptions common;
	common.plugin = MORVEXER_PLUGIN_PATH;
	CLI::App app{"Morvexer: Green-coordinate cage deformation of meshes, with the real plug-in in a stand-in host."};
	// CLI11 reads /name as an option on Windows; there it is a file name as well.
	app.allow_windows_style_options(false);
	app.set_version_flag("--version", "morvexer 1.0");
	app.require_subcommand(1);
	app.add_option("--plugin", common.plugin, "the plug-in module to load")->capture_default_str();
	app.add_flag("-q,--quiet", common.quiet, "print errors only");

	mvx::DemoOptions demo;
	CLI::App* demo_cmd = app.add_subcommand("demo", "bind and pose the bundled meshes; write OBJs and a picture");
	demo_cmd->add_option("--out", demo.out, "output folder")->capture_default_str();
	mvx::addThreadsOption(demo_cmd, common.threads);

	mvx::BindOptions bind;
	CLI::App* bind_cmd = app.add_subcommand("bind", "bind meshes to a cage and save the scene");
	bind_cmd->add_option("--cage", bind.cage, "the closed cage (OBJ)")->required();
	bind_cmd->add_option("--mesh", bind.meshes, "a mesh to bind (OBJ); repeat for more")->required();
	bind_cmd->add_flag("--inside-only", bind.insideOnly, "bind only the points inside the cage");
	bind_cmd->add_flag("--force", bind.force, "bind even when the cage is open or has degenerate faces, or the weights seem not to fit in the memory available");
	bind_cmd->add_option("-o,--out", bind.out, "the scene file to write")->required();
	mvx::addThreadsOption(bind_cmd, common.threads);

	mvx::DeformOptions deform;
	double strength = 1.0, stretch = 100.0;
	CLI::App* deform_cmd = app.add_subcommand("deform", "deform bound meshes by posed cages");
	deform_cmd->add_option("--scene", deform.scene, "a scene saved by bind (no rebind)");
	deform_cmd->add_option("--cage", deform.cage, "the rest cage, to bind and deform in one go");
	deform_cmd->add_option("--mesh", deform.meshes, "a mesh to bind with --cage; repeat for more");
	deform_cmd->add_option("--posed", deform.posed, "a posed cage (OBJ) with the rest cage's points; repeat for more")->required();
	deform_cmd->add_option("--frames", deform.frames, "A-B[:STEP]: the frames of a --posed pattern with {frame}");
	CLI::Option* strength_opt = deform_cmd->add_option("--strength", strength, "blend from the rest (0) to the full deformation (1)")
	                                  ->check(mvx::within(mvx::kStrengthRange));
	CLI::Option* stretch_opt = deform_cmd->add_option("--stretch", stretch, "how much the faces' stretch scales the detail (0 none, 1 or more full)")
	                                 ->check(mvx::within(mvx::kStretchRange));
	deform_cmd->add_option("--weights", deform.weights, "one restriction weight per mesh point, from 0 to 1 (text)");
	deform_cmd->add_flag("--inside-only", deform.insideOnly, "with --cage: bind only the points inside the cage");
	deform_cmd->add_flag("--force", deform.force, "with --cage: bind even when the cage is open or degenerate, or the weights seem not to fit in memory");
	mvx::addThreadsOption(deform_cmd, common.threads);
	deform_cmd->add_option("-o,--out", deform.out, "output OBJ, or a pattern with {mesh} and {frame} (e.g. out/{mesh}_{frame:04}.obj)")->required();

	mvx::CheckOptions check;
	double safe = 0.1;
	CLI::App* check_cmd = app.add_subcommand("check", "find the points outside the cage, or those too close to it");
	check_cmd->add_option("--cage", check.cage, "the closed cage (OBJ)")->required();
	check_cmd->add_option("--mesh", check.mesh, "the mesh to check (OBJ)")->required();
	CLI::Option* safe_opt = check_cmd->add_option("--safe-distance", safe, "report points closer than this to the cage")
	                              ->check(mvx::within(mvx::kSafeDistanceRange));
	check_cmd->add_option("--json", check.json, "write a JSON report");
	check_cmd->add_flag("--force", check.force, "check even when the cage is open or degenerate");
	check_cmd->add_flag("--fail-outside", check.failOutside, "exit with code 3 when a point lies outside the cage");

	std::string scene;
	CLI::App* info_cmd = app.add_subcommand("info", "show the bindings and rest pose of a scene");
	info_cmd->add_option("scene", scene, "a scene saved by bind")->required();

	mvx::StudioOptions studio;
	CLI::App* studio_cmd = mvx::addStudioCommand(app, studio, common);

	try
	{
		app.parse(static_cast<int>(args.size()), arg_ptrs.data());
	}
	catch (const CLI::ParseError& e)
	{
		if (e.get_exit_code() == 0)
			return app.exit(e);
		std::fprintf(stderr, "usage error: %s (see --help)\n", e.what());
		return 2;
	}
	if (deform_cmd->parsed())
	{
		const std::string problem = mvx::deformProblem(deform);
		if (!problem.empty())
		{
			std::fprintf(stderr, "usage error: %s (see --help)\n", problem.c_str());
			return 2;
		}
		if (*strength_opt)
			deform.strength = strength;
		if (*stretch_opt)
			deform.stretch = stretch;
	}
	if (check_cmd->parsed() && *safe_opt)
		check.safeDistance = safe;

	if (demo_cmd->parsed())
		return mvx::runDemo(common, demo);
	if (bind_cmd->parsed())
		return mvx::runBind(common, bind);
	if (deform_cmd->parsed())
		return mvx::runDeform(common, deform);
	if (check_cmd->parsed())
		return mvx::runCheck(common, check);
	if (studio_cmd->parsed())
		return mvx::runStudio(common, studio);
	return mvx::runInfo(common, scene);
}
