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

// Member-function references are two words, function then object adjustment:
// the Itanium C++ ABI, which GCC, Clang and MinGW follow on every platform.
// A compiler that lays them out otherwise (MSVC uses one word for classes like
// these) cannot fill or read the record.
#if defined(_MSC_VER) && !defined(__clang__)
#error "the registration record holds Itanium member-function references (two words); build with GCC, Clang or MinGW"
#endif
static_assert(sizeof(NodeInitRef) == VTN_WORDS(2) && sizeof(ObjectModifyObjectRef) == VTN_WORDS(2),
              "member-function references must be two words (Itanium C++ ABI): this compiler cannot build the record");

struct NODEPLUGIN
{
	Int32 info;                       // word 0
	void (*destroy)(BaseData*);       // 1
	void* zero0;                      // 2
	void* reserved0[13];              // 3 .. 15
	Int32 disk_level;                 // 16
	void* reserved1;                  // 17
	void* emulation;                  // 18
	void* zero1;                      // 19
	BaseBitmap* icon;                 // 20
	DataAllocator allocator;          // 21
	NodeInitRef Init;                 // 22, two words each from here
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
	NodeIsDocumentRelatedRef IsDocumentRelated;  // 52, 53
	void* reserved2[26];              // 54 .. 79
};

struct OBJECTPLUGIN
{
	NODEPLUGIN node;                  // words 0 .. 79
	BaseBitmap* icon;                 // 80
	ObjectGetDimensionRef GetDimension;  // 81, two words each from here
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
	ObjectGetModelingAxisRef GetModelingAxis;  // 103, 104
	void* reserved[39];               // 105 .. 143
};

// The record in words: on 64 bits the published byte offsets (node section 640
// bytes, object record 1152), on 32 bits the same words.
static_assert(offsetof(NODEPLUGIN, info) == 0, "record: info");
static_assert(offsetof(NODEPLUGIN, destroy) == VTN_WORDS(1), "record: destroy");
static_assert(offsetof(NODEPLUGIN, zero0) == VTN_WORDS(2), "record: zero word");
static_assert(offsetof(NODEPLUGIN, disk_level) == VTN_WORDS(16), "record: disk level");
static_assert(offsetof(NODEPLUGIN, emulation) == VTN_WORDS(18), "record: emulation");
static_assert(offsetof(NODEPLUGIN, zero1) == VTN_WORDS(19), "record: zero word");
static_assert(offsetof(NODEPLUGIN, icon) == VTN_WORDS(20), "record: icon");
static_assert(offsetof(NODEPLUGIN, allocator) == VTN_WORDS(21), "record: allocator");
static_assert(offsetof(NODEPLUGIN, Init) == VTN_WORDS(22), "record: first node reference");
static_assert(offsetof(NODEPLUGIN, IsDocumentRelated) == VTN_WORDS(52), "record: last node reference");
static_assert(sizeof(NODEPLUGIN) == VTN_WORDS(80), "record: node part size");
static_assert(offsetof(OBJECTPLUGIN, icon) == VTN_WORDS(80), "record: object icon");
static_assert(offsetof(OBJECTPLUGIN, GetDimension) == VTN_WORDS(81), "record: first object reference");
static_assert(offsetof(OBJECTPLUGIN, GetVirtualObjects) == VTN_WORDS(89), "record: GetVirtualObjects");
static_assert(offsetof(OBJECTPLUGIN, ModifyObject) == VTN_WORDS(91), "record: ModifyObject");
static_assert(offsetof(OBJECTPLUGIN, GetContour) == VTN_WORDS(95), "record: GetContour");
static_assert(offsetof(OBJECTPLUGIN, ModifyParticles) == VTN_WORDS(97), "record: ModifyParticles");
static_assert(offsetof(OBJECTPLUGIN, GetModelingAxis) == VTN_WORDS(103), "record: last object reference");
static_assert(sizeof(OBJECTPLUGIN) == VTN_WORDS(144), "record: object size");

#endif
