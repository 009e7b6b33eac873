// The host's own tests drive the stand-in host alone, as a plug-in would
// through its master table, without any plug-in code in the binary. One host
// serves the whole binary (a process holds one at a time).
#ifndef MORVEXER_TESTS_HOST_ENVIRONMENT_H
#define MORVEXER_TESTS_HOST_ENVIRONMENT_H

#include "vtnhost/host.h"

vtnhost::Host& testHost();

#endif
