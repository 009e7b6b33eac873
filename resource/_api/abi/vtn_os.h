// The master table the host hands over at attach. Its top level is fixed:
// the API version at offset 0, the sub-table pointers at their published
// offsets, the crash-handler slot behind them. Sub-tables that this plug-in
// never reads are kept as untyped pointers so the offsets stay right.
#ifndef VTN_ABI_OS_H
#define VTN_ABI_OS_H

#include "vtn_tables.h"

extern "C" {

typedef void (*VtnCrashHandler)(char* info);

struct VTNOS
{
	Int32 version;
	Int32 pad;
	VTN_General* general;      // 8
	void* render;              // 16
	VTN_HyperFile* hyperfile;  // 24
	VTN_Container* container;  // 32
	VTN_String* string;        // 40
	VTN_Bitmap* bitmap;        // 48
	void* moviesaver;          // 56
	void* channel;             // 64
	VTN_Filename* filename;    // 72
	void* file;                // 80
	void* browse;              // 88
	void* dialog;              // 96
	void* userarea;            // 104
	void* parser;              // 112
	VTN_Resource* resource;    // 120
	VTN_List* list;            // 128
	VTN_Tag* tag;              // 136
	VTN_Object* object;        // 144
	VTN_Document* document;    // 152
	VTN_Thread* thread;        // 160
	void* reserved168;         // 168
	void* texturetag;          // 176
	VTN_Select* select;        // 184
	void* reserved192;         // 192
	VTN_Draw* draw;            // 200
	void* reserved208;         // 208
	void* neighbor;            // 216
	void* memorypool;          // 224
	void* reserved232;         // 232
	void* reserved240;         // 240
	VTN_Link* link;            // 248
	void* reserved256;         // 256
	VTN_Value* value;          // 264
	VTN_Atom* atom;            // 272
	void* reserved280;         // 280
	void* reserved288;         // 288
	VtnCrashHandler crash_handler;  // 296, writable by the plug-in
};

}  // extern "C"

// The API version this layer is written against, and the oldest host it accepts.
enum { VTN_API_VERSION = 12000 };

// Entry actions and results of vtn_main.
enum
{
	VTNPL_ATTACH = 1,
	VTNPL_START = 2,
	VTNPL_END = 3,
	VTNPL_PROTOCOL_QUERY = 4,
	VTNPL_MESSAGE = 6,
	VTNPL_PROTOCOL_VERSION = 5,
	VTNPL_ERR_HOST_TOO_OLD = -3,
};

// Plug-in messages (entry action 6).
enum
{
	VTNMSG_NONE = 0,
	VTNMSG_LOAD_RESOURCES = 1,
	VTNMSG_COMMANDLINEARGS = 1002,
};

// Registry kinds and plug-in types of the host.
enum
{
	VTN_REGISTRY_LIBRARY = 17,
	VTN_PLUGINTYPE_OBJECT = 5,
	VTN_PLUGINTYPE_NODE = 11,
};

#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
static_assert(offsetof(VTNOS, version) == 0, "master table: version");
static_assert(offsetof(VTNOS, general) == 8, "master table: general");
static_assert(offsetof(VTNOS, hyperfile) == 24, "master table: hyper file");
static_assert(offsetof(VTNOS, container) == 32, "master table: container");
static_assert(offsetof(VTNOS, string) == 40, "master table: string");
static_assert(offsetof(VTNOS, bitmap) == 48, "master table: bitmap");
static_assert(offsetof(VTNOS, filename) == 72, "master table: file name");
static_assert(offsetof(VTNOS, resource) == 120, "master table: resource");
static_assert(offsetof(VTNOS, list) == 128, "master table: list");
static_assert(offsetof(VTNOS, tag) == 136, "master table: tag");
static_assert(offsetof(VTNOS, object) == 144, "master table: object");
static_assert(offsetof(VTNOS, document) == 152, "master table: document");
static_assert(offsetof(VTNOS, thread) == 160, "master table: thread");
static_assert(offsetof(VTNOS, texturetag) == 176, "master table: texture tag");
static_assert(offsetof(VTNOS, select) == 184, "master table: selection");
static_assert(offsetof(VTNOS, draw) == 200, "master table: draw");
static_assert(offsetof(VTNOS, neighbor) == 216, "master table: neighbour");
static_assert(offsetof(VTNOS, memorypool) == 224, "master table: memory pool");
static_assert(offsetof(VTNOS, link) == 248, "master table: link");
static_assert(offsetof(VTNOS, value) == 264, "master table: value");
static_assert(offsetof(VTNOS, atom) == 272, "master table: atom");
static_assert(offsetof(VTNOS, reserved288) == 288, "master table: last sub-table");
static_assert(offsetof(VTNOS, crash_handler) == 296, "master table: crash handler");
static_assert(sizeof(VTNOS) == 304, "master table: size");
#endif

#endif
