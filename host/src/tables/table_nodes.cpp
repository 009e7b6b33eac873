// Node sub-tables: parameters and identity (atom), the node tree (list),
// objects, tags, documents, selections and links.
#include <algorithm>

#include "tables/tables.h"
#include "vtnhost/host.h"
#include "vtnhost/hyperfile.h"
#include "vtnhost/matrix.h"

namespace vtnhost {
namespace {

Host& H() { return Host::current(); }
Node* N(const void* p) { return Node::from(p); }
// Operations of one kind of node answer neutrally when handed another kind.
Object* O(const void* p) { return p ? dynamic_cast<Object*>(N(p)) : nullptr; }
Tag* T(const void* p) { return p ? dynamic_cast<Tag*>(N(p)) : nullptr; }
Document* D(const void* p) { return Document::from(p); }
VtnSelect* S(const void* p) { return static_cast<VtnSelect*>(const_cast<void*>(p)); }
BaseObject* asBase(Object* o) { return o ? o->asObject() : nullptr; }

// ---- atom ----

NodeData* AtGetNodeData(GeListNode* node) { return N(node)->nodeData(); }
VtnContainer* const* AtGetDataInstance(BaseList2D* node) { return N(node)->containerBox(); }
BaseDocument* AtGetDocument(GeListNode* node)
{
	Document* doc = N(node)->document();
	return doc ? doc->asDocument() : nullptr;
}
Int32 AtGetType(const GeListNode* node) { return N(node)->type(); }
bool AtIsInstanceOf(const GeListNode* node, Int32 type) { return N(node)->type() == type; }
bool AtSetParameter(GeListNode* node, const VtnDescID* id, const VtnData* v, Int32)
{
	if (!id || id->depth < 1 || !v)
		return false;
	N(node)->container().entries[id->level[0].id] = v->v;
	return true;
}
bool AtGetParameter(GeListNode* node, const VtnDescID* id, VtnData* v, Int32)
{
	if (!id || id->depth < 1 || !v)
		return false;
	const Value* x = N(node)->container().find(id->level[0].id);
	if (!x)
		return false;
	v->v = *x;
	return true;
}
bool AtMessage(GeListNode* node, Int32 type, void* data) { return N(node)->callMessage(type, data); }
Int32 AtGetDirty(const GeListNode* node, Int32 flags) { return N(node)->dirty(flags); }
void AtSetDirty(GeListNode* node, Int32 flags) { N(node)->setDirty(flags); }
VtnString* AtGetName(const BaseList2D* node) { return new VtnString{N(node)->name}; }
void AtSetName(BaseList2D* node, const VtnString* name) { N(node)->name = name ? name->text : std::string(); }

VTN_Atom atom_table = [] {
	VTN_Atom t{};
	t.GetNodeData = AtGetNodeData;
	t.GetDataInstance = AtGetDataInstance;
	t.GetDocument = AtGetDocument;
	t.GetType = AtGetType;
	t.IsInstanceOf = AtIsInstanceOf;
	t.SetParameter = AtSetParameter;
	t.GetParameter = AtGetParameter;
	t.Message = AtMessage;
	t.GetDirty = AtGetDirty;
	t.SetDirty = AtSetDirty;
	t.GetName = AtGetName;
	t.SetName = AtSetName;
	return t;
}();

// ---- list: the object tree ----

GeListNode* listNode(Object* o) { return o ? o->asListNode() : nullptr; }
GeListNode* LsGetNext(GeListNode* node)
{
	Object* o = O(node);
	return o && o->document() ? listNode(o->document()->successor(o)) : nullptr;
}
GeListNode* LsGetPred(GeListNode* node)
{
	Object* o = O(node);
	return o && o->document() ? listNode(o->document()->predecessor(o)) : nullptr;
}
GeListNode* LsGetUp(GeListNode* node)
{
	Object* o = O(node);
	return o ? listNode(o->parent()) : nullptr;
}
GeListNode* LsGetDown(GeListNode* node)
{
	Object* o = O(node);
	return o && !o->children().empty() ? listNode(o->children().front().get()) : nullptr;
}
// Out of its document the object belongs to the caller, who must free it.
void LsRemove(GeListNode* node)
{
	Object* o = O(node);
	if (o && o->document())
		o->document()->remove(o).release();
}
// Null when the type is unknown or its plug-in cannot make an instance.
GeListNode* LsAllocNode(Int32 type)
{
	Node* node = H().newNode(type).release();
	return node ? node->asListNode() : nullptr;
}
void LsFreeNode(GeListNode* node) { delete N(node); }

VTN_List list_table = [] {
	VTN_List t{};
	t.GetNext = LsGetNext;
	t.GetPred = LsGetPred;
	t.GetUp = LsGetUp;
	t.GetDown = LsGetDown;
	t.Remove = LsRemove;
	t.AllocNode = LsAllocNode;
	t.FreeNode = LsFreeNode;
	return t;
}();

// ---- objects ----

Int32 ObPointCount(const BaseObject* op)
{
	const Object* o = O(op);
	return o ? static_cast<Int32>(o->pointsSeen().size()) : 0;
}
const LVector* ObPointR(const BaseObject* op)
{
	const Object* o = O(op);
	return o && !o->pointsSeen().empty() ? o->pointsSeen().data() : nullptr;
}
LVector* ObPointW(BaseObject* op)
{
	Object* o = O(op);
	return o && !o->pointsSeen().empty() ? o->pointsSeen().data() : nullptr;
}
Int32 ObPolygonCount(const BaseObject* op)
{
	const Object* o = O(op);
	return o ? static_cast<Int32>(o->polygons.size()) : 0;
}
const CPolygon* ObPolygonR(const BaseObject* op)
{
	const Object* o = O(op);
	return o && !o->polygons.empty() ? o->polygons.data() : nullptr;
}
CPolygon* ObPolygonW(BaseObject* op)
{
	Object* o = O(op);
	return o && !o->polygons.empty() ? o->polygons.data() : nullptr;
}
void ObGetMg(const BaseObject* op, LMatrix* out)
{
	const Object* o = O(op);
	*out = o ? o->globalMatrix() : identityMatrix();
}
void ObSetMg(BaseObject* op, const LMatrix* m)
{
	if (Object* o = O(op))
		o->setGlobalMatrix(*m);
}
void ObGetRad(const BaseObject* op, LVector* out)
{
	const Object* o = O(op);
	*out = o ? o->boundingRadius() : LVector{0, 0, 0};
}
void ObGetMp(const BaseObject* op, LVector* out)
{
	const Object* o = O(op);
	*out = o ? o->boundingCentre() : LVector{0, 0, 0};
}
BaseObject* ObGetDeformCache(BaseObject* op)
{
	Object* o = O(op);
	return o ? asBase(o->deformCache.get()) : nullptr;
}
BaseObject* ObGetCacheParent(BaseObject* op)
{
	Object* o = O(op);
	return o ? asBase(o->cacheParent) : nullptr;
}
BaseObject* ObClone(BaseObject* op, Int32 flags, VtnAliasTrans*)
{
	Object* o = O(op);
	return o ? asBase(H().cloneObject(*o, flags).release()) : nullptr;
}
BaseTag* ObGetFirstTag(BaseObject* op)
{
	Object* o = O(op);
	return o && !o->tags.empty() ? o->tags.front()->asTag() : nullptr;
}
BaseTag* ObGetTag(BaseObject* op, Int32 type, Int32 nr)
{
	Object* o = O(op);
	Tag* t = o ? o->firstTag(type, nr) : nullptr;
	return t ? t->asTag() : nullptr;
}
void ObInsertTag(BaseObject* op, BaseTag* tag, BaseTag* pred)
{
	Object* o = O(op);
	Tag* t = T(tag);
	if (!o || !t || t->owner)
		return;
	o->insertTag(std::unique_ptr<Tag>(t), T(pred));
}
void ObSetDeformMode(BaseObject* op, bool mode)
{
	if (Object* o = O(op))
		o->deformMode = mode;
}
bool ObGetDeformMode(const BaseObject* op)
{
	const Object* o = O(op);
	return o && o->deformMode;
}
void ObSetEditorMode(BaseObject* op, Int32 mode)
{
	if (Object* o = O(op))
		o->editorMode = mode;
}
void ObSetRenderMode(BaseObject* op, Int32 mode)
{
	if (Object* o = O(op))
		o->renderMode = mode;
}
void ObGetColorProperties(const BaseObject* op, ObjectColorProperties* out)
{
	const Object* o = O(op);
	const ColorProperties c = o ? o->colors : ColorProperties{};
	*out = {c.color, c.useColor ? 1 : 0, c.xray ? 1 : 0};
}
void ObSetColorProperties(BaseObject* op, const ObjectColorProperties* in)
{
	if (Object* o = O(op))
		o->colors = {in->color, in->usecolor != 0, in->xray != 0};
}
// The deformer's weights for this object, in a block the plug-in releases.
float* ObCalcVertexMap(BaseObject* op, BaseObject* modifier)
{
	const Object* o = O(op);
	const Object* mod = O(modifier);
	if (!o || !mod)
		return nullptr;
	auto it = mod->restrictions.find(o->id());
	if (it == mod->restrictions.end() || it->second.size() != o->pointsSeen().size() || it->second.empty())
		return nullptr;
	auto* block = static_cast<float*>(H().memory().alloc(it->second.size() * sizeof(float), __LINE__, "vertex map"));
	if (block)
		std::copy(it->second.begin(), it->second.end(), block);
	return block;
}
BaseObject* ObAllocPolygonObject(Int32 pcnt, Int32 vcnt)
{
	if (pcnt < 0 || vcnt < 0)
		return nullptr;
	std::unique_ptr<Object> o = H().newObject(Opolygon);
	o->points.assign(static_cast<size_t>(pcnt), LVector{0, 0, 0});
	o->polygons.assign(static_cast<size_t>(vcnt), CPolygon{0, 0, 0, 0});
	return asBase(o.release());
}
void ObFree(BaseObject* op)
{
	Object* o = O(op);
	if (o && !o->document() && !o->parent())
		delete o;
}
bool ObResizeObject(BaseObject* op, Int32 pcnt, Int32 vcnt)
{
	Object* o = O(op);
	if (!o || pcnt < 0 || vcnt < 0)
		return false;
	o->points.resize(static_cast<size_t>(pcnt), LVector{0, 0, 0});
	o->polygons.resize(static_cast<size_t>(vcnt), CPolygon{0, 0, 0, 0});
	o->ngons.clear();
	return true;
}

VTN_Object object_table = [] {
	VTN_Object t{};
	t.GetPointCount = ObPointCount;
	t.GetPointR = ObPointR;
	t.GetPointW = ObPointW;
	t.GetPolygonCount = ObPolygonCount;
	t.GetPolygonR = ObPolygonR;
	t.GetPolygonW = ObPolygonW;
	t.GetMg = ObGetMg;
	t.SetMg = ObSetMg;
	t.GetRad = ObGetRad;
	t.GetMp = ObGetMp;
	t.GetDeformCache = ObGetDeformCache;
	t.GetCacheParent = ObGetCacheParent;
	t.Clone = ObClone;
	t.GetFirstTag = ObGetFirstTag;
	t.GetTag = ObGetTag;
	t.InsertTag = ObInsertTag;
	t.SetDeformMode = ObSetDeformMode;
	t.GetDeformMode = ObGetDeformMode;
	t.SetEditorMode = ObSetEditorMode;
	t.SetRenderMode = ObSetRenderMode;
	t.GetColorProperties = ObGetColorProperties;
	t.SetColorProperties = ObSetColorProperties;
	t.CalcVertexMap = ObCalcVertexMap;
	t.AllocPolygonObject = ObAllocPolygonObject;
	t.Free = ObFree;
	t.ResizeObject = ObResizeObject;
	return t;
}();

// ---- tags ----

BaseTag* TgAlloc(Int32 type)
{
	std::unique_ptr<Node> n = H().newNode(type);
	Tag* t = dynamic_cast<Tag*>(n.get());
	if (!t)
		return nullptr;
	n.release();
	return t->asTag();
}
// A tag on an object belongs to it; only an unattached tag is freed here.
void TgFree(BaseTag* tag)
{
	Tag* t = T(tag);
	if (t && !t->owner)
		delete t;
}
BaseSelect* TgGetBaseSelect(BaseTag* tag)
{
	Tag* t = T(tag);
	return t && t->type() == Tpointselection ? reinterpret_cast<BaseSelect*>(&t->select) : nullptr;
}
BaseObject* TgGetObject(BaseTag* tag)
{
	Tag* t = T(tag);
	return t ? asBase(t->owner) : nullptr;
}

VTN_Tag tag_table = [] {
	VTN_Tag t{};
	t.Alloc = TgAlloc;
	t.Free = TgFree;
	t.GetBaseSelect = TgGetBaseSelect;
	t.GetObject = TgGetObject;
	return t;
}();

// ---- documents ----

bool DcAddUndo(BaseDocument* doc, Int32 type, void* data)
{
	if (!doc || !data)
		return false;
	D(doc)->undo.push_back({type, N(data)->id()});
	return true;
}
bool DcStartUndo(BaseDocument* doc) { return doc != nullptr; }
bool DcEndUndo(BaseDocument* doc) { return doc != nullptr; }
void DcInsertObject(BaseDocument* doc, BaseObject* op, BaseObject* parent, BaseObject* pred)
{
	Object* o = O(op);
	if (!doc || !o || o->document() || o->parent())
		return;
	D(doc)->insert(std::unique_ptr<Object>(o), O(parent), O(pred));
}
BaseObject* DcGetFirstObject(BaseDocument* doc)
{
	Document* d = D(doc);
	return d && !d->roots().empty() ? asBase(d->roots().front().get()) : nullptr;
}
Int32 DcGetTime(BaseDocument*) { return 0; }

VTN_Document document_table = [] {
	VTN_Document t{};
	t.AddUndo = DcAddUndo;
	t.StartUndo = DcStartUndo;
	t.EndUndo = DcEndUndo;
	t.InsertObject = DcInsertObject;
	t.GetFirstObject = DcGetFirstObject;
	t.GetTime = DcGetTime;
	return t;
}();

// ---- selections ----

BaseSelect* SlAlloc() { return reinterpret_cast<BaseSelect*>(new VtnSelect()); }
void SlFree(BaseSelect* bs) { delete S(bs); }
Int32 SlGetCount(const BaseSelect* bs) { return bs ? static_cast<Int32>(S(bs)->indices.size()) : 0; }
bool SlSelect(BaseSelect* bs, Int32 i)
{
	if (!bs || i < 0)
		return false;
	S(bs)->indices.insert(i);
	return true;
}
bool SlDeselect(BaseSelect* bs, Int32 i) { return bs && S(bs)->indices.erase(i) != 0; }
bool SlIsSelected(const BaseSelect* bs, Int32 i) { return bs && S(bs)->indices.count(i) != 0; }
bool SlDeselectAll(BaseSelect* bs)
{
	if (!bs)
		return false;
	S(bs)->indices.clear();
	return true;
}
BaseSelect* SlGetClone(const BaseSelect* bs) { return bs ? reinterpret_cast<BaseSelect*>(new VtnSelect(*S(bs))) : nullptr; }
Int32 SlGetSelected(const BaseSelect* bs, Int32 n)
{
	if (!bs || n < 0 || static_cast<size_t>(n) >= S(bs)->indices.size())
		return -1;
	auto it = S(bs)->indices.begin();
	std::advance(it, n);
	return *it;
}

bool SlWrite(const BaseSelect* bs, HyperFile* hf)
{
	HyperStream* s = HyperStream::from(hf);
	s->writeLong(static_cast<Int32>(S(bs)->indices.size()));
	for (Int32 i : S(bs)->indices)
		s->writeLong(i);
	return true;
}
// Reads as many indices as the stream holds, one value at a time, so a damaged
// count can never make the host allocate for it.
bool SlRead(BaseSelect* bs, HyperFile* hf)
{
	HyperStream* s = HyperStream::from(hf);
	Int32 count = 0;
	if (!s->readLong(&count) || count < 0)
		return false;
	S(bs)->indices.clear();
	for (Int32 k = 0; k < count; ++k)
	{
		Int32 i = 0;
		if (!s->readLong(&i) || i < 0)
			return false;
		S(bs)->indices.insert(i);
	}
	return true;
}

VTN_Select select_table = [] {
	VTN_Select t{};
	t.Alloc = SlAlloc;
	t.Free = SlFree;
	t.GetCount = SlGetCount;
	t.Select = SlSelect;
	t.Deselect = SlDeselect;
	t.IsSelected = SlIsSelected;
	t.DeselectAll = SlDeselectAll;
	t.GetClone = SlGetClone;
	t.Write = SlWrite;
	t.Read = SlRead;
	t.GetSelected = SlGetSelected;
	return t;
}();

// ---- links ----

VtnLink* L(const void* p) { return static_cast<VtnLink*>(const_cast<void*>(p)); }

BaseLink* LkAlloc() { return reinterpret_cast<BaseLink*>(new VtnLink()); }
void LkFree(BaseLink* link) { delete L(link); }
void LkSetLink(BaseLink* link, BaseList2D* target) { L(link)->target = target ? N(target)->id() : 0; }
BaseList2D* LkGetLink(const BaseLink* link, const BaseDocument* doc)
{
	Node* n = link ? H().findNode(L(link)->target) : nullptr;
	if (!n || (doc && n->document() != D(doc)))
		return nullptr;
	return reinterpret_cast<BaseList2D*>(n);
}
bool LkCopyTo(const BaseLink* src, BaseLink* dst, Int32, VtnAliasTrans* trans)
{
	if (!src || !dst)
		return false;
	*L(dst) = *L(src);
	if (trans)
		trans->pending.emplace_back(L(dst), L(src)->target);
	return true;
}
// In a file a link names its target by its place in the saved document.
bool LkWrite(const BaseLink* link, HyperFile* hf)
{
	HyperStream* s = HyperStream::from(hf);
	auto it = s->links.find(link ? L(link)->target : 0);
	s->writeLink(it == s->links.end() ? 0 : it->second);
	return true;
}
bool LkRead(BaseLink* link, HyperFile* hf)
{
	HyperStream* s = HyperStream::from(hf);
	uint64_t index = 0;
	if (!link || !s->readLink(&index))
		return false;
	auto it = s->links.find(index);
	L(link)->target = it == s->links.end() ? 0 : it->second;
	return true;
}

VTN_Link link_table = [] {
	VTN_Link t{};
	t.Alloc = LkAlloc;
	t.Free = LkFree;
	t.SetLink = LkSetLink;
	t.GetLink = LkGetLink;
	t.Write = LkWrite;
	t.Read = LkRead;
	t.CopyTo = LkCopyTo;
	return t;
}();

// ---- threads ----

bool ThTestBreak(BaseThread* bt) { return bt && reinterpret_cast<Thread*>(bt)->testBreak(); }
BaseThread* ThGetCurrent() { return nullptr; }

VTN_Thread thread_table = [] {
	VTN_Thread t{};
	t.TestBreak = ThTestBreak;
	t.GetCurrent = ThGetCurrent;
	installWorkerSlots(&t);
	return t;
}();

}  // namespace

void installNodeTables(VTNOS* os)
{
	os->atom = &atom_table;
	os->list = &list_table;
	os->object = &object_table;
	os->tag = &tag_table;
	os->document = &document_table;
	os->select = &select_table;
	os->link = &link_table;
	os->thread = &thread_table;
}

}  // namespace vtnhost
