// Deformation: every bound point moves to the weighted sum of the current cage
// points (phi) and of the current face normals scaled by the faces' conformal
// stretch (psi), blended by strength and the host's restriction weights. An
// evaluation finds (or drops, or makes) the binding of its object, makes the
// cage's terms for this call, and runs the pass over the points.
#define VTN_SOURCE "Morvex"
#include "morvex.h"
#include "morvex_rowsums.h"

#include "vtn_general.h"
#include "vtn_thread.h"

// The cage as one evaluation sees it.
struct Morvex::CageView
{
	BaseObject* object = nullptr;
	Int32 pointCount = 0;  // the cage's own: the length of the vertex sum
	// The geometry as other deformers left it, when they did.
	const LVector* points = nullptr;
	const CPolygon* polys = nullptr;
	Int32 faceCount = 0;
	// The bindings' indices can read that geometry: its counts are the cage's
	// and the rest areas', and every corner names a point.
	bool fits = false;
};

namespace {

// The object a binding belongs to: op itself, or the polygon object whose
// cache op is; null when that is no polygon object with points and polygons.
BaseObject* BoundObject(BaseObject* op);

// The cage's terms for one call, in the deformer's frame: its points as floats
// for the vertex sum, and each face's normal scaled by its stretch factor for
// the face sum. False when memory is exhausted.
struct CageTerms
{
	GeDynamicArray<SVector> points;
	GeDynamicArray<SVector> faces;
};
bool MakeCageTerms(const LVector* points, Int32 point_count, const CPolygon* polys, Int32 face_count, const LMatrix& m1,
                   double stretch, const GeDynamicArray<LVector>& rest_points, const GeDynamicArray<float>& rest_areas,
                   CageTerms& terms);

// Each of count points' row in the record's tables, -1 for a point it does not
// cover: the rows follow the covered points in index order. Without a
// selection point i has row i, and row_of stays empty. False when memory is exhausted.
bool MapRows(const Cobjbuff& rec, Int32 count, GeDynamicArray<Int32>& row_of);

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
	Int64 chunks;       // of 64 points
	Int64 span_chunks;  // chunks a worker takes at once
};

void DeformPoints(DeformContext c, BaseThread* thread);

}  // namespace

bool Morvex::ModifyObject(BaseObject* mod, BaseDocument* doc, BaseObject* op, const LMatrix&, const LMatrix& mod_mg, double,
                          Int32, BaseThread* thread)
{
	return Evaluate(mod, doc, op, mod_mg, thread, Pass::Fast);
}

bool Morvex::ModifyObjectReference(BaseObject* mod, BaseDocument* doc, BaseObject* op, const LMatrix&, const LMatrix& mod_mg,
                                   double, Int32, BaseThread* thread)
{
	return Evaluate(mod, doc, op, mod_mg, thread, Pass::Plain);
}

// Every way out leaves op's points as the host gave them, except the pass's.
bool Morvex::Evaluate(BaseObject* mod, BaseDocument* doc, BaseObject* op, const LMatrix& mod_mg, BaseThread* thread, Pass pass)
{
	BaseContainer* data = mod->GetDataInstance();
	CageView cage;
	if (!ViewCage(data, doc, cage))
	{
		Azzera_memoria(data);
		return true;
	}
	BaseObject* bound = BoundObject(op);
	if (!bound)
		return true;
	const Cobjbuff* rec = FindOrMakeBinding(mod, data, bound, cage, thread);
	if (!rec)
		return true;

	PolygonObject* target = ToPoly(op);
	LVector* P = target->GetPointW();
	const Int32 N = target->GetPointCount();
	if (!P || N == 0)
		return true;
	const BaseContainer params = mod->GetData();
	const double g = params.GetReal(MORVEX_STRETCH, 100.0);
	const double t = params.GetReal(MORVEX_STRENGTH, 1.0);
	// m1 takes the cage's coordinates into the deformer's frame; F takes that
	// frame into the object's coordinates.
	const LMatrix mod_inv = !mod_mg;
	const LMatrix m1 = mod_inv * cage.object->GetMg();
	const LMatrix F = !(mod_inv * op->GetMg());
	CageTerms terms;
	if (!MakeCageTerms(cage.points, cage.pointCount, cage.polys, cage.faceCount, m1, g, restPoints, restAreas, terms))
		return true;

	float* weights = target->CalcVertexMap(mod);
	GeDynamicArray<Int32> row_of;
	if (!MapRows(*rec, N, row_of))
	{
		GeFree(weights);
		return true;
	}
	const RowSumTerms sums{terms.points.data, cage.pointCount, terms.faces.data, cage.faceCount};
	const Int32* rows = row_of.GetCount() > 0 ? row_of.data : nullptr;
	const DeformContext context{P, weights, rec->FI.Data(), rec->PSI.Data(), sums, F, t, rows, rec->pointCount, N,
	                            pass == Pass::Plain, 0, 1};
	DeformPoints(context, thread);
	if (weights)
		GeFree(weights);
	op->Message(MSG_UPDATE);
	return true;
}

// False when nothing can be deformed until the next bind: no cage, a cage
// without points, or a rest pose of another point count.
bool Morvex::ViewCage(BaseContainer* data, BaseDocument* doc, CageView& cage) const
{
	cage.object = static_cast<BaseObject*>(data->GetObjectLink(MORVEX_CAGE, doc));
	if (!cage.object)
		return false;
	PolygonObject* own = ToPoly(cage.object);
	cage.pointCount = own->GetPointCount();
	if (cage.pointCount == 0 || restPoints.GetCount() != cage.pointCount)
		return false;
	PolygonObject* shape = own;
	if (BaseObject* cache = cage.object->GetDeformCache())
		shape = ToPoly(cache);
	cage.points = shape->GetPointR();
	cage.polys = shape->GetPolygonR();
	cage.faceCount = shape->GetPolygonCount();
	// A cache whose counts differ from the cage's, a corner naming no point, or
	// rest areas of another polygon count would send the indices astray.
	cage.fits = shape->GetPointCount() == cage.pointCount && cage.faceCount == own->GetPolygonCount() &&
	            cage.faceCount == restAreas.GetCount() && cage.points && cage.polys &&
	            CornersInRange(cage.polys, cage.faceCount, cage.pointCount);
	return true;
}

// The binding of obj when it still fits; one made now when binding is armed.
// A binding that no longer fits is dropped, or the whole deformer reset, and
// nothing is deformed in this call.
Cobjbuff* Morvex::FindOrMakeBinding(BaseObject* mod, BaseContainer* data, BaseObject* obj, const CageView& cage,
                                    BaseThread* thread)
{
	BaseDocument* obj_doc = obj->GetDocument();
	for (Int64 i = 0; i < bindings.GetCount(); ++i)
	{
		Cobjbuff* rec = bindings[i];
		if (!rec->link || rec->link->GetLink(obj_doc) != obj)
			continue;
		const Int32 selected = rec->validPoints ? rec->validPoints->GetCount() : 0;
		const Int32 n = selected > 0 ? selected : ToPoly(obj)->GetPointCount();
		// A record without tables never deforms: like a point-count change, it is dropped.
		if (n != rec->pointCount || !HasTables(*rec))
		{
			DropBinding(i, data);
			return nullptr;
		}
		if (!cage.fits || cage.pointCount != rec->cagePointCount || cage.faceCount != rec->faceCount)
		{
			Azzera_memoria(data);
			return nullptr;
		}
		return rec;
	}
	if (!bindArmed)
		return nullptr;
	if (!cage.fits)
	{
		Azzera_memoria(data);
		return nullptr;
	}
	return MakeBinding(mod, data, obj, cage.object, thread, Scheme::ClosedForm);
}

// The only binding goes with the whole rest pose; one of several goes alone,
// and its object is bound afresh at its next evaluation.
void Morvex::DropBinding(Int64 index, BaseContainer* data)
{
	if (bindings.GetCount() < 2)
		Azzera_memoria(data);
	else
	{
		FreeRecord(bindings[index]);
		bindings.Remove(index, 1);
	}
	RefreshMemory(data);
}

namespace {

BaseObject* BoundObject(BaseObject* op)
{
	BaseObject* r = op;
	BaseObject* p = op->GetCacheParent();
	while (p && p->GetCacheParent() && p->GetCacheParent()->IsInstanceOf(Opolygon))
	{
		r = p;
		p = p->GetCacheParent();
	}
	if (!r->IsInstanceOf(Opolygon) || ToPoly(r)->GetPointCount() == 0 || ToPoly(r)->GetPolygonCount() == 0)
		return nullptr;
	return r;
}

bool MapRows(const Cobjbuff& rec, Int32 count, GeDynamicArray<Int32>& row_of)
{
	if (!rec.validPoints || rec.validPoints->GetCount() == 0)
		return true;
	if (!row_of.SetCount(count))
		return false;
	for (Int32 i = 0, row = 0; i < count; ++i)
		row_of[i] = rec.validPoints->IsSelected(i) && row < rec.pointCount ? row++ : -1;
	return true;
}

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

bool MakeCageTerms(const LVector* points, Int32 point_count, const CPolygon* polys, Int32 face_count, const LMatrix& m1,
                   double stretch, const GeDynamicArray<LVector>& rest_points, const GeDynamicArray<float>& rest_areas,
                   CageTerms& terms)
{
	if (!terms.points.SetCount(point_count) || !terms.faces.SetCount(face_count))
		return false;
	for (Int32 k = 0; k < point_count; ++k)
		terms.points[k] = ToSingle(m1 * points[k]);
	for (Int32 j = 0; j < face_count; ++j)
	{
		const CPolygon& f = polys[j];
		const LVector a = m1 * points[f.a], b = m1 * points[f.b], c = m1 * points[f.c], d = m1 * points[f.d];
		// Once more through its length: the deformation has always divided twice,
		// and the second division can move the last bit of a unit normal.
		const LVector normal = UnitOrZero(FaceNormal(a, b, c, d, f.c == f.d));
		const double s = ConformalStretch(rest_points.data[f.a], rest_points.data[f.b], rest_points.data[f.c], points[f.a],
		                                  points[f.b], points[f.c], rest_areas.data[j]);
		terms.faces[j] = ToSingle(normal * FaceFactor(stretch, s));
	}
	return true;
}

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

// The workers take the chunks in spans: a run of 64 points is over in a
// microsecond or two, less than handing it to a worker costs, and long runs of
// rows stream from memory best; but a span is also what a worker finishes
// after a break, so it stays at 4096 points. A pass of 16 chunks or more is
// cut into at least 16 spans, so the workers share out a small mesh too.
constexpr Int64 kMaxSpanChunks = 64;
// How often the evaluating thread asks for a break while the workers run.
constexpr Int32 kWatchMs = 2;

void DeformSpan(void* context, Int64 span)
{
	const auto& c = *static_cast<const DeformContext*>(context);
	const Int64 first = span * c.span_chunks;
	for (Int64 chunk = first; chunk < first + c.span_chunks && chunk < c.chunks; ++chunk)
		DeformChunk(c, chunk);
}

// The points in chunks of 64. On the host's workers, in spans handed out in
// order while this thread asks for a break every few milliseconds, as the
// binding does; a break hands out no further span and the spans under way
// are finished, so what is deformed is a prefix of whole chunks. Here, one
// chunk at a time with a break test before each, as a plain loop asks every
// 64 points.
void DeformPoints(DeformContext c, BaseThread* thread)
{
	c.chunks = (static_cast<Int64>(c.count) + MORVEX_BREAK_EVERY - 1) / MORVEX_BREAK_EVERY;
	const Int64 span = c.chunks / 16;
	c.span_chunks = span < 1 ? 1 : (span > kMaxSpanChunks ? kMaxSpanChunks : span);
	// The first test comes before any point, wherever the points run: a break
	// at once moves nothing.
	if (c.chunks == 0 || (thread && thread->TestBreak()))
		return;
	HostPool pool;
	if (!c.plain && pool.Start(DeformSpan, &c, (c.chunks + c.span_chunks - 1) / c.span_chunks))
	{
		do
		{
			if (thread && thread->TestBreak())
			{
				pool.Stop();
				while (!pool.Wait(100))
				{
				}
				return;
			}
		} while (!pool.Wait(kWatchMs));
		return;
	}
	// One chunk at a time: the span here is a chunk.
	c.span_chunks = 1;
	for (Int64 k = 0; k < c.chunks; ++k)
	{
		if (k > 0 && thread && thread->TestBreak())
			return;
		DeformSpan(&c, k);
	}
}


}  // namespace
