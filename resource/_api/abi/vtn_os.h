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
	Int32 version;             // word 0
	VTN_General* general;      // word 1
	void* render;              // 2
	VTN_HyperFile* hyperfile;  // 3
	VTN_Container* container;  // 4
	VTN_String* string;        // 5
	VTN_Bitmap* bitmap;        // 6
	void* moviesaver;          // 7
	void* channel;             // 8
	VTN_Filename* filename;    // 9
	void* file;                // 10
	void* browse;              // 11
	void* dialog;              // 12
	void* userarea;            // 13
	void* parser;              // 14
	VTN_Resource* resource;    // 15
	VTN_List* list;            // 16
	VTN_Tag* tag;              // 17
	VTN_Object* object;        // 18
	VTN_Document* document;    // 19
	VTN_Thread* thread;        // 20
	void* reserved21;          // 21
	void* texturetag;          // 22
	VTN_Select* select;        // 23
	void* reserved24;          // 24
	VTN_Draw* draw;            // 25
	void* reserved26;          // 26
	void* neighbor;            // 27
	void* memorypool;          // 28
	void* reserved29[2];       // 29, 30
	VTN_Link* link;            // 31
	void* reserved32;          // 32
	VTN_Value* value;          // 33
	VTN_Atom* atom;            // 34
	void* reserved35[2];       // 35, 36
	VtnCrashHandler crash_handler;  // 37, writable by the plug-in
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

// The layout in pointer-size words: on 64 bits these are the published byte
// offsets (general at 8, the crash handler at 296), on 32 bits the same words.
static_assert(offsetof(VTNOS, version) == 0, "master table: version");
static_assert(offsetof(VTNOS, general) == VTN_WORDS(1), "master table: general");
static_assert(offsetof(VTNOS, hyperfile) == VTN_WORDS(3), "master table: hyper file");
static_assert(offsetof(VTNOS, container) == VTN_WORDS(4), "master table: container");
static_assert(offsetof(VTNOS, string) == VTN_WORDS(5), "master table: string");
static_assert(offsetof(VTNOS, bitmap) == VTN_WORDS(6), "master table: bitmap");
static_assert(offsetof(VTNOS, filename) == VTN_WORDS(9), "master table: file name");
static_assert(offsetof(VTNOS, resource) == VTN_WORDS(15), "master table: resource");
static_assert(offsetof(VTNOS, list) == VTN_WORDS(16), "master table: list");
static_assert(offsetof(VTNOS, tag) == VTN_WORDS(17), "master table: tag");
static_assert(offsetof(VTNOS, object) == VTN_WORDS(18), "master table: object");
static_assert(offsetof(VTNOS, document) == VTN_WORDS(19), "master table: document");
static_assert(offsetof(VTNOS, thread) == VTN_WORDS(20), "master table: thread");
static_assert(offsetof(VTNOS, texturetag) == VTN_WORDS(22), "master table: texture tag");
static_assert(offsetof(VTNOS, select) == VTN_WORDS(23), "master table: selection");
static_assert(offsetof(VTNOS, draw) == VTN_WORDS(25), "master table: draw");
static_assert(offsetof(VTNOS, neighbor) == VTN_WORDS(27), "master table: neighbour");
static_assert(offsetof(VTNOS, memorypool) == VTN_WORDS(28), "master table: memory pool");
static_assert(offsetof(VTNOS, link) == VTN_WORDS(31), "master table: link");
static_assert(offsetof(VTNOS, value) == VTN_WORDS(33), "master table: value");
static_assert(offsetof(VTNOS, atom) == VTN_WORDS(34), "master table: atom");
static_assert(offsetof(VTNOS, reserved35) == VTN_WORDS(35), "master table: last sub-table words");
static_assert(offsetof(VTNOS, crash_handler) == VTN_WORDS(37), "master table: crash handler");
static_assert(sizeof(VTNOS) == VTN_WORDS(38), "master table: size");

#endif
