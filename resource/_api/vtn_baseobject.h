// Views over host nodes: the plug-in never owns their data, it forwards each
// call to the host with the node's own pointer.
#ifndef VTN_BASEOBJECT_H
#define VTN_BASEOBJECT_H

#include "abi/vtn_types.h"
#include "vtn_basecontainer.h"
#include "vtn_string.h"

class NodeData;

class GeListNode
{
public:
	GeListNode() = delete;
	NodeData* GetNodeData();
	// The document the node is in, or null.
	BaseDocument* GetDocument();
	bool Message(Int32 type, void* data = nullptr);
	Int32 GetDirty(Int32 flags) const;
	void SetDirty(Int32 flags);
	Int32 GetType() const;
};

class VTNAtom : public GeListNode
{
public:
	bool SetParameter(const DescID& id, const GeData& v, Int32 flags);
};

class BaseList2D : public VTNAtom
{
public:
	// The node's own container: changes take effect.
	BaseContainer* GetDataInstance();
	// A copy of the node's container.
	BaseContainer GetData();
	String GetName() const;
	void SetName(const String& name);
};

class BaseObject : public BaseList2D
{
public:
	void SetDeformMode(bool mode);
};

#endif
