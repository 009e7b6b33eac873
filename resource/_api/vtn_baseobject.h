// Views over host nodes: the plug-in never owns their data, it forwards each
// call to the host with the node's own pointer.
#ifndef VTN_BASEOBJECT_H
#define VTN_BASEOBJECT_H

#include "abi/vtn_ids.h"
#include "abi/vtn_types.h"
#include "vtn_basecontainer.h"
#include "vtn_string.h"

class NodeData;

class BaseTag;
class AliasTrans;

class GeListNode
{
public:
	GeListNode() = delete;
	GeListNode* GetNext();
	GeListNode* GetPred();
	GeListNode* GetUp();
	GeListNode* GetDown();
	NodeData* GetNodeData();
	// The document the node is in, or null.
	BaseDocument* GetDocument();
	bool Message(Int32 type, void* data = nullptr);
	Int32 GetDirty(Int32 flags) const;
	void SetDirty(Int32 flags);
	Int32 GetType() const;
	bool IsInstanceOf(Int32 type) const;
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
	LMatrix GetMg() const;
	void SetMg(const LMatrix& m);
	// Half of the bounding box's extent per axis, in the object's own coordinates.
	LVector GetRad() const;
	BaseObject* GetDeformCache();
	BaseObject* GetCacheParent();
	// A new object owned by the caller, or null.
	BaseObject* GetClone(Int32 flags, AliasTrans* trans);
	BaseTag* GetFirstTag();
	BaseTag* GetTag(Int32 type, Int32 nr = 0);
	// Hands the tag to the object; pred null makes it the first tag.
	void InsertTag(BaseTag* tag, BaseTag* pred = nullptr);
	void SetDeformMode(bool mode);
	bool GetDeformMode() const;
	void SetEditorMode(Int32 mode);
	void SetRenderMode(Int32 mode);
	void GetColorProperties(ObjectColorProperties* co) const;
	void SetColorProperties(const ObjectColorProperties* co);
};

class PointObject : public BaseObject
{
public:
	Int32 GetPointCount() const;
	const LVector* GetPointR() const;
	LVector* GetPointW();
	// One weight per point from modifier's restriction on this object (host block,
	// release with _GeFree), or null when the modifier is not restricted.
	float* CalcVertexMap(BaseObject* modifier);
};

class PolygonObject : public PointObject
{
public:
	Int32 GetPolygonCount() const;
	const CPolygon* GetPolygonR() const;
	CPolygon* GetPolygonW();
	// Frees an object the caller owns (a clone not inserted anywhere).
	static void Free(PolygonObject*& op);
};

inline PolygonObject* ToPoly(BaseObject* op) { return static_cast<PolygonObject*>(op); }

class BaseDocument
{
public:
	BaseDocument() = delete;
	bool AddUndo(Int32 type, void* data);
	// Takes op over, under parent (top level when null), behind pred (first when null).
	void InsertObject(BaseObject* op, BaseObject* parent, BaseObject* pred);
};

#endif
