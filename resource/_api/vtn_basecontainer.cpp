#include "vtn_basecontainer.h"

#include "vtn_pmain.h"

namespace {
VTN_Container* C() { return t_VTNOS->container; }
VTN_Value* V() { return t_VTNOS->value; }
}  // namespace

GeData::GeData() : h_(V()->Create()) {}
GeData::GeData(Int32 v) : GeData() { SetLong(v); }
GeData::GeData(double v) : GeData() { SetReal(v); }
GeData::~GeData() { V()->Destroy(h_); }
void GeData::SetLong(Int32 v) { V()->SetLong(h_, v); }
void GeData::SetReal(double v) { V()->SetReal(h_, v); }
void GeData::SetBool(bool v) { V()->SetBool(h_, v); }
Int32 GeData::GetType() const { return V()->GetType(h_); }
Int32 GeData::GetLong() const { return V()->GetLong(h_); }
double GeData::GetReal() const { return V()->GetReal(h_); }

BaseContainer::BaseContainer() : h_(C()->Create()) {}
BaseContainer::BaseContainer(const BaseContainer& other) : h_(C()->Clone(other.h_)) {}
BaseContainer::~BaseContainer() { C()->Destroy(h_); }

BaseContainer& BaseContainer::operator=(const BaseContainer& other)
{
	if (this != &other)
		C()->CopyFrom(h_, other.h_);
	return *this;
}

Int32 BaseContainer::GetType(Int32 id) const { return C()->GetType(h_, id); }
void BaseContainer::SetLong(Int32 id, Int32 v) { C()->SetLong(h_, id, v); }
void BaseContainer::SetReal(Int32 id, double v) { C()->SetReal(h_, id, v); }
void BaseContainer::SetBool(Int32 id, bool v) { C()->SetBool(h_, id, v); }
void BaseContainer::SetString(Int32 id, const String& v) { C()->SetString(h_, id, v.Handle()); }
Int32 BaseContainer::GetLong(Int32 id, Int32 preset) const { return C()->GetLong(h_, id, preset); }
double BaseContainer::GetReal(Int32 id, double preset) const { return C()->GetReal(h_, id, preset); }
bool BaseContainer::GetBool(Int32 id, bool preset) const { return C()->GetBool(h_, id, preset); }

String BaseContainer::GetString(Int32 id) const
{
	return String::Adopt(C()->GetString(h_, id));
}

bool BaseContainer::SetParameter(const DescID& id, const GeData& v) { return C()->SetData(h_, id.Raw(), v.Handle()); }

BaseList2D* BaseContainer::GetObjectLink(Int32 id, const BaseDocument* doc) const
{
	return C()->GetObjectLink(h_, id, doc);
}
