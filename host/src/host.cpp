#include "vtnhost/host.h"

#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <chrono>
#include <thread>

#include "tables.h"
#include "vtnhost/platform.h"
#include "workers.h"

namespace vtnhost {
namespace {

Host* the_host = nullptr;

bool isHostTagType(Int32 type) { return type == Tpointselection || type == Tdisplay; }
bool isHostType(Int32 type) { return type == Opolygon || type == Onull || isHostTagType(type); }

// Without a host of its own the plug-in's crash reports would vanish; the
// chain ends here, in the host's console.
void HostCrashHandler(char* info)
{
	if (the_host)
		the_host->print(std::string("crash: ") + (info ? info : ""));
}


}  // namespace

Host::Host()
{
	if (the_host)
		std::abort();  // the table slots reach the host through one global
	the_host = this;
	os_.version = VTN_API_VERSION;
	workers_ = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
	workerSet_ = std::make_unique<WorkerSet>();
	os_.crash_handler = HostCrashHandler;
	installGeneralTable(&os_);
	installValueTables(&os_);
	installNodeTables(&os_);
	installMediaTables(&os_, *this);
	installDrawTable(&os_);
	installColliderLibrary(*this);
	installFileTables(&os_, *this);
}

Host::~Host()
{
	unloadPlugins();
	workerSet_.reset();
	the_host = nullptr;
}

Host& Host::current()
{
	if (!the_host)
		std::abort();
	return *the_host;
}

bool Host::loadPlugin(const std::string& path)
{
	std::string why;
	std::unique_ptr<PluginModule> mod = PluginModule::open(path, &why);
	if (!mod)
	{
		error(why);
		return false;
	}
	const int attached = mod->attach(*this);
	if (attached != 1)
	{
		error(path + ": the plug-in refused to attach (result " + std::to_string(attached) + "; host API version " +
		      std::to_string(os_.version) + ", it needs " + std::to_string(VTN_API_VERSION) + " or newer)");
		return false;
	}
	if (mod->message(VTNMSG_LOAD_RESOURCES, nullptr) != 1)
		error(path + ": the plug-in could not load its resources; its types are not registered");
	if (mod->call(VTNPL_START) != 1)
	{
		error(path + ": the plug-in did not start");
		mod->call(VTNPL_END);
		return false;
	}
	mod->started = true;
	modules_.push_back(std::move(mod));
	return true;
}

void Host::unloadPlugins()
{
	// The scene holds plug-in instances, code and memory: it goes first.
	documents_.clear();
	loose_.clear();
	while (!modules_.empty())
	{
		modules_.back()->call(VTNPL_END);
		modules_.pop_back();
	}
}

const PluginRegistration* Host::findRegistration(Int32 id) const
{
	for (const PluginRegistration& r : registrations_)
		if (r.id == id)
			return &r;
	return nullptr;
}

bool Host::registerPlugin(Int32 api, Int32 type, Int32 id, const std::string& name, const void* record, Int32 size)
{
	const Int32 expected = type == VTN_PLUGINTYPE_OBJECT ? static_cast<Int32>(sizeof(OBJECTPLUGIN))
	                     : type == VTN_PLUGINTYPE_NODE   ? static_cast<Int32>(sizeof(NODEPLUGIN))
	                                                     : -1;
	if (api < VTN_API_VERSION || expected < 0 || size != expected || !record || name.empty())
	{
		error("plug-in " + std::to_string(id) + " (" + name + "): registration refused: unsupported type " + std::to_string(type) +
		      " or record size " + std::to_string(size));
		return false;
	}
	if (isHostType(id))
	{
		error("plug-in " + std::to_string(id) + " (" + name + "): the id is one of the host's own node types");
		return false;
	}
	if (findRegistration(id))
	{
		error("plug-in " + std::to_string(id) + " (" + name + "): the id is already registered");
		return false;
	}
	PluginRegistration r;
	r.type = type;
	r.id = id;
	r.name = name;
	r.recordSize = size;
	r.apiVersion = api;
	std::memcpy(static_cast<void*>(&r.record), record, static_cast<size_t>(size));
	if (r.record.node.icon)
	{
		r.icon = std::make_shared<Bitmap>(*reinterpret_cast<const Bitmap*>(r.record.node.icon));
		r.record.node.icon = reinterpret_cast<BaseBitmap*>(r.icon.get());
		if (type == VTN_PLUGINTYPE_OBJECT)
			r.record.icon = r.record.node.icon;
	}
	registrations_.push_back(std::move(r));
	return true;
}

bool Host::registerDescription(Int32 id, const std::string& name, const ResourceSet* res)
{
	if (!res)
	{
		error("description " + name + " for plug-in " + std::to_string(id) + ": the plug-in has no resources");
		return false;
	}
	Description d;
	std::string why;
	if (!parseDescription(platform::joinPath(platform::joinPath(res->dir, "description"), name + ".res"), &d, &why))
	{
		error("description " + name + ": " + why);
		return false;
	}
	if (d.name != name)
	{
		error("description " + name + ": the file describes " + d.name);
		return false;
	}
	descriptions_[id] = std::move(d);
	return true;
}

const Description* Host::description(Int32 plugin_id) const
{
	auto it = descriptions_.find(plugin_id);
	return it == descriptions_.end() ? nullptr : &it->second;
}

bool Host::registerIcon(Int32 id, const Bitmap& bmp, Int32 x, Int32 y, Int32 w, Int32 h)
{
	auto icon = std::make_unique<Bitmap>(bmp.crop(x, y, w, h));
	if (icon->width() == 0 || icon->height() == 0)
		return false;
	icons_[id] = std::move(icon);
	return true;
}

bool Host::unregisterIcon(Int32 id) { return icons_.erase(id) != 0; }

const Bitmap* Host::icon(Int32 id) const
{
	auto it = icons_.find(id);
	return it == icons_.end() ? nullptr : it->second.get();
}

bool Host::registryAdd(Int32 kind, Int32 id, void* data)
{
	if (!data)
		return false;
	return registry_.emplace(std::make_pair(kind, id), VtnRegistry{kind, id, data}).second;
}

void* Host::registryFind(Int32 kind, Int32 id) const
{
	auto it = registry_.find({kind, id});
	return it == registry_.end() ? nullptr : it->second.data;
}

VtnRegistry* Host::registryEntry(Int32 kind, Int32 id)
{
	auto it = registry_.find({kind, id});
	return it == registry_.end() ? nullptr : &it->second;
}

void Host::registryRemove(Int32 kind, Int32 id) { registry_.erase({kind, id}); }

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

bool Host::sendModelingCommand(Int32 command, ModelingCommandData* data)
{
	Object* op = data && data->op ? dynamic_cast<Object*>(Node::from(data->op)) : nullptr;
	modelingCommands_.push_back({command, op ? op->id() : 0});
	if (modelingFails_ || !op)
		return false;
	if (command != MCOMMAND_TRIANGULATE || !op->isPolygonObject())
		return false;
	op->triangulate();
	op->setDirty(DIRTYFLAGS_DATA);
	return true;
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

namespace {

// The deformers acting on op: those under op itself, then under each of its
// ancestors going outward, each level in tree order.
std::vector<Object*> deformersFor(Object* op)
{
	std::vector<Object*> out;
	for (Object* level = op; level; level = level->parent())
		for (const auto& c : level->children())
			if (c->isDeformer() && c->deformMode)
				out.push_back(c.get());
	return out;
}

}  // namespace

void Host::evaluate(Document* doc, Thread* thread)
{
	lastDeformerSeconds_ = 0.0;
	for (Object* o : doc->objects())
		if (o->plugin())
			o->callCheckDirty(doc);
	for (Object* o : doc->objects())
	{
		Object* target = o->isPolygonObject() ? o : o->generatorCache.get();
		if (!target)
			continue;
		const std::vector<Object*> deformers = deformersFor(o);
		if (deformers.empty())
		{
			target->deformCache.reset();
			continue;
		}
		// The last cache stays as it is while the deformers run: they may read it.
		std::vector<LVector> buffer = std::move(target->spareCachePoints);
		buffer.assign(target->points.begin(), target->points.end());
		target->setEvaluationBuffer(&buffer);
		const auto start = std::chrono::steady_clock::now();
		for (Object* d : deformers)
			d->callModifyObject(doc, target, thread ? thread->asThread() : nullptr);
		lastDeformerSeconds_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
		target->setEvaluationBuffer(nullptr);
		std::unique_ptr<Object> cache = newPolygonObject(target->name, std::move(buffer), target->polygons);
		cache->matrix = target->globalMatrix();
		cache->cacheParent = target;
		if (target->deformCache)
			target->spareCachePoints = std::move(target->deformCache->points);
		target->deformCache = std::move(cache);
	}
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

bool Host::pressButton(Node* node, Int32 button_id)
{
	VtnDescriptionCommand cmd{};
	cmd.id.depth = 1;
	cmd.id.level[0] = {button_id, 0, 0};
	return node->callMessage(MSG_DESCRIPTION_COMMAND, &cmd);
}

bool Host::requestIcon(Node* node, IconData* icon)
{
	GetCustomIconData request{icon, 0};
	node->callMessage(MSG_GETCUSTOMICON, &request);
	return request.filled != 0;
}

void Host::setLink(Node* owner, Int32 param_id, const Node* target)
{
	owner->container().entries[param_id] = Value::Link(target ? target->id() : 0);
}

size_t Host::messageCount(const Node* node, Int32 type) const
{
	size_t n = 0;
	for (const MessageRecord& m : messages_)
		n += m.node == node->id() && m.type == type;
	return n;
}

// ---- plug-in modules ----

std::unique_ptr<PluginModule> PluginModule::open(const std::string& path, std::string* error)
{
	if (!platform::exists(path))
	{
		*error = path + ": no such plug-in file";
		return nullptr;
	}
	std::string why;
	void* handle = platform::openModule(path, &why);
	if (!handle)
	{
		*error = path + ": cannot load the plug-in: " + why;
		return nullptr;
	}
	const platform::Symbol sym = platform::findSymbol(handle, "vtn_main");
	if (!sym)
	{
		platform::closeModule(handle);
		*error = path + ": not a plug-in (no vtn_main export)";
		return nullptr;
	}
	auto entry = reinterpret_cast<int (*)(int, void*, void*, void*)>(sym);
	return std::unique_ptr<PluginModule>(new PluginModule(handle, entry, path));
}

PluginModule::PluginModule(void* handle, int (*entry)(int, void*, void*, void*), std::string path)
    : handle_(handle), entry_(entry), path_(std::move(path))
{
	file_.path = path_;
}

PluginModule::~PluginModule() { platform::closeModule(handle_); }

int PluginModule::call(int action, void* p1, void* p2, void* p3) { return entry_(action, p1, p2, p3); }

int PluginModule::attach(Host& host) { return call(VTNPL_ATTACH, host.table(), nullptr, &fileBox_); }

}  // namespace vtnhost
