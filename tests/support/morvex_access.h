// The deformer's private state, for the tests that arrange it or check it.
// Morvex names this struct its friend for that alone; the plug-in never uses it.
#ifndef MORVEXER_TESTS_MORVEX_ACCESS_H
#define MORVEXER_TESTS_MORVEX_ACCESS_H

#include "object/morvex.h"

struct MorvexTestAccess
{
	explicit MorvexTestAccess(Morvex* m)
	    : cageDirty(m->cageDirty), memoryUsed(m->memoryUsed), bindArmed(m->bindArmed), random(m->random), bindings(m->bindings),
	      restPoints(m->restPoints), restMatrix(m->restMatrix), restAreas(m->restAreas), self(m)
	{
	}

	Int32& cageDirty;
	Int64& memoryUsed;
	Int32& bindArmed;
	Random& random;
	GeDynamicArray<Cobjbuff*>& bindings;
	GeDynamicArray<LVector>& restPoints;
	LMatrix& restMatrix;
	GeDynamicArray<float>& restAreas;

	void FreeAllBindings() { self->FreeAllBindings(); }

private:
	Morvex* self;
};

// internals(m).bindings, internals(m).restPoints, ...
inline MorvexTestAccess internals(Morvex* m) { return MorvexTestAccess(m); }

#endif
