// Binding: the Green coordinates of every bound point of an object against the
// cage in its rest pose (Lipman, Levin and Cohen-Or, "Green Coordinates", 2008),
// in closed form (morvex_closedform), or by the per-face integration of the
// paper, the reference the closed form is checked against. phi (one weight per
// cage point) goes to FI, psi (one per cage face) to PSI.
#define VTN_SOURCE "Morvex"
#include "morvex.h"

#include <atomic>
#include <cstring>

#include "vtn_general.h"
#include "vtn_thread.h"
#include "morvex_closedform.h"
#include "morvex_surface.h"
#include "vtn_resource.h"

namespace {

constexpr Int32 IDS_BINDING = 1004;

// Element by element through single precision and back: the frames of a
// binding are as exact as the host's matrices in single precision.
LMatrix RoundedMatrix(const LMatrix& m)
{
	const SMatrix s = ToSingle(m);
	return {ToDouble(s.off), ToDouble(s.v1), ToDouble(s.v2), ToDouble(s.v3)};
}

// An edge's normal as the per-face integration takes it: left as it is when its length is 0.
LVector Normalised(const LVector& v)
{
	const double len = Len(v);
	return len != 0.0 ? v / len : v;
}

// What every bound point needs, the same for all of them: the rest cage in the
// deformer's frame, its normals, the object's points and the tables to fill.
struct BindContext
{
	const LVector* points;
	const CPolygon* polys;
	Int32 face_count;
	Int32 cage_count;
	const LVector* corners;
	Int64 corner_count;
	LVector origin;
	const LVector* normals;
	LMatrix t_obj;
	Cobjbuff* buff;
	// The pool's view of the rows: first row of each chunk, and each point's row (-1: unbound).
	const Int32* row_of;
	Int32 total;
	// The closed form, or null for the per-face integration.
	const ClosedFormCage* closed;
	// For the per-face integration: the cage's surface tolerance and its
	// faces' angles (the closed form has its own).
	double tol;
	const SurfaceAngles* surface;
	// Set by a worker that could not get its scratch: its rows were never
	// written, so the bind as a whole has failed.
	std::atomic<bool>* scratch_failed;
};

// Where a point stands against face j. area[l] is twice the signed area of the
// fan triangle (foot point, corner l, corner l + 1), whose edge is the face's
// edge opposite corner l + 2; on_line[l] tells whether the foot point lies on
// that edge's line, within the cage's tolerance. On the face means within the
// tolerance of its plane too, and inside the face or on its boundary.
struct FacePlace
{
	bool on = false;
	bool on_line[3] = {false, false, false};
};

FacePlace PlaceOnFace(const BindContext& c, Int32 j, const LVector (&V)[3], const double (&area)[3])
{
	FacePlace place;
	const LVector& n = c.normals[j];
	if (Len(n) == 0.0)
		return place;
	bool inside = area[0] + area[1] + area[2] > 0.0;
	for (int l = 0; l < 3; ++l)
	{
		const double length = Len(V[(l + 1) % 3] - V[l]);
		const double distance = length > 0.0 ? area[l] / length : 0.0;
		place.on_line[l] = std::fabs(distance) <= c.tol;
		inside = inside && distance >= -c.tol;
	}
	place.on = inside && std::fabs(Dot(n, V[0])) <= c.tol;
	return place;
}

// At a point on face j the scheme's phi divides 0 by 0: the point gets the
// limit from inside the cage, lambda_k Omega / 4 pi at corner k, added to fi.
void AddOnFaceLimit(const BindContext& c, Int32 j, const FacePlace& place, const double (&area)[3], float* fi)
{
	const double omega = SurfaceAngle(c.surface[j], place.on_line[1], place.on_line[2], place.on_line[0]);
	const double two_area = area[0] + area[1] + area[2];
	const CPolygon& f = c.polys[j];
	const Int32 idx[3] = {f.a, f.b, f.c};
	for (int k = 0; k < 3; ++k)
	{
		const int l = (k + 1) % 3;  // the fan triangle opposite corner k
		const double lambda = place.on_line[l] ? 0.0 : area[l] / two_area;
		if (idx[k] >= 0 && idx[k] < c.cage_count)
			fi[idx[k]] += float(lambda * omega * -kMinusQuarterOverPiTenDigits);
	}
}

// One bound point's row of phi and psi, face by face. The tables come
// uncleared: both schemes add phi up column by column, so the row is zeroed
// here, by the thread that fills it; psi is assigned face by face.
void BindPoint(const BindContext& c, Int32 q, Int32 row, ClosedFormCage::Scratch& scratch)
{
	std::memset(c.buff->FI[row], 0, static_cast<size_t>(c.cage_count) * sizeof(float));
	if (c.closed)
	{
		c.closed->Evaluate(c.t_obj * c.points[q], scratch, c.buff->FI[row], c.buff->PSI[row], c.cage_count);
		return;
	}
	auto corner = [&](Int32 k) { return k >= 0 && k < c.corner_count ? c.corners[k] : c.origin; };
	const LVector zero{0, 0, 0};
	const LVector x = c.t_obj * c.points[q];
	float* fi = c.buff->FI[row];
	float* psi = c.buff->PSI[row];
	for (Int32 j = 0; j < c.face_count; ++j)
	{
		const CPolygon& f = c.polys[j];
		const Int32 idx[3] = {f.a, f.b, f.c};
		const LVector V[3] = {corner(f.a) - x, corner(f.b) - x, corner(f.c) - x};
		const LVector& nj = c.normals[j];
		const LVector p = nj * Dot(nj, V[0]);
		double s[3], I[3], II[3], area[3];
		Int32 fdeg[3], gdeg[3];
		LVector N[3];
		for (int l = 0; l < 3; ++l)
		{
			const int l1 = (l + 1) % 3;
			const double t = Dot(Cross(V[l] - p, V[l1] - p), nj);
			area[l] = t;
			const float sign = CompareFloatTolerant(t, 0.0) ? 0.0f : (t >= 0.0 ? 1.0f : -1.0f);
			s[l] = sign;
			I[l] = GCTriIn(p, V[l], V[l1], zero, &fdeg[l]);
			II[l] = GCTriIn(zero, V[l1], V[l], zero, &gdeg[l]);
			N[l] = Normalised(Cross(V[l1], V[l]));
		}
		// A fan triangle whose edge line holds the foot point has no area and
		// adds nothing, which GCTriIn, with the foot a rounding off that line,
		// may not give (on the cage this is every face around the point and
		// every face in its plane whose edge runs on through it).
		const FacePlace place = PlaceOnFace(c, j, V, area);
		double S = 0.0;
		for (int l = 0; l < 3; ++l)
			if (fdeg[l] == 0 && !place.on_line[l])
				S += s[l] * I[l];
		const double Iface = -std::fabs(S);
		psi[j] = float(-Iface);
		if (place.on)
		{
			AddOnFaceLimit(c, j, place, area, fi);
			continue;
		}
		LVector w = nj * Iface;
		for (int l = 0; l < 3; ++l)
			if (gdeg[l] == 0)
				w = w + N[l] * II[l];
		if (Len(w) <= 1e-5)
			continue;
		for (int l = 0; l < 3; ++l)
		{
			const int l1 = (l + 1) % 3;
			const double den = Dot(N[l1], V[l]);
			// A corner outside the cage's point range has no column to add to.
			if (den == 0.0 || std::isnan(den) || idx[l] < 0 || idx[l] >= c.cage_count)
				continue;
			fi[idx[l]] += float(Dot(N[l1], w) / den);
		}
	}
}

// A chunk of 64 points on one of the host's workers: rows are disjoint, so
// chunks never touch the same memory, and each point's row is the one the
// sequential loop would give it.
void BindChunk(void* context, Int64 chunk)
{
	const auto& c = *static_cast<const BindContext*>(context);
	const Int32 begin = static_cast<Int32>(chunk * MORVEX_BREAK_EVERY);
	const Int32 end = begin + MORVEX_BREAK_EVERY < c.total ? begin + MORVEX_BREAK_EVERY : c.total;
	ClosedFormCage::Scratch scratch;
	if (c.closed && !c.closed->Prepare(scratch))
	{
		// Its rows hold whatever the allocator left there: the bind must fail.
		c.scratch_failed->store(true);
		return;
	}
	for (Int32 q = begin; q < end; ++q)
		if (c.row_of[q] >= 0)
			BindPoint(c, q, c.row_of[q], scratch);
}

}  // namespace

bool Morvex::Calcola_GC(BaseObject* mod, BaseObject* cage, Cobjbuff* buff, BaseThread* thread)
{
	return Bind(mod, cage, buff, thread, Scheme::ClosedForm);
}

bool Morvex::BindReference(BaseObject* mod, BaseObject* op, BaseThread* thread)
{
	BaseContainer* data = mod->GetDataInstance();
	auto* cage = static_cast<BaseObject*>(data->GetObjectLink(MORVEX_CAGE, mod->GetDocument()));
	if (!cage || !op || restPoints.GetCount() == 0 || restPoints.GetCount() != ToPoly(cage)->GetPointCount())
		return false;
	for (Int64 i = 0; i < bindings.GetCount(); ++i)
		if (bindings[i]->link && bindings[i]->link->GetLink(nullptr) == op)
		{
			FreeRecord(bindings[i]);
			bindings.Remove(i, 1);
			break;
		}
	const bool bound = MakeBinding(mod, data, op, cage, thread, Scheme::Integration) != nullptr;
	RefreshMemory(data);
	return bound;
}

Cobjbuff* Morvex::MakeBinding(BaseObject* mod, BaseContainer* data, BaseObject* obj, BaseObject* cage, BaseThread* thread,
                              Scheme scheme)
{
	Cobjbuff* rec = NewObj(Cobjbuff);
	if (!rec)
		return nullptr;
	rec->link = BaseLink::Alloc();
	if (!rec->link)
	{
		FreeRecord(rec);
		return nullptr;
	}
	rec->link->SetLink(obj);
	GeShowMouse(MOUSE_BUSY);
	const bool bound = Bind(mod, cage, rec, thread, scheme);
	GeShowMouse(MOUSE_NORMAL);
	if (!bound || !bindings.Append(rec))
	{
		FreeRecord(rec);
		return nullptr;
	}
	RefreshMemory(data);
	return rec;
}

bool Morvex::Bind(BaseObject* mod, BaseObject* cage, Cobjbuff* buff, BaseThread* thread, Scheme scheme)
{
	if (!cage || !buff->link)
		return false;
	BaseContainer* data = mod->GetDataInstance();
	auto* obj = static_cast<BaseObject*>(buff->link->GetLink(cage->GetDocument()));
	if (!obj || !obj->IsInstanceOf(Opolygon))
		return false;
	PolygonObject* mesh = ToPoly(obj);
	PolygonObject* cage_poly = ToPoly(cage);

	const bool inside_only = mod->GetData().GetBool(MORVEX_INSIDE_ONLY, false);
	const Int32 n = inside_only ? Find_Valid_Pts(buff, cage, thread) : mesh->GetPointCount();
	// A break while the rays were cast stops the bind as a break in it does.
	if (n < 0)
	{
		Azzera_memoria(data);
		StatusClear();
		return false;
	}
	const LVector* points = mesh->GetPointR();
	const CPolygon* polys = cage_poly->GetPolygonR();
	const Int32 face_count = cage_poly->GetPolygonCount();
	const Int32 cage_count = cage_poly->GetPointCount();
	if (n <= 0 || !points || face_count == 0 || !polys || cage_count == 0)
		return false;

	// Every row is written whole by the worker that binds its point (BindPoint);
	// a bind that does not finish leaves no tables, which would hold whatever
	// the allocator left in them.
	auto drop_tables = [buff] {
		buff->FI.Free();
		buff->PSI.Free();
		buff->pointCount = 0;
	};
	if (!buff->FI.Reserve(n, cage_count) || !buff->PSI.Reserve(n, face_count))
	{
		drop_tables();
		return false;
	}
	buff->pointCount = n;
	buff->faceCount = face_count;
	buff->cagePointCount = cage_count;
	const Int32 total = inside_only ? mesh->GetPointCount() : n;

	StatusClear();
	StatusSetText(GeLoadString(IDS_BINDING) + String(":") + obj->GetName());
	StatusSetBar(0);

	const LMatrix dinv = !RoundedMatrix(mod->GetMg());
	const LMatrix t_cage = dinv * RoundedMatrix(cage->GetMg());
	const LMatrix t_obj = dinv * RoundedMatrix(obj->GetMg());

	// The rest cage in the deformer's frame, once: a corner that names no rest
	// point stands at the cage frame's origin.
	const Int64 rest_count = restPoints.GetCount();
	GeDynamicArray<LVector> corners;
	GeDynamicArray<LVector> normals;
	GeDynamicArray<Int32> row_of;
	if (!corners.SetCount(rest_count) || !normals.SetCount(face_count) || !row_of.SetCount(total))
	{
		drop_tables();
		StatusClear();
		return false;
	}
	for (Int64 k = 0; k < rest_count; ++k)
		corners[k] = t_cage * restPoints[k];
	const LVector origin = t_cage * LVector{0, 0, 0};
	auto corner = [&](Int32 k) { return k >= 0 && k < rest_count ? corners[k] : origin; };
	// Normals from the faces as they sit in the same frame as the corners, so
	// that a rotated cage or deformer binds like an unrotated one.
	for (Int32 j = 0; j < face_count; ++j)
	{
		const CPolygon& f = polys[j];
		normals[j] = FaceNormal(corner(f.a), corner(f.b), corner(f.c), corner(f.d), f.c == f.d);
	}
	// Rows follow the bound points in index order.
	for (Int32 q = 0, row = 0; q < total; ++q)
		row_of[q] = !inside_only || buff->validPoints->IsSelected(q) ? row++ : -1;
	ClosedFormCage closed;
	ClosedFormCage::Scratch scratch;
	GeDynamicArray<SurfaceAngles> surface;
	const bool use_closed = scheme == Scheme::ClosedForm;
	if (use_closed ? !closed.Init(corners.data, rest_count, origin, polys, face_count, normals.data) || !closed.Prepare(scratch)
	               : !CageSurfaceAngles(corners.data, rest_count, origin, polys, face_count, normals.data, surface))
	{
		drop_tables();
		StatusClear();
		return false;
	}
	std::atomic<bool> scratch_failed{false};
	const BindContext context{points,       polys, face_count, cage_count, corners.data, rest_count,
	                          origin,       normals.data, t_obj, buff, row_of.data, total,
	                          use_closed ? &closed : nullptr, SurfaceTolerance(corners.data, rest_count), surface.data,
	                          &scratch_failed};
	auto cancel = [&] {
		drop_tables();
		Azzera_memoria(data);
		StatusClear();
		return false;
	};

	// The host's workers take chunks of 64 points while this thread shows the
	// progress and watches for a break; without workers the points run here.
	const Int64 chunks = (static_cast<Int64>(total) + MORVEX_BREAK_EVERY - 1) / MORVEX_BREAK_EVERY;
	if (thread && thread->TestBreak())
		return cancel();
	HostPool pool;
	if (pool.Start(BindChunk, const_cast<BindContext*>(&context), chunks))
	{
		while (!pool.Wait(20))
		{
			StatusSetBar(static_cast<Int32>(pool.Done() * 100.0 / chunks));
			const bool broken = thread && thread->TestBreak();
			if (broken || scratch_failed.load())
			{
				pool.Stop();
				while (!pool.Wait(100))
				{
				}
				if (broken)
					return cancel();
				break;
			}
		}
		// Rows a worker could not fill would deform their points to the
		// origin: the binding is not made, and the user is told why.
		if (scratch_failed.load())
		{
			drop_tables();
			const String text = String("not enough memory to bind ") + obj->GetName();
			StatusSetText(text);
			GePrint(text);
			return false;
		}
	}
	else
	{
		Int32 row = 0;
		for (Int32 q = 0; q < total; ++q)
		{
			StatusSetBar(static_cast<Int32>(q * 100.0 / total));
			if (thread && q > 0 && q % MORVEX_BREAK_EVERY == 0 && thread->TestBreak())
				return cancel();
			if (inside_only && !buff->validPoints->IsSelected(q))
				continue;
			BindPoint(context, q, row++, scratch);
		}
	}
	StatusClear();
	return true;
}
