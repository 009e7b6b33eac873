// Reference geometry for the tests: closed meshes to bind and deform, a
// winding-number inside test to judge them by, affine matrices and seeded
// random points. Everything is deterministic so a failure reproduces.
#ifndef MORVEXER_TESTS_MESHES_H
#define MORVEXER_TESTS_MESHES_H

#include <cmath>
#include <string>
#include <vector>

#include "abi/vtn_types.h"
#include "vtnhost/vec.h"

namespace testmesh {

// Named vector arithmetic (the host's); the global operators of vtn_math.h
// stay usable alongside, as nothing here overloads an operator.
using vtnhost::vec::add;
using vtnhost::vec::cross;
using vtnhost::vec::distance;
using vtnhost::vec::dot;
using vtnhost::vec::length;
using vtnhost::vec::scaled;
using vtnhost::vec::sub;

struct Mesh
{
	std::vector<LVector> points;
	std::vector<CPolygon> polygons;
};

// Closed meshes, faces counter-clockwise seen from outside.

// Point i is the corner taking hi on x if bit 0 of i is set, on y for bit 1,
// on z for bit 2; so point 0 is lo and point 7 is hi.
// The positions (`v` lines) of an OBJ file, without its faces: how the tests
// take the bundled samples' points.
Mesh objPoints(const std::string& path);
// The same with its faces (`f` lines, 1-based, fanned into triangles): a
// sample as a closed surface of its own.
Mesh objMesh(const std::string& path);
Mesh box(LVector lo, LVector hi);
// box() with every quad split along its a/c diagonal: 8 points, 12 triangles.
Mesh boxTriangles(LVector lo, LVector hi);
// n x n quads per side sharing their points: 6n^2 + 2 points, 6n^2 quads.
// The corners are exactly lo and hi, whatever n.
Mesh subdividedBox(LVector lo, LVector hi, int n);
// Triangles on the sphere, 10*4^s + 2 points and 20*4^s triangles for s
// subdivisions. Points 0..11 are the icosahedron's.
Mesh icosphere(LVector centre, double radius, int subdivisions);
// Poles on the y axis through the centre (point 0 north, the last one south),
// rings-1 circles of `segments` points between them; triangles at the poles,
// quads elsewhere. rings >= 2, segments >= 3.
Mesh uvSphere(LVector centre, double radius, int rings, int segments);

// An open, flat nu x nv quad grid spanning origin .. origin + u + v; faces
// counter-clockwise seen from the side u x v points to. Point (i, j) is
// j * (nu + 1) + i.
Mesh grid(LVector origin, LVector u, LVector v, int nu, int nv);

// Quads become (a,b,c) and (a,c,d); triangles stay. Points are unchanged.
Mesh triangulated(const Mesh& m);
Mesh transformed(const Mesh& m, const LMatrix& mat);

// Empty when every edge is used by exactly two faces in opposite directions
// (closed and consistently oriented), all indices are in range and no
// polygon repeats a point; otherwise a description of what is wrong.
std::string edgeProblems(const Mesh& m);

// Sum of signed tetrahedron volumes against the origin; positive for a
// closed mesh facing outward. Quads count as (a,b,c) + (a,c,d).
double signedVolume(const Mesh& m);

// Generalised winding number: the signed solid angles of the faces seen from
// p (Van Oosterom & Strackee per triangle, quads as (a,b,c) + (a,c,d)) over
// 4 pi. 1 inside a closed outward mesh, 0 outside, 1/2 on a face, the
// interior angle fraction on an edge or corner. A face whose plane holds p
// (to 1e-12 relative) adds nothing, which is what makes the surface values
// exact instead of a coin toss on the sign of a rounded zero.
double windingNumber(const Mesh& m, const LVector& p);
// windingNumber > 0.5; on the surface that is down to rounding either way.
bool insideByWinding(const Mesh& m, const LVector& p);

// Strictly inside the axis-aligned box.
bool insideBox(LVector lo, LVector hi, const LVector& p);

// n points uniform in [lo, hi), from std::mt19937 seeded with `seed` and the
// 53-bit conversion spelt out here, so they are the same on every library.
std::vector<LVector> randomPointsInBox(LVector lo, LVector hi, int n, unsigned seed);

// A dense mesh with some points outside any cage fitted to the sphere:
// icosphere(centre, radius, subdivisions) with the points whose index is a
// multiple of `every` moved to centre + (p - centre) * factor.
struct PushedMesh
{
	Mesh mesh;
	std::vector<Int32> pushed;  // ascending
};
PushedMesh pushedIcosphere(LVector centre, double radius, int subdivisions, double factor, int every);

// Affine matrices. apply(m, p) = off + v1*p.x + v2*p.y + v3*p.z.
LVector apply(const LMatrix& m, const LVector& p);
// The linear part alone, for directions.
LVector applyLinear(const LMatrix& m, const LVector& d);
LMatrix identity();
LMatrix translation(LVector t);
// Right-handed about `axis` (any non-zero length) through the origin.
LMatrix rotation(LVector axis, double radians);
LMatrix scaling(double s);
// a * b: applies b first.
LMatrix product(const LMatrix& a, const LMatrix& b);
// The matrix must be invertible.
LMatrix inverse(const LMatrix& m);

}  // namespace testmesh

#endif
