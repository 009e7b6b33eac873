// The host's workers as the plug-in sees them: every chunk of a run exactly
// once, on a fixed set of threads, runs from several threads at once, and a
// stopped run that starts no chunk after it has stopped.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "abi/vtn_os.h"
#include "host/host_environment.h"

namespace {

// One run on the host's workers through the thread sub-table's slots, as the
// plug-in's layer drives them.
class HostPool
{
public:
	using Job = void (*)(void* context, Int64 chunk);
	bool Start(Job job, void* context, Int64 count)
	{
		pool_ = t()->PoolStart ? t()->PoolStart(job, context, count) : nullptr;
		return pool_ != nullptr;
	}
	Int64 Done() const { return pool_ ? t()->PoolDone(pool_) : 0; }
	void Stop()
	{
		if (pool_)
			t()->PoolStop(pool_);
	}
	bool Wait(Int32 timeout_ms) { return !pool_ || t()->PoolWait(pool_, timeout_ms); }
	~HostPool()
	{
		if (pool_)
			t()->PoolFree(pool_);
	}

private:
	static VTN_Thread* t() { return testHost().table()->thread; }
	VtnPool* pool_ = nullptr;
};

// A number for each thread that ever runs a chunk: unlike thread ids, which
// the system hands out again once a thread has been joined, never reused.
int threadSerial()
{
	static std::atomic<int> next{0};
	thread_local const int serial = next++;
	return serial;
}

struct Tally
{
	std::vector<std::atomic<int>> runs;
	std::mutex mutex;
	std::set<int> threads;
	explicit Tally(size_t n) : runs(n) {}
	static void Job(void* context, Int64 chunk)
	{
		auto& t = *static_cast<Tally*>(context);
		++t.runs[size_t(chunk)];
		std::lock_guard<std::mutex> lock(t.mutex);
		t.threads.insert(threadSerial());
	}
};

bool runToEnd(HostPool& pool)
{
	for (int i = 0; i < 1000; ++i)
		if (pool.Wait(50))
			return true;
	return false;
}

class Workers : public ::testing::Test
{
protected:
	void SetUp() override { before = testHost().workerCount(); }
	void TearDown() override { testHost().setWorkerCount(before); }
	int before = 0;
};

}  // namespace

TEST_F(Workers, EveryChunkRunsOnceOnTheSameFewThreads)
{
	for (int workers : {1, 2, 3})
	{
		testHost().setWorkerCount(workers);
		Tally tally(250);
		for (int run = 0; run < 20; ++run)
		{
			HostPool pool;
			ASSERT_TRUE(pool.Start(Tally::Job, &tally, 250));
			ASSERT_TRUE(runToEnd(pool));
			EXPECT_EQ(pool.Done(), 250);
		}
		// Each run numbers its chunks from 0: 20 runs of 250 touch the first 250, 20 times.
		for (size_t c = 0; c < 250; ++c)
			ASSERT_EQ(tally.runs[c].load(), 20) << "chunk " << c;
		EXPECT_LE(tally.threads.size(), size_t(workers)) << "20 runs, the same " << workers << " worker(s)";
		EXPECT_EQ(tally.threads.count(threadSerial()), 0u);
	}
}

TEST_F(Workers, RunsFromTwoThreadsShareTheWorkers)
{
	testHost().setWorkerCount(2);
	Tally a(4000), b(4000);
	auto drive = [](Tally* t, bool* ok) {
		HostPool pool;
		*ok = pool.Start(Tally::Job, t, 4000) && runToEnd(pool) && pool.Done() == 4000;
	};
	bool ok_a = false, ok_b = false;
	std::thread other(drive, &b, &ok_b);
	drive(&a, &ok_a);
	other.join();
	EXPECT_TRUE(ok_a);
	EXPECT_TRUE(ok_b);
	for (size_t c = 0; c < 4000; ++c)
		ASSERT_TRUE(a.runs[c] == 1 && b.runs[c] == 1) << "chunk " << c;
	std::set<int> both = a.threads;
	both.insert(b.threads.begin(), b.threads.end());
	EXPECT_LE(both.size(), 2u) << "both runs on the same two workers";
}

// A run of two chunks: chunk 0 ends at once, so its worker finds nothing
// more to take and lets the run go; chunk 1 waits until told.
struct HeldRun
{
	std::atomic<bool> go{false};
	std::atomic<int> done{0};
	void (*then)(HeldRun&) = nullptr;  // what chunk 1 does once the other worker let go
	static void Job(void* context, Int64 chunk)
	{
		auto& h = *static_cast<HeldRun*>(context);
		if (chunk == 1)
		{
			while (h.done == 0)
				std::this_thread::yield();
			std::this_thread::sleep_for(std::chrono::milliseconds(5));
			if (h.then)
				h.then(h);
			while (!h.go)
				std::this_thread::yield();
		}
		++h.done;
	}
};

TEST_F(Workers, ANewCountWaitsForTheRunsUnderWay)
{
	testHost().setWorkerCount(2);
	HeldRun held;
	HostPool first;
	ASSERT_TRUE(first.Start(HeldRun::Job, &held, 2));
	while (held.done == 0)
		std::this_thread::yield();
	std::this_thread::sleep_for(std::chrono::milliseconds(10));
	// A new count, and a second run from another thread, while chunk 1 is held:
	// the second run goes to the workers there are, without waiting.
	testHost().setWorkerCount(3);
	Tally tally(100);
	std::atomic<bool> second_done{false};
	bool ended_while_held = false;
	std::thread other([&] {
		HostPool second;
		EXPECT_TRUE(second.Start(Tally::Job, &tally, 100) && runToEnd(second));
		ended_while_held = !held.go;
		second_done = true;
	});
	for (int i = 0; i < 500 && !second_done; ++i)
		std::this_thread::sleep_for(std::chrono::milliseconds(1));
	held.go = true;
	other.join();
	ASSERT_TRUE(runToEnd(first));
	EXPECT_EQ(held.done.load(), 2);
	EXPECT_TRUE(ended_while_held) << "the second run waited for the first";
	for (size_t c = 0; c < 100; ++c)
		ASSERT_EQ(tally.runs[c].load(), 1) << "chunk " << c;
	EXPECT_LE(tally.threads.size(), 2u) << "the second run went to the two workers there were";
	// Once nothing is under way, the next run gets the three workers.
	Tally after(3000);
	HostPool third;
	ASSERT_TRUE(third.Start(Tally::Job, &after, 3000));
	ASSERT_TRUE(runToEnd(third));
	EXPECT_LE(after.threads.size(), 3u);
}

TEST_F(Workers, AJobMayStartARunOfItsOwn)
{
	testHost().setWorkerCount(2);
	static Tally inner(50);
	static std::atomic<bool> inner_ok{false};
	HeldRun held;
	// From a worker, with a new count asked: the set must not join the very
	// thread that asks.
	held.then = [](HeldRun& h) {
		testHost().setWorkerCount(3);
		HostPool pool;
		inner_ok = pool.Start(Tally::Job, &inner, 50) && runToEnd(pool);
		h.go = true;
	};
	HostPool outer;
	ASSERT_TRUE(outer.Start(HeldRun::Job, &held, 2));
	ASSERT_TRUE(runToEnd(outer));
	EXPECT_TRUE(inner_ok);
	for (size_t c = 0; c < 50; ++c)
		ASSERT_EQ(inner.runs[c].load(), 1) << "chunk " << c;
}

TEST_F(Workers, AStoppedRunStartsNoFurtherChunk)
{
	testHost().setWorkerCount(2);
	struct Slow
	{
		std::atomic<Int64> started{0};
		static void Job(void* context, Int64)
		{
			++static_cast<Slow*>(context)->started;
			std::this_thread::sleep_for(std::chrono::milliseconds(1));
		}
	} slow;
	HostPool pool;
	ASSERT_TRUE(pool.Start(Slow::Job, &slow, 100000));
	while (slow.started < 4)
		std::this_thread::yield();
	pool.Stop();
	ASSERT_TRUE(runToEnd(pool));
	const Int64 started = slow.started;
	EXPECT_LT(started, 100000);
	EXPECT_EQ(pool.Done(), started) << "every chunk that started also finished";
	std::this_thread::sleep_for(std::chrono::milliseconds(20));
	EXPECT_EQ(slow.started.load(), started);
}

TEST_F(Workers, EmptyRunsAndNoWorkers)
{
	testHost().setWorkerCount(2);
	Tally tally(1);
	{
		HostPool pool;
		ASSERT_TRUE(pool.Start(Tally::Job, &tally, 0));
		EXPECT_TRUE(pool.Wait(0)) << "nothing to run: finished at once";
	}
	testHost().setWorkerCount(0);
	HostPool none;
	EXPECT_FALSE(none.Start(Tally::Job, &tally, 10)) << "the caller runs the chunks itself then";
	EXPECT_EQ(tally.runs[0].load(), 0);
}
