// Assembly of the master table: each family fills its sub-table and the
// optional libraries it provides.
#ifndef VTNHOST_TABLES_H
#define VTNHOST_TABLES_H

#include "abi/vtn_os.h"

namespace vtnhost {

class Host;

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
