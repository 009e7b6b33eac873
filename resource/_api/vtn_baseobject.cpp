#include "vtn_baseobject.h"

#include "vtn_pmain.h"

namespace {
VTN_Atom* A() { return t_VTNOS->atom; }
}  // namespace

GeListNode* GeListNode::GetNext() { return t_VTNOS->list->GetNext(this); }
GeListNode* GeListNode::GetPred() { return t_VTNOS->list->GetPred(this); }
GeListNode* GeListNode::GetUp() { return t_VTNOS->list->GetUp(this); }
GeListNode* GeListNode::GetDown() { return t_VTNOS->list->GetDown(this); }
NodeData* GeListNode::GetNodeData() { return A()->GetNodeData(this); }
BaseDocument* GeListNode::GetDocument() { return A()->GetDocument(this); }
bool GeListNode::Message(Int32 type, void* data) { return A()->Message(this, type, data); }
Int32 GeListNode::GetDirty(Int32 flags) const { return A()->GetDirty(this, flags); }
void GeListNode::SetDirty(Int32 flags) { A()->SetDirty(this, flags); }
Int32 GeListNode::GetType() const { return A()->GetType(this); }
bool GeListNode::IsInstanceOf(Int32 type) const { return A()->IsInstanceOf(this, type); }

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

namespace {
VTN_Object* Ob() { return t_VTNOS->object; }
}  // namespace

LMatrix BaseObject::GetMg() const
{
	LMatrix m;
	Ob()->GetMg(this, &m);
	return m;
}
void BaseObject::SetMg(const LMatrix& m) { Ob()->SetMg(this, &m); }
LVector BaseObject::GetRad() const
{
	LVector r;
	Ob()->GetRad(this, &r);
	return r;
}
BaseObject* BaseObject::GetDeformCache() { return Ob()->GetDeformCache(this); }
BaseObject* BaseObject::GetCacheParent() { return Ob()->GetCacheParent(this); }
BaseObject* BaseObject::GetClone(Int32 flags, AliasTrans* trans)
{
	return Ob()->Clone(this, flags, reinterpret_cast<VtnAliasTrans*>(trans));
}
BaseTag* BaseObject::GetFirstTag() { return Ob()->GetFirstTag(this); }
BaseTag* BaseObject::GetTag(Int32 type, Int32 nr) { return Ob()->GetTag(this, type, nr); }
void BaseObject::InsertTag(BaseTag* tag, BaseTag* pred) { Ob()->InsertTag(this, tag, pred); }
void BaseObject::SetDeformMode(bool mode) { Ob()->SetDeformMode(this, mode); }
bool BaseObject::GetDeformMode() const { return Ob()->GetDeformMode(this); }
void BaseObject::SetEditorMode(Int32 mode) { Ob()->SetEditorMode(this, mode); }
void BaseObject::SetRenderMode(Int32 mode) { Ob()->SetRenderMode(this, mode); }
void BaseObject::GetColorProperties(ObjectColorProperties* co) const { Ob()->GetColorProperties(this, co); }
void BaseObject::SetColorProperties(const ObjectColorProperties* co) { Ob()->SetColorProperties(this, co); }

Int32 PointObject::GetPointCount() const { return Ob()->GetPointCount(this); }
const LVector* PointObject::GetPointR() const { return Ob()->GetPointR(this); }
LVector* PointObject::GetPointW() { return Ob()->GetPointW(this); }
float* PointObject::CalcVertexMap(BaseObject* modifier) { return Ob()->CalcVertexMap(this, modifier); }

Int32 PolygonObject::GetPolygonCount() const { return Ob()->GetPolygonCount(this); }
const CPolygon* PolygonObject::GetPolygonR() const { return Ob()->GetPolygonR(this); }
CPolygon* PolygonObject::GetPolygonW() { return Ob()->GetPolygonW(this); }
void PolygonObject::Free(PolygonObject*& op)
{
	Ob()->Free(op);
	op = nullptr;
}

bool BaseDocument::AddUndo(Int32 type, void* data) { return t_VTNOS->document->AddUndo(this, type, data); }
void BaseDocument::InsertObject(BaseObject* op, BaseObject* parent, BaseObject* pred)
{
	t_VTNOS->document->InsertObject(this, op, parent, pred);
}
