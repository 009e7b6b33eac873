// Optional host libraries, looked up by number in the host registry (kind 17).
// Each table starts with VTNLibrary {version, size}; a caller checks that the
// size covers the slot it is about to use, so older, shorter tables stay safe.
#ifndef VTN_ABI_LIBRARIES_H
#define VTN_ABI_LIBRARIES_H

#include "vtn_types.h"

extern "C" {

enum
{
	VTN_LIB_DESCRIPTION = 1000467,
	VTN_LIB_COLLIDER_CACHE = 1000487,
	VTN_LIB_COLLIDER_ENGINE = 1000488,
	VTN_LIB_RAY_COLLIDER = 1000499,
	VTN_LIB_ICON = 1009310,
	VTN_LIB_COMPRESSION = 1011188,
	VTN_LIB_NGON = 1015903,
};

// 1000467: parameter descriptions.
struct VTN_DescriptionLib
{
	VTNLibrary head;
	// Binds the description resource `name` (looked up in res) to plug-in type id.
	bool (*RegisterDescription)(Int32 id, const VtnString* name, VtnResource* res);
	// Number of parameters of a registered description, and each one's id, kind and name.
	Int32 (*GetParameterCount)(Int32 id);
	bool (*GetParameter)(Int32 id, Int32 index, Int32* param_id, Int32* kind, VtnString* name);
};

// 1009310: icons.
struct VTN_IconLib
{
	VTNLibrary head;
	// Copies the region (x, y, w, h) of bmp as icon id; true on success.
	bool (*RegisterIcon)(Int32 id, BaseBitmap* bmp, Int32 x, Int32 y, Int32 w, Int32 h, Int32 flags);
	// Fills d with the icon's bitmap (owned by the host) and region.
	bool (*GetIcon)(Int32 id, IconData* d);
	bool (*UnregisterIcon)(Int32 id);
};

// 1000499: rays against an object's polygons, in the object's global frame.
struct VTN_RayColliderLib
{
	VTNLibrary head;
	GeRayCollider* (*Alloc)();
	void (*Free)(GeRayCollider* rc);
	bool (*Init)(GeRayCollider* rc, BaseObject* goal, Int32 force);
	// True when the ray from p along dir hits a polygon within length.
	bool (*Intersect)(GeRayCollider* rc, const LVector* p, const LVector* dir, double length, Int32 only_test);
};

struct VtnPackWriter;
struct VtnPackReader;

// 1011188: compression. Output blocks are host-allocated (general Free releases them).
struct VTN_CompressionLib
{
	VTNLibrary head;
	bool (*CompressData)(const void* src, Int64 src_size, void** dst, Int64* dst_size, Int32 level);
	bool (*UncompressData)(const void* src, Int64 src_size, void** dst, Int64* dst_size);

	// A compressed memory value of a scene-file stream, written and read in
	// pieces, so that neither side holds a second copy of the data. The value's
	// bytes are those of WriteMemory of CompressData of the pieces joined.
	// Begin: null on failure. Part: the next size bytes (of plain_size in all).
	// End: true when exactly plain_size bytes came and the value was written;
	// it releases the writer in any case.
	VtnPackWriter* (*WritePackedBegin)(HyperFile* hf, Int64 plain_size, Int32 level);
	bool (*WritePackedPart)(VtnPackWriter* w, const void* data, Int64 size);
	bool (*WritePackedEnd)(VtnPackWriter* w);
	// Begin answers 1 with a reader and the plain size; 2 when the host passes
	// over the value's bytes (a load for a look at the scene): the plain size
	// is told, there is no reader; 0 for a value that is not there or damaged
	// (the stream goes on behind it when it was there). Part: the next size
	// plain bytes into out. End: true when every plain byte was taken and
	// checked; it goes on behind the value and releases the reader in any case.
	Int32 (*ReadPackedBegin)(HyperFile* hf, Int64* plain_size, VtnPackReader** reader);
	bool (*ReadPackedPart)(VtnPackReader* r, void* out, Int64 size);
	bool (*ReadPackedEnd)(VtnPackReader* r);
};

}  // extern "C"


// Each library: the head, then its slots; new slots go at the end (callers
// check the size the head announces before they use one).
static_assert(sizeof(VTN_DescriptionLib) == sizeof(VTNLibrary) + VTN_WORDS(3), "VTN_DescriptionLib: 3 slots");
static_assert(sizeof(VTN_IconLib) == sizeof(VTNLibrary) + VTN_WORDS(3), "VTN_IconLib: 3 slots");
static_assert(sizeof(VTN_RayColliderLib) == sizeof(VTNLibrary) + VTN_WORDS(4), "VTN_RayColliderLib: 4 slots");
static_assert(sizeof(VTN_CompressionLib) == sizeof(VTNLibrary) + VTN_WORDS(8), "VTN_CompressionLib: 8 slots");

#endif
