// Sub-tables of the host's master table, one struct per family.
// Slot order inside a sub-table is fixed once published: new slots go at the
// end only. Every slot says who owns what it returns.
//
// Conventions: handles of host value types (VtnString*, VtnFilename*, ...)
// returned by a Create/Clone slot belong to the caller, who gives them back
// through the family's Destroy slot. A "box" is a host-owned record holding one
// handle; the plug-in reads it as its own value type of the same layout.
#ifndef VTN_ABI_TABLES_H
#define VTN_ABI_TABLES_H

#include "vtn_ids.h"
#include "vtn_types.h"

class NodeData;

extern "C" {

// Offset 8: free functions of the host.
struct VTN_General
{
	// Memory. Alloc returns null on failure; the block has no defined content.
	void* (*Alloc)(size_t size, Int32 line, const char* source);
	// Like realloc: null on failure, and then the old block stays valid and unchanged.
	void* (*Realloc)(void* block, size_t size, Int32 line, const char* source);
	// Releases a block from Alloc/Realloc; null is ignored.
	void (*Free)(void* block);
	// A programming error the host should report (e.g. an invalid container state).
	void (*CriticalStop)(Int32 line, const char* source);

	// Console and status bar.
	void (*Print)(const VtnString* text);
	void (*StatusSetText)(const VtnString* text);
	void (*StatusSetBar)(Int32 percent);
	void (*StatusClear)();
	void (*EventAdd)(Int32 flags);
	void (*ShowMouse)(Int32 mode);

	// Runs a modeling command; true on success.
	bool (*SendModelingCommand)(Int32 command, ModelingCommandData* data);

	// Registration: api_version first, then the plug-in's arguments; the host copies the record.
	bool (*RegisterPlugin)(Int32 api_version, Int32 type, Int32 id, const VtnString* name, void* record, Int32 size);

	// Registry of the host: entries by kind and number (kind 17 = library).
	VtnRegistry* (*RegistryFind)(Int32 kind, Int32 id);
	void* (*RegistryGetData)(VtnRegistry* entry);
	// Adds an entry; the data stays the caller's and must outlive the registry entry.
	bool (*RegistryAdd)(Int32 kind, Int32 id, void* data);
};

// Offset 24: scene-file streams. Every read returns false at the end of data or on a type mismatch.
struct VTN_HyperFile
{
	bool (*WriteLong)(HyperFile* hf, Int32 v);
	bool (*WriteReal)(HyperFile* hf, double v);
	bool (*WriteVector)(HyperFile* hf, const LVector* v);
	bool (*WriteMatrix)(HyperFile* hf, const LMatrix* v);
	bool (*WriteMemory)(HyperFile* hf, const void* data, Int64 size);
	bool (*ReadLong)(HyperFile* hf, Int32* v);
	bool (*ReadReal)(HyperFile* hf, double* v);
	bool (*ReadVector)(HyperFile* hf, LVector* v);
	bool (*ReadMatrix)(HyperFile* hf, LMatrix* v);
	// *data becomes a host-allocated block (release with the general Free) or null.
	bool (*ReadMemory)(HyperFile* hf, void** data, Int64* size);
	Int32 (*GetFileVersion)(HyperFile* hf);
	BaseDocument* (*GetDocument)(HyperFile* hf);
};

// Offset 32: data containers, parameters by id.
struct VTN_Container
{
	VtnContainer* (*Create)();
	VtnContainer* (*Clone)(const VtnContainer* bc);
	void (*Destroy)(VtnContainer* bc);
	void (*CopyFrom)(VtnContainer* dst, const VtnContainer* src);
	// Entry kind: 0 absent, else the value kind (VtnDataType).
	Int32 (*GetType)(const VtnContainer* bc, Int32 id);
	void (*SetLong)(VtnContainer* bc, Int32 id, Int32 v);
	void (*SetReal)(VtnContainer* bc, Int32 id, double v);
	void (*SetBool)(VtnContainer* bc, Int32 id, bool v);
	void (*SetString)(VtnContainer* bc, Int32 id, const VtnString* v);
	Int32 (*GetLong)(const VtnContainer* bc, Int32 id, Int32 preset);
	double (*GetReal)(const VtnContainer* bc, Int32 id, double preset);
	bool (*GetBool)(const VtnContainer* bc, Int32 id, bool preset);
	// A new string (caller destroys it); the empty string when absent.
	VtnString* (*GetString)(const VtnContainer* bc, Int32 id);
	// Stores a value at the first level of id.
	bool (*SetData)(VtnContainer* bc, const VtnDescID* id, const VtnData* v);
	// The linked object when it is alive (and in doc when doc is not null), else null.
	BaseList2D* (*GetObjectLink)(const VtnContainer* bc, Int32 id, const BaseDocument* doc);
	void (*SetLink)(VtnContainer* bc, Int32 id, BaseList2D* target);
	Int32 (*GetIndexId)(const VtnContainer* bc, Int32 index);  // -1 past the end
};

// Offset 40: strings (UTF-8).
struct VTN_String
{
	VtnString* (*Create)(const char* utf8);
	VtnString* (*Clone)(const VtnString* s);
	void (*Destroy)(VtnString* s);
	void (*Assign)(VtnString* dst, const VtnString* src);
	void (*Append)(VtnString* dst, const VtnString* src);
	// Length in bytes of the UTF-8 text.
	Int64 (*GetLength)(const VtnString* s);
	// Copies at most cap-1 bytes and a terminating zero; returns the full length.
	Int64 (*GetUtf8)(const VtnString* s, char* out, Int64 cap);
	Int32 (*Compare)(const VtnString* a, const VtnString* b);
	// The host's shared empty string, as a box: never released.
	const VtnString* const* (*GetEmptyBox)();
};

// Offset 48: bitmaps.
struct VTN_Bitmap
{
	BaseBitmap* (*Alloc)();
	void (*Free)(BaseBitmap* bmp);
	// Loads an image file; 1 on success, other values are host error codes.
	Int32 (*Init)(BaseBitmap* bmp, const VtnFilename* name, Int32 frame, Int32* ismovie);
	Int32 (*GetWidth)(const BaseBitmap* bmp);
	Int32 (*GetHeight)(const BaseBitmap* bmp);
	// RGB of one pixel, 0..255 each.
	void (*GetPixel)(const BaseBitmap* bmp, Int32 x, Int32 y, UChar* r, UChar* g, UChar* b);
};

// Offset 72: file names.
struct VTN_Filename
{
	VtnFilename* (*Create)();
	VtnFilename* (*Clone)(const VtnFilename* f);
	void (*Destroy)(VtnFilename* f);
	void (*Assign)(VtnFilename* dst, const VtnFilename* src);
	void (*SetString)(VtnFilename* f, const VtnString* s);
	VtnString* (*GetString)(const VtnFilename* f);  // new string
	// Appends one path component.
	void (*Join)(VtnFilename* f, const VtnString* part);
	// The directory part, as a new file name.
	VtnFilename* (*GetDirectory)(const VtnFilename* f);
	bool (*IsEmpty)(const VtnFilename* f);
};

// Offset 120: resources beside a plug-in.
struct VTN_Resource
{
	// Loads the resources of a directory (its "res" folder); null when there are none.
	VtnResource* (*Load)(const VtnFilename* dir);
	void (*Free)(VtnResource* res);
	// The string with that number, as a box owned by the resource; the empty box when absent.
	const VtnString* const* (*LoadString)(VtnResource* res, Int32 id);
	VtnResource* (*GetGlobal)();
};

// Offset 128: node lists.
struct VTN_List
{
	GeListNode* (*GetNext)(GeListNode* node);
	GeListNode* (*GetPred)(GeListNode* node);
	GeListNode* (*GetUp)(GeListNode* node);
	GeListNode* (*GetDown)(GeListNode* node);
	void (*Remove)(GeListNode* node);
	// Creates a node of a registered or built-in type; null when unknown.
	GeListNode* (*AllocNode)(Int32 type);
	void (*FreeNode)(GeListNode* node);
};

// Offset 136: tags.
struct VTN_Tag
{
	BaseTag* (*Alloc)(Int32 type);
	void (*Free)(BaseTag* tag);
	// The selection of a selection tag (owned by the tag).
	BaseSelect* (*GetBaseSelect)(BaseTag* tag);
	BaseObject* (*GetObject)(BaseTag* tag);
};

// Offset 144: objects.
struct VTN_Object
{
	Int32 (*GetPointCount)(const BaseObject* op);
	const LVector* (*GetPointR)(const BaseObject* op);
	LVector* (*GetPointW)(BaseObject* op);
	Int32 (*GetPolygonCount)(const BaseObject* op);
	const CPolygon* (*GetPolygonR)(const BaseObject* op);
	CPolygon* (*GetPolygonW)(BaseObject* op);
	void (*GetMg)(const BaseObject* op, LMatrix* out);
	void (*SetMg)(BaseObject* op, const LMatrix* m);
	void (*GetRad)(const BaseObject* op, LVector* out);
	void (*GetMp)(const BaseObject* op, LVector* out);
	BaseObject* (*GetDeformCache)(BaseObject* op);
	BaseObject* (*GetCacheParent)(BaseObject* op);
	// A copy of the object and its children (per flags); null on failure.
	BaseObject* (*Clone)(BaseObject* op, Int32 flags, VtnAliasTrans* trans);
	BaseTag* (*GetFirstTag)(BaseObject* op);
	BaseTag* (*GetTag)(BaseObject* op, Int32 type, Int32 nr);
	// Hands the tag over to the object; pred null makes it the first tag.
	void (*InsertTag)(BaseObject* op, BaseTag* tag, BaseTag* pred);
	void (*SetDeformMode)(BaseObject* op, bool mode);
	bool (*GetDeformMode)(const BaseObject* op);
	void (*SetEditorMode)(BaseObject* op, Int32 mode);
	void (*SetRenderMode)(BaseObject* op, Int32 mode);
	void (*GetColorProperties)(const BaseObject* op, ObjectColorProperties* out);
	void (*SetColorProperties)(BaseObject* op, const ObjectColorProperties* in);
	// One float weight per point of op, from the restriction of modifier on op
	// (host-allocated block, release with the general Free), or null when unrestricted.
	float* (*CalcVertexMap)(BaseObject* op, BaseObject* modifier);
	BaseObject* (*AllocPolygonObject)(Int32 pcnt, Int32 vcnt);
	void (*Free)(BaseObject* op);
	bool (*ResizeObject)(BaseObject* op, Int32 pcnt, Int32 vcnt);
};

// Offset 152: documents.
struct VTN_Document
{
	bool (*AddUndo)(BaseDocument* doc, Int32 type, void* data);
	bool (*StartUndo)(BaseDocument* doc);
	bool (*EndUndo)(BaseDocument* doc);
	// Inserts op under parent (or at the top when null), behind pred (first when null).
	void (*InsertObject)(BaseDocument* doc, BaseObject* op, BaseObject* parent, BaseObject* pred);
	BaseObject* (*GetFirstObject)(BaseDocument* doc);
	Int32 (*GetTime)(BaseDocument* doc);
};

struct VtnPool;

// Offset 160: threads.
struct VTN_Thread
{
	// True when the host wants the thread's work stopped. Null thread: false.
	bool (*TestBreak)(BaseThread* bt);
	BaseThread* (*GetCurrent)();

	// The host's worker pool. PoolStart hands job(context, chunk) for chunk =
	// 0 .. count-1 to the host's workers, in order, and returns at once; null
	// when the host has no workers (the caller then does the work itself).
	// Jobs run on other threads: they must not call back into the host except
	// for reads of objects that nothing changes meanwhile.
	VtnPool* (*PoolStart)(void (*job)(void* context, Int64 chunk), void* context, Int64 count);
	// Chunks finished so far.
	Int64 (*PoolDone)(VtnPool* pool);
	// Hands out no further chunk; those running finish.
	void (*PoolStop)(VtnPool* pool);
	// Waits up to timeout_ms for every started chunk to finish; true when none runs.
	bool (*PoolWait)(VtnPool* pool, Int32 timeout_ms);
	// Waits for the running chunks and releases the pool's run.
	void (*PoolFree)(VtnPool* pool);
};

// Offset 184: point selections.
struct VTN_Select
{
	BaseSelect* (*Alloc)();
	void (*Free)(BaseSelect* bs);
	Int32 (*GetCount)(const BaseSelect* bs);
	bool (*Select)(BaseSelect* bs, Int32 index);
	bool (*Deselect)(BaseSelect* bs, Int32 index);
	bool (*IsSelected)(const BaseSelect* bs, Int32 index);
	bool (*DeselectAll)(BaseSelect* bs);
	BaseSelect* (*GetClone)(const BaseSelect* bs);
	bool (*Write)(const BaseSelect* bs, HyperFile* hf);
	bool (*Read)(BaseSelect* bs, HyperFile* hf);
	// Index of the n-th selected element in ascending order, -1 past the end.
	Int32 (*GetSelected)(const BaseSelect* bs, Int32 n);
};

// Offset 200: viewport operations of the default handle drawing.
struct VTN_Draw
{
	void (*SetPen)(BaseDraw* bd, const LVector* color);
	void (*GetHandleColor)(BaseDraw* bd, Int32 kind, LVector* out);
	void (*SetMatrix)(BaseDraw* bd, const LMatrix* mg);
	void (*DrawHandle)(BaseDraw* bd, const LVector* p, Int32 type);
	bool (*PointInRange)(BaseDraw* bd, const LVector* p, Int32 x, Int32 y);
};

// Offset 248: links between nodes.
struct VTN_Link
{
	BaseLink* (*Alloc)();
	void (*Free)(BaseLink* link);
	void (*SetLink)(BaseLink* link, BaseList2D* target);
	// The target when it is alive (and in doc when doc is not null), else null.
	BaseList2D* (*GetLink)(const BaseLink* link, const BaseDocument* doc);
	bool (*Write)(const BaseLink* link, HyperFile* hf);
	bool (*Read)(BaseLink* link, HyperFile* hf);
	bool (*CopyTo)(const BaseLink* src, BaseLink* dst, Int32 flags, VtnAliasTrans* trans);
};

// Offset 264: GeData values.
struct VTN_Value
{
	VtnData* (*Create)();
	void (*Destroy)(VtnData* d);
	void (*SetLong)(VtnData* d, Int32 v);
	void (*SetReal)(VtnData* d, double v);
	void (*SetBool)(VtnData* d, bool v);
	void (*SetString)(VtnData* d, const VtnString* v);
	Int32 (*GetType)(const VtnData* d);
	Int32 (*GetLong)(const VtnData* d);
	double (*GetReal)(const VtnData* d);
};

// Offset 272: parameters and identity of nodes.
struct VTN_Atom
{
	NodeData* (*GetNodeData)(GeListNode* node);
	// The node's own container, as a box (changes take effect).
	VtnContainer* const* (*GetDataInstance)(BaseList2D* node);
	BaseDocument* (*GetDocument)(GeListNode* node);
	Int32 (*GetType)(const GeListNode* node);
	bool (*IsInstanceOf)(const GeListNode* node, Int32 type);
	bool (*SetParameter)(GeListNode* node, const VtnDescID* id, const VtnData* v, Int32 flags);
	bool (*GetParameter)(GeListNode* node, const VtnDescID* id, VtnData* v, Int32 flags);
	// Sends a message to the node; the node's answer.
	bool (*Message)(GeListNode* node, Int32 type, void* data);
	Int32 (*GetDirty)(const GeListNode* node, Int32 flags);
	void (*SetDirty)(GeListNode* node, Int32 flags);
	VtnString* (*GetName)(const BaseList2D* node);  // new string
	void (*SetName)(BaseList2D* node, const VtnString* name);
};

}  // extern "C"


// Slots per sub-table: a slot appended at the end is the only change that
// keeps a table compatible, and the only one that needs these numbers raised.
static_assert(sizeof(VTN_General) == VTN_WORDS(15), "VTN_General: 15 slots");
static_assert(sizeof(VTN_HyperFile) == VTN_WORDS(12), "VTN_HyperFile: 12 slots");
static_assert(sizeof(VTN_Container) == VTN_WORDS(17), "VTN_Container: 17 slots");
static_assert(sizeof(VTN_String) == VTN_WORDS(9), "VTN_String: 9 slots");
static_assert(sizeof(VTN_Bitmap) == VTN_WORDS(6), "VTN_Bitmap: 6 slots");
static_assert(sizeof(VTN_Filename) == VTN_WORDS(9), "VTN_Filename: 9 slots");
static_assert(sizeof(VTN_Resource) == VTN_WORDS(4), "VTN_Resource: 4 slots");
static_assert(sizeof(VTN_List) == VTN_WORDS(7), "VTN_List: 7 slots");
static_assert(sizeof(VTN_Tag) == VTN_WORDS(4), "VTN_Tag: 4 slots");
static_assert(sizeof(VTN_Object) == VTN_WORDS(26), "VTN_Object: 26 slots");
static_assert(sizeof(VTN_Document) == VTN_WORDS(6), "VTN_Document: 6 slots");
static_assert(sizeof(VTN_Thread) == VTN_WORDS(7), "VTN_Thread: 7 slots");
static_assert(sizeof(VTN_Select) == VTN_WORDS(11), "VTN_Select: 11 slots");
static_assert(sizeof(VTN_Draw) == VTN_WORDS(5), "VTN_Draw: 5 slots");
static_assert(sizeof(VTN_Link) == VTN_WORDS(7), "VTN_Link: 7 slots");
static_assert(sizeof(VTN_Value) == VTN_WORDS(9), "VTN_Value: 9 slots");
static_assert(sizeof(VTN_Atom) == VTN_WORDS(12), "VTN_Atom: 12 slots");

#endif
