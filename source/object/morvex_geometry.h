// The deformer's numeric kernels: small functions of the geometry alone, each
// with its contract. The roundings are part of the contracts: stored weight
// tables, rest areas and scene files were made with exactly these, so a
// change of order or precision here changes results users keep.
#ifndef MORVEX_GEOMETRY_H
#define MORVEX_GEOMETRY_H

#include "vtn_math.h"

// True when the bit patterns of x and y, read as signed 64-bit integers, are at
// most 7 apart: equal up to a few units in the last place when both have the
// same sign. Against 0.0 only +0.0 and the seven smallest positive subnormals
// match; -0.0 does not (its pattern is the farthest from +0.0's), nor does NaN
// against any number.
bool CompareFloatTolerant(double x, double y);

// Area of the triangle (a, b, c) by Heron's formula in single precision: the
// side lengths are measured in double and rounded to float, everything after
// is float. A triangle without area, or one whose rounding takes the product
// under the root below 0, or with NaN corners, gives 0.
float HeronArea(const LVector& a, const LVector& b, const LVector& c);

// v divided by its length; the zero vector when the length is exactly 0.
LVector UnitOrZero(const LVector& v);

// The unit normal of a cage polygon from its corner points: (b - a) x (c - a)
// for a triangle (its c and d are one index), (b - d) x (c - a), the cross
// product of the diagonals, for a quad. A polygon without area (a cross product
// of length exactly 0) gives that cross product as it is: a zero vector.
LVector FaceNormal(const LVector& a, const LVector& b, const LVector& c, const LVector& d, bool triangle);

// The conformal stretch of a triangle between its rest pose (ra, rb, rc) and
// its current one (a, b, c), with U = rb - ra, V = rc - ra and U', V' alike:
//   sqrt(|U'|^2 |V|^2 + |V'|^2 |U|^2 - 2 (U'.V')(U.V)) / (rest_area * 2 sqrt(2)).
// 1 for a triangle that only moved or turned, k for one scaled by k, up to the
// single-precision rounding of rest_area (HeronArea of the rest corners) and
// of the constant 2 sqrt(2), which is taken in single precision as the areas
// are. A triangle without rest area (0 or less, or NaN) has no stretch to
// measure: 1.
double ConformalStretch(const LVector& ra, const LVector& rb, const LVector& rc, const LVector& a, const LVector& b,
                        const LVector& c, float rest_area);

// True when every corner a, b, c and d of the polygon names one of point_count
// points. A triangle's d is its c, so it is checked alike.
bool PolygonCornersIn(const CPolygon& polygon, Int32 point_count);
// PolygonCornersIn for every one of poly_count polygons.
bool CornersInRange(const CPolygon* polys, Int32 poly_count, Int32 point_count);

// The squared distance from p to the nearest point of the filled triangle
// (a, b, c), computed in double by the triangle's regions (face, three edges,
// three corners), then rounded to single precision and returned widened to
// double. A triangle without area measures to the nearest of its three sides.
double Find_Tri2Point_Dist(LVector a, LVector b, LVector c, LVector p);

// The scale of the Green-coordinate integrals, -1/(4 pi), to the ten
// significant digits the deformer has always used (-1/(4 pi) is
// -0.0795774715459...). Every stored weight table was made with these digits;
// the full-precision value would move the weights' last bits.
constexpr double kMinusQuarterOverPiTenDigits = -0.07957747155;

// The per-triangle integral of the Green-coordinate scheme (Lipman, Levin and
// Cohen-Or, "Green Coordinates", 2008): for the triangle (p, va, vb) and a point
// eta whose foot on the triangle's plane is p,
//   kMinusQuarterOverPiTenDigits * | integral over the triangle of dA / |x - eta| |,
// so a value of 0 or below (-0.0 included). All in double.
// *degenerate is set to 1 on entry and to 0 only when a value was computed.
// Degenerate input returns 0 with the flag left at 1: p on va or on vb, an
// edge va-vb of no length, NaN anywhere, or an intermediate of the scheme
// (its D, R or logarithm argument) that is 0, negative or NaN. Of the two
// parts of the integral, one whose angle has a sine of 0 (CompareFloatTolerant)
// adds -0.0 instead of its term.
double GCTriIn(LVector p, LVector va, LVector vb, LVector eta, Int32* degenerate);

#endif
