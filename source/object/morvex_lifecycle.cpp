#define VTN_SOURCE "Morvex"
#include "morvex.h"

#include <algorithm>

#include "vtn_general.h"
#include "vtn_memory.h"

NodeData* Morvex::Alloc()
{
	return NewObj(Morvex);
}

bool Morvex::Init(GeListNode* node)
{
	BaseContainer* data = static_cast<BaseList2D*>(node)->GetDataInstance();
	data->SetReal(MORVEX_STRETCH, 100.0);
	data->SetReal(MORVEX_SAFE_DISTANCE, 0.1);
	data->SetBool(MORVEX_INSIDE_ONLY, false);
	data->SetReal(MORVEX_STRENGTH, 1.0);
	// A node that already holds bindings (e.g. re-initialised after a load)
	// keeps the rest pose they were made against.
	if (bindings.GetCount() == 0)
		ClearRestPose();
	bindArmed = 0;
	return true;
}

void Morvex::Free(GeListNode*)
{
	FreeAllBindings();
}

Morvex::~Morvex()
{
	restAreas.Clear();
	restPoints.Clear();
	bindings.Clear();
}

void Morvex::FreeAllBindings()
{
	for (Int64 i = 0; i < bindings.GetCount(); ++i)
		FreeRecord(bindings[i]);
	bindings.Clear();
}

void Morvex::ClearRestPose()
{
	restPoints.Clear();
	restAreas.Clear();
}

void Morvex::Azzera_memoria(BaseContainer* data)
{
	FreeAllBindings();
	ClearRestPose();
	memoryUsed = 0;
	data->SetString(MORVEX_MEMORY, String("0"));
}

void Morvex::RefreshMemory(BaseContainer* data)
{
	memoryUsed = Calcola_memoria();
	data->SetString(MORVEX_MEMORY, MemoryToString(memoryUsed));
}

Int64 Morvex::Calcola_memoria() const
{
	Int64 total = 0;
	for (Int64 i = 0; i < bindings.GetCount(); ++i)
	{
		const Cobjbuff* rec = bindings.data[i];
		// 64-bit products: a dense binding easily passes 2^31 weights.
		total += 4 * ((static_cast<Int64>(rec->faceCount) + rec->cagePointCount) * rec->pointCount);
	}
	return total;
}

void Morvex::Summarise(GeListNode* node, MorvexSummary* s) const
{
	if (!s || s->version != MORVEX_SUMMARY_VERSION)
		return;
	BaseDocument* doc = node->GetDocument();
	s->bindingCount = static_cast<Int32>(bindings.GetCount());
	for (Int32 i = 0; s->bindings && i < s->capacity && i < s->bindingCount; ++i)
	{
		const Cobjbuff* r = bindings.data[i];
		s->bindings[i] = {r->link ? r->link->GetLink(doc) : nullptr, r->pointCount, r->cagePointCount, r->faceCount,
		                  r->validPoints ? 1 : 0};
	}
	s->weightBytes = Calcola_memoria();
	s->restPointCount = static_cast<Int32>(restPoints.GetCount());
	s->restAreaCount = static_cast<Int32>(restAreas.GetCount());
	s->restLow = s->restHigh = LVector{0, 0, 0};
	for (Int64 i = 0; i < restPoints.GetCount(); ++i)
	{
		const LVector& p = restPoints.data[i];
		if (i == 0)
			s->restLow = s->restHigh = p;
		s->restLow = {std::min(s->restLow.x, p.x), std::min(s->restLow.y, p.y), std::min(s->restLow.z, p.z)};
		s->restHigh = {std::max(s->restHigh.x, p.x), std::max(s->restHigh.y, p.y), std::max(s->restHigh.z, p.z)};
	}
	s->restAreaSum = 0.0;
	for (Int64 i = 0; i < restAreas.GetCount(); ++i)
		s->restAreaSum += restAreas.data[i];
	s->restMatrix = restMatrix;
	s->streamVersion = streamVersion;
	s->streamKnown = streamVersion <= MORVEX_STREAM_VERSION ? 1 : 0;
	s->filled = 1;
}
