// Value types and opaque handles shared by the host and the plug-in.
// Everything here crosses the module boundary: plain layouts, no virtuals,
// no ownership semantics. The plug-in's wrapper classes are views over these.
#ifndef VTN_ABI_TYPES_H
#define VTN_ABI_TYPES_H

#include <cstddef>
#include <cstdint>

typedef int32_t Int32;
typedef int64_t Int64;
typedef uint32_t UInt32;
typedef uint8_t UChar;

// Offsets and sizes of the boundary's records in pointer-size words. The 64-bit
// layout is published in bytes; a 32-bit build keeps the same words, so every
// record is laid out by its members (reserved areas as arrays of words) and
// asserted in words for both pointer sizes.
#define VTN_WORDS(n) (static_cast<size_t>(n) * sizeof(void*))

// Three doubles; the geometry type of every point, normal and direction.
struct LVector
{
	double x, y, z;
};

// Three floats; used where single precision is part of the contract.
struct SVector
{
	float x, y, z;
};

// Offset followed by the three axis vectors. Applied to p as o + v1*p.x + v2*p.y + v3*p.z.
struct LMatrix
{
	LVector off, v1, v2, v3;
};

// A host polygon: four point indices; a triangle has c == d.
struct CPolygon
{
	Int32 a, b, c, d;
};

// One level of a parameter identifier.
struct DescLevel
{
	Int32 id;
	Int32 dtype;
	Int32 creator;
};

// Parameter identifier: up to seven levels. Plain data on both sides.
enum { VTN_DESCID_MAX_DEPTH = 7 };
struct VtnDescID
{
	Int32 depth;
	DescLevel level[VTN_DESCID_MAX_DEPTH];
};

// Message 18 (description command): the pressed button comes first.
struct VtnDescriptionCommand
{
	VtnDescID id;
};

// Opaque handles of host value types. The plug-in's String, Filename,
// BaseContainer and GeData each hold exactly one of these pointers, so a
// host-owned "box" holding the pointer can be read as the plug-in type.
struct VtnString;
struct VtnFilename;
struct VtnContainer;
struct VtnData;
struct VtnResource;
struct VtnRegistry;
struct VtnAliasTrans;

// Host objects that the plug-in sees only as data-less views. The plug-in
// declares classes of these names; the host casts its own objects to them.
class GeListNode;
class BaseList2D;
class BaseObject;
class BaseTag;
class BaseDocument;
class HyperFile;
class BaseThread;
class BaseBitmap;
class BaseSelect;
class BaseLink;
class BaseDraw;
class BaseDrawHelp;
class GeRayCollider;
class VTNAtom;
class Description;
class PriorityList;
class HierarchyHelp;
class SplineObject;
class Particle;
class BaseParticle;
class BranchInfo;

// Custom icon message (1001090): where the icon sits in a bitmap.
struct IconData
{
	BaseBitmap* bmp;
	Int32 x, y, w, h;
};
struct GetCustomIconData
{
	IconData* dat;
	Int32 filled;
};

// Display properties of an object; the x-ray member is a 32-bit bool.
struct ObjectColorProperties
{
	LVector color;
	Int32 usecolor;
	Int32 xray;
};

// Argument record of the modeling commands.
struct ModelingCommandData
{
	BaseDocument* doc;
	BaseObject* op;
	VtnContainer* bc;  // optional settings, may be null
	Int32 mode;
	Int32 flags;
	BaseObject* result;  // filled by commands that produce a new object
};
static_assert(offsetof(ModelingCommandData, mode) == VTN_WORDS(3), "modeling command: mode");
static_assert(offsetof(ModelingCommandData, result) == VTN_WORDS(3) + 2 * sizeof(Int32), "modeling command: result");

// Plug-in message 1002: the host's command line, entries writable (null removes one).
struct VTNPL_CommandLineArgs
{
	Int32 argc;
	char** argv;
};

// Head of every optional library table; the slots follow it.
struct VTNLibrary
{
	Int32 version;
	Int32 size;  // size of the whole table in bytes
};

#endif
