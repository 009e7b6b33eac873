// Ray collider library (1000499): rays against an object's polygons, in the
// object's own coordinates, through the host's bounding volume hierarchy.
#include "tables/tables.h"
#include "vtnhost/host.h"
#include "vtnhost/ray_bvh.h"

namespace vtnhost {
namespace {

RayBvh* R(const void* p) { return static_cast<RayBvh*>(const_cast<void*>(p)); }

GeRayCollider* RcAlloc() { return reinterpret_cast<GeRayCollider*>(new RayBvh()); }
void RcFree(GeRayCollider* rc) { delete R(rc); }
bool RcInit(GeRayCollider* rc, BaseObject* goal, Int32)
{
	const Object* o = goal ? dynamic_cast<const Object*>(Node::from(goal)) : nullptr;
	if (!rc || !o)
		return false;
	R(rc)->build(o->points, o->polygons);
	return true;
}
bool RcIntersect(GeRayCollider* rc, const LVector* p, const LVector* dir, double length, Int32)
{
	return rc && p && dir && R(rc)->intersect(*p, *dir, length);
}

VTN_RayColliderLib collider_lib = [] {
	VTN_RayColliderLib t{};
	t.head.version = 1;
	t.head.size = static_cast<Int32>(sizeof(VTN_RayColliderLib));
	t.Alloc = RcAlloc;
	t.Free = RcFree;
	t.Init = RcInit;
	t.Intersect = RcIntersect;
	return t;
}();

}  // namespace

void installColliderLibrary(Host& host) { host.registryAdd(VTN_REGISTRY_LIBRARY, VTN_LIB_RAY_COLLIDER, &collider_lib); }

}  // namespace vtnhost
