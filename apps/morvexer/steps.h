// The long steps of a command (reading, checking, binding, loading, deforming,
// writing) as the user sees them: each one's name and progress on a bar on
// stderr, and Ctrl-C acted on within a fraction of a second in every one.
#ifndef MORVEXER_STEPS_H
#define MORVEXER_STEPS_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace vtnhost {
class Host;
class Thread;
}  // namespace vtnhost

namespace mvx {

// Thrown once Ctrl-C has stopped a step; the command exits with
// kExitInterrupted and must have left no partial output behind.
struct Interrupted
{
	std::string step;
};

// Says on stderr which step Ctrl-C stopped and what became of the outputs
// ("nothing was written"); returns kExitInterrupted.
int reportInterrupted(const std::string& step, const std::string& outputs);

// What the work of a step shares with the bar, and the question it asks in
// its loop: whether the user pressed Ctrl-C. Safe to use from any thread.
class Progress
{
public:
	// name: the step's, as the bar shows it.
	explicit Progress(std::string name);
	// part of whole is done; cheap enough for every few thousand items.
	void report(uint64_t part, uint64_t whole);
	static bool stopRequested();
	int percent() const;

private:
	friend class StepRunner;
	const std::string name_;
	std::atomic<int> percent_{-1};  // written by the work, read by the bar
	bool held_;
};

// How a step ends when the user presses Ctrl-C.
enum class StopBy
{
	Itself,   // the work asks Progress::stopRequested() or is given a host thread to break
	Abandon,  // the work cannot be stopped and writes nothing: the tool ends at once
};

class StepRunner
{
public:
	// The bar is drawn on a terminal unless quiet; host, when given, is the
	// source of the bar for steps that run in the host (its status text and bar).
	StepRunner(bool quiet, vtnhost::Host* host = nullptr);

	// Runs work(progress) on a thread of its own and waits for it. Throws
	// Interrupted when Ctrl-C came before or during the step (its result is
	// then to be dropped), and whatever the work threw.
	void run(const std::string& name, const std::function<void(Progress&)>& work, StopBy stop = StopBy::Itself,
	         vtnhost::Thread* thread = nullptr);

	// Ctrl-C from now on asks the running step to stop instead of ending the tool.
	static void installInterruptHandler();

private:
	bool bar_;
	vtnhost::Host* host_;
};

}  // namespace mvx

#endif
