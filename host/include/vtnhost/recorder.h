// What a host's user may watch while plug-ins work: every message sent to a
// node, every modeling command asked for, each percentage of the status bar,
// each pointer mode, redraw requests and critical stops. The host keeps none
// of this history itself; it tells the recorder attached to it
// (Host::attachRecorder), if any. The tests attach one that keeps it all.
#ifndef VTNHOST_RECORDER_H
#define VTNHOST_RECORDER_H

#include <string>

#include "abi/vtn_types.h"

namespace vtnhost {

class Node;
class Object;

class HostRecorder
{
public:
	virtual ~HostRecorder() = default;
	virtual void message(const Node&, Int32 /*type*/) {}
	// Before the host carries the command out (op null when the data names no
	// object of the host); false makes the command fail as a modeler that
	// cannot do it would.
	virtual bool modelingCommand(Int32 /*command*/, const Object* /*op*/) { return true; }
	virtual void statusBar(int /*percent*/) {}
	virtual void mouse(int /*mode*/) {}
	virtual void event() {}
	virtual void criticalStop(int /*line*/, const std::string& /*source*/) {}
};

}  // namespace vtnhost

#endif
