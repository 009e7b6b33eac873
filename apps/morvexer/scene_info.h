// A readable account of a loaded deformer: its bindings and rest pose, as the
// deformer itself reports them.
#ifndef MORVEXER_SCENE_INFO_H
#define MORVEXER_SCENE_INFO_H

#include <string>

#include "vtnhost/scene.h"

namespace mvx {

// Throws Failure, naming path, when the deformer cannot tell what it holds:
// a plug-in without the summary, or scene data of a version it cannot read.
std::string describeDeformer(vtnhost::Object& deformer, const std::string& path);
// Throws that Failure alone.
void requireReadable(vtnhost::Object& deformer, const std::string& path);

}  // namespace mvx

#endif
