#include "vtnhost/actions.h"
#include "support/deformer_scene.h"

#include "abi/vtn_libraries.h"
#include "vtn_pmain.h"
#include "vtn_register.h"

void DeformerScene::SetUp()
{
	if (!host.findRegistration(ID_MORVEXER))
	{
		ASSERT_TRUE(RegisterObjectPlugin(ID_MORVEXER, String("Morvexer"), OBJECT_MODIFIER, Morvex::Alloc, String(), nullptr, 0));
	}
	baseline = host.memory().liveBlocks();
	doc = host.newDocument();
	deformer = testscene::addObject(host, doc, ID_MORVEXER, "Morvexer");
	ASSERT_NE(deformer, nullptr);
	m = static_cast<Morvex*>(deformer->nodeData());
}

void DeformerScene::TearDown()
{
	recorder.failModeling = false;
	host.destroyDocument(doc);
	EXPECT_EQ(host.memory().liveBlocks(), baseline) << "the deformer left blocks behind";
}

std::vector<LVector> DeformerScene::evaluateReference(vtnhost::Object* op, vtnhost::Thread* thread)
{
	std::vector<LVector> buffer = op->points;
	op->setEvaluationBuffer(&buffer);
	m->ModifyObjectReference(deformer->asObject(), doc->asDocument(), op->asObject(), op->globalMatrix(), deformer->globalMatrix(), 1.0,
	                         0, thread ? thread->asThread() : nullptr);
	op->setEvaluationBuffer(nullptr);
	return buffer;
}

DeformerScene::Tables DeformerScene::bind(testmesh::Mesh mesh, const testmesh::Mesh& cage, bool reference)
{
	if (mesh.polygons.empty())
		mesh.polygons.push_back({0, 1, 2, 2});
	vtnhost::Object* op = testscene::addMesh(host, doc, "Mesh", mesh);
	std::unique_ptr<vtnhost::Object> d = doc->remove(deformer);
	doc->insert(std::move(d), op, nullptr);
	vtnhost::Object* c = addLinked(MORVEX_CAGE, cage, "Cage");
	EXPECT_TRUE(vtnhost::pressButton(deformer, MORVEX_BIND));
	if (reference)
		EXPECT_TRUE(m->BindReference(deformer->asObject(), op->asObject(), nullptr));
	else
		host.evaluate(doc);
	Tables t;
	if (internals(m).bindings.GetCount() == 1)
	{
		const Cobjbuff* r = internals(m).bindings[0];
		t.rows = r->pointCount;
		t.cols = r->cagePointCount;
		t.faces = r->faceCount;
		t.phi.assign(r->FI[0], r->FI[0] + size_t(t.rows) * size_t(t.cols));
		t.psi.assign(r->PSI[0], r->PSI[0] + size_t(t.rows) * size_t(t.faces));
	}
	std::unique_ptr<vtnhost::Object> back = doc->remove(deformer);
	doc->insert(std::move(back), nullptr, nullptr);
	doc->remove(op).reset();
	doc->remove(c).reset();
	return t;
}

vtnhost::Object* DeformerScene::addLinked(Int32 param_id, const testmesh::Mesh& mesh, const std::string& name)
{
	vtnhost::Object* op = testscene::addMesh(host, doc, name, mesh);
	vtnhost::setLink(deformer, param_id, op);
	return op;
}

OneBlockCompression::OneBlockCompression(vtnhost::Host& host)
    : lib_(static_cast<VTNLibrary*>(host.registryFind(VTN_REGISTRY_LIBRARY, VTN_LIB_COMPRESSION))), size_(lib_->size)
{
	lib_->size = static_cast<Int32>(VTN_LIB_END(VTN_CompressionLib, UncompressData));
}

OneBlockCompression::~OneBlockCompression() { lib_->size = size_; }
