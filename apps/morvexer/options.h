// What the tool accepts as option values, and which options go together. A
// value out of its range or an option that would be ignored is a usage error
// (exit 2) with one line naming the option, the value and what is allowed.
#ifndef MORVEXER_OPTIONS_H
#define MORVEXER_OPTIONS_H

#include <CLI/CLI.hpp>

#include <string>

#include "commands.h"

namespace mvx {

// A closed interval of finite reals, with how the help and the errors show it.
struct RealRange
{
	double lo, hi;
	const char* text;
};

// Strength blends rest (0) to full (1); stretch applies fully from 1 up, so
// any finite value from 0 is meaningful; a safe distance is a length; a
// restriction weight is a share of the movement.
extern const RealRange kStrengthRange;
extern const RealRange kStretchRange;
extern const RealRange kSafeDistanceRange;
extern const RealRange kWeightRange;

// The tool's threads: enough for any machine it runs on, few enough that
// starting them cannot exhaust the process.
constexpr int kMaxThreads = 256;

// Empty when text is one finite number within range (the whole text);
// otherwise the problem, quoting the text, e.g. "'1e30' is out of range: 0 to 1".
std::string realProblem(const std::string& text, const RealRange& range);

// The --threads option of every command that binds: 1 to kMaxThreads.
CLI::Option* addThreadsOption(CLI::App* command, int& threads);

// realProblem as a CLI11 check, so the parser names the option.
CLI::Validator within(const RealRange& range);

// The first option of deform that contradicts another or would have no
// effect with the inputs chosen; empty when the combination is sound.
std::string deformProblem(const DeformOptions& o);

}  // namespace mvx

#endif
