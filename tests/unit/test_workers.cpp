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

#include "support/unit_host.h"
#include "vtn_thread.h"

namespace {

struct Tally
{
	std::vector<std::atomic<int>> runs;
	std::mutex mutex;
	std::set<std::thread::id> threads;
	explicit Tally(size_t n) : runs(n) {}
	static void Job(void* context, Int64 chunk)
	{
		auto& t = *static_cast<Tally*>(context);
		++t.runs[size_t(chunk)];
		std::lock_guard<std::mutex> lock(t.mutex);
		t.threads.insert(std::this_thread::get_id());
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
	void SetUp() override { before = unitHost().workerCount(); }
	void TearDown() override { unitHost().setWorkerCount(before); }
	int before = 0;
};

}  // namespace

TEST_F(Workers, EveryChunkRunsOnceOnTheSameFewThreads)
{
	for (int workers : {1, 2, 3})
	{
		unitHost().setWorkerCount(workers);
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
		EXPECT_EQ(tally.threads.count(std::this_thread::get_id()), 0u);
	}
}

TEST_F(Workers, RunsFromTwoThreadsShareTheWorkers)
{
	unitHost().setWorkerCount(2);
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
}

TEST_F(Workers, AStoppedRunStartsNoFurtherChunk)
{
	unitHost().setWorkerCount(2);
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
	unitHost().setWorkerCount(2);
	Tally tally(1);
	{
		HostPool pool;
		ASSERT_TRUE(pool.Start(Tally::Job, &tally, 0));
		EXPECT_TRUE(pool.Wait(0)) << "nothing to run: finished at once";
	}
	unitHost().setWorkerCount(0);
	HostPool none;
	EXPECT_FALSE(none.Start(Tally::Job, &tally, 10)) << "the caller runs the chunks itself then";
	EXPECT_EQ(tally.runs[0].load(), 0);
}
