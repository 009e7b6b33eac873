#define VTN_SOURCE "vtn_nodedata"
#include "abi/vtn_nodedata.h"

#include <cstring>

#include "abi/vtn_plugin.h"
#include "vtn_baseobject.h"
#include "vtn_general.h"
#include "vtn_math.h"
#include "vtn_memory.h"
#include "vtn_pmain.h"
#include "vtn_register.h"
#include "vtn_resource.h"

void BaseData::Destructor(BaseData* p)
{
	DeleteObj(p);
}

// ---- NodeData defaults: leave every out-parameter untouched ----

bool NodeData::Init(GeListNode*) { return true; }
void NodeData::Free(GeListNode*) {}
bool NodeData::Read(GeListNode*, HyperFile*, Int32) { return true; }
bool NodeData::Write(GeListNode*, HyperFile*) { return true; }
bool NodeData::Message(GeListNode*, Int32, void*) { return true; }
bool NodeData::CopyTo(NodeData*, GeListNode*, GeListNode*, COPYFLAGS, AliasTrans*) { return true; }
void NodeData::GetBubbleHelp(GeListNode*, String&) {}
BaseDocument* NodeData::GetDocument(GeListNode*) { return nullptr; }
Int32 NodeData::GetBranchInfo(GeListNode*, BranchInfo*, Int32, GETBRANCHINFO) { return 0; }
bool NodeData::IsInstanceOf(const GeListNode*, Int32) const { return false; }
bool NodeData::GetDDescription(GeListNode*, Description*, DESCFLAGS_DESC&) { return false; }
bool NodeData::GetDParameter(GeListNode*, const DescID&, GeData&, DESCFLAGS_GET&) { return true; }
bool NodeData::GetDEnabling(GeListNode*, const DescID&, const GeData&, DESCFLAGS_ENABLE, const BaseContainer*) { return true; }
bool NodeData::SetDParameter(GeListNode*, const DescID&, const GeData&, DESCFLAGS_SET&) { return true; }
bool NodeData::TranslateDescID(GeListNode*, const DescID&, DescID&, VTNAtom*&) { return false; }
bool NodeData::IsDocumentRelated(const GeListNode*, bool&) const { return false; }

// ---- ObjectData defaults ----

void ObjectData::GetDimension(BaseObject*, LVector*, LVector*) {}

namespace {

LMatrix GlobalMatrix(const BaseObject* op)
{
	LMatrix mg;
	t_VTNOS->object->GetMg(op, &mg);
	return mg;
}

bool HandleHidden(const LVector& p) { return p.x >= VTN_HANDLE_HIDDEN; }

}  // namespace

Int32 ObjectData::Draw(BaseObject* op, DRAWPASS drawpass, BaseDraw* bd, BaseDrawHelp*)
{
	if (drawpass != DRAWPASS_HANDLES)
		return DRAWRESULT_SKIP;
	const Int32 count = GetHandleCount(op);
	if (count == 0)
		return DRAWRESULT_SKIP;
	VTN_Draw* draw = t_VTNOS->draw;
	const LMatrix mg = GlobalMatrix(op);
	draw->SetMatrix(bd, &mg);
	LVector color;
	draw->GetHandleColor(bd, 0, &color);
	draw->SetPen(bd, &color);
	for (Int32 i = 0; i < count; ++i)
	{
		const LVector p = GetHandle(op, i);
		if (!HandleHidden(p))
			draw->DrawHandle(bd, &p, 0);
	}
	return DRAWRESULT_OK;
}

Int32 ObjectData::DetectHandle(BaseObject* op, BaseDraw* bd, Int32 x, Int32 y, QUALIFIER qualifier)
{
	if (qualifier & QUALIFIER_CTRL)
		return -1;
	const LMatrix mg = GlobalMatrix(op);
	Int32 hit = -1;
	const Int32 count = GetHandleCount(op);
	for (Int32 i = 0; i < count; ++i)
	{
		const LVector p = GetHandle(op, i);
		if (HandleHidden(p))
			continue;
		const LVector g = mg * p;
		if (t_VTNOS->draw->PointInRange(bd, &g, x, y))
		{
			hit = i;
			if (!(qualifier & QUALIFIER_SHIFT))
				break;
		}
	}
	return hit;
}

bool ObjectData::MoveHandle(BaseObject* op, BaseObject* undo, const LMatrix& tm, Int32 hit_id, QUALIFIER)
{
	auto* undo_data = static_cast<ObjectData*>(undo->GetNodeData());
	const LVector p = undo_data->GetHandle(undo, hit_id);
	SetHandle(op, hit_id, tm * p);
	return true;
}

bool ObjectData::AddToExecution(BaseObject*, PriorityList*) { return false; }
Int32 ObjectData::Execute(BaseObject*, BaseDocument*, BaseThread*, Int32, EXECUTIONFLAGS) { return 0; }
void ObjectData::GetModelingAxis(BaseObject*, BaseDocument*, LMatrix&) {}
BaseObject* ObjectData::GetVirtualObjects(BaseObject*, HierarchyHelp*) { return nullptr; }
bool ObjectData::ModifyObject(BaseObject*, BaseDocument*, BaseObject*, const LMatrix&, const LMatrix&, double, Int32, BaseThread*) { return true; }
void ObjectData::CheckDirty(BaseObject*, BaseDocument*) {}
SplineObject* ObjectData::GetContour(BaseObject*, BaseDocument*, double, BaseThread*) { return nullptr; }
void ObjectData::ModifyParticles(BaseObject*, Particle*, BaseParticle*, Int32, double) {}
Int32 ObjectData::GetHandleCount(BaseObject*) { return 0; }
LVector ObjectData::GetHandle(BaseObject*, Int32) { return LVector{0.0, 0.0, 0.0}; }
void ObjectData::SetHandle(BaseObject*, Int32, LVector) {}

// ---- registration ----

void FillNodePlugin(NODEPLUGIN* np, Int32 info, DataAllocator alloc, BaseBitmap* icon, Int32 disk_level, void* emulation)
{
	np->info = info;
	np->destroy = BaseData::Destructor;
	np->disk_level = disk_level;
	np->emulation = emulation;
	np->icon = icon;
	np->allocator = alloc;
	np->Init = &NodeData::Init;
	np->Free = &NodeData::Free;
	np->Read = &NodeData::Read;
	np->Write = &NodeData::Write;
	np->CopyTo = &NodeData::CopyTo;
	np->Message = &NodeData::Message;
	np->GetDocument = &NodeData::GetDocument;
	np->GetBubbleHelp = &NodeData::GetBubbleHelp;
	np->GetDDescription = &NodeData::GetDDescription;
	np->GetDParameter = &NodeData::GetDParameter;
	np->SetDParameter = &NodeData::SetDParameter;
	np->GetDEnabling = &NodeData::GetDEnabling;
	np->IsInstanceOf = &NodeData::IsInstanceOf;
	np->GetBranchInfo = &NodeData::GetBranchInfo;
	np->TranslateDescID = &NodeData::TranslateDescID;
	np->IsDocumentRelated = &NodeData::IsDocumentRelated;
}

bool RegisterObjectPlugin(Int32 id, const String& name, Int32 info, DataAllocator alloc, const String& description, BaseBitmap* icon, Int32 disk_level)
{
	if (description.Content() && !RegisterDescription(id, description, nullptr))
		return false;
	OBJECTPLUGIN op;
	std::memset(static_cast<void*>(&op), 0, sizeof op);
	FillNodePlugin(&op.node, info, alloc, icon, disk_level, nullptr);
	op.icon = icon;
	op.GetDimension = &ObjectData::GetDimension;
	op.Draw = &ObjectData::Draw;
	op.DetectHandle = &ObjectData::DetectHandle;
	op.MoveHandle = &ObjectData::MoveHandle;
	if (info & OBJECT_GENERATOR)
		op.GetVirtualObjects = &ObjectData::GetVirtualObjects;
	if (info & OBJECT_MODIFIER)
		op.ModifyObject = &ObjectData::ModifyObject;
	op.CheckDirty = &ObjectData::CheckDirty;
	if (info & OBJECT_ISSPLINE)
		op.GetContour = &ObjectData::GetContour;
	if (info & OBJECT_PARTICLEMODIFIER)
		op.ModifyParticles = &ObjectData::ModifyParticles;
	op.AddToExecution = &ObjectData::AddToExecution;
	op.Execute = &ObjectData::Execute;
	op.GetModelingAxis = &ObjectData::GetModelingAxis;
	return GeRegisterPlugin(VTN_PLUGINTYPE_OBJECT, id, name, &op, sizeof op);
}

bool RegisterNodePlugin(Int32 id, const String& name, Int32 info, DataAllocator alloc, BaseBitmap* icon, Int32 disk_level, Int32*)
{
	NODEPLUGIN np;
	std::memset(static_cast<void*>(&np), 0, sizeof np);
	FillNodePlugin(&np, info, alloc, icon, disk_level, nullptr);
	return GeRegisterPlugin(VTN_PLUGINTYPE_NODE, id, name, &np, sizeof np);
}
