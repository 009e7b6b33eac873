// A document with a deformer in it, for unit tests that need the deformer's
// own state: the plug-in's sources run in the test binary.
#ifndef MORVEXER_TESTS_DEFORMER_SCENE_H
#define MORVEXER_TESTS_DEFORMER_SCENE_H

#include <gtest/gtest.h>

#include <vector>

#include "object/morvex.h"
#include "support/morvex_access.h"
#include "support/scene.h"
#include "support/unit_host.h"

// While it lives, the host's compression library looks as an older host's
// does, without the slots that take a value in pieces: the plug-in then joins
// its weights into one block.
class OneBlockCompression
{
public:
	explicit OneBlockCompression(vtnhost::Host& host);
	~OneBlockCompression();

private:
	VTNLibrary* lib_;
	Int32 size_;
};

// One binding's weight tables, rows after rows.
struct BoundTables
{
	std::vector<float> phi, psi;
	Int32 rows = 0, cols = 0, faces = 0;
};

class DeformerScene : public ::testing::Test
{
protected:
	void SetUp() override;
	// Every test ends with the scene gone and no block of the plug-in left behind.
	void TearDown() override;

	// A polygon object of the mesh, linked as the deformer's parameter param_id.
	vtnhost::Object* addLinked(Int32 param_id, const testmesh::Mesh& mesh, const std::string& name);
	// op's points after an evaluation through the deformer's reference entry
	// point, made as the host makes one: on a copy of op's points.
	std::vector<LVector> evaluateReference(vtnhost::Object* op, vtnhost::Thread* thread = nullptr);

	using Tables = BoundTables;
	// mesh's points bound to cage, by the closed form through an evaluation or
	// by the per-face integration (reference); a mesh without faces gets one
	// triangle, as only objects with polygons are deformed. The scene is left
	// as it was; no tables when no binding was made.
	Tables bind(testmesh::Mesh mesh, const testmesh::Mesh& cage, bool reference);

	vtnhost::Host& host = unitHost();
	Recorder& recorder = unitRecorder();
	size_t baseline = 0;
	vtnhost::Document* doc = nullptr;
	vtnhost::Object* deformer = nullptr;
	Morvex* m = nullptr;
};

#endif
