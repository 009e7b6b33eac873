// Unit tests compile the plug-in's layer into the test binary; this host is
// installed as its master table once, for the whole binary, with a recorder.
#ifndef MORVEXER_TESTS_UNIT_HOST_H
#define MORVEXER_TESTS_UNIT_HOST_H

#include "support/recorder.h"
#include "vtnhost/host.h"

vtnhost::Host& unitHost();
// Attached to unitHost() for the whole binary.
Recorder& unitRecorder();

#endif
