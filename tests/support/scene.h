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

}  // namespace testscene

#endif
