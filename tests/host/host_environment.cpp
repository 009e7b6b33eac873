#include "host/host_environment.h"

#include <gtest/gtest.h>

namespace {

vtnhost::Host* host = nullptr;

class HostEnvironment : public ::testing::Environment
{
public:
	void SetUp() override { host = new vtnhost::Host(); }
	void TearDown() override
	{
		delete host;
		host = nullptr;
	}
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new HostEnvironment);

}  // namespace

vtnhost::Host& testHost() { return *host; }
