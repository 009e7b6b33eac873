// Building scenes in the stand-in host for the tests.
#ifndef MORVEXER_TESTS_SCENE_H
#define MORVEXER_TESTS_SCENE_H

#include <string>
#include <vector>

#include "omorvexer.h"
#include "support/meshes.h"
#include "vtnhost/host.h"

namespace testscene {

// A polygon object of the mesh, inserted last under parent (top level when null).
vtnhost::Object* addMesh(vtnhost::Host& host, vtnhost::Document* doc, const std::string& name, const testmesh::Mesh& mesh,
                         vtnhost::Object* parent = nullptr);
// An object of any type, inserted last at the top level.
vtnhost::Object* addObject(vtnhost::Host& host, vtnhost::Document* doc, Int32 type, const std::string& name);

// The indices selected in an object's n-th point selection tag; empty without such a tag.
std::vector<Int32> selectedPoints(const vtnhost::Object* op, int nr = 0);
// Indices of the object's points (taken to global coordinates) outside the cage by the winding number.
std::vector<Int32> outsideByWinding(const vtnhost::Object* mesh, const vtnhost::Object* cage);

// The points of every deformed object, in tree order: its name and a line break,
// its point count (u64), then x, y, z of each point (doubles), all little-endian
// as in memory. Two builds that deform alike give the same bytes.
std::string deformedPoints(const vtnhost::Document* doc);

// Bends, shears and tapers the cage of every Morvexer deformer in the document:
// a fixed pose in plain arithmetic only (no library functions), so that every
// build poses a cage to the same points, bit for bit.
void poseCages(vtnhost::Host& host, vtnhost::Document* doc);

}  // namespace testscene

#endif
