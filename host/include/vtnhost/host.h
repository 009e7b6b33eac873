// The stand-in host: owns the master table that plug-ins receive, implements
// the host side of every sub-table operation in use, loads plug-in modules from
// disk and reports what they do (console, registrations, errors) to its users.
#ifndef VTNHOST_HOST_H
#define VTNHOST_HOST_H

#include <atomic>
#include <cstdint>
#include <map>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "abi/vtn_libraries.h"
#include "abi/vtn_os.h"
#include "abi/vtn_plugin.h"
#include "vtnhost/bitmap.h"
#include "vtnhost/memory.h"
#include "vtnhost/module.h"
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

class HostRecorder;
class Host;

// How a save or a load of a scene file ended.
enum class FileStatus
{
	done,
	failed,
	cancelled,
};

// A save or a load under way: its step and progress on the host's status bar,
// and the break its caller may ask for on the thread. Registered with the host
// for its lifetime, so that the packing a plug-in calls while writing or
// reading its block reports to it as well.
class FileJob
{
public:
	FileJob(Host& host, Thread* thread);
	~FileJob();
	FileJob(const FileJob&) = delete;
	FileJob& operator=(const FileJob&) = delete;
	// The bar shows step, done of total (the text and the bar change only when they would look different).
	void show(const char* step, uint64_t done, uint64_t total);
	// bytes more were handled; the thread is asked for a break at least every
	// MiB and at every call with none. False once a break was asked for.
	bool go(uint64_t bytes = 0);
	bool cancelled() const { return cancelled_; }

private:
	Host& host_;
	FileJob* outer_;
	Thread* thread_;
	const char* step_ = nullptr;
	int percent_ = -1;
	uint64_t sinceTest_ = 0;
	bool cancelled_ = false;
};

// One object for the application's side; its members live in a file per
// concern (see host/README.md): host.cpp (the host itself, its reports),
// modules.cpp (loading), registry.cpp (registration, descriptions, icons,
// the registry), nodes.cpp (the node factory, copies, documents),
// evaluation.cpp (the deformers' order), modeling.cpp (modeling commands),
// scene_file.cpp (scene files).
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

	// ---- modules (modules.cpp) ----
	// Loads a plug-in as the application does: open, attach, message 1, start.
	// False with the reason in errors() when any step fails; a module that did
	// not start is ended and unloaded again.
	bool loadPlugin(const std::string& path);
	// Ends and unloads every plug-in, after destroying the nodes of their types.
	void unloadPlugins();
	PluginModule* plugin(size_t i) { return i < modules_.size() ? modules_[i].get() : nullptr; }

	// ---- reports (host.cpp) ----
	const std::vector<std::string>& console() const { return console_; }
	const std::vector<std::string>& errors() const { return errors_; }
	// Safe to read from another thread while an evaluation runs.
	std::string statusText() const
	{
		std::lock_guard<std::mutex> lock(statusMutex_);
		return statusText_;
	}
	int statusBar() const { return statusBar_.load(); }
	void print(const std::string& line) { console_.push_back(line); }
	void error(const std::string& text) { errors_.push_back(text); }
	// A plug-in's report of a state it should never reach: a line in errors().
	void criticalStop(int line, const char* source);
	void setStatusText(const std::string& t)
	{
		std::lock_guard<std::mutex> lock(statusMutex_);
		statusText_ = t;
	}
	void setStatusBar(int p);
	void setMouse(int mode);
	void addEvent();
	// Whoever watches what plug-ins do (null: no one); not owned.
	void attachRecorder(HostRecorder* recorder) { recorder_ = recorder; }
	HostRecorder* recorder() const { return recorder_; }

	// ---- registration, descriptions, icons, the registry (registry.cpp) ----
	bool registerPlugin(Int32 api, Int32 type, Int32 id, const std::string& name, const void* record, Int32 size);
	const std::deque<PluginRegistration>& registrations() const { return registrations_; }
	const PluginRegistration* findRegistration(Int32 id) const;
	bool registerDescription(Int32 id, const std::string& name, const ResourceSet* res);
	const Description* description(Int32 plugin_id) const;
	bool registerIcon(Int32 id, const Bitmap& bmp, Int32 x, Int32 y, Int32 w, Int32 h);
	bool unregisterIcon(Int32 id);
	const Bitmap* icon(Int32 id) const;
	// Resource sets a plug-in loaded and has not released.
	int liveResources() const { return liveResources_; }
	void resourceLoaded(int delta) { liveResources_ += delta; }
	// The registry of libraries (kind 17) and other entries.
	bool registryAdd(Int32 kind, Int32 id, void* data);
	void* registryFind(Int32 kind, Int32 id) const;
	VtnRegistry* registryEntry(Int32 kind, Int32 id);
	void registryRemove(Int32 kind, Int32 id);

	// ---- nodes, copies and documents (nodes.cpp) ----
	// The host's own node types: polygon and null objects, display and point
	// selection tags.
	static bool isHostType(Int32 type);
	// Plug-in types are created through their allocator and Init.
	// newNode gives an object (or a tag, for tag types) to the caller; null with
	// the reason in errors() for a type that is neither the host's own nor a
	// loaded plug-in's, and when a plug-in instance cannot be made.
	std::unique_ptr<Node> newNode(Int32 type);
	std::unique_ptr<Object> newObject(Int32 type, const std::string& name = std::string());
	// As newObject, but a type no loaded plug-in provides gives a plain object
	// of that type: what a scene file or a copy holds of a plug-in that is not
	// loaded stays in its place.
	std::unique_ptr<Object> newStandIn(Int32 type, const std::string& name = std::string());
	std::unique_ptr<Object> newPolygonObject(const std::string& name, std::vector<LVector> points, std::vector<CPolygon> polygons);
	// A copy of an object (plug-in objects through their CopyTo), with its tags unless
	// COPYFLAGS_NO_BRANCHES and its children unless COPYFLAGS_NO_HIERARCHY; not in any document.
	std::unique_ptr<Object> cloneObject(const Object& src, Int32 flags);
	// A node the host keeps until destroyNode (or unloadPlugins).
	Node* createNode(Int32 type);
	void destroyNode(Node* node);
	// Every live node by id, wherever it is owned (nodes register themselves).
	Node* findNode(uint64_t id) const;
	size_t nodeCount() const { return nodes_.size(); }
	void registerNode(Node* node);
	void unregisterNode(Node* node);
	uint64_t nextNodeId() { return nextNodeId_++; }
	// Documents, owned by the host.
	Document* newDocument();
	void destroyDocument(Document* doc);
	const std::vector<std::unique_ptr<Document>>& documents() const { return documents_; }

	// ---- scene files (scene_file.cpp) ----
	// The host's own binary format. Saving writes a temporary file and renames
	// it; loading makes a new document. Every part carries a checksum: a
	// damaged header or object record gives null and the reason; a plug-in
	// block whose checksum fails is not read (the plug-in gets an empty one),
	// and one that reads back damaged leaves its object with what could be
	// read, each with a line in errors() naming the object.
	// Files are written and read through buffers, never held whole in memory.
	// With packed_skipped, a load passes over the packed memory values of the
	// plug-in blocks (their plain size is still told to the plug-in): a look at
	// a scene's structure without its weights.
	//
	// With a thread, a save or a load shows its step ("saving", "packing",
	// "loading", "unpacking") and progress on the status bar, and stops soon
	// after a break is asked for: cancelled, with nothing written (the file in
	// place stays as it was) and no document made.
	FileStatus saveDocument(Document* doc, const std::string& path, std::string* error, Thread* thread = nullptr);
	Document* loadDocument(const std::string& path, std::string* error, bool packed_skipped = false, Thread* thread = nullptr,
	                       FileStatus* status = nullptr);
	std::vector<uint8_t> encodeDocument(Document* doc);
	void encodeDocument(Document* doc, ByteSink& sink);
	Document* decodeDocument(const std::vector<uint8_t>& bytes, std::string* error, bool packed_skipped = false);
	Document* decodeDocument(ByteSource& bytes, std::string* error, bool packed_skipped = false);
	// The save or load under way, for the packing it calls to report to; null when none.
	FileJob* fileJob() const { return fileJob_; }
	void setFileJob(FileJob* job) { fileJob_ = job; }

	// ---- evaluation (evaluation.cpp) ----
	// Evaluates the document as the application does before it draws: the dirty
	// checks of plug-in objects, then every polygon object (and generator cache)
	// in tree order through the deformers that act on it, into its deform cache.
	void evaluate(Document* doc, Thread* thread = nullptr);
	// Wall-clock seconds the deformers' ModifyObject calls took in the last
	// evaluation, the host's own work around them left out.
	double lastDeformerSeconds() const { return lastDeformerSeconds_; }

	// ---- modeling commands (modeling.cpp) ----
	// Command 221 triangulates a polygon object in place; anything else fails.
	bool sendModelingCommand(Int32 command, ModelingCommandData* data);

private:
	std::unique_ptr<Node> makeNode(Int32 type, const PluginRegistration* reg);
	static std::unique_ptr<Object> asObject(std::unique_ptr<Node> node, const std::string& name);
	std::unique_ptr<Object> cloneInto(const Object& src, Int32 flags, VtnAliasTrans* trans);

	VTNOS os_{};
	Memory memory_;
	std::vector<std::unique_ptr<PluginModule>> modules_;
	std::vector<std::string> console_;
	std::vector<std::string> errors_;
	mutable std::mutex statusMutex_;
	std::string statusText_;
	std::atomic<int> statusBar_{0};
	HostRecorder* recorder_ = nullptr;
	int liveResources_ = 0;
	int workers_ = 1;
	double lastDeformerSeconds_ = 0.0;
	std::unique_ptr<WorkerSet> workerSet_;
	// A deque: nodes keep pointers to their registration, which a new one must not move.
	std::deque<PluginRegistration> registrations_;
	std::map<Int32, Description> descriptions_;
	std::map<Int32, std::unique_ptr<Bitmap>> icons_;
	std::map<std::pair<Int32, Int32>, VtnRegistry> registry_;
	std::map<uint64_t, Node*> nodes_;  // every live node, wherever it is owned
	std::map<uint64_t, std::unique_ptr<Node>> loose_;  // nodes made with createNode
	std::vector<std::unique_ptr<Document>> documents_;
	FileJob* fileJob_ = nullptr;
	uint64_t nextNodeId_ = 1;
};

}  // namespace vtnhost

#endif
