#include "support/recorder.h"

Recorder::Recorder(vtnhost::Host& host) : host_(host) { host_.attachRecorder(this); }

Recorder::~Recorder()
{
	if (host_.recorder() == this)
		host_.attachRecorder(nullptr);
}

size_t Recorder::messageCount(const vtnhost::Node* node, Int32 type) const
{
	size_t n = 0;
	for (const MessageRecord& m : messages)
		n += m.node == node->id() && m.type == type;
	return n;
}

void Recorder::message(const vtnhost::Node& node, Int32 type) { messages.push_back({node.id(), type}); }

bool Recorder::modelingCommand(Int32 command, const vtnhost::Object* op)
{
	modelingCommands.push_back({command, op ? op->id() : 0});
	return !failModeling;
}

void Recorder::statusBar(int percent)
{
	// A long bind reports often; the history keeps the changes, bounded.
	if ((statusHistory.empty() || statusHistory.back() != percent) && statusHistory.size() < 100000)
		statusHistory.push_back(percent);
}

void Recorder::mouse(int mode) { mouseHistory.push_back(mode); }
