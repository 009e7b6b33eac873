// Nodes of the stand-in host. A node of a plug-in type carries the instance
// that the plug-in's allocator returned, and every callback of the plug-in is
// invoked through the member-function references of its registration record.
#ifndef VTNHOST_SCENE_H
#define VTNHOST_SCENE_H

#include <cstdint>
#include <string>

#include "abi/vtn_plugin.h"
#include "vtnhost/values.h"

namespace vtnhost {

struct PluginRegistration;
class Document;

class Node
{
public:
	Node(uint64_t id, Int32 type, const PluginRegistration* plugin);
	~Node();
	Node(const Node&) = delete;
	Node& operator=(const Node&) = delete;

	uint64_t id() const { return id_; }
	Int32 type() const { return type_; }
	const PluginRegistration* plugin() const { return plugin_; }
	NodeData* nodeData() const { return data_; }
	void setNodeData(NodeData* d) { data_ = d; }

	VtnContainer& container() { return container_; }
	const VtnContainer& container() const { return container_; }
	// The box the plug-in reads as its BaseContainer.
	VtnContainer* const* containerBox() const { return &containerBox_; }

	std::string name;
	bool deformMode = true;
	// Local matrix; nodes are not yet kept under parents, so it is also the global one.
	LMatrix matrix{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
	LMatrix globalMatrix() const { return matrix; }
	Document* document() const { return doc_; }

	// The node as the plug-in sees it.
	GeListNode* asListNode() { return reinterpret_cast<GeListNode*>(this); }
	BaseObject* asObject() { return reinterpret_cast<BaseObject*>(this); }
	static Node* from(const void* p) { return const_cast<Node*>(static_cast<const Node*>(p)); }

	// Callbacks of the plug-in, through the record; a type without a plug-in
	// (or a null reference) answers with the host's neutral result.
	bool callInit();
	void callFree();
	bool callMessage(Int32 type, void* data);
	Int32 callDraw(DRAWPASS pass, BaseDraw* bd, BaseDrawHelp* bh);
	Int32 callDetectHandle(BaseDraw* bd, Int32 x, Int32 y, QUALIFIER qualifier);

	Int32 dirty(Int32 flags) const;
	void setDirty(Int32 flags);

private:
	const OBJECTPLUGIN* objectRecord() const;

	uint64_t id_;
	Int32 type_;
	const PluginRegistration* plugin_;
	NodeData* data_ = nullptr;
	Document* doc_ = nullptr;
	VtnContainer container_;
	VtnContainer* containerBox_;
	Int32 dirtyData_ = 0;
	Int32 dirtyMatrix_ = 0;
	Int32 dirtyCache_ = 0;
};

}  // namespace vtnhost

#endif
