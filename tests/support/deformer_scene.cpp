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
