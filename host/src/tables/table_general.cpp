// General sub-table: memory, console, status bar, events, registration, registry.
#include "tables/tables.h"
#include "vtnhost/host.h"

namespace vtnhost {
namespace {

Host& H() { return Host::current(); }
std::string str(const VtnString* s) { return s ? s->text : std::string(); }

void* Alloc(size_t size, Int32 line, const char* source) { return H().memory().alloc(size, line, source); }
void* Realloc(void* block, size_t size, Int32 line, const char* source) { return H().memory().realloc(block, size, line, source); }
void Free(void* block) { H().memory().free(block); }
void CriticalStop(Int32 line, const char* source) { H().criticalStop(line, source); }
void Print(const VtnString* text) { H().print(str(text)); }
void StatusSetText(const VtnString* text) { H().setStatusText(str(text)); }
void StatusSetBar(Int32 percent) { H().setStatusBar(percent); }
void StatusClear()
{
	H().setStatusText("");
	H().setStatusBar(0);
}
void EventAdd(Int32) { H().addEvent(); }
void ShowMouse(Int32 mode) { H().setMouse(mode); }

bool SendModelingCommand(Int32 command, ModelingCommandData* data) { return H().sendModelingCommand(command, data); }

bool RegisterPlugin(Int32 api, Int32 type, Int32 id, const VtnString* name, void* record, Int32 size)
{
	return H().registerPlugin(api, type, id, str(name), record, size);
}

VtnRegistry* RegistryFind(Int32 kind, Int32 id) { return H().registryEntry(kind, id); }
void* RegistryGetData(VtnRegistry* entry) { return entry ? entry->data : nullptr; }
bool RegistryAdd(Int32 kind, Int32 id, void* data) { return H().registryAdd(kind, id, data); }

VTN_General table = [] {
	VTN_General t{};
	t.Alloc = Alloc;
	t.Realloc = Realloc;
	t.Free = Free;
	t.CriticalStop = CriticalStop;
	t.Print = Print;
	t.StatusSetText = StatusSetText;
	t.StatusSetBar = StatusSetBar;
	t.StatusClear = StatusClear;
	t.EventAdd = EventAdd;
	t.ShowMouse = ShowMouse;
	t.SendModelingCommand = SendModelingCommand;
	t.RegisterPlugin = RegisterPlugin;
	t.RegistryFind = RegistryFind;
	t.RegistryGetData = RegistryGetData;
	t.RegistryAdd = RegistryAdd;
	return t;
}();

}  // namespace

void installGeneralTable(VTNOS* os) { os->general = &table; }

}  // namespace vtnhost
