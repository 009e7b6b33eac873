// Every call from the host into a plug-in's callbacks: through the
// member-function references of the type's registration record, on the
// instance its allocator returned. A node without a plug-in instance, or a
// record without the reference, answers with the host's neutral result.
#include "vtnhost/host.h"
#include "vtnhost/matrix.h"
#include "vtnhost/recorder.h"
#include "vtnhost/scene.h"

namespace vtnhost {

void Node::releasePlugin()
{
	if (!data_)
		return;
	callFree();
	NodeData* data = data_;
	data_ = nullptr;
	plugin_->node().destroy(data);
}

const OBJECTPLUGIN* Node::objectRecord() const
{
	return plugin_ && plugin_->type == VTN_PLUGINTYPE_OBJECT ? &plugin_->record : nullptr;
}

bool Node::callInit()
{
	if (!data_ || !plugin_->node().Init)
		return true;
	return (data_->*plugin_->node().Init)(asListNode());
}

void Node::callFree()
{
	if (data_ && plugin_->node().Free)
		(data_->*plugin_->node().Free)(asListNode());
}

bool Node::callMessage(Int32 type, void* data)
{
	if (HostRecorder* recorder = Host::current().recorder())
		recorder->message(*this, type);
	// The update notice: points or settings changed.
	if (type == MSG_UPDATE)
		setDirty(DIRTYFLAGS_DATA);
	if (!data_ || !plugin_->node().Message)
		return true;
	return (data_->*plugin_->node().Message)(asListNode(), type, data);
}

bool Node::callCopyTo(Node* dest, Int32 flags, VtnAliasTrans* trans)
{
	if (!data_ || !dest->data_ || !plugin_->node().CopyTo)
		return true;
	return (data_->*plugin_->node().CopyTo)(dest->data_, asListNode(), dest->asListNode(), flags, reinterpret_cast<AliasTrans*>(trans));
}

bool Node::callRead(HyperFile* hf, Int32 level)
{
	if (!data_ || !plugin_->node().Read)
		return true;
	return (data_->*plugin_->node().Read)(asListNode(), hf, level);
}

bool Node::callWrite(HyperFile* hf)
{
	if (!data_ || !plugin_->node().Write)
		return true;
	return (data_->*plugin_->node().Write)(asListNode(), hf);
}

bool Node::isDeformer() const
{
	const OBJECTPLUGIN* rec = objectRecord();
	return data_ && rec && (rec->node.info & OBJECT_MODIFIER) && rec->ModifyObject;
}

bool Node::callModifyObject(Document* doc, Object* op, BaseThread* thread)
{
	const OBJECTPLUGIN* rec = objectRecord();
	if (!isDeformer())
		return true;
	const auto* self = dynamic_cast<const Object*>(this);
	const LMatrix op_mg = op->globalMatrix();
	const LMatrix mod_mg = self ? self->globalMatrix() : identityMatrix();
	return (static_cast<ObjectData*>(data_)->*rec->ModifyObject)(asObject(), reinterpret_cast<BaseDocument*>(doc), op->asObject(),
	                                                             op_mg, mod_mg, 1.0, 0, thread);
}

Int32 Node::callDraw(DRAWPASS pass, BaseDraw* bd, BaseDrawHelp* bh)
{
	const OBJECTPLUGIN* rec = objectRecord();
	if (!data_ || !rec || !rec->Draw)
		return DRAWRESULT_SKIP;
	return (static_cast<ObjectData*>(data_)->*rec->Draw)(asObject(), pass, bd, bh);
}

Int32 Node::callDetectHandle(BaseDraw* bd, Int32 x, Int32 y, QUALIFIER qualifier)
{
	const OBJECTPLUGIN* rec = objectRecord();
	if (!data_ || !rec || !rec->DetectHandle)
		return -1;
	return (static_cast<ObjectData*>(data_)->*rec->DetectHandle)(asObject(), bd, x, y, qualifier);
}

void Node::callCheckDirty(Document* doc)
{
	const OBJECTPLUGIN* rec = objectRecord();
	if (data_ && rec && rec->CheckDirty)
		(static_cast<ObjectData*>(data_)->*rec->CheckDirty)(asObject(), reinterpret_cast<BaseDocument*>(doc));
}

}  // namespace vtnhost
