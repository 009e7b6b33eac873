// Deformation: every bound point moves to the weighted sum of the current cage
// points (phi) and of the current face normals scaled by the faces' conformal
// stretch (psi), blended by strength and the host's restriction weights.
#define VTN_SOURCE "Morvex"
#include "morvex.h"
#include "morvex_rowsums.h"

#include "vtn_general.h"
#include "vtn_thread.h"

namespace {

// The face factor for stretch amount g and a face's conformal stretch s: 1 at
// g <= 0 (no stretch), s from g = 1 up, and in between a straight blend
// 1 + g (s - 1), so that the amount moves smoothly from none to full.
double FaceFactor(double g, double s)
{
	if (g <= 0.0)
		return 1.0;
	if (g >= 1.0)
		return s;
	return 1.0 + g * (s - 1.0);
}

// What every point of one deformation pass shares.
struct DeformContext
{
	LVector* P;
	const float* weights;
	// The tables' blocks: row r starts r rows in.
	const float* fi_rows;
	const float* psi_rows;
	RowSumTerms terms;
	LMatrix F;
	double t;
	const Int32* row_of;  // null: point i has row i, up to row_count
	Int32 row_count;
	Int32 count;
	bool plain;         // one point at a time, on the evaluating thread
	Int64 first_chunk;  // the chunk the pool's span 0 starts at
	Int64 end_chunk;    // the wave's end
	Int64 span_chunks;  // chunks a worker takes at once
};

// Point i from its two sums: into the object's frame, blended by strength and weight.
void WritePoint(const DeformContext& c, Int32 i, const SVector& A, const SVector& B)
{
	const double wi = c.weights ? double(c.weights[i]) : 1.0;
	const LVector pos = ToDouble(A) + ToDouble(B);
	const LVector old = c.P[i];
	const LVector d = c.F * pos;
	const LVector blended = d * c.t + old * (1.0 - c.t);
	c.P[i] = wi < 1.0 ? blended * wi + old * (1.0 - wi) : blended;
}

// The bound points of one chunk of 64, up to sixteen rows' sums at a time.
void DeformChunk(const DeformContext& c, Int64 chunk)
{
	const Int64 begin = chunk * MORVEX_BREAK_EVERY;
	const Int64 end = begin + MORVEX_BREAK_EVERY < c.count ? begin + MORVEX_BREAK_EVERY : c.count;
	Int32 group[kRowSumMax];
	const float* fi[kRowSumMax];
	const float* psi[kRowSumMax];
	SVector A[kRowSumMax], B[kRowSumMax];
	int filled = 0;
	for (Int64 i = begin; i < end || filled > 0; ++i)
	{
		if (i < end)
		{
			const Int32 row = c.row_of ? c.row_of[i] : (i < c.row_count ? static_cast<Int32>(i) : -1);
			if (row < 0)
				continue;
			group[filled] = static_cast<Int32>(i);
			fi[filled] = c.fi_rows + static_cast<Int64>(row) * c.terms.point_count;
			psi[filled] = c.psi_rows + static_cast<Int64>(row) * c.terms.face_count;
			// The points are read and written as the weights stream past:
			// ask for them early, or each waits its turn behind the weights.
			if (i + 32 < c.count)
				PrefetchForWrite(c.P + i + 32);
			if (++filled < kRowSumMax)
				continue;
		}
		if (c.plain)
			SumRowsPlain(c.terms, fi, psi, filled, A, B);
		else
			SumRows(c.terms, fi, psi, filled, A, B);
		for (int u = 0; u < filled; ++u)
			WritePoint(c, group[u], A[u], B[u]);
		filled = 0;
	}
}

// The workers take the chunks of a wave in spans: a run of 64 points is over
// in a microsecond or two, less than handing it to a worker costs, and long
// runs of rows stream from memory best. A pass of 16 chunks or more is cut into
// at least 16 spans, so the workers share out a small mesh too.
constexpr Int64 kMaxSpanChunks = 64;
constexpr Int64 kWaveSpans = 32;

void DeformSpan(void* context, Int64 span)
{
	const auto& c = *static_cast<const DeformContext*>(context);
	const Int64 first = c.first_chunk + span * c.span_chunks;
	for (Int64 chunk = first; chunk < first + c.span_chunks && chunk < c.end_chunk; ++chunk)
		DeformChunk(c, chunk);
}

// The points in chunks of 64, a wave of chunks at a time. Before a wave this
// thread asks for a break once per chunk, as a plain loop asks every 64
// points, so a break leaves exactly the points a plain loop would have left;
// then the host's workers run the wave's chunks.
void DeformPoints(DeformContext c, BaseThread* thread)
{
	const Int64 chunks = (static_cast<Int64>(c.count) + MORVEX_BREAK_EVERY - 1) / MORVEX_BREAK_EVERY;
	const Int64 span = chunks / 16;
	c.span_chunks = span < 1 ? 1 : (span > kMaxSpanChunks ? kMaxSpanChunks : span);
	const Int64 wave = c.plain ? 1 : c.span_chunks * kWaveSpans;
	for (Int64 k = 0; k < chunks;)
	{
		const Int64 wave_end = k + wave < chunks ? k + wave : chunks;
		Int64 allowed = wave_end;
		for (Int64 q = k; q < wave_end; ++q)
			if (thread && thread->TestBreak())
			{
				allowed = q;
				break;
			}
		c.first_chunk = k;
		c.end_chunk = allowed;
		const Int64 spans = (allowed - k + c.span_chunks - 1) / c.span_chunks;
		HostPool pool;
		if (!c.plain && pool.Start(DeformSpan, &c, spans))
			while (!pool.Wait(50))
			{
			}
		else
			for (Int64 q = 0; q < spans; ++q)
				DeformSpan(&c, q);
		if (allowed < wave_end)
			return;
		k = allowed;
	}
}

}  // namespace

bool Morvex::ModifyObject(BaseObject* mod, BaseDocument* doc, BaseObject* op, const LMatrix&, const LMatrix& mod_mg, double,
                          Int32, BaseThread* thread)
{
	BaseContainer* data = mod->GetDataInstance();
	auto* cage = static_cast<BaseObject*>(data->GetObjectLink(MORVEX_CAGE, doc));
	PolygonObject* cage_poly = ToPoly(cage);
	if (!cage || cage_poly->GetPointCount() == 0)
	{
		Azzera_memoria(data);
		return true;
	}
	const Int32 cage_count = cage_poly->GetPointCount();
	const LMatrix mod_inv = !mod_mg;
	const LMatrix m1 = mod_inv * cage->GetMg();
	const LMatrix m2 = mod_inv * op->GetMg();
	const LMatrix F = !m2;

	if (restPoints.GetCount() == 0 || restPoints.GetCount() != cage_count)
	{
		Azzera_memoria(data);
		return true;
	}

	BaseObject* r = op;
	BaseObject* p = op->GetCacheParent();
	while (p && p->GetCacheParent() && p->GetCacheParent()->IsInstanceOf(Opolygon))
	{
		r = p;
		p = p->GetCacheParent();
	}
	if (!r->IsInstanceOf(Opolygon) || ToPoly(r)->GetPointCount() == 0 || ToPoly(r)->GetPolygonCount() == 0)
		return true;

	// The cage geometry: as other deformers left it, when they did.
	PolygonObject* shape = cage_poly;
	if (BaseObject* cache = cage->GetDeformCache())
		shape = ToPoly(cache);
	const LVector* cage_points = shape->GetPointR();
	const CPolygon* polys = shape->GetPolygonR();
	const Int32 face_count = shape->GetPolygonCount();
	// A cache whose counts differ from the cage's, a corner naming no point, or
	// rest areas of another polygon count would send the indices below astray:
	// no binding fits then.
	const bool geometry_fits = shape->GetPointCount() == cage_count && face_count == cage_poly->GetPolygonCount() &&
	                           face_count == restAreas.GetCount() && cage_points && polys &&
	                           CornersInRange(polys, face_count, cage_count);

	Cobjbuff* rec = nullptr;
	BaseDocument* r_doc = r->GetDocument();
	for (Int64 i = 0; i < bindings.GetCount(); ++i)
		if (bindings[i]->link && bindings[i]->link->GetLink(r_doc) == r)
		{
			rec = bindings[i];
			const Int32 selected = rec->validPoints ? rec->validPoints->GetCount() : 0;
			const Int32 n = selected > 0 ? selected : ToPoly(r)->GetPointCount();
			// A record without tables never deforms: like a point-count change, it is dropped.
			if (n != rec->pointCount || !HasTables(*rec))
			{
				if (bindings.GetCount() < 2)
					Azzera_memoria(data);
				else
				{
					FreeRecord(bindings[i]);
					bindings.Remove(i, 1);
				}
				RefreshMemory(data);
				return true;
			}
			if (!geometry_fits || cage_count != rec->cagePointCount || face_count != rec->faceCount)
			{
				Azzera_memoria(data);
				return true;
			}
			break;
		}
	if (!rec)
	{
		if (!bindArmed)
			return true;
		if (!geometry_fits)
		{
			Azzera_memoria(data);
			return true;
		}
		rec = NewObj(Cobjbuff);
		if (!rec)
			return true;
		rec->link = BaseLink::Alloc();
		if (!rec->link)
		{
			FreeRecord(rec);
			return true;
		}
		rec->link->SetLink(r);
		GeShowMouse(MOUSE_BUSY);
		const bool bound = Calcola_GC(mod, cage, rec, thread);
		GeShowMouse(MOUSE_NORMAL);
		if (!bound || !bindings.Append(rec))
		{
			FreeRecord(rec);
			return true;
		}
		RefreshMemory(data);
	}

	PolygonObject* target = ToPoly(op);
	LVector* P = target->GetPointW();
	const Int32 N = target->GetPointCount();
	if (!P || N == 0)
		return true;
	const BaseContainer params = mod->GetData();
	const double g = params.GetReal(MORVEX_STRETCH, 100.0);
	const double t = params.GetReal(MORVEX_STRENGTH, 1.0);

	// Per call: the cage points in the deformer's frame (as floats for the vertex
	// sum), the face normals in that same frame, and each face's stretch factor.
	GeDynamicArray<LVector> normals;
	GeDynamicArray<double> factors;
	GeDynamicArray<SVector> frame_points;
	GeDynamicArray<SVector> face_terms;
	if (!normals.SetCount(face_count) || !factors.SetCount(face_count) || !frame_points.SetCount(cage_count) ||
	    !face_terms.SetCount(face_count))
		return true;
	for (Int32 k = 0; k < cage_count; ++k)
		frame_points[k] = ToSingle(m1 * cage_points[k]);
	for (Int32 j = 0; j < face_count; ++j)
	{
		const CPolygon& f = polys[j];
		const LVector a = m1 * cage_points[f.a], b = m1 * cage_points[f.b], c = m1 * cage_points[f.c], d = m1 * cage_points[f.d];
		// Once more through its length: the deformation has always divided twice,
		// and the second division can move the last bit of a unit normal.
		normals[j] = UnitOrZero(FaceNormal(a, b, c, d, f.c == f.d));
		const double s = ConformalStretch(restPoints[f.a], restPoints[f.b], restPoints[f.c], cage_points[f.a], cage_points[f.b],
		                                  cage_points[f.c], restAreas[j]);
		factors[j] = FaceFactor(g, s);
		// The stretched normal as the face term uses it: the same for every point.
		face_terms[j] = ToSingle(normals[j] * factors[j]);
	}

	float* weights = ToPoly(op)->CalcVertexMap(mod);
	const bool selective = rec->validPoints && rec->validPoints->GetCount() > 0;
	// Each covered point's row, as the rows follow the covered points in index
	// order; without a selection point i has row i, and the map is not needed.
	GeDynamicArray<Int32> row_of;
	if (selective)
	{
		if (!row_of.SetCount(N))
		{
			GeFree(weights);
			return true;
		}
		for (Int32 i = 0, row = 0; i < N; ++i)
			row_of[i] = rec->validPoints->IsSelected(i) && row < rec->pointCount ? row++ : -1;
	}
	const RowSumTerms terms{frame_points.data, cage_count, face_terms.data, face_count};
	const Int32* rows = selective ? row_of.data : nullptr;
	const DeformContext context{P, weights, rec->FI.Data(), rec->PSI.Data(), terms, F, t, rows, rec->pointCount, N,
	                            referenceDeformation, 0, 0, 1};
	DeformPoints(context, thread);
	if (weights)
		GeFree(weights);
	op->Message(MSG_UPDATE);
	return true;
}
