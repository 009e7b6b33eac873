// Value sub-tables: strings, file names, containers and GeData values.
#include <algorithm>
#include <cstring>

#include "tables/tables.h"
#include "vtnhost/host.h"
#include "vtnhost/platform.h"

namespace vtnhost {

bool operator==(const Value& a, const Value& b)
{
	return a.type == b.type && a.l == b.l && a.r == b.r && a.s == b.s && a.link == b.link;
}

namespace {

Host& H() { return Host::current(); }

// ---- strings ----

VtnString* StrCreate(const char* utf8) { return new VtnString{utf8 ? utf8 : ""}; }
VtnString* StrClone(const VtnString* s) { return new VtnString{s ? s->text : std::string()}; }
void StrDestroy(VtnString* s) { delete s; }
void StrAssign(VtnString* dst, const VtnString* src) { dst->text = src ? src->text : std::string(); }
void StrAppend(VtnString* dst, const VtnString* src)
{
	if (src)
		dst->text += src->text;
}
Int64 StrLength(const VtnString* s) { return s ? static_cast<Int64>(s->text.size()) : 0; }
Int64 StrUtf8(const VtnString* s, char* out, Int64 cap)
{
	const std::string& t = s ? s->text : std::string();
	if (out && cap > 0)
	{
		const size_t n = std::min<size_t>(t.size(), static_cast<size_t>(cap - 1));
		std::memcpy(out, t.data(), n);
		out[n] = 0;
	}
	return static_cast<Int64>(t.size());
}
Int32 StrCompare(const VtnString* a, const VtnString* b)
{
	const int c = (a ? a->text : std::string()).compare(b ? b->text : std::string());
	return c < 0 ? -1 : (c > 0 ? 1 : 0);
}
const VtnString* const* StrEmptyBox()
{
	static const VtnString empty{};
	static const VtnString* const box = &empty;
	return &box;
}

VTN_String string_table = [] {
	VTN_String t{};
	t.Create = StrCreate;
	t.Clone = StrClone;
	t.Destroy = StrDestroy;
	t.Assign = StrAssign;
	t.Append = StrAppend;
	t.GetLength = StrLength;
	t.GetUtf8 = StrUtf8;
	t.Compare = StrCompare;
	t.GetEmptyBox = StrEmptyBox;
	return t;
}();

// ---- file names (the system's paths) ----

VtnFilename* FnCreate() { return new VtnFilename{}; }
VtnFilename* FnClone(const VtnFilename* f) { return new VtnFilename{f ? f->path : std::string()}; }
void FnDestroy(VtnFilename* f) { delete f; }
void FnAssign(VtnFilename* dst, const VtnFilename* src) { dst->path = src ? src->path : std::string(); }
void FnSetString(VtnFilename* f, const VtnString* s) { f->path = s ? s->text : std::string(); }
VtnString* FnGetString(const VtnFilename* f) { return new VtnString{f ? f->path : std::string()}; }
void FnJoin(VtnFilename* f, const VtnString* part)
{
	f->path = platform::joinPath(f->path, part ? part->text : std::string());
}
VtnFilename* FnGetDirectory(const VtnFilename* f) { return new VtnFilename{f ? platform::directoryOf(f->path) : std::string()}; }
bool FnIsEmpty(const VtnFilename* f) { return !f || f->path.empty(); }

VTN_Filename filename_table = [] {
	VTN_Filename t{};
	t.Create = FnCreate;
	t.Clone = FnClone;
	t.Destroy = FnDestroy;
	t.Assign = FnAssign;
	t.SetString = FnSetString;
	t.GetString = FnGetString;
	t.Join = FnJoin;
	t.GetDirectory = FnGetDirectory;
	t.IsEmpty = FnIsEmpty;
	return t;
}();

// ---- containers ----

VtnContainer* BcCreate() { return new VtnContainer{}; }
VtnContainer* BcClone(const VtnContainer* bc) { return new VtnContainer(bc ? *bc : VtnContainer{}); }
void BcDestroy(VtnContainer* bc) { delete bc; }
void BcCopyFrom(VtnContainer* dst, const VtnContainer* src) { dst->entries = src ? src->entries : decltype(dst->entries){}; }
Int32 BcGetType(const VtnContainer* bc, Int32 id) { return bc->typeOf(id); }
void BcSetLong(VtnContainer* bc, Int32 id, Int32 v) { bc->entries[id] = Value::Long(v); }
void BcSetReal(VtnContainer* bc, Int32 id, double v) { bc->entries[id] = Value::Real(v); }
void BcSetBool(VtnContainer* bc, Int32 id, bool v) { bc->entries[id] = Value::Bool(v); }
void BcSetString(VtnContainer* bc, Int32 id, const VtnString* v) { bc->entries[id] = Value::Text(v ? v->text : std::string()); }

// Numeric reads convert between the numeric kinds, as a container read does.
Int32 BcGetLong(const VtnContainer* bc, Int32 id, Int32 preset)
{
	const Value* v = bc->find(id);
	if (!v)
		return preset;
	if (v->type == VTN_DA_LONG || v->type == VTN_DA_BOOL)
		return v->l;
	if (v->type == VTN_DA_REAL)
		return static_cast<Int32>(v->r);
	return preset;
}
double BcGetReal(const VtnContainer* bc, Int32 id, double preset)
{
	const Value* v = bc->find(id);
	if (!v)
		return preset;
	if (v->type == VTN_DA_REAL)
		return v->r;
	if (v->type == VTN_DA_LONG || v->type == VTN_DA_BOOL)
		return v->l;
	return preset;
}
bool BcGetBool(const VtnContainer* bc, Int32 id, bool preset) { return BcGetLong(bc, id, preset ? 1 : 0) != 0; }
VtnString* BcGetString(const VtnContainer* bc, Int32 id)
{
	const Value* v = bc->find(id);
	return new VtnString{v && v->type == VTN_DA_STRING ? v->s : std::string()};
}
bool BcSetData(VtnContainer* bc, const VtnDescID* id, const VtnData* v)
{
	if (!id || id->depth < 1 || !v)
		return false;
	bc->entries[id->level[0].id] = v->v;
	return true;
}
BaseList2D* BcGetObjectLink(const VtnContainer* bc, Int32 id, const BaseDocument* doc)
{
	const Value* v = bc->find(id);
	if (!v || v->type != VTN_DA_LINK)
		return nullptr;
	Node* n = H().findNode(v->link);
	if (!n || (doc && n->document() != reinterpret_cast<const void*>(doc)))
		return nullptr;
	return reinterpret_cast<BaseList2D*>(n);
}
void BcSetLink(VtnContainer* bc, Int32 id, BaseList2D* target)
{
	bc->entries[id] = Value::Link(target ? Node::from(target)->id() : 0);
}
Int32 BcGetIndexId(const VtnContainer* bc, Int32 index)
{
	if (index < 0 || static_cast<size_t>(index) >= bc->entries.size())
		return -1;
	auto it = bc->entries.begin();
	std::advance(it, index);
	return it->first;
}

VTN_Container container_table = [] {
	VTN_Container t{};
	t.Create = BcCreate;
	t.Clone = BcClone;
	t.Destroy = BcDestroy;
	t.CopyFrom = BcCopyFrom;
	t.GetType = BcGetType;
	t.SetLong = BcSetLong;
	t.SetReal = BcSetReal;
	t.SetBool = BcSetBool;
	t.SetString = BcSetString;
	t.GetLong = BcGetLong;
	t.GetReal = BcGetReal;
	t.GetBool = BcGetBool;
	t.GetString = BcGetString;
	t.SetData = BcSetData;
	t.GetObjectLink = BcGetObjectLink;
	t.SetLink = BcSetLink;
	t.GetIndexId = BcGetIndexId;
	return t;
}();

// ---- GeData ----

VtnData* DCreate() { return new VtnData{}; }
void DDestroy(VtnData* d) { delete d; }
void DSetLong(VtnData* d, Int32 v) { d->v = Value::Long(v); }
void DSetReal(VtnData* d, double v) { d->v = Value::Real(v); }
void DSetBool(VtnData* d, bool v) { d->v = Value::Bool(v); }
void DSetString(VtnData* d, const VtnString* v) { d->v = Value::Text(v ? v->text : std::string()); }
Int32 DGetType(const VtnData* d) { return d->v.type; }
Int32 DGetLong(const VtnData* d) { return d->v.type == VTN_DA_REAL ? static_cast<Int32>(d->v.r) : d->v.l; }
double DGetReal(const VtnData* d) { return d->v.type == VTN_DA_REAL ? d->v.r : d->v.l; }

VTN_Value value_table = [] {
	VTN_Value t{};
	t.Create = DCreate;
	t.Destroy = DDestroy;
	t.SetLong = DSetLong;
	t.SetReal = DSetReal;
	t.SetBool = DSetBool;
	t.SetString = DSetString;
	t.GetType = DGetType;
	t.GetLong = DGetLong;
	t.GetReal = DGetReal;
	return t;
}();

}  // namespace

void installValueTables(VTNOS* os)
{
	os->string = &string_table;
	os->filename = &filename_table;
	os->container = &container_table;
	os->value = &value_table;
}

}  // namespace vtnhost
