#include "vtn_baseselect.h"

#include "vtn_pmain.h"

namespace {
VTN_Select* S() { return t_VTNOS->select; }
VTN_Link* L() { return t_VTNOS->link; }
}  // namespace

BaseSelect* BaseSelect::Alloc() { return S()->Alloc(); }
void BaseSelect::Free(BaseSelect*& bs)
{
	S()->Free(bs);
	bs = nullptr;
}
Int32 BaseSelect::GetCount() const { return S()->GetCount(this); }
bool BaseSelect::Select(Int32 index) { return S()->Select(this, index); }
bool BaseSelect::IsSelected(Int32 index) const { return S()->IsSelected(this, index); }
BaseSelect* BaseSelect::GetClone() const { return S()->GetClone(this); }
bool BaseSelect::Write(HyperFile* hf) const { return S()->Write(this, hf); }
bool BaseSelect::Read(HyperFile* hf) { return S()->Read(this, hf); }

BaseLink* BaseLink::Alloc() { return L()->Alloc(); }
void BaseLink::Free(BaseLink*& link)
{
	L()->Free(link);
	link = nullptr;
}
void BaseLink::SetLink(BaseList2D* target) { L()->SetLink(this, target); }
BaseList2D* BaseLink::GetLink(const BaseDocument* doc) const { return L()->GetLink(this, doc); }
bool BaseLink::Write(HyperFile* hf) const { return L()->Write(this, hf); }
bool BaseLink::Read(HyperFile* hf) { return L()->Read(this, hf); }
bool BaseLink::CopyTo(BaseLink* dst, Int32 flags, VtnAliasTrans* trans) const { return L()->CopyTo(this, dst, flags, trans); }
