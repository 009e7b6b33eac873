// Tags: a new tag belongs to its creator until it is inserted into an object.
#ifndef VTN_BASETAG_H
#define VTN_BASETAG_H

#include "vtn_baseobject.h"

class BaseTag : public BaseList2D
{
public:
	static BaseTag* Alloc(Int32 type);
	static void Free(BaseTag*& tag);
	BaseObject* GetObject();
};

class SelectionTag : public BaseTag
{
public:
	static SelectionTag* Alloc(Int32 type);
	static void Free(SelectionTag*& tag);
	// The tag's own selection.
	BaseSelect* GetBaseSelect();
};

#endif
