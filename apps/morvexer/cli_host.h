// The stand-in host as the command-line tool drives it: the plug-in loaded from
// disk, scenes built from meshes, evaluations that show the host's progress on
// stderr and stop cleanly on Ctrl-C.
#ifndef MORVEXER_CLI_HOST_H
#define MORVEXER_CLI_HOST_H

#include <string>
#include <vector>

#include "obj_io.h"
#include "steps.h"
#include "omorvexer.h"
#include "vtnhost/host.h"

namespace mvx {

// Where a mesh keeps the OBJ text it came from, so a saved scene can write
// the same file back with new positions.
enum : Int32
{
	CLI_SOURCE_TEXT = 1990001,
	CLI_SOURCE_PATH = 1990002,
};

// A failure to report: one line, naming the file and the problem.
struct Failure
{
	std::string message;
};

class CliHost
{
public:
	// Loads the plug-in; throws Failure with the host's reason.
	CliHost(const std::string& plugin_path, bool quiet, int threads = 0);
	~CliHost();

	vtnhost::Host& host() { return host_; }
	bool quiet() const { return quiet_; }

	// A document with the cage at the top level and the meshes under a group
	// that also holds the deformer, so it acts on every one of them.
	struct Scene
	{
		vtnhost::Document* doc = nullptr;
		vtnhost::Object* cage = nullptr;
		vtnhost::Object* deformer = nullptr;
		std::vector<vtnhost::Object*> meshes;
	};
	Scene buildScene(const ObjMesh& cage, const std::vector<ObjMesh>& meshes);
	// The deformer, its cage and its meshes in a loaded scene; throws Failure when the file has none.
	Scene findScene(vtnhost::Document* doc, const std::string& path);

	// Evaluates as the step named, with the host's progress on the bar; throws
	// Interrupted when the user pressed Ctrl-C.
	void evaluate(vtnhost::Document* doc, const std::string& step);

	// The runner of the steps in this host: its bar shows the host's status.
	StepRunner& steps() { return steps_; }

private:
	vtnhost::Host host_;
	bool quiet_;
	StepRunner steps_;
};

std::string memoryText(const vtnhost::Object* deformer);
// A mesh's name in the scene: its file name without folder and extension.
std::string meshName(const std::string& path);

}  // namespace mvx

#endif
