// Ids of the Morvexer deformer, for the plug-in, the tool and the tests: its
// object type, its icon strip and the parameters that Omorvexer.res beside
// this file declares (a test holds the two together).
#ifndef OMORVEXER_H
#define OMORVEXER_H

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

#endif
