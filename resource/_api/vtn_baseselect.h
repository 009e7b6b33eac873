// Point selections and links between nodes: host objects the plug-in owns
// through a pointer, made with Alloc and released with Free.
#ifndef VTN_BASESELECT_H
#define VTN_BASESELECT_H

#include "abi/vtn_types.h"

class BaseSelect
{
public:
	BaseSelect() = delete;
	static BaseSelect* Alloc();
	static void Free(BaseSelect*& bs);
	Int32 GetCount() const;
	bool Select(Int32 index);
	bool IsSelected(Int32 index) const;
	BaseSelect* GetClone() const;
	bool Write(HyperFile* hf) const;
	bool Read(HyperFile* hf);
};

class BaseLink
{
public:
	BaseLink() = delete;
	static BaseLink* Alloc();
	static void Free(BaseLink*& link);
	void SetLink(BaseList2D* target);
	// The target when it is alive (and in doc, when doc is given), else null.
	BaseList2D* GetLink(const BaseDocument* doc) const;
	bool Write(HyperFile* hf) const;
	bool Read(HyperFile* hf);
	bool CopyTo(BaseLink* dst, Int32 flags, VtnAliasTrans* trans) const;
};

#endif
