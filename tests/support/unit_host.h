// Unit tests compile the plug-in's layer into the test binary; this host is
// installed as its master table once, for the whole binary.
#ifndef MORVEXER_TESTS_UNIT_HOST_H
#define MORVEXER_TESTS_UNIT_HOST_H

#include "vtnhost/host.h"

vtnhost::Host& unitHost();

#endif
