// The commands of the morvexer tool. Each returns the process exit code
// and reports a failure as one line on stderr.
#ifndef MORVEXER_COMMANDS_H
#define MORVEXER_COMMANDS_H

#include <optional>
#include <string>
#include <vector>

namespace mvx {

// Exit codes, as the README lists them.
enum ExitCode
{
	kExitSuccess = 0,
	kExitFailure = 1,
	kExitUsage = 2,
	kExitOutside = 3,       // check --fail-outside: a point lies outside the cage
	kExitInterrupted = 130, // Ctrl-C: the shells' code for a SIGINT
};

struct CommonOptions
{
	std::string plugin;
	bool quiet = false;
	int threads = 0;  // binding workers; 0: every core
};

struct BindOptions
{
	std::string cage;
	std::vector<std::string> meshes;
	bool insideOnly = false;
	bool force = false;
	std::string out;
};

struct DeformOptions
{
	std::string scene;  // or cage + meshes for bind-and-deform
	std::string cage;
	std::vector<std::string> meshes;
	std::vector<std::string> posed;
	std::string frames;  // "A-B" or "A-B:STEP" with a {frame} pattern in posed
	std::optional<double> strength;
	std::optional<double> stretch;
	std::string weights;
	bool insideOnly = false;
	bool force = false;
	std::string out;
};

struct CheckOptions
{
	std::string cage;
	std::string mesh;
	std::optional<double> safeDistance;
	std::string json;
	bool force = false;
	bool failOutside = false;  // exit kExitOutside when a point lies outside
};

struct DemoOptions
{
	std::string out = "morvexer-demo";
};

int runBind(const CommonOptions& common, const BindOptions& options);
int runDeform(const CommonOptions& common, const DeformOptions& options);
int runCheck(const CommonOptions& common, const CheckOptions& options);
int runInfo(const CommonOptions& common, const std::string& scene);
int runDemo(const CommonOptions& common, const DemoOptions& options);

// "1-240" or "1-240:5"; false when malformed or beyond 64 bits.
bool parseFrames(const std::string& text, long long* first, long long* last, long long* step);

}  // namespace mvx

#endif
