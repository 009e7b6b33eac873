// The master table: each family of slots fills its sub-tables, slot by slot
// and by name, and registers the optional libraries it provides.
#ifndef VTNHOST_TABLES_H
#define VTNHOST_TABLES_H

#include "abi/vtn_os.h"

namespace vtnhost {

class Host;

// The whole table for host: every family below, the version and the crash handler.
void assembleMasterTable(VTNOS* os, Host& host);

void installGeneralTable(VTNOS* os);
void installValueTables(VTNOS* os);
void installNodeTables(VTNOS* os);
void installMediaTables(VTNOS* os, Host& host);
void installDrawTable(VTNOS* os);
void installColliderLibrary(Host& host);
void installFileTables(VTNOS* os, Host& host);
void installWorkerSlots(VTN_Thread* table);

}  // namespace vtnhost

#endif
