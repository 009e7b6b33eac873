// The host's fixed set of worker threads. Plug-ins hand it runs of chunks
// (pools); every worker takes the next chunk of the oldest run that has any,
// so runs started from several threads share the same workers.
#ifndef VTNHOST_WORKERS_H
#define VTNHOST_WORKERS_H

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "abi/vtn_types.h"

struct VtnPool;

namespace vtnhost {

class WorkerSet
{
public:
	WorkerSet() = default;
	WorkerSet(const WorkerSet&) = delete;
	WorkerSet& operator=(const WorkerSet&) = delete;
	~WorkerSet();

	// A run of `count` chunks on `threads` workers; null when there are none.
	// The set takes a new size only when no run is unfinished and the caller
	// is not one of its workers; until then runs go to the workers it has. A
	// job must not wait for another run: the workers it would need may all be
	// busy.
	VtnPool* start(void (*job)(void*, Int64), void* context, Int64 count, int threads);
	static Int64 done(const VtnPool* pool);
	static void stop(VtnPool* pool);
	// True once no chunk of the run is running and none will start.
	bool wait(VtnPool* pool, Int32 timeout_ms);
	// Waits for the run, then releases it.
	void free(VtnPool* pool);

private:
	void run();
	void resize(int threads, std::unique_lock<std::mutex>& lock);

	std::mutex mutex_;
	std::condition_variable wake_;      // a run was queued, or the workers must quit
	std::condition_variable finished_;  // a run finished
	std::condition_variable idle_;      // a resize ended, or the last unfinished run finished
	std::vector<std::thread> threads_;
	std::deque<VtnPool*> queued_;       // runs with chunks still to hand out, oldest first
	bool quit_ = false;
	bool resizing_ = false;  // the lock is let go while old workers are joined
	int unfinished_ = 0;     // runs started and not finished
};

}  // namespace vtnhost

#endif
