#define VTN_SOURCE "Morvex"
#include "morvex.h"

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
