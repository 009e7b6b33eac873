#include "vtn_baseobject.h"

#include "vtn_pmain.h"

namespace {
VTN_Atom* A() { return t_VTNOS->atom; }
}  // namespace

NodeData* GeListNode::GetNodeData() { return A()->GetNodeData(this); }
BaseDocument* GeListNode::GetDocument() { return A()->GetDocument(this); }
bool GeListNode::Message(Int32 type, void* data) { return A()->Message(this, type, data); }
Int32 GeListNode::GetDirty(Int32 flags) const { return A()->GetDirty(this, flags); }
void GeListNode::SetDirty(Int32 flags) { A()->SetDirty(this, flags); }
Int32 GeListNode::GetType() const { return A()->GetType(this); }

bool VTNAtom::SetParameter(const DescID& id, const GeData& v, Int32 flags)
{
	return A()->SetParameter(this, id.Raw(), v.Handle(), flags);
}

BaseContainer* BaseList2D::GetDataInstance() { return BaseContainer::FromBox(A()->GetDataInstance(this)); }

BaseContainer BaseList2D::GetData() { return *GetDataInstance(); }

String BaseList2D::GetName() const
{
	return String::Adopt(A()->GetName(this));
}

void BaseList2D::SetName(const String& name) { A()->SetName(this, name.Handle()); }

void BaseObject::SetDeformMode(bool mode) { t_VTNOS->object->SetDeformMode(this, mode); }
