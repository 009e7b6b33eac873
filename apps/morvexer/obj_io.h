// Reading and writing Wavefront OBJ files for the command-line tool. Meshes are
// written back by editing the positions in the original text, so whatever else
// the file carries (uvs, normals, groups, materials, comments) survives.
#ifndef MORVEXER_APP_OBJ_IO_H
#define MORVEXER_APP_OBJ_IO_H

#include <cstdint>
#include <string>
#include <vector>

#include "abi/vtn_types.h"
#include "steps.h"

namespace mvx {

struct ObjMesh
{
	std::string path;
	std::vector<LVector> points;            // the v lines' positions, in file order
	std::vector<std::vector<Int32>> faces;  // the f lines, 0-based position indices, file order
	std::string text;                       // the file exactly as read, for writing back
};

// Reads the OBJ at path. False with one line in *error naming the file and the
// problem (missing file, not an OBJ, no vertices, a bad position, a face with
// fewer than 3 corners or a corner out of range, more than limit bytes). With
// progress, reports how far it has read and gives up (false) once Ctrl-C asks
// it to stop.
bool readObj(const std::string& path, ObjMesh* out, std::string* error, Progress* progress = nullptr, uint64_t limit = UINT64_MAX);
// The same for OBJ text already in memory; path only names it in messages.
bool parseObj(const std::string& path, std::string text, ObjMesh* out, std::string* error, Progress* progress = nullptr);

// mesh.text with the x y z of its v lines set to points (same count as read);
// every other byte stays as it was. A coordinate equal to the value already in
// the file keeps its original spelling; a changed one is written with the
// fewest digits that read back as the same double. The storage *out already
// has is reused; on failure *out is left empty. progress as readObj's.
bool replaceVertices(const ObjMesh& mesh, const std::vector<LVector>& points, std::string* out, std::string* error,
                     Progress* progress = nullptr);

// Writes text to path through a temporary file in the same folder and a
// rename, so readers see the old file or the new one, never a partial one.
// An existing file keeps its permissions. Nothing is left behind on failure.
bool writeFileAtomic(const std::string& path, const std::string& text, std::string* error);

// A pose of source (points in its v order) written to path as source's own
// text with the new positions, atomically: how every deformed mesh is written.
// progress as replaceVertices's (nothing is written once Ctrl-C asks to stop);
// buffer, when given, holds the text and keeps its storage from call to call.
bool writePosedObj(const ObjMesh& source, const std::vector<LVector>& points, const std::string& path, std::string* error,
                   Progress* progress = nullptr, std::string* buffer = nullptr);

// A plain OBJ: "# comment" lines, then v lines, then 1-based f lines.
std::string objText(const std::vector<LVector>& points, const std::vector<std::vector<Int32>>& faces, const std::string& comment);

}  // namespace mvx

#endif
