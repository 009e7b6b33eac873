#define VTN_SOURCE "Morvex"
#include "morvex_closedform.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "morvex_lanes.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kInv4Pi = 1.0 / (4.0 * kPi);

// tan(k pi / 16) for k = 1..3, and the tangents half way between k and k + 1.
constexpr double kTan1 = 0.198912367379658, kTan2 = 0.41421356237309503, kTan3 = 0.6681786379192989;
constexpr double kSplit0 = 0.09849140335716425, kSplit1 = 0.3033466836073424, kSplit2 = 0.5345111359507916,
                 kSplit3 = 0.8206787908286602;

constexpr double kLn2 = 0.69314718055994530942;
constexpr double kSqrt2 = 1.41421356237309504880;

// The faces' phi contributions into phi, a column at a time: each column's
// float sum takes its contributions in face order, as adding them face after
// face would, without a read and write of phi for each one.
void AddColumns(const ClosedFormCage::Layout& c, const ClosedFormCage::Scratch& s, float* phi, Int32 cage_count)
{
	for (Int64 i = 0; i < c.columns.GetCount(); ++i)
	{
		const Int32 col = c.columns[i];
		if (col >= cage_count)
			break;
		float sum = phi[col];
		for (Int32 k = c.column_start[i]; k < c.column_start[i + 1]; ++k)
			sum += s.phi.data[c.slots[k]];
		phi[col] = sum;
	}
}

// One path's entry points.
struct PathKernels
{
	void (*evaluate)(const ClosedFormCage::Layout&, const LVector&, ClosedFormCage::Scratch&, float*, float*, Int32);
	void (*atan2)(const double*, const double*, double*, Int64);
	void (*log1p)(const double*, double*, Int64);
};

// The per-point work, once per instruction set (see the included file).
namespace scalar_path {
using Lane = double;
#include "morvex_closedform_kernels.inc"
}  // namespace scalar_path

}  // namespace

#ifdef MORVEX_LANES_X86
namespace {
namespace sse2_path {
using Lane = Sse2Lanes;
#include "morvex_closedform_kernels.inc"
}  // namespace sse2_path
}  // namespace

#pragma GCC push_options
#pragma GCC target("avx2")
namespace {
namespace avx2_path {
using Lane = Avx2Lanes;
#include "morvex_closedform_kernels.inc"
}  // namespace avx2_path
}  // namespace
#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx512f")
namespace {
namespace avx512_path {
using Lane = Avx512Lanes;
#include "morvex_closedform_kernels.inc"
}  // namespace avx512_path
}  // namespace
#pragma GCC pop_options
#endif

namespace {

const PathKernels& KernelsOf(ClosedFormPath path)
{
	switch (path)
	{
#ifdef MORVEX_LANES_X86
	case ClosedFormPath::Avx512:
		return avx512_path::kKernels;
	case ClosedFormPath::Avx2:
		return avx2_path::kKernels;
	case ClosedFormPath::Sse2:
		return sse2_path::kKernels;
#endif
	default:
		return scalar_path::kKernels;
	}
}

ClosedFormPath Narrower(ClosedFormPath a, ClosedFormPath b) { return static_cast<int>(a) < static_cast<int>(b) ? a : b; }

ClosedFormPath MachineBest()
{
	static const ClosedFormPath best = BestClosedFormPath(MachineCpu());
	return best;
}

// The path new cages take, before the machine's limit. Process-wide, as the
// instruction sets are: the harnesses set it once for a whole run.
std::atomic<int> g_wanted{static_cast<int>(ClosedFormPath::Avx512)};

const char* const kPathNames[] = {"scalar", "sse2", "avx2", "avx512"};

// Whole blocks, padding included.
Int64 Padded(Int64 n) { return (n + ClosedFormCage::kBlock - 1) / ClosedFormCage::kBlock * ClosedFormCage::kBlock; }

template <class T>
bool Fresh(GeDynamicArray<T>& a, Int64 n)
{
	a.Clear();
	return a.SetCount(n);
}

}  // namespace

double ClosedFormAtan2(double y, double x) { return scalar_path::Atan2Lanes(y, x); }
double ClosedFormLog1p(double y) { return scalar_path::Log1pLanes(y); }

const char* ClosedFormPathName(ClosedFormPath path)
{
	const int i = static_cast<int>(path);
	return i >= 0 && i < 4 ? kPathNames[i] : "unknown";
}

bool ClosedFormPathFromName(const char* name, ClosedFormPath* path)
{
	for (int i = 0; i < 4; ++i)
		if (name && std::strcmp(name, kPathNames[i]) == 0)
		{
			*path = static_cast<ClosedFormPath>(i);
			return true;
		}
	return false;
}

ClosedFormPath BestClosedFormPath(const CpuFeatures& cpu)
{
#ifdef MORVEX_LANES_X86
	if (RunsAvx512(cpu) && cpu.avx2)
		return ClosedFormPath::Avx512;
	if (RunsAvx(cpu) && cpu.avx2)
		return ClosedFormPath::Avx2;
	if (cpu.sse2)
		return ClosedFormPath::Sse2;
#else
	(void)cpu;
#endif
	return ClosedFormPath::Scalar;
}

ClosedFormPath SetClosedFormPath(ClosedFormPath wanted)
{
	const ClosedFormPath taken = Narrower(wanted, MachineBest());
	g_wanted.store(static_cast<int>(taken));
	return taken;
}

ClosedFormPath SetClosedFormPath(ClosedFormPath wanted, const CpuFeatures& lesser)
{
	return SetClosedFormPath(Narrower(wanted, BestClosedFormPath(lesser)));
}

ClosedFormPath CurrentClosedFormPath() { return Narrower(static_cast<ClosedFormPath>(g_wanted.load()), MachineBest()); }

void ClosedFormAtan2Lanes(const double* y, const double* x, double* out, Int64 n)
{
	KernelsOf(CurrentClosedFormPath()).atan2(y, x, out, n);
}

void ClosedFormLog1pLanes(const double* y, double* out, Int64 n) { KernelsOf(CurrentClosedFormPath()).log1p(y, out, n); }

namespace {

// A face and an edge as Init works them out, before they go into blocks.
struct Face
{
	Int32 v[3];
	Int32 corner[3];
	Int32 edge[3];
	LVector n;
	double two_area;
	LVector m[3];
	double inv_h[3];
};
struct Edge
{
	Int32 a, b;
	double length;
	LVector tau;
};

// Which contributions each phi column adds, in face order; a face without
// area adds nothing. Sorted rather than counted per column, so that a corner
// index far beyond the cage costs nothing.
bool IndexColumns(const GeDynamicArray<Face>& faces, ClosedFormCage::Layout& out)
{
	struct Entry
	{
		Int32 column;
		Int32 order;  // 3 face + corner
	};
	GeDynamicArray<Entry> entries;
	if (!entries.SetCount(3 * faces.GetCount()))
		return false;
	Int64 n = 0;
	for (Int64 j = 0; j < faces.GetCount(); ++j)
		for (int k = 0; k < 3; ++k)
			if (!(faces[j].two_area <= 0.0) && faces[j].corner[k] >= 0)
				entries[n++] = Entry{faces[j].corner[k], static_cast<Int32>(3 * j + k)};
	std::sort(entries.data, entries.data + n, [](const Entry& a, const Entry& b) {
		return a.column != b.column ? a.column < b.column : a.order < b.order;
	});
	out.columns.Clear();
	out.column_start.Clear();
	if (!Fresh(out.slots, n))
		return false;
	const Int64 stride = out.faces.GetCount() * ClosedFormCage::kBlock;
	for (Int64 e = 0; e < n; ++e)
	{
		const Entry& entry = entries[e];
		if ((e == 0 || entry.column != entries[e - 1].column) &&
		    (!out.columns.Append(entry.column) || !out.column_start.Append(static_cast<Int32>(e))))
			return false;
		out.slots[e] = static_cast<Int32>(entry.order % 3 * stride + entry.order / 3);
	}
	return out.column_start.Append(static_cast<Int32>(n));
}

}  // namespace

bool ClosedFormCage::Init(const LVector* corners, Int64 corner_count, const LVector& origin, const CPolygon* polys,
                          Int32 face_count, const LVector* normals)
{
	path_ = CurrentClosedFormPath();
	GeDynamicArray<LVector> vertices;
	GeDynamicArray<Face> faces;
	GeDynamicArray<Edge> edges;
	if (!vertices.SetCount(corner_count + 1) || !faces.SetCount(face_count))
		return false;
	for (Int64 k = 0; k < corner_count; ++k)
		vertices[k] = corners[k];
	vertices[corner_count] = origin;
	const Int32 origin_id = static_cast<Int32>(corner_count);

	// Undirected edges by their lower end: each vertex heads a list of the edges
	// that start at it, so a face's edge finds its twin in a few steps.
	GeDynamicArray<Int32> head, next;
	if (!head.SetCount(corner_count + 1))
		return false;
	for (Int64 i = 0; i <= corner_count; ++i)
		head[i] = -1;
	for (Int32 j = 0; j < face_count; ++j)
	{
		const CPolygon& p = polys[j];
		Face& f = faces[j];
		const Int32 c[3] = {p.a, p.b, p.c};
		for (int k = 0; k < 3; ++k)
		{
			f.corner[k] = c[k];
			f.v[k] = c[k] >= 0 && c[k] < corner_count ? c[k] : origin_id;
		}
		const LVector v0 = vertices[f.v[0]], v1 = vertices[f.v[1]], v2 = vertices[f.v[2]];
		f.n = normals[j];
		f.two_area = Len(Cross(v1 - v0, v2 - v0));
		for (int k = 0; k < 3; ++k)
		{
			const LVector from = vertices[f.v[(k + 1) % 3]], to = vertices[f.v[(k + 2) % 3]];
			const double l = Len(to - from);
			const LVector tau = l > 0.0 ? (to - from) / l : LVector{0, 0, 0};
			f.m[k] = Cross(tau, f.n);
			f.inv_h[k] = f.two_area > 0.0 ? l / f.two_area : 0.0;
			// The edge, shared with the face on its other side.
			const Int32 a = f.v[(k + 1) % 3], b = f.v[(k + 2) % 3];
			const Int32 lo = a < b ? a : b, hi = a < b ? b : a;
			Int32 id = head[lo];
			while (id >= 0 && edges[id].b != hi)
				id = next[id];
			if (id < 0)
			{
				const LVector d = vertices[hi] - vertices[lo];
				const double len = Len(d);
				if (!edges.Append(Edge{lo, hi, len, len > 0.0 ? d / len : LVector{0, 0, 0}}) || !next.Append(head[lo]))
					return false;
				id = static_cast<Int32>(edges.GetCount() - 1);
				head[lo] = id;
			}
			f.edge[k] = id;
		}
	}

	// Into blocks. New places are zero: padding edges and faces sit at vertex
	// 0 without length or area.
	Layout& out = layout_;
	out.vertex_count = vertices.GetCount();
	out.edge_count = edges.GetCount();
	out.face_count = face_count;
	out.tol = SurfaceTolerance(corners, corner_count);
	if (!CageSurfaceAngles(corners, corner_count, origin, polys, face_count, normals, out.surface))
		return false;
	const Int64 nv = Padded(out.vertex_count);
	if (!Fresh(out.x, nv) || !Fresh(out.y, nv) || !Fresh(out.z, nv) ||
	    !Fresh(out.edges, Padded(out.edge_count) / kBlock) || !Fresh(out.faces, Padded(face_count) / kBlock))
		return false;
	for (Int64 i = 0; i < out.vertex_count; ++i)
	{
		out.x[i] = vertices[i].x;
		out.y[i] = vertices[i].y;
		out.z[i] = vertices[i].z;
	}
	for (Int64 k = 0; k < out.edge_count; ++k)
	{
		const Edge& e = edges[k];
		EdgeBlock& B = out.edges[k / kBlock];
		const Int64 i = k % kBlock;
		B.a[i] = e.a;
		B.b[i] = e.b;
		B.length[i] = e.length;
		B.tx[i] = e.tau.x;
		B.ty[i] = e.tau.y;
		B.tz[i] = e.tau.z;
	}
	for (Int64 j = 0; j < out.faces.GetCount() * kBlock; ++j)
	{
		FaceBlock& B = out.faces[j / kBlock];
		const Int64 i = j % kBlock;
		if (j >= face_count)
			continue;
		const Face& f = faces[j];
		for (int k = 0; k < 3; ++k)
		{
			B.v[k][i] = f.v[k];
			B.edge[k][i] = f.edge[k];
			B.mx[k][i] = f.m[k].x;
			B.my[k][i] = f.m[k].y;
			B.mz[k][i] = f.m[k].z;
			B.inv_h[k][i] = f.inv_h[k];
			for (int l = 0; l < 3; ++l)
				B.mm[k][l][i] = Dot(f.m[k], f.m[l]);
		}
		B.nx[i] = f.n.x;
		B.ny[i] = f.n.y;
		B.nz[i] = f.n.z;
		B.two_area[i] = f.two_area;
	}
	return IndexColumns(faces, out);
}

bool ClosedFormCage::Prepare(Scratch& s) const
{
	const Int64 nv = layout_.x.GetCount(), ne = layout_.edges.GetCount() * kBlock;
	return s.vertex.SetCount(4 * nv) && s.edge.SetCount(2 * ne) && s.phi.SetCount(3 * layout_.faces.GetCount() * kBlock);
}

void ClosedFormCage::Evaluate(const LVector& x, Scratch& s, float* phi, float* psi, Int32 cage_count) const
{
	KernelsOf(path_).evaluate(layout_, x, s, phi, psi, cage_count);
}
