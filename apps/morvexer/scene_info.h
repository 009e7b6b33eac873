// A readable account of a loaded deformer: its bindings and rest pose, read
// from the block the scene file held for it.
#ifndef MORVEXER_SCENE_INFO_H
#define MORVEXER_SCENE_INFO_H

#include <string>

#include "vtnhost/scene.h"

namespace mvx {

std::string describeDeformer(const vtnhost::Document& doc, const vtnhost::Object& deformer);

}  // namespace mvx

#endif
