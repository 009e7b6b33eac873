#include "support/unit_host.h"

#include <gtest/gtest.h>

#include "vtn_pmain.h"

namespace {

vtnhost::Host* host = nullptr;
Recorder* recorder = nullptr;

class UnitHostEnvironment : public ::testing::Environment
{
public:
	void SetUp() override
	{
		host = new vtnhost::Host();
		recorder = new Recorder(*host);
		InitOS(host->table());
	}
	void TearDown() override
	{
		delete recorder;
		recorder = nullptr;
		delete host;
		host = nullptr;
	}
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new UnitHostEnvironment);

}  // namespace

vtnhost::Host& unitHost() { return *host; }
Recorder& unitRecorder() { return *recorder; }
