// Base classes of node plug-ins. The host reaches every callback through a
// member-function reference stored in the registration record, so the order and
// signatures of these virtual operations are part of the module boundary. The
// host includes this header for the declarations only; the definitions live in
// the plug-in.
#ifndef VTN_NODEDATA_H
#define VTN_NODEDATA_H

#include "vtn_types.h"

class String;
class GeData;
class DescID;
class BaseContainer;
class AliasTrans;

typedef Int32 COPYFLAGS;
typedef Int32 GETBRANCHINFO;
typedef Int32 DESCFLAGS_DESC;
typedef Int32 DESCFLAGS_GET;
typedef Int32 DESCFLAGS_SET;
typedef Int32 DESCFLAGS_ENABLE;
typedef Int32 DRAWPASS;
typedef Int32 QUALIFIER;
typedef Int32 EXECUTIONFLAGS;

// Results of ObjectData::Draw.
enum
{
	DRAWRESULT_ERROR = 0,
	DRAWRESULT_OK = 1,
	DRAWRESULT_SKIP = 2,
};
enum { DRAWPASS_HANDLES = 2 };
enum { QUALIFIER_SHIFT = 1, QUALIFIER_CTRL = 2 };
// A handle whose first coordinate reaches this value is hidden.
#define VTN_HANDLE_HIDDEN 1e308

class BaseData
{
public:
	virtual ~BaseData() {}
	// Destroys and releases p through its virtual destructor; null does nothing.
	static void Destructor(BaseData* p);
};

class NodeData : public BaseData
{
public:
	virtual bool Init(GeListNode* node);
	virtual void Free(GeListNode* node);
	virtual bool Read(GeListNode* node, HyperFile* hf, Int32 level);
	virtual bool Write(GeListNode* node, HyperFile* hf);
	virtual bool Message(GeListNode* node, Int32 type, void* data);
	virtual bool CopyTo(NodeData* dest, GeListNode* snode, GeListNode* dnode, COPYFLAGS flags, AliasTrans* trans);
	virtual void GetBubbleHelp(GeListNode* node, String& str);
	virtual BaseDocument* GetDocument(GeListNode* node);
	virtual Int32 GetBranchInfo(GeListNode* node, BranchInfo* info, Int32 max, GETBRANCHINFO flags);
	virtual bool IsInstanceOf(const GeListNode* node, Int32 type) const;
	virtual bool GetDDescription(GeListNode* node, Description* description, DESCFLAGS_DESC& flags);
	virtual bool GetDParameter(GeListNode* node, const DescID& id, GeData& t_data, DESCFLAGS_GET& flags);
	virtual bool GetDEnabling(GeListNode* node, const DescID& id, const GeData& t_data, DESCFLAGS_ENABLE flags, const BaseContainer* itemdesc);
	virtual bool SetDParameter(GeListNode* node, const DescID& id, const GeData& t_data, DESCFLAGS_SET& flags);
	virtual bool TranslateDescID(GeListNode* node, const DescID& id, DescID& res_id, VTNAtom*& res_at);
	virtual bool IsDocumentRelated(const GeListNode* node, bool& docrelated) const;
};

class ObjectData : public NodeData
{
public:
	virtual void GetDimension(BaseObject* op, LVector* mp, LVector* rad);
	virtual Int32 Draw(BaseObject* op, DRAWPASS drawpass, BaseDraw* bd, BaseDrawHelp* bh);
	virtual Int32 DetectHandle(BaseObject* op, BaseDraw* bd, Int32 x, Int32 y, QUALIFIER qualifier);
	virtual bool MoveHandle(BaseObject* op, BaseObject* undo, const LMatrix& tm, Int32 hit_id, QUALIFIER qualifier);
	virtual bool AddToExecution(BaseObject* op, PriorityList* list);
	virtual Int32 Execute(BaseObject* op, BaseDocument* doc, BaseThread* bt, Int32 priority, EXECUTIONFLAGS flags);
	virtual void GetModelingAxis(BaseObject* op, BaseDocument* doc, LMatrix& axis);
	virtual BaseObject* GetVirtualObjects(BaseObject* op, HierarchyHelp* hh);
	virtual bool ModifyObject(BaseObject* mod, BaseDocument* doc, BaseObject* op, const LMatrix& op_mg, const LMatrix& mod_mg, double lod, Int32 flags, BaseThread* thread);
	virtual void CheckDirty(BaseObject* op, BaseDocument* doc);
	virtual SplineObject* GetContour(BaseObject* op, BaseDocument* doc, double lod, BaseThread* bt);
	virtual void ModifyParticles(BaseObject* op, Particle* pp, BaseParticle* ss, Int32 pcnt, double diff);
	virtual Int32 GetHandleCount(BaseObject* op);
	virtual LVector GetHandle(BaseObject* op, Int32 i);
	virtual void SetHandle(BaseObject* op, Int32 i, LVector p);
};

#endif
