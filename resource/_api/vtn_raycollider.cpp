#include "vtn_raycollider.h"

#include "vtn_pmain.h"

namespace {
VTN_RayColliderLib* collider_cache = nullptr;

}  // namespace

GeRayCollider* GeRayCollider::Alloc()
{
	VTN_RayColliderLib* lib = CheckLibT(VTN_LIB_RAY_COLLIDER, VTN_LIB_END(VTN_RayColliderLib, Alloc), &collider_cache);
	return lib && lib->Alloc ? lib->Alloc() : nullptr;
}

void GeRayCollider::Free(GeRayCollider*& rc)
{
	VTN_RayColliderLib* lib = CheckLibT(VTN_LIB_RAY_COLLIDER, VTN_LIB_END(VTN_RayColliderLib, Free), &collider_cache);
	if (lib && lib->Free)
		lib->Free(rc);
	rc = nullptr;
}

bool GeRayCollider::Init(BaseObject* goal, bool force)
{
	VTN_RayColliderLib* lib = CheckLibT(VTN_LIB_RAY_COLLIDER, VTN_LIB_END(VTN_RayColliderLib, Init), &collider_cache);
	return lib && lib->Init && lib->Init(this, goal, force ? 1 : 0);
}

bool GeRayCollider::Intersect(const LVector& p, const LVector& dir, double length, bool only_test)
{
	VTN_RayColliderLib* lib = CheckLibT(VTN_LIB_RAY_COLLIDER, VTN_LIB_END(VTN_RayColliderLib, Intersect), &collider_cache);
	return lib && lib->Intersect && lib->Intersect(this, &p, &dir, length, only_test ? 1 : 0);
}
