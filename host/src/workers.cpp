#include "workers.h"

#include <algorithm>
#include <atomic>
#include <chrono>

#include "tables/tables.h"
#include "vtnhost/host.h"

struct VtnPool
{
	void (*job)(void*, Int64) = nullptr;
	void* context = nullptr;
	Int64 count = 0;
	std::atomic<Int64> next{0};
	std::atomic<Int64> done{0};
	std::atomic<bool> stop{false};
	// Guarded by the set's mutex.
	int inside = 0;         // workers taking its chunks
	bool queued = false;    // still handed out
	bool finished = false;  // no chunk running, none to come
};

namespace vtnhost {

namespace {

// Set on the workers' own threads: a run started from a job must not resize
// the set, which would mean joining the very thread that asks.
thread_local bool on_worker = false;

}  // namespace

WorkerSet::~WorkerSet()
{
	std::unique_lock<std::mutex> lock(mutex_);
	idle_.wait(lock, [this] { return unfinished_ == 0 && !resizing_; });
	resize(0, lock);
}

void WorkerSet::resize(int threads, std::unique_lock<std::mutex>& lock)
{
	// Other starters wait while the lock is let go for the joins.
	resizing_ = true;
	if (!threads_.empty())
	{
		quit_ = true;
		wake_.notify_all();
		std::vector<std::thread> old = std::move(threads_);
		threads_.clear();
		lock.unlock();
		for (std::thread& t : old)
			t.join();
		lock.lock();
		quit_ = false;
	}
	for (int i = 0; i < threads; ++i)
		threads_.emplace_back([this] {
			on_worker = true;
			run();
		});
	resizing_ = false;
	idle_.notify_all();
}

void WorkerSet::run()
{
	std::unique_lock<std::mutex> lock(mutex_);
	for (;;)
	{
		wake_.wait(lock, [this] { return quit_ || !queued_.empty(); });
		if (quit_)
			return;
		VtnPool* pool = queued_.front();
		++pool->inside;
		lock.unlock();
		// Chunks are taken without the lock: one atomic step each.
		while (!pool->stop)
		{
			const Int64 chunk = pool->next++;
			if (chunk >= pool->count)
				break;
			pool->job(pool->context, chunk);
			++pool->done;
		}
		lock.lock();
		// Nothing left to hand out: no worker may join this run any more.
		if (pool->queued)
		{
			pool->queued = false;
			queued_.erase(std::find(queued_.begin(), queued_.end(), pool));
		}
		if (--pool->inside == 0)
		{
			pool->finished = true;
			--unfinished_;
			finished_.notify_all();
			idle_.notify_all();
		}
	}
}

VtnPool* WorkerSet::start(void (*job)(void*, Int64), void* context, Int64 count, int threads)
{
	if (!job || count < 0 || threads <= 0)
		return nullptr;
	std::unique_lock<std::mutex> lock(mutex_);
	idle_.wait(lock, [this] { return !resizing_; });
	if (static_cast<int>(threads_.size()) != threads && unfinished_ == 0 && !on_worker)
		resize(threads, lock);
	auto* pool = new VtnPool();
	pool->job = job;
	pool->context = context;
	pool->count = count;
	if (count == 0)
		pool->finished = true;
	else
	{
		pool->queued = true;
		++unfinished_;
		queued_.push_back(pool);
		wake_.notify_all();
	}
	return pool;
}

Int64 WorkerSet::done(const VtnPool* pool) { return pool ? pool->done.load() : 0; }

void WorkerSet::stop(VtnPool* pool)
{
	if (pool)
		pool->stop = true;
}

bool WorkerSet::wait(VtnPool* pool, Int32 timeout_ms)
{
	if (!pool)
		return true;
	std::unique_lock<std::mutex> lock(mutex_);
	return finished_.wait_for(lock, std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms), [pool] { return pool->finished; });
}

void WorkerSet::free(VtnPool* pool)
{
	if (!pool)
		return;
	{
		std::unique_lock<std::mutex> lock(mutex_);
		finished_.wait(lock, [pool] { return pool->finished; });
	}
	delete pool;
}

namespace {

VtnPool* PoolStart(void (*job)(void*, Int64), void* context, Int64 count)
{
	Host& host = Host::current();
	return host.workerSet().start(job, context, count, host.workerCount());
}

Int64 PoolDone(VtnPool* pool) { return WorkerSet::done(pool); }
void PoolStop(VtnPool* pool) { WorkerSet::stop(pool); }
bool PoolWait(VtnPool* pool, Int32 timeout_ms) { return Host::current().workerSet().wait(pool, timeout_ms); }
void PoolFree(VtnPool* pool) { Host::current().workerSet().free(pool); }

}  // namespace

void installWorkerSlots(VTN_Thread* table)
{
	table->PoolStart = PoolStart;
	table->PoolDone = PoolDone;
	table->PoolStop = PoolStop;
	table->PoolWait = PoolWait;
	table->PoolFree = PoolFree;
}

}  // namespace vtnhost
