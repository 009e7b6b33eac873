#include "support/unit_host.h"

#include <gtest/gtest.h>

#include "vtn_pmain.h"

namespace {

vtnhost::Host* host = nullptr;

class UnitHostEnvironment : public ::testing::Environment
{
public:
	void SetUp() override
	{
		host = new vtnhost::Host();
		InitOS(host->table());
	}
	void TearDown() override
	{
		delete host;
		host = nullptr;
	}
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new UnitHostEnvironment);

}  // namespace

vtnhost::Host& unitHost() { return *host; }
