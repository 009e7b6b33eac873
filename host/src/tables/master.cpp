// The master table plug-ins receive at attach: its version, every sub-table
// and the start of the crash handler chain.
#include "abi/vtn_os.h"
#include "tables/tables.h"
#include "vtnhost/host.h"

namespace vtnhost {
namespace {

// Without a host of its own the plug-in's crash reports would vanish; the
// chain ends here, in the host's console.
void HostCrashHandler(char* info) { Host::current().print(std::string("crash: ") + (info ? info : "")); }

}  // namespace

void assembleMasterTable(VTNOS* os, Host& host)
{
	os->version = VTN_API_VERSION;
	os->crash_handler = HostCrashHandler;
	installGeneralTable(os);
	installValueTables(os);
	installNodeTables(os);
	installMediaTables(os, host);
	installDrawTable(os);
	installColliderLibrary(host);
	installFileTables(os, host);
}

}  // namespace vtnhost
