// Node sub-tables: parameters and identity (atom), node allocation (list),
// and the object operations in use so far.
#include "tables.h"
#include "vtnhost/host.h"

namespace vtnhost {
namespace {

Host& H() { return Host::current(); }
Node* N(const void* p) { return Node::from(p); }

// ---- atom ----

NodeData* AtGetNodeData(GeListNode* node) { return N(node)->nodeData(); }
VtnContainer* const* AtGetDataInstance(BaseList2D* node) { return N(node)->containerBox(); }
BaseDocument* AtGetDocument(GeListNode* node) { return reinterpret_cast<BaseDocument*>(N(node)->document()); }
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

VTN_Atom atom_table = {AtGetNodeData, AtGetDataInstance, AtGetDocument, AtGetType, AtIsInstanceOf, AtSetParameter,
                       AtGetParameter, AtMessage, AtGetDirty, AtSetDirty, AtGetName, AtSetName};

// ---- list ----

GeListNode* LsAllocNode(Int32 type)
{
	Node* n = H().createNode(type);
	return n ? n->asListNode() : nullptr;
}
void LsFreeNode(GeListNode* node)
{
	if (node)
		H().destroyNode(N(node));
}

VTN_List list_table = {
	nullptr, nullptr, nullptr, nullptr, nullptr,  // tree navigation: nodes are not yet kept in trees
	LsAllocNode, LsFreeNode,
};

// ---- object ----

void ObGetMg(const BaseObject* op, LMatrix* out) { *out = N(op)->globalMatrix(); }
void ObSetDeformMode(BaseObject* op, bool mode) { N(op)->deformMode = mode; }
bool ObGetDeformMode(const BaseObject* op) { return N(op)->deformMode; }

VTN_Object object_table = [] {
	VTN_Object t{};
	t.GetMg = ObGetMg;
	t.SetDeformMode = ObSetDeformMode;
	t.GetDeformMode = ObGetDeformMode;
	return t;
}();

}  // namespace

void installNodeTables(VTNOS* os)
{
	os->atom = &atom_table;
	os->list = &list_table;
	os->object = &object_table;
}

}  // namespace vtnhost
