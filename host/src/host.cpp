// The host object itself: one per process, the master table it hands to
// plug-ins, and the reports it keeps for its users.
#include "vtnhost/host.h"

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "tables/tables.h"
#include "vtnhost/recorder.h"
#include "workers.h"

namespace vtnhost {
namespace {

Host* the_host = nullptr;

}  // namespace

Host::Host()
{
	if (the_host)
		std::abort();  // the table slots reach the host through one global
	the_host = this;
	workers_ = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
	workerSet_ = std::make_unique<WorkerSet>();
	assembleMasterTable(&os_, *this);
}

Host::~Host()
{
	unloadPlugins();
	workerSet_.reset();
	the_host = nullptr;
}

Host& Host::current()
{
	if (!the_host)
		std::abort();
	return *the_host;
}

void Host::criticalStop(int line, const char* source)
{
	const std::string where = source ? source : "";
	error("critical stop: " + where + ":" + std::to_string(line));
	if (recorder_)
		recorder_->criticalStop(line, where);
}

void Host::setStatusBar(int p)
{
	statusBar_ = p;
	if (recorder_)
		recorder_->statusBar(p);
}

void Host::setMouse(int mode)
{
	if (recorder_)
		recorder_->mouse(mode);
}

void Host::addEvent()
{
	if (recorder_)
		recorder_->event();
}

}  // namespace vtnhost
