#include "vtnhost/host.h"
#include "vtnhost/scene.h"

namespace vtnhost {

Node::Node(uint64_t id, Int32 type, const PluginRegistration* plugin)
    : id_(id), type_(type), plugin_(plugin), containerBox_(&container_)
{
}

Node::~Node() = default;

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
	if (!data_ || !plugin_->node().Message)
		return true;
	return (data_->*plugin_->node().Message)(asListNode(), type, data);
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

// Flags: 2 data, 4 matrix, 16 cache; a count grows with every change of its kind.
Int32 Node::dirty(Int32 flags) const
{
	Int32 sum = 0;
	if (flags & 2)
		sum += dirtyData_;
	if (flags & 4)
		sum += dirtyMatrix_;
	if (flags & 16)
		sum += dirtyCache_;
	return sum;
}

void Node::setDirty(Int32 flags)
{
	if (flags & 2)
		++dirtyData_;
	if (flags & 4)
		++dirtyMatrix_;
	if (flags & 16)
		++dirtyCache_;
}

}  // namespace vtnhost
