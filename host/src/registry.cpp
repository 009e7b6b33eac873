// Registration of plug-in types, their descriptions and icons, and the
// registry of libraries.
#include <cstring>

#include "vtnhost/host.h"
#include "vtnhost/platform.h"

namespace vtnhost {

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
	// Every node of the type is made by the one and released by the other.
	const auto* node = static_cast<const NODEPLUGIN*>(record);
	if (!node->allocator || !node->destroy)
	{
		error("plug-in " + std::to_string(id) + " (" + name + "): registration refused: the record has no allocator or no destroy function");
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

}  // namespace vtnhost
