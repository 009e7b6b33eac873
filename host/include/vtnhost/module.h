// A plug-in module on disk, opened with the system's loader (see platform.h)
// and driven through its one export, vtn_main.
#ifndef VTNHOST_MODULE_H
#define VTNHOST_MODULE_H

#include <cstdint>
#include <memory>
#include <string>

#include "abi/vtn_os.h"
#include "vtnhost/values.h"

namespace vtnhost {

class Host;

// A plug-in module opened from disk, driven through its one export.
class PluginModule
{
public:
	// Null with a reason when the file is missing, cannot be loaded or lacks vtn_main.
	static std::unique_ptr<PluginModule> open(const std::string& path, std::string* error);
	~PluginModule();
	PluginModule(const PluginModule&) = delete;
	PluginModule& operator=(const PluginModule&) = delete;

	int call(int action, void* p1 = nullptr, void* p2 = nullptr, void* p3 = nullptr);
	// Action 1 with the host's table and the module's file name.
	int attach(Host& host);
	int message(Int32 id, void* data) { return call(VTNPL_MESSAGE, reinterpret_cast<void*>(static_cast<intptr_t>(id)), data); }
	const std::string& path() const { return path_; }
	bool started = false;

private:
	PluginModule(void* handle, int (*entry)(int, void*, void*, void*), std::string path);
	void* handle_;
	int (*entry_)(int, void*, void*, void*);
	std::string path_;
	VtnFilename file_;
	VtnFilename* fileBox_ = &file_;
};

}  // namespace vtnhost

#endif
