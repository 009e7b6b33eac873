// Keeps everything a host tells its recorder, for the tests to look at, and
// makes modeling commands fail on request. Attached to a host for its own
// lifetime.
#ifndef MORVEXER_TESTS_RECORDER_H
#define MORVEXER_TESTS_RECORDER_H

#include <cstdint>
#include <string>
#include <vector>

#include "vtnhost/host.h"
#include "vtnhost/recorder.h"

class Recorder : public vtnhost::HostRecorder
{
public:
	explicit Recorder(vtnhost::Host& host);
	~Recorder() override;
	Recorder(const Recorder&) = delete;
	Recorder& operator=(const Recorder&) = delete;

	struct MessageRecord
	{
		uint64_t node;
		Int32 type;
	};
	struct ModelingRecord
	{
		Int32 command;
		uint64_t node;  // 0 when the command named no object
	};
	struct CriticalStop
	{
		int line;
		std::string source;
	};

	// Messages sent to nodes, in order; how many of one type one node got.
	std::vector<MessageRecord> messages;
	size_t messageCount(const vtnhost::Node* node, Int32 type) const;
	// Modeling commands asked for, in order; every one fails while failModeling is set.
	std::vector<ModelingRecord> modelingCommands;
	bool failModeling = false;
	// The status bar's percentages, each change once, in order.
	std::vector<int> statusHistory;
	std::vector<int> mouseHistory;
	int events = 0;
	std::vector<CriticalStop> criticalStops;

	void message(const vtnhost::Node& node, Int32 type) override;
	bool modelingCommand(Int32 command, const vtnhost::Object* op) override;
	void statusBar(int percent) override;
	void mouse(int mode) override;
	void event() override { ++events; }
	void criticalStop(int line, const std::string& source) override { criticalStops.push_back({line, source}); }

private:
	vtnhost::Host& host_;
};

#endif
