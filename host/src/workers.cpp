// The host's workers: a run of chunks handed out in order to a fixed number of
// threads, watched by the thread that started it.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "tables.h"
#include "vtnhost/host.h"

struct VtnPool
{
	void (*job)(void*, Int64) = nullptr;
	void* context = nullptr;
	Int64 count = 0;
	std::atomic<Int64> next{0};
	std::atomic<Int64> done{0};
	std::atomic<bool> stop{false};
	std::mutex mutex;
	std::condition_variable idle;
	int running = 0;
	std::vector<std::thread> threads;

	void work()
	{
		for (;;)
		{
			if (stop)
				break;
			const Int64 chunk = next++;
			if (chunk >= count)
				break;
			job(context, chunk);
			++done;
		}
		std::lock_guard<std::mutex> lock(mutex);
		if (--running == 0)
			idle.notify_all();
	}
};

namespace vtnhost {
namespace {

VtnPool* PoolStart(void (*job)(void*, Int64), void* context, Int64 count)
{
	const int workers = Host::current().workerCount();
	if (!job || count < 0 || workers <= 0)
		return nullptr;
	auto* pool = new VtnPool();
	pool->job = job;
	pool->context = context;
	pool->count = count;
	pool->running = workers;
	for (int i = 0; i < workers; ++i)
		pool->threads.emplace_back([pool] { pool->work(); });
	return pool;
}

Int64 PoolDone(VtnPool* pool) { return pool ? pool->done.load() : 0; }

void PoolStop(VtnPool* pool)
{
	if (pool)
		pool->stop = true;
}

bool PoolWait(VtnPool* pool, Int32 timeout_ms)
{
	if (!pool)
		return true;
	std::unique_lock<std::mutex> lock(pool->mutex);
	return pool->idle.wait_for(lock, std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms), [pool] { return pool->running == 0; });
}

void PoolFree(VtnPool* pool)
{
	if (!pool)
		return;
	for (std::thread& t : pool->threads)
		t.join();
	delete pool;
}

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
