#define VTN_SOURCE "Morvex"
#include "morvex.h"

#include <cstring>

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

float** Morvex::NewTable(Int32 rows, Int32 cols)
{
	if (rows <= 0 || cols < 0)
		return nullptr;
	float** table = NewMem(float*, rows);
	if (!table)
		return nullptr;
	const Int64 size = static_cast<Int64>(rows) * cols;
	table[0] = NewMem(float, size);
	if (!table[0])
	{
		DeleteMem(table);
		return nullptr;
	}
	// One block, row r at r * cols: the deformation finds rows by that offset.
	// Vertex weights are accumulated into the table: it starts at zero.
	std::memset(table[0], 0, static_cast<size_t>(size) * sizeof(float));
	for (Int32 r = 1; r < rows; ++r)
		table[r] = table[0] + static_cast<Int64>(r) * cols;
	return table;
}

// A table without rows has no row 0 and owns no block: only its row array.
void Morvex::FreeTable(float**& table, Int32 rows)
{
	if (!table)
		return;
	if (rows > 0 && table[0])
		DeleteMem(table[0]);
	DeleteMem(table);
}

void Morvex::FreeRecord(Cobjbuff*& rec)
{
	if (!rec)
		return;
	if (rec->link)
		BaseLink::Free(rec->link);
	FreeTable(rec->FI, rec->pointCount);
	FreeTable(rec->PSI, rec->pointCount);
	if (rec->validPoints)
		BaseSelect::Free(rec->validPoints);
	DeleteObj(rec);
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
