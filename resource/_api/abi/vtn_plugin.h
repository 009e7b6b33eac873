// The registration record of node and object plug-ins. The plug-in builds it
// zero-filled on the stack and hands it to the host, which copies what it needs.
// Callbacks are two-word member-function references to the virtual operations,
// so the host reaches the override of the instance's actual class.
#ifndef VTN_ABI_PLUGIN_H
#define VTN_ABI_PLUGIN_H

#include "vtn_nodedata.h"

typedef NodeData* (*DataAllocator)();

// Member-function references, one type per callback.
typedef bool (NodeData::*NodeInitRef)(GeListNode*);
typedef void (NodeData::*NodeFreeRef)(GeListNode*);
typedef bool (NodeData::*NodeReadRef)(GeListNode*, HyperFile*, Int32);
typedef bool (NodeData::*NodeWriteRef)(GeListNode*, HyperFile*);
typedef bool (NodeData::*NodeCopyToRef)(NodeData*, GeListNode*, GeListNode*, COPYFLAGS, AliasTrans*);
typedef bool (NodeData::*NodeMessageRef)(GeListNode*, Int32, void*);
typedef BaseDocument* (NodeData::*NodeGetDocumentRef)(GeListNode*);
typedef void (NodeData::*NodeGetBubbleHelpRef)(GeListNode*, String&);
typedef bool (NodeData::*NodeGetDDescriptionRef)(GeListNode*, Description*, DESCFLAGS_DESC&);
typedef bool (NodeData::*NodeGetDParameterRef)(GeListNode*, const DescID&, GeData&, DESCFLAGS_GET&);
typedef bool (NodeData::*NodeSetDParameterRef)(GeListNode*, const DescID&, const GeData&, DESCFLAGS_SET&);
typedef bool (NodeData::*NodeGetDEnablingRef)(GeListNode*, const DescID&, const GeData&, DESCFLAGS_ENABLE, const BaseContainer*);
typedef bool (NodeData::*NodeIsInstanceOfRef)(const GeListNode*, Int32) const;
typedef Int32 (NodeData::*NodeGetBranchInfoRef)(GeListNode*, BranchInfo*, Int32, GETBRANCHINFO);
typedef bool (NodeData::*NodeTranslateDescIDRef)(GeListNode*, const DescID&, DescID&, VTNAtom*&);
typedef bool (NodeData::*NodeIsDocumentRelatedRef)(const GeListNode*, bool&) const;

typedef void (ObjectData::*ObjectGetDimensionRef)(BaseObject*, LVector*, LVector*);
typedef Int32 (ObjectData::*ObjectDrawRef)(BaseObject*, DRAWPASS, BaseDraw*, BaseDrawHelp*);
typedef Int32 (ObjectData::*ObjectDetectHandleRef)(BaseObject*, BaseDraw*, Int32, Int32, QUALIFIER);
typedef bool (ObjectData::*ObjectMoveHandleRef)(BaseObject*, BaseObject*, const LMatrix&, Int32, QUALIFIER);
typedef BaseObject* (ObjectData::*ObjectGetVirtualObjectsRef)(BaseObject*, HierarchyHelp*);
typedef bool (ObjectData::*ObjectModifyObjectRef)(BaseObject*, BaseDocument*, BaseObject*, const LMatrix&, const LMatrix&, double, Int32, BaseThread*);
typedef void (ObjectData::*ObjectCheckDirtyRef)(BaseObject*, BaseDocument*);
typedef SplineObject* (ObjectData::*ObjectGetContourRef)(BaseObject*, BaseDocument*, double, BaseThread*);
typedef void (ObjectData::*ObjectModifyParticlesRef)(BaseObject*, Particle*, BaseParticle*, Int32, double);
typedef bool (ObjectData::*ObjectAddToExecutionRef)(BaseObject*, PriorityList*);
typedef Int32 (ObjectData::*ObjectExecuteRef)(BaseObject*, BaseDocument*, BaseThread*, Int32, EXECUTIONFLAGS);
typedef void (ObjectData::*ObjectGetModelingAxisRef)(BaseObject*, BaseDocument*, LMatrix&);

// Info bits of object types that gate the conditional references.
enum
{
	OBJECT_MODIFIER = 1,
	OBJECT_GENERATOR = 4,
	OBJECT_PARTICLEMODIFIER = 32,
	OBJECT_ISSPLINE = 128,
};

struct NODEPLUGIN
{
	Int32 info;
	Int32 pad0;
	void (*destroy)(BaseData*);
	void* zero0;
	void* reserved0[(128 - 24) / 8];  // 24 .. 127, zero
	Int32 disk_level;
	Int32 pad1;
	void* reserved1;
	void* emulation;
	void* zero1;
	BaseBitmap* icon;
	DataAllocator allocator;
	NodeInitRef Init;
	NodeFreeRef Free;
	NodeReadRef Read;
	NodeWriteRef Write;
	NodeCopyToRef CopyTo;
	NodeMessageRef Message;
	NodeGetDocumentRef GetDocument;
	NodeGetBubbleHelpRef GetBubbleHelp;
	NodeGetDDescriptionRef GetDDescription;
	NodeGetDParameterRef GetDParameter;
	NodeSetDParameterRef SetDParameter;
	NodeGetDEnablingRef GetDEnabling;
	NodeIsInstanceOfRef IsInstanceOf;
	NodeGetBranchInfoRef GetBranchInfo;
	NodeTranslateDescIDRef TranslateDescID;
	NodeIsDocumentRelatedRef IsDocumentRelated;
	void* reserved2[(640 - 432) / 8];  // 432 .. 639, zero
};

struct OBJECTPLUGIN
{
	NODEPLUGIN node;
	BaseBitmap* icon;
	ObjectGetDimensionRef GetDimension;
	ObjectDrawRef Draw;
	ObjectDetectHandleRef DetectHandle;
	ObjectMoveHandleRef MoveHandle;
	ObjectGetVirtualObjectsRef GetVirtualObjects;
	ObjectModifyObjectRef ModifyObject;
	ObjectCheckDirtyRef CheckDirty;
	ObjectGetContourRef GetContour;
	ObjectModifyParticlesRef ModifyParticles;
	ObjectAddToExecutionRef AddToExecution;
	ObjectExecuteRef Execute;
	ObjectGetModelingAxisRef GetModelingAxis;
	void* reserved[(1152 - 840) / 8];  // 840 .. 1151, zero
};

#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
static_assert(sizeof(NodeInitRef) == 16, "member-function references are two words");
static_assert(offsetof(NODEPLUGIN, info) == 0, "record: info");
static_assert(offsetof(NODEPLUGIN, destroy) == 8, "record: destroy");
static_assert(offsetof(NODEPLUGIN, zero0) == 16, "record: zero word");
static_assert(offsetof(NODEPLUGIN, disk_level) == 128, "record: disk level");
static_assert(offsetof(NODEPLUGIN, emulation) == 144, "record: emulation");
static_assert(offsetof(NODEPLUGIN, zero1) == 152, "record: zero word");
static_assert(offsetof(NODEPLUGIN, icon) == 160, "record: icon");
static_assert(offsetof(NODEPLUGIN, allocator) == 168, "record: allocator");
static_assert(offsetof(NODEPLUGIN, Init) == 176, "record: first node reference");
static_assert(offsetof(NODEPLUGIN, IsDocumentRelated) == 416, "record: last node reference");
static_assert(sizeof(NODEPLUGIN) == 640, "record: node part size");
static_assert(offsetof(OBJECTPLUGIN, icon) == 640, "record: object icon");
static_assert(offsetof(OBJECTPLUGIN, GetDimension) == 648, "record: first object reference");
static_assert(offsetof(OBJECTPLUGIN, GetVirtualObjects) == 712, "record: GetVirtualObjects");
static_assert(offsetof(OBJECTPLUGIN, ModifyObject) == 728, "record: ModifyObject");
static_assert(offsetof(OBJECTPLUGIN, GetContour) == 760, "record: GetContour");
static_assert(offsetof(OBJECTPLUGIN, ModifyParticles) == 776, "record: ModifyParticles");
static_assert(offsetof(OBJECTPLUGIN, GetModelingAxis) == 824, "record: last object reference");
static_assert(sizeof(OBJECTPLUGIN) == 1152, "record: object size");
#endif

#endif
