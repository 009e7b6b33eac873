#include "vtn_basetag.h"

#include "vtn_pmain.h"

BaseTag* BaseTag::Alloc(Int32 type) { return t_VTNOS->tag->Alloc(type); }
void BaseTag::Free(BaseTag*& tag)
{
	t_VTNOS->tag->Free(tag);
	tag = nullptr;
}
BaseObject* BaseTag::GetObject() { return t_VTNOS->tag->GetObject(this); }

SelectionTag* SelectionTag::Alloc(Int32 type) { return static_cast<SelectionTag*>(BaseTag::Alloc(type)); }
void SelectionTag::Free(SelectionTag*& tag)
{
	BaseTag* t = tag;
	BaseTag::Free(t);
	tag = nullptr;
}
BaseSelect* SelectionTag::GetBaseSelect() { return t_VTNOS->tag->GetBaseSelect(this); }
