#include "vtnhost/scene.h"

#include <algorithm>
#include <cmath>

#include "vtnhost/host.h"
#include "vtnhost/matrix.h"

namespace vtnhost {

// ---- nodes ----

Node::Node(uint64_t id, Int32 type, const PluginRegistration* plugin)
    : id_(id), type_(type), plugin_(plugin), containerBox_(&container_)
{
	Host::current().registerNode(this);
}

Node::~Node()
{
	releasePlugin();
	Host::current().unregisterNode(this);
}

namespace {
int dirtySlot(Int32 bit)
{
	switch (bit)
	{
		case DIRTYFLAGS_MATRIX: return 0;
		case DIRTYFLAGS_DATA: return 1;
		case DIRTYFLAGS_SELECT: return 2;
		case DIRTYFLAGS_CACHE: return 3;
		default: return 4;
	}
}
constexpr Int32 kDirtyKinds[] = {DIRTYFLAGS_MATRIX, DIRTYFLAGS_DATA, DIRTYFLAGS_SELECT, DIRTYFLAGS_CACHE};
}  // namespace

Int32 Node::dirty(Int32 flags) const
{
	Int32 sum = 0;
	for (Int32 kind : kDirtyKinds)
		if (flags & kind)
			sum += dirtyCounts_[dirtySlot(kind)];
	return sum;
}

void Node::setDirty(Int32 flags)
{
	for (Int32 kind : kDirtyKinds)
		if (flags & kind)
			++dirtyCounts_[dirtySlot(kind)];
}

// ---- tags ----

Tag::~Tag() { releasePlugin(); }

Document* Tag::document() const { return owner ? owner->document() : nullptr; }

// ---- objects ----

Object::~Object()
{
	releasePlugin();
	// Children and tags go before the object's own node is unregistered.
	tags.clear();
	children_.clear();
}

LMatrix Object::globalMatrix() const { return parent_ ? multiply(parent_->globalMatrix(), matrix) : matrix; }

void Object::setGlobalMatrix(const LMatrix& mg)
{
	matrix = parent_ ? multiply(invert(parent_->globalMatrix()), mg) : mg;
	setDirty(DIRTYFLAGS_MATRIX);
}

Tag* Object::firstTag(Int32 type, int nr) const
{
	for (const auto& t : tags)
		if (t->type() == type && nr-- == 0)
			return t.get();
	return nullptr;
}

void Object::insertTag(std::unique_ptr<Tag> tag, const Tag* pred)
{
	tag->owner = this;
	auto at = tags.begin();
	if (pred)
	{
		at = std::find_if(tags.begin(), tags.end(), [&](const std::unique_ptr<Tag>& t) { return t.get() == pred; });
		at = at == tags.end() ? tags.end() : at + 1;
	}
	tags.insert(at, std::move(tag));
}

std::unique_ptr<Tag> Object::removeTag(Tag* tag)
{
	auto it = std::find_if(tags.begin(), tags.end(), [&](const std::unique_ptr<Tag>& t) { return t.get() == tag; });
	if (it == tags.end())
		return nullptr;
	std::unique_ptr<Tag> out = std::move(*it);
	tags.erase(it);
	out->owner = nullptr;
	return out;
}

void Object::adopt(std::unique_ptr<Object> child)
{
	if (doc_)
	{
		doc_->insert(std::move(child), this, children_.empty() ? nullptr : children_.back().get());
		return;
	}
	child->parent_ = this;
	children_.push_back(std::move(child));
}

namespace {

// The corners of the points' bounding box; both zero without points.
void boundingBox(const std::vector<LVector>& points, LVector* lo, LVector* hi)
{
	*lo = *hi = points.empty() ? LVector{0, 0, 0} : points[0];
	for (const LVector& p : points)
	{
		*lo = {std::min(lo->x, p.x), std::min(lo->y, p.y), std::min(lo->z, p.z)};
		*hi = {std::max(hi->x, p.x), std::max(hi->y, p.y), std::max(hi->z, p.z)};
	}
}

}  // namespace

LVector Object::boundingRadius() const
{
	LVector lo, hi;
	boundingBox(points, &lo, &hi);
	return {(hi.x - lo.x) * 0.5, (hi.y - lo.y) * 0.5, (hi.z - lo.z) * 0.5};
}

LVector Object::boundingCentre() const
{
	LVector lo, hi;
	boundingBox(points, &lo, &hi);
	return {(hi.x + lo.x) * 0.5, (hi.y + lo.y) * 0.5, (hi.z + lo.z) * 0.5};
}

// ---- threads ----

bool Thread::testBreak()
{
	const long n = tests_++;
	return break_ || (breakAfter_ >= 0 && n >= breakAfter_);
}

// ---- documents ----

Document::~Document() { roots_.clear(); }

void Document::setDocument(Object* root, Document* doc)
{
	std::vector<Object*> stack{root};
	while (!stack.empty())
	{
		Object* o = stack.back();
		stack.pop_back();
		o->doc_ = doc;
		for (const auto& c : o->children_)
			stack.push_back(c.get());
	}
}

std::vector<std::unique_ptr<Object>>& Document::siblingsOf(const Object* op)
{
	return op->parent_ ? op->parent_->children_ : roots_;
}

void Document::insert(std::unique_ptr<Object> op, Object* parent, const Object* pred)
{
	std::vector<std::unique_ptr<Object>>& list = parent ? parent->children_ : roots_;
	auto at = list.begin();
	if (pred)
	{
		at = std::find_if(list.begin(), list.end(), [&](const std::unique_ptr<Object>& o) { return o.get() == pred; });
		at = at == list.end() ? list.end() : at + 1;
	}
	op->parent_ = parent;
	Object* raw = op.get();
	list.insert(at, std::move(op));
	// The whole subtree now belongs to this document.
	setDocument(raw, this);
}

void Document::insertBefore(std::unique_ptr<Object> op, Object* next)
{
	insert(std::move(op), next->parent_, predecessor(next));
}

std::unique_ptr<Object> Document::remove(Object* op)
{
	auto& list = siblingsOf(op);
	auto it = std::find_if(list.begin(), list.end(), [&](const std::unique_ptr<Object>& o) { return o.get() == op; });
	if (it == list.end())
		return nullptr;
	std::unique_ptr<Object> out = std::move(*it);
	list.erase(it);
	out->parent_ = nullptr;
	setDocument(out.get(), nullptr);
	return out;
}

std::vector<Object*> Document::objects() const
{
	std::vector<Object*> out;
	std::vector<Object*> stack;
	for (auto it = roots_.rbegin(); it != roots_.rend(); ++it)
		stack.push_back(it->get());
	while (!stack.empty())
	{
		Object* o = stack.back();
		stack.pop_back();
		out.push_back(o);
		for (auto it = o->children_.rbegin(); it != o->children_.rend(); ++it)
			stack.push_back(it->get());
	}
	return out;
}

Object* Document::findByName(const std::string& name) const
{
	for (Object* o : objects())
		if (o->name == name)
			return o;
	return nullptr;
}

Object* Document::predecessor(const Object* op) const
{
	const auto& list = op->parent_ ? op->parent_->children_ : roots_;
	for (size_t i = 1; i < list.size(); ++i)
		if (list[i].get() == op)
			return list[i - 1].get();
	return nullptr;
}

Object* Document::successor(const Object* op) const
{
	const auto& list = op->parent_ ? op->parent_->children_ : roots_;
	for (size_t i = 0; i + 1 < list.size(); ++i)
		if (list[i].get() == op)
			return list[i + 1].get();
	return nullptr;
}

}  // namespace vtnhost
