// The deformer's block of the scene file, and the copy made when the host
// duplicates the deformer. Weights go into one value, compressed by the host:
// straight from the tables and back into them when the host takes a value in
// pieces, else joined into one block first. The stream's bytes are the same.
#define VTN_SOURCE "Morvex"
#include "morvex.h"

#include <limits>

#include "vtn_file.h"
#include "vtn_general.h"

namespace {

constexpr Int32 kRecordVersion = 2;
constexpr Int32 kCompressionLevel = 5;

bool PutPart(void* writer, const void* bytes, Int64 size)
{
	return WritePackedPart(static_cast<VtnPackWriter*>(writer), bytes, size);
}

bool TakePart(void* reader, void* out, Int64 size)
{
	return ReadPackedPart(static_cast<VtnPackReader*>(reader), out, size);
}

}  // namespace

bool Morvex::Write(GeListNode*, HyperFile* hf)
{
	hf->WriteLong(MORVEX_STREAM_VERSION);
	hf->WriteLong(static_cast<Int32>(bindings.GetCount()));
	Int64 total = 0;
	for (Int64 i = 0; i < bindings.GetCount(); ++i)
	{
		const Cobjbuff* r = bindings[i];
		hf->WriteLong(kRecordVersion);
		hf->WriteLong(r->pointCount);
		hf->WriteLong(r->cagePointCount);
		hf->WriteLong(r->faceCount);
		r->link->Write(hf);
		hf->WriteLong(r->validPoints ? 1 : 0);
		if (r->validPoints)
			r->validPoints->Write(hf);
		total += StreamFloats(*r);
	}

	bool stored = false;
	if (bindings.GetCount() > 0 && total > 0 && total <= std::numeric_limits<Int64>::max() / 4 && PackedStreamsOffered())
	{
		// Table by table into the host's value: no block of all the weights.
		hf->WriteLong(1);
		VtnPackWriter* writer = WritePackedBegin(hf, total * 4, kCompressionLevel);
		bool ok = writer != nullptr;
		for (Int64 i = 0; ok && i < bindings.GetCount(); ++i)
			ok = PutStreamPieces(*bindings[i], PutPart, writer);
		if (writer)
			ok = WritePackedEnd(writer) && ok;
		// The value is incomplete: the block cannot be read back as written.
		if (!ok)
			return false;
		stored = true;
	}
	else if (bindings.GetCount() > 0 && total > 0 && static_cast<unsigned long long>(total) <= SIZE_MAX / 4)
	{
		const size_t bytes = static_cast<size_t>(total) * 4;
		auto* buffer = static_cast<float*>(GeAlloc(bytes, __LINE__, VTN_SOURCE));
		if (buffer)
		{
			float* at = buffer;
			for (Int64 i = 0; i < bindings.GetCount(); ++i)
			{
				PutStreamBlock(*bindings[i], at);
				at += StreamFloats(*bindings[i]);
			}
			void* packed = nullptr;
			Int64 packed_size = 0;
			if (CompressData(buffer, static_cast<Int64>(bytes), packed, packed_size, kCompressionLevel))
			{
				hf->WriteLong(1);
				hf->WriteMemory(packed, packed_size);
				stored = true;
			}
			_GeFree(&packed);
			GeFree(buffer);
		}
	}
	if (!stored)
		hf->WriteLong(0);

	hf->WriteLong(static_cast<Int32>(restPoints.GetCount()));
	for (Int64 i = 0; i < restPoints.GetCount(); ++i)
		hf->WriteVector(restPoints[i]);
	hf->WriteLong(static_cast<Int32>(restAreas.GetCount()));
	for (Int64 i = 0; i < restAreas.GetCount(); ++i)
		hf->WriteReal(restAreas[i]);
	hf->WriteMatrix(restMatrix);
	return true;
}

bool Morvex::ReadBindings(HyperFile* hf)
{
	Int32 count = 0;
	if (!hf->ReadLong(&count) || count < 0)
		return false;
	// One record at a time, each read from the stream before the next is made:
	// a damaged count runs out of data, never out of memory.
	for (Int32 i = 0; i < count; ++i)
	{
		Cobjbuff* r = NewObj(Cobjbuff);
		if (!r)
			return false;
		r->link = BaseLink::Alloc();
		if (!r->link || !bindings.Append(r))
		{
			FreeRecord(r);
			return false;
		}
		Int32 version = 0;
		if (!hf->ReadLong(&version) || !hf->ReadLong(&r->pointCount) || !hf->ReadLong(&r->cagePointCount) ||
		    !hf->ReadLong(&r->faceCount) || r->pointCount < 0 || r->cagePointCount < 0 || r->faceCount < 0 || !r->link->Read(hf))
			return false;
		if (version > 1)
		{
			Int32 flag = 0;
			if (!hf->ReadLong(&flag))
				return false;
			if (flag == 1)
			{
				r->validPoints = BaseSelect::Alloc();
				if (!r->validPoints || !r->validPoints->Read(hf))
					return false;
			}
		}
	}
	return true;
}

void Morvex::DropRecordsWithoutTables()
{
	for (Int64 i = bindings.GetCount() - 1; i >= 0; --i)
		if (!HasTables(*bindings[i]))
		{
			FreeRecord(bindings[i]);
			bindings.Remove(i, 1);
		}
}

Int64 Morvex::WeightBytes() const
{
	Int64 expected = 0;
	for (Int64 i = 0; i < bindings.GetCount(); ++i)
	{
		const Int64 floats = StreamFloats(*bindings[i]);
		if (floats > (std::numeric_limits<Int64>::max() / 4 - expected) / 4)
			return -1;
		expected += floats * 4;
	}
	return expected;
}

bool Morvex::ReadWeightsInPieces(HyperFile* hf)
{
	Int64 plain = 0;
	VtnPackReader* reader = nullptr;
	const Int32 got = ReadPackedBegin(hf, plain, reader);
	const bool sane = bindings.GetCount() > 0 && plain > 0 && WeightBytes() == plain;
	if (got == 2)
		return sane;
	if (got != 1)
		return false;
	// Only a value of exactly the size the headers promise is read into tables.
	bool ok = sane;
	// A record whose tables cannot be made is dropped below, as one without weights.
	for (Int64 i = 0; ok && i < bindings.GetCount(); ++i)
		ok = TakeStreamPieces(*bindings[i], TakePart, reader);
	if (!ReadPackedEnd(reader) || !ok)
		for (Int64 i = 0; i < bindings.GetCount(); ++i)
		{
			bindings[i]->PSI.Free();
			bindings[i]->FI.Free();
		}
	return false;
}

bool Morvex::Read(GeListNode* node, HyperFile* hf, Int32)
{
	BaseContainer* data = static_cast<BaseList2D*>(node)->GetDataInstance();
	// The rest pose stays until the stream brings another.
	FreeAllBindings();
	RefreshMemory(data);

	// A damaged stream is read no further: what is incomplete is dropped, what
	// was read whole is kept, and the host sees the stream stop early.
	Int32 version = 0;
	if (!hf->ReadLong(&version))
		return true;
	streamVersion = version;
	// A newer layout than this code knows: nothing of it is taken for what it is not.
	if (version > MORVEX_STREAM_VERSION)
		return true;
	if (!ReadBindings(hf))
	{
		FreeAllBindings();
		return true;
	}
	Int32 weights = 0;
	if (!hf->ReadLong(&weights))
	{
		FreeAllBindings();
		return true;
	}
	bool passed_over = false;
	if (weights > 0 && PackedStreamsOffered())
		passed_over = ReadWeightsInPieces(hf);
	else if (weights > 0)
	{
		void* block = nullptr;
		Int64 length = 0;
		if (!hf->ReadMemory(&block, &length))
		{
			FreeAllBindings();
			return true;
		}
		void* plain = nullptr;
		Int64 plain_size = 0;
		if (length > 0 && bindings.GetCount() > 0 && UncompressData(block, length, plain, plain_size))
		{
			// The block must hold exactly what the headers promise; anything else
			// leaves every record without tables.
			if (WeightBytes() == plain_size)
			{
				// A record whose tables cannot be made is dropped below, as one without weights.
				const float* src = static_cast<const float*>(plain);
				for (Int64 i = 0; i < bindings.GetCount(); ++i)
				{
					TakeStreamBlock(*bindings[i], src);
					src += StreamFloats(*bindings[i]);
				}
			}
		}
		_GeFree(&plain);
		_GeFree(&block);
	}
	// Records whose weights did not come back never deform: they are dropped
	// here, unless the host passed over the weights on purpose (a look at the
	// scene): then the records stay for their counts, and never deform.
	if (!passed_over)
		DropRecordsWithoutTables();
	RefreshMemory(data);

	Int32 points = 0;
	if (!hf->ReadLong(&points) || points < 0)
		return true;
	restPoints.Clear();
	for (Int32 i = 0; i < points; ++i)
	{
		LVector v;
		if (!hf->ReadVector(&v) || !restPoints.Append(v))
		{
			ClearRestPose();
			return true;
		}
	}
	Int32 areas = 0;
	if (!hf->ReadLong(&areas) || areas < 0)
	{
		ClearRestPose();
		return true;
	}
	restAreas.Clear();
	for (Int32 i = 0; i < areas; ++i)
	{
		double a = 0.0;
		if (!hf->ReadReal(&a) || !restAreas.Append(float(a)))
		{
			ClearRestPose();
			return true;
		}
	}
	if (version > 1)
	{
		LMatrix m = IdentityMatrix();
		if (hf->ReadMatrix(&m))
			restMatrix = m;
	}
	return true;
}

bool Morvex::CopyTo(NodeData* dest, GeListNode* snode, GeListNode* dnode, COPYFLAGS flags, AliasTrans* trans)
{
	auto* target = static_cast<Morvex*>(dest);
	// A copy replaces what the target held (an undo copies onto a live node).
	target->FreeAllBindings();
	target->ClearRestPose();
	for (Int64 i = 0; i < bindings.GetCount(); ++i)
	{
		const Cobjbuff* src = bindings[i];
		Cobjbuff* r = NewObj(Cobjbuff);
		if (!r)
			continue;
		r->link = BaseLink::Alloc();
		if (!r->link)
		{
			FreeRecord(r);
			continue;
		}
		// Without its link the record keeps no counts and no weights, but the
		// points it covered still go with it, as a save of the copy stores them.
		if (src->link->CopyTo(r->link, 0, reinterpret_cast<VtnAliasTrans*>(trans)))
		{
			r->pointCount = src->pointCount;
			r->cagePointCount = src->cagePointCount;
			r->faceCount = src->faceCount;
			// Memory exhausted: the record is skipped rather than kept without weights.
			if (HasTables(*src) && (!r->FI.CopyFrom(src->FI) || !r->PSI.CopyFrom(src->PSI)))
			{
				FreeRecord(r);
				continue;
			}
		}
		// Without its selection, an inside-only record would read as covering
		// every point: it is not kept.
		if (src->validPoints && !(r->validPoints = src->validPoints->GetClone()))
		{
			FreeRecord(r);
			continue;
		}
		if (!target->bindings.Append(r))
			FreeRecord(r);
	}
	// A rest pose is whole or none.
	bool rest_copied = true;
	for (Int64 i = 0; i < restPoints.GetCount() && rest_copied; ++i)
		rest_copied = target->restPoints.Append(restPoints[i]);
	for (Int64 i = 0; i < restAreas.GetCount() && rest_copied; ++i)
		rest_copied = target->restAreas.Append(restAreas[i]);
	if (!rest_copied)
		target->ClearRestPose();
	return NodeData::CopyTo(dest, snode, dnode, flags, trans);
}
