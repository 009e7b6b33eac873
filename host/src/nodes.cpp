// The node factory (the host's own types and plug-in types), copies, the
// registry of live nodes and the documents.
#include "vtnhost/host.h"

namespace vtnhost {

namespace {

bool isHostTagType(Int32 type) { return type == Tpointselection || type == Tdisplay; }

}  // namespace

bool Host::isHostType(Int32 type) { return type == Opolygon || type == Onull || isHostTagType(type); }

std::unique_ptr<Node> Host::newNode(Int32 type)
{
	const PluginRegistration* reg = findRegistration(type);
	if (!reg && !isHostType(type))
	{
		error("node type " + std::to_string(type) + ": neither the host's own nor a loaded plug-in's; nothing was made");
		return nullptr;
	}
	return makeNode(type, reg);
}

std::unique_ptr<Node> Host::makeNode(Int32 type, const PluginRegistration* reg)
{
	std::unique_ptr<Node> node;
	if (isHostTagType(type))
		node = std::make_unique<Tag>(nextNodeId(), type, nullptr);
	else
		node = std::make_unique<Object>(nextNodeId(), type, reg);
	if (reg)
	{
		NodeData* data = reg->node().allocator ? reg->node().allocator() : nullptr;
		if (!data)
		{
			error("plug-in " + std::to_string(type) + " (" + reg->name + "): the allocator returned no instance");
			return nullptr;
		}
		node->setNodeData(data);
		// A failed Init still hands the instance back: the node releases it as it goes.
		if (!node->callInit())
		{
			error("plug-in " + std::to_string(type) + " (" + reg->name + "): Init failed");
			return nullptr;
		}
		node->name = reg->name;
	}
	return node;
}

std::unique_ptr<Object> Host::newObject(Int32 type, const std::string& name)
{
	return asObject(newNode(type), name);
}

std::unique_ptr<Object> Host::newStandIn(Int32 type, const std::string& name)
{
	const PluginRegistration* reg = findRegistration(type);
	return asObject(reg || isHostType(type) ? newNode(type) : makeNode(type, nullptr), name);
}

std::unique_ptr<Object> Host::asObject(std::unique_ptr<Node> node, const std::string& name)
{
	auto* op = dynamic_cast<Object*>(node.get());
	if (!op)
		return nullptr;
	node.release();
	std::unique_ptr<Object> out(op);
	if (!name.empty())
		out->name = name;
	return out;
}

std::unique_ptr<Object> Host::newPolygonObject(const std::string& name, std::vector<LVector> points, std::vector<CPolygon> polygons)
{
	std::unique_ptr<Object> op = newObject(Opolygon, name);
	op->points = std::move(points);
	op->polygons = std::move(polygons);
	return op;
}

std::unique_ptr<Object> Host::cloneObject(const Object& src, Int32 flags)
{
	VtnAliasTrans trans;
	std::unique_ptr<Object> op = cloneInto(src, flags, &trans);
	trans.translate();
	return op;
}

std::unique_ptr<Object> Host::cloneInto(const Object& src, Int32 flags, VtnAliasTrans* trans)
{
	std::unique_ptr<Object> op = newStandIn(src.type(), src.name);
	if (!op)
		return nullptr;
	op->name = src.name;
	op->container() = src.container();
	op->points = src.points;
	op->polygons = src.polygons;
	op->ngons = src.ngons;
	op->matrix = src.matrix;
	op->editorMode = src.editorMode;
	op->renderMode = src.renderMode;
	op->deformMode = src.deformMode;
	op->colors = src.colors;
	trans->copies[src.id()] = op->id();
	if (!const_cast<Object&>(src).callCopyTo(op.get(), flags, trans))
	{
		error("cannot copy " + src.name + ": its plug-in refused the copy");
		return nullptr;
	}
	if (!(flags & COPYFLAGS_NO_BRANCHES))
		for (const auto& t : src.tags)
		{
			auto copy = std::make_unique<Tag>(nextNodeId(), t->type(), nullptr);
			copy->name = t->name;
			copy->container() = t->container();
			copy->select = t->select;
			op->insertTag(std::move(copy), op->tags.empty() ? nullptr : op->tags.back().get());
		}
	if (!(flags & COPYFLAGS_NO_HIERARCHY))
		for (const auto& c : src.children())
		{
			std::unique_ptr<Object> child = cloneInto(*c, flags, trans);
			if (!child)
				return nullptr;
			op->adopt(std::move(child));
		}
	return op;
}

Node* Host::createNode(Int32 type)
{
	std::unique_ptr<Node> node = newNode(type);
	if (!node)
		return nullptr;
	Node* raw = node.get();
	loose_.emplace(raw->id(), std::move(node));
	return raw;
}

void Host::destroyNode(Node* node)
{
	if (node)
		loose_.erase(node->id());
}

void Host::registerNode(Node* node) { nodes_[node->id()] = node; }

void Host::unregisterNode(Node* node) { nodes_.erase(node->id()); }

Node* Host::findNode(uint64_t id) const
{
	auto it = nodes_.find(id);
	return it == nodes_.end() ? nullptr : it->second;
}

Document* Host::newDocument()
{
	documents_.push_back(std::make_unique<Document>());
	return documents_.back().get();
}

void Host::destroyDocument(Document* doc)
{
	for (auto it = documents_.begin(); it != documents_.end(); ++it)
		if (it->get() == doc)
		{
			documents_.erase(it);
			return;
		}
}

}  // namespace vtnhost
