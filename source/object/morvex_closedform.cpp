#define VTN_SOURCE "Morvex"
#include "morvex_closedform.h"

#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kInv4Pi = 1.0 / (4.0 * kPi);

}  // namespace

bool ClosedFormCage::Init(const LVector* corners, Int64 corner_count, const LVector& origin, const CPolygon* polys,
                          Int32 face_count, const LVector* normals)
{
	face_count_ = face_count;
	if (!vertices_.SetCount(corner_count + 1) || !faces_.SetCount(face_count))
		return false;
	for (Int64 k = 0; k < corner_count; ++k)
		vertices_[k] = corners[k];
	vertices_[corner_count] = origin;
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
		Face& f = faces_[j];
		const Int32 c[3] = {p.a, p.b, p.c};
		for (int k = 0; k < 3; ++k)
		{
			f.corner[k] = c[k];
			f.v[k] = c[k] >= 0 && c[k] < corner_count ? c[k] : origin_id;
		}
		const LVector v0 = vertices_[f.v[0]], v1 = vertices_[f.v[1]], v2 = vertices_[f.v[2]];
		f.n = normals[j];
		f.two_area = Len(Cross(v1 - v0, v2 - v0));
		double size = 0.0;
		for (int k = 0; k < 3; ++k)
		{
			const LVector from = vertices_[f.v[(k + 1) % 3]], to = vertices_[f.v[(k + 2) % 3]];
			const double l = Len(to - from);
			const LVector tau = l > 0.0 ? (to - from) / l : LVector{0, 0, 0};
			f.m[k] = Cross(tau, f.n);
			f.inv_h[k] = f.two_area > 0.0 ? l / f.two_area : 0.0;
			size = size > l ? size : l;
			// The edge, shared with the face on its other side.
			const Int32 a = f.v[(k + 1) % 3], b = f.v[(k + 2) % 3];
			const Int32 lo = a < b ? a : b, hi = a < b ? b : a;
			Int32 id = head[lo];
			while (id >= 0 && edges_[id].b != hi)
				id = next[id];
			if (id < 0)
			{
				const LVector d = vertices_[hi] - vertices_[lo];
				const double len = Len(d);
				if (!edges_.Append(Edge{lo, hi, len, len > 0.0 ? d / len : LVector{0, 0, 0}}) || !next.Append(head[lo]))
					return false;
				id = static_cast<Int32>(edges_.GetCount() - 1);
				head[lo] = id;
			}
			f.edge[k] = id;
		}
		for (int k = 0; k < 3; ++k)
			for (int i = 0; i < 3; ++i)
				f.mm[k][i] = Dot(f.m[k], f.m[i]);
		f.tol = 1e-12 * size;
	}
	return true;
}

bool ClosedFormCage::Prepare(Scratch& s) const
{
	return s.e.SetCount(vertices_.GetCount()) && s.r.SetCount(vertices_.GetCount()) && s.L.SetCount(edges_.GetCount()) &&
	       s.dot.SetCount(edges_.GetCount());
}

void ClosedFormCage::Evaluate(const LVector& x, Scratch& s, float* phi, float* psi, Int32 cage_count) const
{
	const Int64 nv = vertices_.GetCount();
	for (Int64 i = 0; i < nv; ++i)
	{
		s.e[i] = vertices_[i] - x;
		s.r[i] = Len(s.e[i]);
	}
	// 1/R along each edge: ln((ra + rb + l) / (ra + rb - l)). The gap ra + rb - l
	// cancels near the edge, so it is formed from the distance to the edge line
	// there; on the edge itself it is 0 and the logarithm infinite.
	for (Int64 k = 0; k < edges_.GetCount(); ++k)
	{
		const Edge& ed = edges_[k];
		const double ra = s.r[ed.a], rb = s.r[ed.b], l = ed.length;
		const double xa = -Dot(s.e[ed.a], ed.tau), xb = l - xa;
		double gap;
		if (xa > 0.0 && xb > 0.0)
		{
			const LVector c = Cross(s.e[ed.a], ed.tau);
			gap = Dot(c, c) * (1.0 / (ra + xa) + 1.0 / (rb + xb));
		}
		else
			gap = ra + rb - l;
		s.L[k] = l > 0.0 ? (gap > 0.0 ? std::log1p(2.0 * l / gap) : HUGE_VAL) : 0.0;
		s.dot[k] = Dot(s.e[ed.a], s.e[ed.b]);
	}

	for (Int64 j = 0; j < face_count_; ++j)
	{
		const Face& f = faces_[j];
		const LVector& e0 = s.e[f.v[0]];
		const LVector& e1 = s.e[f.v[1]];
		const LVector& e2 = s.e[f.v[2]];
		const double r0 = s.r[f.v[0]], r1 = s.r[f.v[1]], r2 = s.r[f.v[2]];
		if (f.two_area <= 0.0)
		{
			psi[j] = 0.0f;
			continue;
		}
		double h = Dot(f.n, e0);
		if (std::fabs(h) <= f.tol)
			h = 0.0;
		const LVector* ek[3] = {&e0, &e1, &e2};
		double t[3], lambda[3], L[3];
		bool inside = true;
		for (int k = 0; k < 3; ++k)
		{
			t[k] = Dot(f.m[k], *ek[(k + 1) % 3]);
			if (std::fabs(t[k]) <= f.tol)
				t[k] = 0.0;
			lambda[k] = t[k] * f.inv_h[k];
			inside = inside && t[k] >= 0.0;
			L[k] = s.L[f.edge[k]];
		}
		// The solid angle, unthresholded. On the face itself its limit from the
		// interior side: 2 pi inside the face, pi on an edge, the corner's angle at a vertex.
		double omega;
		if (h == 0.0 && inside)
		{
			const int zeros = (t[0] == 0.0) + (t[1] == 0.0) + (t[2] == 0.0);
			if (zeros == 0)
				omega = 2.0 * kPi;
			else if (zeros == 1)
				omega = kPi;
			else
			{
				// At vertex i the two edges beside it have t = 0; m_j . m_k = -cos(angle at i).
				const int i = t[0] != 0.0 ? 0 : (t[1] != 0.0 ? 1 : 2);
				omega = std::acos(-f.mm[(i + 1) % 3][(i + 2) % 3]);
			}
		}
		else
		{
			// Edge k joins the two vertices other than k: e1.e2 is edge 0's, and so on.
			const double D = r0 * r1 * r2 + s.dot[f.edge[2]] * r2 + s.dot[f.edge[0]] * r0 + s.dot[f.edge[1]] * r1;
			const double det = f.two_area * h;
			// atan with the quadrant put right costs less than atan2.
			double half;
			if (D > 0.0)
				half = std::atan(det / D);
			else if (D < 0.0)
				half = std::atan(det / D) + (det >= 0.0 ? kPi : -kPi);
			else
				half = det > 0.0 ? 0.5 * kPi : (det < 0.0 ? -0.5 * kPi : 0.0);
			omega = 2.0 * half;
		}
		// t L and h L tend to 0 where L is infinite (the point on an edge or vertex).
		double sum_tl = 0.0, hl[3];
		for (int k = 0; k < 3; ++k)
		{
			sum_tl += t[k] == 0.0 ? 0.0 : t[k] * L[k];
			hl[k] = h == 0.0 ? 0.0 : L[k];
		}
		psi[j] = float(kInv4Pi * (sum_tl - h * omega));
		for (int k = 0; k < 3; ++k)
		{
			const Int32 col = f.corner[k];
			if (col < 0 || col >= cage_count)
				continue;
			const double edges = h == 0.0 ? 0.0 : (h * f.inv_h[k]) * (f.mm[k][0] * hl[0] + f.mm[k][1] * hl[1] + f.mm[k][2] * hl[2]);
			phi[col] += float(kInv4Pi * (lambda[k] * omega + edges));
		}
	}
}
