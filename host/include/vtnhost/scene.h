// The scene of the stand-in host: nodes (objects and tags) with containers and
// names, polygon geometry, a parent hierarchy, documents with undo records.
// A node of a plug-in type carries the instance that the plug-in's allocator
// returned, and every callback of the plug-in is invoked through the
// member-function references of its registration record (the call* members,
// all in src/plugin_calls.cpp; the tree itself is in src/scene.cpp).
#ifndef VTNHOST_SCENE_H
#define VTNHOST_SCENE_H

#include <cstdint>
#include <atomic>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "abi/vtn_ids.h"
#include "abi/vtn_plugin.h"
#include "vtnhost/values.h"

// A link to a node, by node id; 0 links nothing.
struct VtnLink
{
	uint64_t target = 0;
};

// The originals and their copies of one copy operation: links copied during it
// are pointed at the copies once the whole operation is done.
// The host's side of the boundary's AliasTrans.
struct VtnAliasTrans
{
	std::map<uint64_t, uint64_t> copies;
	std::vector<std::pair<VtnLink*, uint64_t>> pending;
	void translate()
	{
		for (auto& [link, original] : pending)
		{
			auto it = copies.find(original);
			if (it != copies.end())
				link->target = it->second;
		}
		pending.clear();
	}
};

namespace vtnhost {

struct PluginRegistration;
class Document;
class Object;
class Tag;

class Node
{
public:
	Node(uint64_t id, Int32 type, const PluginRegistration* plugin);
	virtual ~Node();
	Node(const Node&) = delete;
	Node& operator=(const Node&) = delete;

	uint64_t id() const { return id_; }
	Int32 type() const { return type_; }
	const PluginRegistration* plugin() const { return plugin_; }
	NodeData* nodeData() const { return data_; }
	void setNodeData(NodeData* d) { data_ = d; }

	VtnContainer& container() { return container_; }
	const VtnContainer& container() const { return container_; }
	// The box the plug-in reads as its BaseContainer.
	VtnContainer* const* containerBox() const { return &containerBox_; }

	std::string name;

	virtual Document* document() const { return nullptr; }

	// The node as the plug-in sees it.
	GeListNode* asListNode() { return reinterpret_cast<GeListNode*>(this); }
	BaseObject* asObject() { return reinterpret_cast<BaseObject*>(this); }
	static Node* from(const void* p) { return const_cast<Node*>(static_cast<const Node*>(p)); }

	// Callbacks of the plug-in, through the record; a type without a plug-in
	// (or a null reference) answers with the host's neutral result.
	bool callInit();
	void callFree();
	bool callMessage(Int32 type, void* data);
	bool callCopyTo(Node* dest, Int32 flags, VtnAliasTrans* trans);
	bool callRead(HyperFile* hf, Int32 level);
	bool callWrite(HyperFile* hf);
	bool callModifyObject(Document* doc, Object* op, BaseThread* thread);
	bool isDeformer() const;
	Int32 callDraw(DRAWPASS pass, BaseDraw* bd, BaseDrawHelp* bh);
	Int32 callDetectHandle(BaseDraw* bd, Int32 x, Int32 y, QUALIFIER qualifier);
	void callCheckDirty(Document* doc);

	// Sum of the counts of the given kinds; each change of a kind adds one.
	Int32 dirty(Int32 flags) const;
	void setDirty(Int32 flags);

protected:
	const OBJECTPLUGIN* objectRecord() const;
	// Frees and destroys the plug-in instance; the most derived destructor calls it
	// while the node is still whole.
	void releasePlugin();

private:
	uint64_t id_;
	Int32 type_;
	const PluginRegistration* plugin_;
	NodeData* data_ = nullptr;
	VtnContainer container_;
	VtnContainer* containerBox_;
	Int32 dirtyCounts_[5] = {};
};

// A set of element indices (points of a selection tag, bound points of a binding).
struct VtnSelect
{
	std::set<Int32> indices;
};

class Tag : public Node
{
public:
	using Node::Node;
	~Tag() override;
	Object* owner = nullptr;  // null while the tag is unattached (then its creator owns it)
	VtnSelect select;         // the selection of a point selection tag
	Document* document() const override;
	BaseTag* asTag() { return reinterpret_cast<BaseTag*>(this); }
};

// Display properties of an object.
struct ColorProperties
{
	LVector color{1, 1, 1};
	bool useColor = false;
	bool xray = false;
};

class Object : public Node
{
public:
	using Node::Node;
	~Object() override;

	// Geometry of a point or polygon object (empty for other objects).
	std::vector<LVector> points;
	std::vector<CPolygon> polygons;

	// While deformers run on the object, its points as the plug-in reads and
	// writes them: the evaluation buffer.
	std::vector<LVector>& pointsSeen() { return evaluation_ ? *evaluation_ : points; }
	const std::vector<LVector>& pointsSeen() const { return evaluation_ ? *evaluation_ : points; }
	void setEvaluationBuffer(std::vector<LVector>* buffer) { evaluation_ = buffer; }

	// The object as the deformers left it at the last evaluation, or null; and,
	// for a cache, the object it stands for.
	std::unique_ptr<Object> deformCache;
	Object* cacheParent = nullptr;
	// The point storage of the cache before last, refilled by the next
	// evaluation rather than a fresh block whose pages are touched anew.
	std::vector<LVector> spareCachePoints;
	// A generator's cache: the polygon object it builds (a child-less stand-in).
	std::unique_ptr<Object> generatorCache;

	// Restriction weights of a deformer, per object it acts on (by node id).
	std::map<uint64_t, std::vector<float>> restrictions;

	// A face of more than four corners: its outline, and the polygons (indices into
	// polygons, triangles and quads) that stand for it until it is triangulated.
	struct Ngon
	{
		std::vector<Int32> outline;
		std::vector<Int32> parts;
	};
	std::vector<Ngon> ngons;
	// Adds a planar face of any number of corners (3 or 4 become a plain polygon);
	// false when the outline has an index out of range or no area.
	bool addFace(const std::vector<Int32>& outline);
	// Replaces every quad and n-gon by triangles, keeping every point index.
	void triangulate();

	LMatrix matrix{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};  // relative to the parent
	LMatrix globalMatrix() const;
	void setGlobalMatrix(const LMatrix& mg);

	Int32 editorMode = MODE_UNDEF;
	Int32 renderMode = MODE_UNDEF;
	bool deformMode = true;
	ColorProperties colors;

	// Tags in order; the object owns them.
	std::vector<std::unique_ptr<Tag>> tags;
	Tag* firstTag(Int32 type, int nr = 0) const;
	// Takes the tag over; pred null makes it the first tag.
	void insertTag(std::unique_ptr<Tag> tag, const Tag* pred);
	std::unique_ptr<Tag> removeTag(Tag* tag);

	// Hierarchy: parent and children in order; the parent (or the document) owns its children.
	Object* parent() const { return parent_; }
	// Takes a child over, as the last one; it joins this object's document.
	void adopt(std::unique_ptr<Object> child);
	const std::vector<std::unique_ptr<Object>>& children() const { return children_; }
	// A cache belongs to the document of the object it stands for.
	Document* document() const override { return doc_ ? doc_ : (cacheParent ? cacheParent->document() : nullptr); }

	// Half extent and centre of the points' bounding box, in the object's own coordinates.
	LVector boundingRadius() const;
	LVector boundingCentre() const;

	bool isPolygonObject() const { return type() == Opolygon; }

private:
	friend class Document;
	Object* parent_ = nullptr;
	Document* doc_ = nullptr;
	std::vector<LVector>* evaluation_ = nullptr;
	std::vector<std::unique_ptr<Object>> children_;
};

// The thread an evaluation runs on, as the plug-in sees it: it can be asked to break.
class Thread
{
public:
	// True once a break was requested, or from the n-th test on when breakAfterTests(n) was set.
	bool testBreak();
	void requestBreak() { break_ = true; }
	void breakAfterTests(long n) { breakAfter_ = n; }
	long tests() const { return tests_; }
	BaseThread* asThread() { return reinterpret_cast<BaseThread*>(this); }

private:
	std::atomic<bool> break_{false};
	std::atomic<long> tests_{0};
	long breakAfter_ = -1;
};

struct UndoRecord
{
	Int32 type;
	uint64_t node;
};

// A scene: a tree of objects and the undo records added to it.
class Document
{
public:
	~Document();
	// Takes the object over, under parent (top level when null), behind pred (first when null).
	void insert(std::unique_ptr<Object> op, Object* parent, const Object* pred);
	// Takes the object over directly before next, under next's parent.
	void insertBefore(std::unique_ptr<Object> op, Object* next);
	// Hands the object (and its children) back to the caller.
	std::unique_ptr<Object> remove(Object* op);

	const std::vector<std::unique_ptr<Object>>& roots() const { return roots_; }
	// All objects, depth first in tree order.
	std::vector<Object*> objects() const;
	Object* findByName(const std::string& name) const;
	Object* predecessor(const Object* op) const;
	Object* successor(const Object* op) const;

	std::vector<UndoRecord> undo;
	// Loaded without the plug-ins' packed values (a look at the scene): saving
	// it would lose them, so the host refuses to.
	bool packedSkipped = false;
	BaseDocument* asDocument() { return reinterpret_cast<BaseDocument*>(this); }
	static Document* from(const void* p) { return const_cast<Document*>(static_cast<const Document*>(p)); }

private:
	std::vector<std::unique_ptr<Object>>& siblingsOf(const Object* op);
	// Gives an object and everything below it to doc (or to none).
	static void setDocument(Object* root, Document* doc);
	std::vector<std::unique_ptr<Object>> roots_;
};

}  // namespace vtnhost

#endif
