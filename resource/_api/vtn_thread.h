// The evaluation thread, which the host can ask to stop, and the host's workers.
#ifndef VTN_THREAD_H
#define VTN_THREAD_H

#include "abi/vtn_tables.h"

class BaseThread
{
public:
	BaseThread() = delete;
	// True when the host wants the work stopped.
	bool TestBreak();
};

// One run of chunks on the host's workers. The plug-in starts no thread of its
// own: the host's workers run the chunks while the caller watches.
class HostPool
{
public:
	typedef void (*Job)(void* context, Int64 chunk);
	// False when the host has no workers to give.
	bool Start(Job job, void* context, Int64 count);
	Int64 Done() const;
	void Stop();
	bool Wait(Int32 timeout_ms);
	~HostPool();

private:
	VtnPool* pool_ = nullptr;
};

#endif
