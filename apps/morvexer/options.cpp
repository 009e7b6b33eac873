#include "options.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace mvx {

const RealRange kStrengthRange = {0.0, 1.0, "0 to 1"};
const RealRange kStretchRange = {0.0, std::numeric_limits<double>::max(), "0 or more"};
const RealRange kSafeDistanceRange = {0.0, std::numeric_limits<double>::max(), "0 or more"};
const RealRange kWeightRange = {0.0, 1.0, "0 to 1"};

std::string realProblem(const std::string& text, const RealRange& range)
{
	const char* first = text.data();
	const char* last = first + text.size();
	if (first != last && *first == '+')
		++first;
	double v = 0;
	const std::from_chars_result r = std::from_chars(first, last, v);
	if (text.empty() || r.ec == std::errc::invalid_argument || r.ptr != last || (first != text.data() && *first == '-'))
		return "'" + text + "' is not a number";
	if (r.ec == std::errc::result_out_of_range || !std::isfinite(v))
		return "'" + text + "' is not a finite number (" + range.text + ")";
	if (v < range.lo || v > range.hi)
		return "'" + text + "' is out of range: " + range.text;
	return {};
}

CLI::Option* addThreadsOption(CLI::App* command, int& threads)
{
	return command->add_option("--threads", threads, "threads that bind (default: every core)")->check(CLI::Range(1, kMaxThreads));
}

CLI::Validator within(const RealRange& range)
{
	return CLI::Validator([range](std::string& text) { return realProblem(text, range); }, range.text);
}

std::string deformProblem(const DeformOptions& o)
{
	if (o.scene.empty() == o.cage.empty())
		return "deform needs either --scene or --cage with --mesh";
	if (!o.scene.empty())
	{
		// A saved scene holds its meshes and their bindings already.
		if (!o.meshes.empty())
			return "--mesh has no effect with --scene: the scene's own meshes are deformed (bind again to change them)";
		if (o.insideOnly)
			return "--inside-only has no effect with --scene: it applies to a bind (with --cage)";
		if (o.force)
			return "--force has no effect with --scene: it applies to a bind (with --cage)";
	}
	else if (o.meshes.empty())
		return "deform --cage needs at least one --mesh";
	if (!o.frames.empty())
	{
		long long first = 0, last = 0, step = 0;
		if (!parseFrames(o.frames, &first, &last, &step))
			return "--frames '" + o.frames + "' is not A-B or A-B:STEP (whole numbers, A <= B, STEP >= 1)";
		if (o.posed.size() != 1)
			return "--frames needs exactly one --posed pattern, with {frame} (" + std::to_string(o.posed.size()) + " given)";
		// Without the placeholder every frame would read the same cage.
		if (o.posed[0].find("{frame") == std::string::npos)
			return "--frames needs {frame} in the --posed pattern: '" + o.posed[0] + "' names the same cage for every frame";
	}
	return {};
}

}  // namespace mvx
