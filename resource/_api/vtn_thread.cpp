#include "vtn_thread.h"

#include "vtn_pmain.h"

bool BaseThread::TestBreak() { return t_VTNOS->thread->TestBreak(this); }

bool HostPool::Start(Job job, void* context, Int64 count)
{
	VTN_Thread* t = t_VTNOS->thread;
	pool_ = t->PoolStart ? t->PoolStart(job, context, count) : nullptr;
	return pool_ != nullptr;
}
Int64 HostPool::Done() const { return pool_ ? t_VTNOS->thread->PoolDone(pool_) : 0; }
void HostPool::Stop()
{
	if (pool_)
		t_VTNOS->thread->PoolStop(pool_);
}
bool HostPool::Wait(Int32 timeout_ms) { return !pool_ || t_VTNOS->thread->PoolWait(pool_, timeout_ms); }
HostPool::~HostPool()
{
	if (pool_)
		t_VTNOS->thread->PoolFree(pool_);
}
