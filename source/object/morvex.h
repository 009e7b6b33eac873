// The Morvexer deformer: binds the points of the meshes under it to a closed
// cage with Green coordinates and moves them with the cage.
#ifndef MORVEX_H
#define MORVEX_H

#include "ge_dynamicarray.h"
#include "vtn_basecontainer.h"
#include "vtn_baseobject.h"
#include "vtn_baseselect.h"
#include "vtn_math.h"
#include "abi/vtn_nodedata.h"

// Parameters of the deformer (entries of its data container).
enum
{
	MORVEX_CAGE = 1000,
	MORVEX_BIND = 1001,
	MORVEX_STRETCH = 1003,
	MORVEX_MEMORY = 1004,
	MORVEX_RESTORE_CAGE = 1006,
	MORVEX_CHECK = 1010,
	MORVEX_CHECK_OBJECT = 1011,
	MORVEX_INSIDE_ONLY = 1012,
	MORVEX_SAFE_DISTANCE = 1013,
	MORVEX_STRENGTH = 1015,
};

// Pseudo-random numbers for perturbing rays: a 31-bit linear congruential step.
class Random
{
public:
	explicit Random(UInt32 seed = 100) : state_(seed) {}
	void Init(UInt32 seed) { state_ = seed; }
	// A value in [-1, 1).
	double Get11()
	{
		state_ = ((state_ + 1u) * 69069u) & 0x7FFFFFFFu;
		return static_cast<double>(state_) / 2147483649.0 * 2.0 - 1.0;
	}
	UInt32 State() const { return state_; }

private:
	UInt32 state_;
};

// One bound object: its link and the weights of its bound points.
struct Cobjbuff
{
	BaseLink* link;
	float** FI;   // pointCount rows of cagePointCount vertex weights
	float** PSI;  // pointCount rows of faceCount face weights
	Int32 pointCount;
	Int32 faceCount;
	Int32 cagePointCount;
	// The covered point indices (row r is the r-th in ascending order); null: all points.
	BaseSelect* validPoints;
};

class Morvex : public ObjectData
{
public:
	static NodeData* Alloc();

	bool Init(GeListNode* node) override;
	void Free(GeListNode* node) override;
	~Morvex() override;

	// The reset: drops every binding and the rest pose, shows "0" as the memory figure.
	void Azzera_memoria(BaseContainer* data);
	// Bytes held by the weight tables of all bindings.
	Int64 Calcola_memoria() const;

	// Releases one record (every pointer may be null) and clears its slot.
	static void FreeRecord(Cobjbuff*& rec);
	void FreeAllBindings();
	void ClearRestPose();

	Int32 cageDirty = 0;
	Int64 memoryUsed = 0;
	Int32 bindArmed = 0;
	Random random;
	GeDynamicArray<Cobjbuff*> bindings;
	GeDynamicArray<LVector> restPoints;
	LMatrix restMatrix = IdentityMatrix();
	GeDynamicArray<float> restAreas;
};

#endif
