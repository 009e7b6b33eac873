#define VTN_SOURCE "Morvex"
#include "morvex_weights.h"

#include <cstring>

#include "vtn_memory.h"

bool WeightTable::Reserve(Int32 rows, Int32 cols)
{
	Free();
	if (rows <= 0 || cols < 0)
		return false;
	block_ = NewMem(float, static_cast<Int64>(rows) * cols);
	if (!block_)
		return false;
	rows_ = rows;
	cols_ = cols;
	return true;
}

bool WeightTable::Allocate(Int32 rows, Int32 cols)
{
	if (!Reserve(rows, cols))
		return false;
	std::memset(block_, 0, static_cast<size_t>(Count()) * sizeof(float));
	return true;
}

bool WeightTable::Fill(Int32 rows, Int32 cols, const float* src_floats)
{
	if (!Reserve(rows, cols))
		return false;
	std::memcpy(block_, src_floats, static_cast<size_t>(Count()) * sizeof(float));
	return true;
}

bool WeightTable::CopyFrom(const WeightTable& src)
{
	if (!src)
	{
		Free();
		return false;
	}
	return Fill(src.rows_, src.cols_, src.block_);
}

void WeightTable::Free()
{
	DeleteMem(block_);
	rows_ = 0;
	cols_ = 0;
}

void FreeRecord(Cobjbuff*& rec)
{
	if (!rec)
		return;
	if (rec->link)
		BaseLink::Free(rec->link);
	if (rec->validPoints)
		BaseSelect::Free(rec->validPoints);
	// The tables go with the record.
	DeleteObj(rec);
}

bool HasTables(const Cobjbuff& rec)
{
	return rec.FI && rec.PSI && rec.FI.Rows() == rec.pointCount && rec.PSI.Rows() == rec.pointCount &&
	       rec.FI.Cols() == rec.cagePointCount && rec.PSI.Cols() == rec.faceCount;
}

namespace {

Int64 PsiFloats(const Cobjbuff& r) { return static_cast<Int64>(r.pointCount) * r.faceCount; }
Int64 FiFloats(const Cobjbuff& r) { return static_cast<Int64>(r.pointCount) * r.cagePointCount; }

// A table's part of the block: its weights when it has the shape the counts
// give it, zeros otherwise.
void Put(const WeightTable& t, Int64 floats, float* out)
{
	if (floats <= 0)
		return;
	if (t && t.Count() == floats)
		std::memcpy(out, t.Data(), static_cast<size_t>(floats) * sizeof(float));
	else
		std::memset(out, 0, static_cast<size_t>(floats) * sizeof(float));
}

}  // namespace

Int64 StreamFloats(const Cobjbuff& rec) { return PsiFloats(rec) + FiFloats(rec); }

void PutStreamBlock(const Cobjbuff& rec, float* out)
{
	const Int64 psi = PsiFloats(rec);
	Put(rec.PSI, psi, out);
	Put(rec.FI, FiFloats(rec), out + (psi > 0 ? psi : 0));
}

bool TakeStreamBlock(Cobjbuff& rec, const float* in)
{
	if (rec.PSI.Fill(rec.pointCount, rec.faceCount, in) && rec.FI.Fill(rec.pointCount, rec.cagePointCount, in + PsiFloats(rec)))
		return true;
	rec.PSI.Free();
	rec.FI.Free();
	return false;
}

namespace {

// Zeros for a missing table, a piece at a time rather than a block of its size.
bool PutTable(const WeightTable& t, Int64 floats, bool (*part)(void*, const void*, Int64), void* context)
{
	if (floats <= 0)
		return true;
	if (t && t.Count() == floats)
		return part(context, t.Data(), floats * 4);
	static const float zeros[4096] = {};
	for (Int64 left = floats; left > 0;)
	{
		const Int64 n = left < 4096 ? left : 4096;
		if (!part(context, zeros, n * 4))
			return false;
		left -= n;
	}
	return true;
}

bool TakeTable(WeightTable& t, Int32 rows, Int32 cols, bool (*part)(void*, void*, Int64), void* context)
{
	if (t.AllocateUnfilled(rows, cols))
		return t.Count() == 0 || part(context, t.Data(), t.Count() * 4);
	float scratch[4096];
	for (Int64 left = rows > 0 && cols > 0 ? static_cast<Int64>(rows) * cols : 0; left > 0;)
	{
		const Int64 n = left < 4096 ? left : 4096;
		if (!part(context, scratch, n * 4))
			return false;
		left -= n;
	}
	return true;
}

}  // namespace

bool PutStreamPieces(const Cobjbuff& rec, bool (*part)(void* context, const void* bytes, Int64 size), void* context)
{
	return PutTable(rec.PSI, PsiFloats(rec), part, context) && PutTable(rec.FI, FiFloats(rec), part, context);
}

bool TakeStreamPieces(Cobjbuff& rec, bool (*part)(void* context, void* out, Int64 size), void* context)
{
	const bool came = TakeTable(rec.PSI, rec.pointCount, rec.faceCount, part, context) &&
	                  TakeTable(rec.FI, rec.pointCount, rec.cagePointCount, part, context);
	if (!came || !HasTables(rec))
	{
		rec.PSI.Free();
		rec.FI.Free();
	}
	return came;
}
