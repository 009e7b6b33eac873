// Green coordinates in closed form (solid angle plus edge logarithms, after
// Urago 2000 and Ben-Chen, Weber and Gotsman 2009): the same phi and psi as the
// per-face integration of the binding, at a fraction of its cost, and exact
// where that scheme divides 0 by 0 (points in a face's plane). A point on the
// cage surface gets the limit from inside the cage (morvex_surface.h).
//
// The per-point work runs in vector lanes, on the widest instruction set the
// CPU offers (see ClosedFormPath); every path gives the same tables to the bit.
#ifndef MORVEX_CLOSEDFORM_H
#define MORVEX_CLOSEDFORM_H

#include <cstdint>

#include "ge_dynamicarray.h"
#include "morvex_cpu.h"
#include "morvex_surface.h"
#include "vtn_math.h"

// atan2(y, x) within a few units in the last place, in (-pi, pi], +pi on the
// negative x axis whatever the sign of y's zero, and 0 at the origin. The C
// library's atan switches the rounding mode twice per call, which made it the
// binding's largest cost.
double ClosedFormAtan2(double y, double x);
// ln(1 + y) for y >= 0 (and +inf), within a few units in the last place, in
// the form the binding's vector lanes use.
double ClosedFormLog1p(double y);

// The instruction sets the per-point work is built for, narrowest first. Each
// gives the same bits as Scalar, the plain code every target builds; the other
// three exist on x86 only.
enum class ClosedFormPath : int
{
	Scalar,
	Sse2,    // 2 lanes
	Avx2,    // 4 lanes
	Avx512,  // 8 lanes, AVX-512F
};
const char* ClosedFormPathName(ClosedFormPath path);  // "scalar", "sse2", "avx2", "avx512"
// The path of that name; false for any other name.
bool ClosedFormPathFromName(const char* name, ClosedFormPath* path);

// The widest path a CPU runs: AVX2 and AVX-512 also need the OS to save the
// YMM, respectively the ZMM and mask, registers.
ClosedFormPath BestClosedFormPath(const CpuFeatures& cpu);

// Cages set up from now on (ClosedFormCage::Init) run on `wanted`, or on the
// best path this machine runs where it lacks `wanted`; returns the path taken.
// Until the first call, the best path runs. Any thread may call it; a cage
// keeps the path it was set up with.
ClosedFormPath SetClosedFormPath(ClosedFormPath wanted);
// The same for a CPU that offers no more than `lesser` (nor more than this
// machine): how a narrower machine would fall back.
ClosedFormPath SetClosedFormPath(ClosedFormPath wanted, const CpuFeatures& lesser);
ClosedFormPath CurrentClosedFormPath();

// ClosedFormAtan2 and ClosedFormLog1p over n values, in the lanes of the
// current path, tails included.
void ClosedFormAtan2Lanes(const double* y, const double* x, double* out, Int64 n);
void ClosedFormLog1pLanes(const double* y, double* out, Int64 n);

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

	// Faces and edges in blocks of kBlock, each field's values side by side, so
	// that a vector path loads one field of consecutive faces at once. The
	// padding of the last block is a face without area (and an edge without
	// length) at vertex 0, whose results are dropped.
	static constexpr int kBlock = 8;
	struct EdgeBlock
	{
		Int32 a[kBlock], b[kBlock];
		double length[kBlock];
		double tx[kBlock], ty[kBlock], tz[kBlock];  // unit direction from a to b
	};
	struct FaceBlock
	{
		Int32 v[3][kBlock];       // vertices (corner_count stands for the origin)
		Int32 edge[3][kBlock];    // edge k is opposite vertex k
		double nx[kBlock], ny[kBlock], nz[kBlock];
		double two_area[kBlock];
		// In-plane unit normals of the edges, pointing out of the face.
		double mx[3][kBlock], my[3][kBlock], mz[3][kBlock];
		double inv_h[3][kBlock];   // 1 / height from vertex k
		double mm[3][3][kBlock];   // m_k . m_j
	};
	struct Layout
	{
		GeDynamicArray<double> x, y, z;  // the vertices, padded to whole blocks
		GeDynamicArray<EdgeBlock> edges;
		GeDynamicArray<FaceBlock> faces;
		// The phi columns the faces add to (their polygons' corners, but not
		// those of faces without area), ascending; column i's contributions are
		// slots[column_start[i]] .. slots[column_start[i + 1] - 1] of the
		// scratch's phi, in face order, corners a, b, c.
		GeDynamicArray<Int32> columns, column_start, slots;
		Int64 vertex_count = 0, edge_count = 0, face_count = 0;
		// Distances from a plane or edge line at or below tol count as 0
		// (SurfaceTolerance); a point on a face takes that face's angle from
		// surface, in face order, which only such points read.
		double tol = 0.0;
		GeDynamicArray<SurfaceAngles> surface;
	};

	// Scratch for one point, in records that a face reads whole: per vertex
	// (padded as the vertices) its offset from the point and distance, ex, ey,
	// ez, r; per edge (padded) its logarithm and e_a . e_b, L, dot. Then each
	// face's phi contributions, corner k of face j at k * (padded face count) + j.
	struct Scratch
	{
		GeDynamicArray<double> vertex;
		GeDynamicArray<double> edge;
		GeDynamicArray<float> phi;
	};
	bool Prepare(Scratch& s) const;

	// The point's coordinates: psi of face j into psi[j], and each face's phi
	// contributions, rounded to float, added to phi[corner] in face order, corners
	// a, b, c. A corner outside [0, cage_count) adds nothing.
	void Evaluate(const LVector& x, Scratch& s, float* phi, float* psi, Int32 cage_count) const;

	Int64 FaceCount() const { return layout_.face_count; }
	// The path Evaluate runs on, chosen at Init.
	ClosedFormPath Path() const { return path_; }

private:
	Layout layout_;
	ClosedFormPath path_ = ClosedFormPath::Scalar;
};

#endif
