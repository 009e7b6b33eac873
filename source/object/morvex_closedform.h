// Green coordinates in closed form (solid angle plus edge logarithms, after
// Urago 2000 and Ben-Chen, Weber and Gotsman 2009): the same phi and psi as the
// per-face integration of the binding, at a fraction of its cost, and exact
// where that scheme divides 0 by 0 (points in a face's plane).
#ifndef MORVEX_CLOSEDFORM_H
#define MORVEX_CLOSEDFORM_H

#include "ge_dynamicarray.h"
#include "vtn_math.h"

// atan2(y, x) within a few units in the last place, in (-pi, pi], +pi on the
// negative x axis whatever the sign of y's zero, and 0 at the origin. The C
// library's atan switches the rounding mode twice per call, which made it the
// binding's largest cost.
double ClosedFormAtan2(double y, double x);
// ln(1 + y) for y >= 0 (and +inf), within a few units in the last place, in
// the form the binding's vectorized loop uses.
double ClosedFormLog1p(double y);

// The rest cage in the deformer's frame, with everything that does not depend
// on the bound point: per face its normal, twice its area, its edges' in-plane
// normals and heights; per undirected edge its ends and length.
class ClosedFormCage
{
public:
	// corners: the cage points; a polygon corner outside them stands at origin.
	// normals: the faces' unit normals in the same frame (zero for a face without area).
	bool Init(const LVector* corners, Int64 corner_count, const LVector& origin, const CPolygon* polys, Int32 face_count,
	          const LVector* normals);

	// Scratch for one point: distances to the vertices and edge logarithms.
	struct Scratch
	{
		GeDynamicArray<LVector> e;
		GeDynamicArray<double> r;
		GeDynamicArray<double> L;
		GeDynamicArray<double> dot;    // e_a . e_b per edge, shared by its two faces
		GeDynamicArray<double> y;      // 2 l / (ra + rb - l) per edge: L = ln(1 + y)
		// Per face: the distances to its plane (h) and edge lines (t, three a
		// face), and the solid angle 2 atan2(det, D).
		GeDynamicArray<double> h, t, det, D, omega;
	};
	bool Prepare(Scratch& s) const;

	// The point's coordinates: psi of face j into psi[j], and each face's phi
	// contributions, rounded to float, added to phi[corner] in face order, corners
	// a, b, c. A corner outside [0, cage_count) adds nothing.
	void Evaluate(const LVector& x, Scratch& s, float* phi, float* psi, Int32 cage_count) const;

	Int64 FaceCount() const { return face_count_; }

private:
	struct Face
	{
		Int32 v[3];        // vertices (corner_count stands for the origin)
		Int32 corner[3];   // the polygon's own corner indices, for the phi columns
		Int32 edge[3];     // edge k is opposite vertex k
		LVector n;
		double two_area;
		LVector m[3];      // in-plane unit normals of the edges, pointing out of the face
		double inv_h[3];   // 1 / height from vertex k
		double mm[3][3];   // m_k . m_j
		double tol;        // distances below this count as on the face's plane or edge lines
	};
	struct Edge
	{
		Int32 a, b;
		double length;
		LVector tau;
	};

	GeDynamicArray<LVector> vertices_;
	GeDynamicArray<Face> faces_;
	GeDynamicArray<Edge> edges_;
	Int64 face_count_ = 0;
};

#endif
