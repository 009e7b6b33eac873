// Loading plug-in modules: open, attach, resources, start; and ending them.
#include <iterator>
#include <memory>
#include <set>

#include "vtnhost/host.h"
#include "vtnhost/module.h"
#include "vtnhost/platform.h"

namespace vtnhost {

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
	// What a module that does not start registered goes with it: nothing may
	// keep pointing into a library that is closed.
	const size_t registeredBefore = registrations_.size();
	const std::map<std::pair<Int32, Int32>, VtnRegistry> registryBefore = registry_;
	std::set<Int32> describedBefore, iconsBefore;
	for (const auto& d : descriptions_)
		describedBefore.insert(d.first);
	for (const auto& i : icons_)
		iconsBefore.insert(i.first);
	if (mod->call(VTNPL_START) != 1)
	{
		error(path + ": the plug-in did not start");
		mod->call(VTNPL_END);
		registrations_.resize(registeredBefore);
		registry_ = registryBefore;
		for (auto it = descriptions_.begin(); it != descriptions_.end();)
			it = describedBefore.count(it->first) ? std::next(it) : descriptions_.erase(it);
		for (auto it = icons_.begin(); it != icons_.end();)
			it = iconsBefore.count(it->first) ? std::next(it) : icons_.erase(it);
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
	// Their types, descriptions, icons and library entries point into the
	// modules just closed.
	registrations_.clear();
	descriptions_.clear();
	icons_.clear();
	registry_.clear();
}

std::unique_ptr<PluginModule> PluginModule::open(const std::string& path, std::string* error)
{
	const platform::FileFacts facts = platform::inspect(path);
	if (facts.kind != platform::FileKind::regular)
	{
		*error = path + (facts.kind == platform::FileKind::missing ? ": no such plug-in file"
		                                                            : std::string(": is ") + platform::kindName(facts.kind) + ", not a plug-in module");
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
