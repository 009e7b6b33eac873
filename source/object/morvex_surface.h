// Points on the cage surface. Users put mesh points on their cage often (a
// cage made from the mesh's own hull, points snapped to it); there the
// integrals behind the Green coordinates are singular, and the coordinates a
// point gets are their limit as it approaches from inside the cage. The
// closed form and the per-face integration tell such a point by the same
// tolerance and give each face the same solid angle in that limit.
#ifndef MORVEX_SURFACE_H
#define MORVEX_SURFACE_H

#include "ge_dynamicarray.h"
#include "vtn_math.h"

// Distances from a face's plane or from an edge line at or below this count as
// 0: 1e-12 of the larger of the corners' bounding-box diagonal and their
// largest coordinate. Points the user put on the cage carry the rounding of
// their coordinates (an edge's midpoint, a point moved into the deformer's
// frame), a few units in the last place of those coordinates, which is why
// their size counts as well as the cage's. A thousand times that rounding is
// still a billionth of the cage's size at most, and a point that close to the
// surface deforms as the limit within that, while every point further in keeps
// the plain formulas. One tolerance for the whole cage, so that the faces that
// meet at a point agree on whether it lies on them: their limits only add up
// together. An empty cage gives 0.
double SurfaceTolerance(const LVector* corners, Int64 corner_count);

// The solid angle one triangle subtends in the limit from inside the cage at a
// point of its boundary. Edge k is opposite corner k. Along an edge the faces
// on its two sides together take 4 pi minus the cage's inside wedge there,
// 2 (pi - dihedral); at a corner, all faces around it together take 4 pi
// minus the cage's inside solid angle there. Only those sums count: at an
// edge or corner every face around it weighs its angle with the same
// barycentric coordinate, so the way they share it changes no coordinate.
// Here each face on an edge takes half of it (the limit along the dihedral's
// bisector) and each face at a corner half the turn of each of its two edges
// there plus its corner angle's share of 2 pi, which is the face's own corner
// angle at a flat corner.
struct SurfaceAngles
{
	double edge[3];
	double corner[3];
};

// The angles of every face (a, b, c) of a triangle cage; a corner outside
// [0, corner_count) stands at origin, as in the binding. normals are the
// faces' outward unit normals. A face without area takes no part: its own
// angles are 2 pi's halves as for a flat cage, and its edges count for
// neither neighbour. An edge that is not shared by exactly two faces with
// area (an open or non-manifold cage) has no inside wedge to measure and is
// taken as flat. false when memory runs out.
bool CageSurfaceAngles(const LVector* corners, Int64 corner_count, const LVector& origin, const CPolygon* polys, Int32 face_count,
                       const LVector* normals, GeDynamicArray<SurfaceAngles>& out);

// The angle of a face at a point on its plane and inside it, given which of
// its edge lines the point lies on: 2 pi on none, the edge's angle on one, the
// corner's angle on two (the corner between them).
double SurfaceAngle(const SurfaceAngles& angles, bool on_edge0, bool on_edge1, bool on_edge2);

#endif
