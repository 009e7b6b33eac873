// The stand-in host: owns the master table that plug-ins receive, implements
// the host side of every sub-table operation in use, loads plug-in modules from
// disk and records what they do (console, registrations, errors) for its users.
#ifndef VTNHOST_HOST_H
#define VTNHOST_HOST_H

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "abi/vtn_libraries.h"
#include "abi/vtn_os.h"
#include "abi/vtn_plugin.h"
#include "vtnhost/bitmap.h"
#include "vtnhost/memory.h"
#include "vtnhost/resources.h"
#include "vtnhost/scene.h"

// An entry of the host registry; its address stays fixed while it is registered.
struct VtnRegistry
{
	Int32 kind;
	Int32 id;
	void* data;
};

namespace vtnhost {

class WorkerSet;
class ByteSink;
class ByteSource;

struct CriticalStop
{
	int line = 0;
	std::string source;
};

// A registered plug-in type: the record as the plug-in handed it over.
struct PluginRegistration
{
	Int32 type = 0;
	Int32 id = 0;
	std::string name;
	OBJECTPLUGIN record{};  // the node part alone for node types
	Int32 recordSize = 0;
	Int32 apiVersion = 0;  // as the plug-in announced it
	// The plug-in releases its icon after registering; the record points at this copy.
	std::shared_ptr<Bitmap> icon;

	const NODEPLUGIN& node() const { return record.node; }
};

class PluginModule;

class Host
{
public:
	// One host per process at a time: the plug-in's table slots are plain
	// functions, which reach the host through Host::current().
	Host();
	~Host();
	Host(const Host&) = delete;
	Host& operator=(const Host&) = delete;

	static Host& current();

	VTNOS* table() { return &os_; }
	Memory& memory() { return memory_; }
	// Threads of the worker pool that plug-ins may use (default: every core; 0: none).
	// A new count takes effect at the next run started, from outside the
	// workers, when no run is unfinished.
	void setWorkerCount(int n) { workers_ = n < 0 ? 0 : n; }
	int workerCount() const { return workers_; }
	// The worker threads themselves, started with the first run.
	WorkerSet& workerSet() { return *workerSet_; }
	// The version announced at offset 0 of the master table (default 12000).
	void setApiVersion(Int32 v) { os_.version = v; }

	// Loads a plug-in as the application does: open, attach, message 1, start.
	// False with the reason in errors() when any step fails; a module that did
	// not start is ended and unloaded again.
	bool loadPlugin(const std::string& path);
	// Ends and unloads every plug-in, after destroying the nodes of their types.
	void unloadPlugins();
	PluginModule* plugin(size_t i) { return i < modules_.size() ? modules_[i].get() : nullptr; }

	// What plug-ins did.
	const std::vector<std::string>& console() const { return console_; }
	const std::vector<std::string>& errors() const { return errors_; }
	const std::vector<CriticalStop>& criticalStops() const { return criticalStops_; }
	void clearCriticalStops() { criticalStops_.clear(); }
	int eventCount() const { return events_; }
	// Safe to read from another thread while an evaluation runs.
	std::string statusText() const
	{
		std::lock_guard<std::mutex> lock(statusMutex_);
		return statusText_;
	}
	int statusBar() const { return statusBar_.load(); }
	const std::vector<PluginRegistration>& registrations() const { return registrations_; }
	const PluginRegistration* findRegistration(Int32 id) const;
	const Description* description(Int32 plugin_id) const;
	const Bitmap* icon(Int32 id) const;
	// Resource sets a plug-in loaded and has not released.
	int liveResources() const { return liveResources_; }
	void resourceLoaded(int delta) { liveResources_ += delta; }

	// The registry of libraries (kind 17) and other entries.
	bool registryAdd(Int32 kind, Int32 id, void* data);
	void* registryFind(Int32 kind, Int32 id) const;
	VtnRegistry* registryEntry(Int32 kind, Int32 id);
	void registryRemove(Int32 kind, Int32 id);

	// Nodes: plug-in types are created through their allocator and Init.
	// newNode gives an object (or a tag, for tag types) to the caller; null with
	// the reason in errors() when a plug-in instance cannot be made.
	std::unique_ptr<Node> newNode(Int32 type);
	std::unique_ptr<Object> newObject(Int32 type, const std::string& name = std::string());
	std::unique_ptr<Object> newPolygonObject(const std::string& name, std::vector<LVector> points, std::vector<CPolygon> polygons);
	// A copy of an object (plug-in objects through their CopyTo), with its tags unless
	// COPYFLAGS_NO_BRANCHES and its children unless COPYFLAGS_NO_HIERARCHY; not in any document.
	std::unique_ptr<Object> cloneObject(const Object& src, Int32 flags);

	// Scene files: the host's own binary format. Saving writes a temporary file
	// and renames it; loading makes a new document. A damaged file gives null and
	// the reason; a plug-in block that reads back damaged leaves its object in the
	// scene with what could be read, and a line in errors() naming the object.
	// Files are written and read through buffers, never held whole in memory.
	// With packed_skipped, a load passes over the packed memory values of the
	// plug-in blocks (their plain size is still told to the plug-in): a look at
	// a scene's structure without its weights.
	bool saveDocument(Document* doc, const std::string& path, std::string* error);
	Document* loadDocument(const std::string& path, std::string* error, bool packed_skipped = false);
	std::vector<uint8_t> encodeDocument(Document* doc);
	void encodeDocument(Document* doc, ByteSink& sink);
	Document* decodeDocument(const std::vector<uint8_t>& bytes, std::string* error, bool packed_skipped = false);
	Document* decodeDocument(ByteSource& bytes, std::string* error, bool packed_skipped = false);
	// A node the host keeps until destroyNode (or unloadPlugins).
	Node* createNode(Int32 type);
	void destroyNode(Node* node);
	Node* findNode(uint64_t id) const;
	size_t nodeCount() const { return nodes_.size(); }
	void registerNode(Node* node);
	void unregisterNode(Node* node);
	uint64_t nextNodeId() { return nextNodeId_++; }

	// Documents, owned by the host.
	Document* newDocument();
	void destroyDocument(Document* doc);
	const std::vector<std::unique_ptr<Document>>& documents() const { return documents_; }

	// What the user does in the application.
	// Evaluates the document as the application does before it draws: the dirty
	// checks of plug-in objects, then every polygon object (and generator cache)
	// in tree order through the deformers that act on it, into its deform cache.
	void evaluate(Document* doc, Thread* thread = nullptr);
	// Wall-clock seconds the deformers' ModifyObject calls took in the last
	// evaluation, the host's own work around them left out.
	double lastDeformerSeconds() const { return lastDeformerSeconds_; }

	// Presses a button of a node's description (message 18 with a one-level DescID).
	bool pressButton(Node* node, Int32 button_id);
	// Asks a node for its custom icon (message 1001090); true when it filled the record.
	bool requestIcon(Node* node, IconData* icon);
	void setLink(Node* owner, Int32 param_id, const Node* target);

	// Messages sent to nodes, in order.
	struct MessageRecord
	{
		uint64_t node;
		Int32 type;
	};
	const std::vector<MessageRecord>& messages() const { return messages_; }
	void recordMessage(const Node* node, Int32 type) { messages_.push_back({node->id(), type}); }
	size_t messageCount(const Node* node, Int32 type) const;

	// Modeling commands asked for, and a switch that makes them fail.
	struct ModelingRecord
	{
		Int32 command;
		uint64_t node;
	};
	const std::vector<ModelingRecord>& modelingCommands() const { return modelingCommands_; }
	void setModelingCommandsFail(bool fail) { modelingFails_ = fail; }
	bool sendModelingCommand(Int32 command, ModelingCommandData* data);

	// Host-side reports.
	void print(const std::string& line) { console_.push_back(line); }
	void error(const std::string& text) { errors_.push_back(text); }

	// Services behind the table slots.
	void criticalStop(int line, const char* source) { criticalStops_.push_back({line, source ? source : ""}); }
	void setStatusText(const std::string& t)
	{
		std::lock_guard<std::mutex> lock(statusMutex_);
		statusText_ = t;
	}
	void setStatusBar(int p)
	{
		if (statusHistory_.empty() || statusHistory_.back() != p)
			if (statusHistory_.size() < 100000)
				statusHistory_.push_back(p);
		statusBar_ = p;
	}
	// The percentages shown, each change once, in order.
	const std::vector<int>& statusHistory() const { return statusHistory_; }
	void clearStatusHistory() { statusHistory_.clear(); }
	void setMouse(int mode) { mouse_.push_back(mode); }
	const std::vector<int>& mouseHistory() const { return mouse_; }
	void addEvent() { ++events_; }
	bool registerPlugin(Int32 api, Int32 type, Int32 id, const std::string& name, const void* record, Int32 size);
	bool registerDescription(Int32 id, const std::string& name, const ResourceSet* res);
	bool registerIcon(Int32 id, const Bitmap& bmp, Int32 x, Int32 y, Int32 w, Int32 h);
	bool unregisterIcon(Int32 id);

private:
	std::unique_ptr<Object> cloneInto(const Object& src, Int32 flags, VtnAliasTrans* trans);

	VTNOS os_{};
	Memory memory_;
	std::vector<std::unique_ptr<PluginModule>> modules_;
	std::vector<std::string> console_;
	std::vector<std::string> errors_;
	std::vector<CriticalStop> criticalStops_;
	mutable std::mutex statusMutex_;
	std::string statusText_;
	std::atomic<int> statusBar_{0};
	std::vector<int> statusHistory_;
	std::vector<int> mouse_;
	int events_ = 0;
	int liveResources_ = 0;
	int workers_ = 1;
	double lastDeformerSeconds_ = 0.0;
	std::unique_ptr<WorkerSet> workerSet_;
	std::vector<PluginRegistration> registrations_;
	std::map<Int32, Description> descriptions_;
	std::map<Int32, std::unique_ptr<Bitmap>> icons_;
	std::map<std::pair<Int32, Int32>, VtnRegistry> registry_;
	std::map<uint64_t, Node*> nodes_;  // every live node, wherever it is owned
	std::map<uint64_t, std::unique_ptr<Node>> loose_;  // nodes made with createNode
	std::vector<std::unique_ptr<Document>> documents_;
	std::vector<MessageRecord> messages_;
	std::vector<ModelingRecord> modelingCommands_;
	bool modelingFails_ = false;
	uint64_t nextNodeId_ = 1;
};

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
