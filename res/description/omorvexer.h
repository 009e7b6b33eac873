// Ids of the Morvexer deformer, for the plug-in, the tool and the tests: its
// object type, its icon strip and the parameters that Omorvexer.res beside
// this file declares (a test holds the two together).
#ifndef OMORVEXER_H
#define OMORVEXER_H

#include "abi/vtn_types.h"

enum
{
	ID_MORVEXER = 1023954,        // the deformer's object type
	ID_MORVEXER_ICONS = 1025067,  // its icon strip
};

// Entries of the deformer's data container.
enum
{
	MORVEX_CAGE = 1000,
	MORVEX_BIND = 1001,
	MORVEX_STRETCH = 1003,
	MORVEX_MEMORY = 1004,
	MORVEX_RESTORE_CAGE = 1006,
	MORVEX_CHECK = 1010,
	MORVEX_CHECK_OBJECT = 1011,
	MORVEX_INSIDE_ONLY = 1012,
	MORVEX_SAFE_DISTANCE = 1013,
	MORVEX_STRENGTH = 1015,
};

// A message the deformer answers with what it holds, so that a tool learns
// what a scene holds from the loaded plug-in instead of reading the plug-in's
// bytes. Its number is the deformer's own type id, which no other message
// can carry. data: a MorvexSummary; the deformer fills it and describes its
// first `capacity` bindings in `bindings`.
enum
{
	MSG_MORVEX_SUMMARY = ID_MORVEXER,
	MORVEX_SUMMARY_VERSION = 1,  // of the records below; another version is left unfilled
};

struct MorvexBindingSummary
{
	BaseList2D* object;    // the bound object, null when it is gone
	Int32 pointCount;      // bound points
	Int32 cagePointCount;  // the cage's points and faces when the binding was made
	Int32 faceCount;
	Int32 insideOnly;      // 1 when only the points inside the cage are bound
};

struct MorvexSummary
{
	// Set by the caller.
	Int32 version;  // MORVEX_SUMMARY_VERSION
	Int32 capacity;  // entries of bindings
	MorvexBindingSummary* bindings;
	// Set by the deformer.
	Int32 filled;        // 1 once the deformer answered
	Int32 bindingCount;  // every binding it holds, described or not
	Int64 weightBytes;   // bytes its weight tables hold
	Int32 restPointCount;
	Int32 restAreaCount;
	LVector restLow, restHigh;  // the rest points' bounds; zero without rest points
	double restAreaSum;         // the rest areas' sum, in double
	LMatrix restMatrix;
	// The version of the scene-file block last read into the deformer, 0 when
	// none was; with streamKnown 0, a version this plug-in cannot read, of
	// which it kept nothing.
	Int32 streamVersion;
	Int32 streamKnown;
};

#endif
