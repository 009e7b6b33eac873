// The host's ray collider (library 1000499).
#ifndef VTN_RAYCOLLIDER_H
#define VTN_RAYCOLLIDER_H

#include "abi/vtn_types.h"

class GeRayCollider
{
public:
	GeRayCollider() = delete;
	// Null when the library is missing.
	static GeRayCollider* Alloc();
	static void Free(GeRayCollider*& rc);
	// Takes goal's polygons, in goal's own coordinates.
	bool Init(BaseObject* goal, bool force);
	// True when the ray from p along dir hits a polygon within length.
	bool Intersect(const LVector& p, const LVector& dir, double length, bool only_test = false);
};

#endif
