#include "steps.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "commands.h"
#include "vtnhost/host.h"
#include "vtnhost/platform.h"

namespace mvx {
namespace {

std::atomic<bool> interrupted{false};

void onInterrupt() { interrupted = true; }

// The runner looks this often for Ctrl-C and redraws the bar: well inside the
// half second a user waits before pressing again.
const std::chrono::milliseconds kPoll(20);

// A hidden hook for the tests: with MORVEXER_TEST_STEPS set, every step says
// "step: NAME" on stderr when it starts, so a test can send Ctrl-C in the
// step it means without guessing a time; when the variable's value begins the
// step's name, the step also holds at its first progress report until Ctrl-C,
// so the test cannot miss it on a slow machine.
const char* testSteps() { return std::getenv("MORVEXER_TEST_STEPS"); }

void drawProgress(const std::string& text, int percent)
{
	const int width = 30, filled = percent * width / 100;
	std::fprintf(stderr, "\r%-32.32s [%.*s%*s] %3d%%", text.c_str(), filled, "##############################", width - filled, "",
	             percent);
	std::fflush(stderr);
}

}  // namespace

int reportInterrupted(const std::string& step, const std::string& outputs)
{
	std::fprintf(stderr, "interrupted: Ctrl-C while %s; %s\n", step.c_str(), outputs.c_str());
	return kExitInterrupted;
}

Progress::Progress(std::string name) : name_(std::move(name))
{
	const char* hook = testSteps();
	held_ = hook && *hook && name_.compare(0, std::char_traits<char>::length(hook), hook) == 0;
}

void Progress::report(uint64_t part, uint64_t whole)
{
	const int p = whole == 0 ? 0 : static_cast<int>(static_cast<double>(part) * 100.0 / static_cast<double>(whole));
	percent_ = p < 0 ? 0 : p > 100 ? 100 : p;
	if (held_)
	{
		held_ = false;
		std::fprintf(stderr, "held: %s\n", name_.c_str());
		while (!stopRequested())
			std::this_thread::sleep_for(kPoll);
	}
}

bool Progress::stopRequested() { return interrupted.load(std::memory_order_relaxed); }

int Progress::percent() const { return percent_; }

StepRunner::StepRunner(bool quiet, vtnhost::Host* host) : bar_(!quiet && vtnhost::platform::isTerminal(stderr)), host_(host) {}

void StepRunner::installInterruptHandler() { vtnhost::platform::onInterrupt(onInterrupt); }

void StepRunner::run(const std::string& name, const std::function<void(Progress&)>& work, StopBy stop, vtnhost::Thread* thread)
{
	if (interrupted)
		throw Interrupted{name};
	Progress progress(name);
	if (testSteps())
		std::fprintf(stderr, "step: %s\n", name.c_str());
	std::mutex mutex;
	std::condition_variable ended;
	bool done = false;
	// An exception must not end the worker thread (that would end the program
	// without a word); it is thrown again here, once the worker has stopped.
	std::exception_ptr thrown;
	std::thread worker([&] {
		try
		{
			// A step that reports nothing itself (one the host runs, or one that
			// cannot stop) is held, for the tests, at its start.
			if (stop == StopBy::Abandon || thread)
			{
				progress.report(0, 1);
				// Held until Ctrl-C: the host's work sees the break from its first look.
				if (thread && Progress::stopRequested())
					thread->requestBreak();
			}
			work(progress);
		}
		catch (...)
		{
			thrown = std::current_exception();
		}
		std::lock_guard<std::mutex> lock(mutex);
		done = true;
		ended.notify_all();
	});
	bool shown = false;
	// A step that ends at once costs no wait: a sequence runs thousands.
	auto finished = [&] {
		std::unique_lock<std::mutex> lock(mutex);
		return ended.wait_for(lock, kPoll, [&] { return done; });
	};
	while (!finished())
	{
		if (interrupted)
		{
			if (stop == StopBy::Abandon)
			{
				// Nothing of this step is on disk, and the work has no way to
				// stop: ending the process is the clean way out.
				if (shown)
					std::fprintf(stderr, "\n");
				std::fflush(stdout);
				std::_Exit(reportInterrupted(name, "nothing was written"));
			}
			if (thread)
				thread->requestBreak();
		}
		if (!bar_)
			continue;
		// A step in the host names itself on the host's status line.
		const std::string status = host_ && thread ? host_->statusText() : std::string();
		const int percent = !status.empty() ? host_->statusBar() : progress.percent();
		drawProgress(status.empty() ? name : status, percent < 0 ? 0 : percent);
		shown = true;
	}
	worker.join();
	if (shown)
	{
		drawProgress(interrupted ? "interrupted" : "done", interrupted ? std::max(0, progress.percent()) : 100);
		std::fprintf(stderr, "\n");
	}
	if (thrown && !interrupted)
		std::rethrow_exception(thrown);
	if (interrupted)
		throw Interrupted{name};
}

}  // namespace mvx
