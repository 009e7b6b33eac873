// Steps the commands share with the studio: reading meshes and cages, binding
// them, and the sources and points that deformed meshes are written from.
#ifndef MORVEXER_COMMAND_STEPS_H
#define MORVEXER_COMMAND_STEPS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli_host.h"
#include "commands.h"
#include "obj_io.h"
#include "outputs.h"
#include "steps.h"

namespace mvx {

// An OBJ input (the file given as option), checked as an input of the run
// first, then read as a step of its own up to limit bytes. Throws Failure with
// the reader's one-line reason, Interrupted on Ctrl-C.
ObjMesh readMesh(StepRunner& steps, RunFiles& files, const std::string& option, const std::string& path, uint64_t limit = UINT64_MAX);
// A cage must be closed and manifold (unless force: forced names what the
// command then does anyway); one whose faces point inward is turned outward,
// since the coordinates assume outward faces.
ObjMesh readCage(const CommonOptions& c, StepRunner& steps, RunFiles& files, const std::string& path, bool force,
                 const char* forced = "binds");
// Points of mesh outside the cage, by the deformer's own check; its tag is
// taken off again. The first `keep` of their indices go to *first.
size_t countOutside(CliHost& h, CliHost::Scene& s, vtnhost::Object* mesh, std::vector<Int32>* first = nullptr, size_t keep = 10);
// Presses bind and evaluates; the seconds it took. Throws when the user
// cancels, when the weights will not fit in the memory there is (unless
// forced), and when nothing, or not everything, could be bound.
double bindScene(const CommonOptions& c, CliHost& h, CliHost::Scene& s, bool inside_only, bool force);
// A scene saved by bind, loaded; throws Failure when it cannot be read or its
// deformer holds no binding.
CliHost::Scene loadBoundScene(CliHost& h, const std::string& path);
// The OBJ text a mesh came from, or a plain OBJ of its points.
std::string sourceText(const vtnhost::Object* mesh);
// The OBJ a mesh came from, with its rest points: what its poses are written over.
ObjMesh sourceOf(const vtnhost::Object* mesh);
// The mesh's points after the last evaluation (its own when nothing deformed it).
const std::vector<LVector>& deformedPoints(const vtnhost::Object* mesh);

}  // namespace mvx

#endif
