#include "scene_info.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <vector>

#include "cli_host.h"

namespace mvx {
namespace {

// The deformer's own account; first its counts, then every binding.
MorvexSummary summaryOf(vtnhost::Object& deformer, std::vector<MorvexBindingSummary>& entries)
{
	MorvexSummary s{};
	s.version = MORVEX_SUMMARY_VERSION;
	deformer.callMessage(MSG_MORVEX_SUMMARY, &s);
	if (s.filled && s.bindingCount > 0)
	{
		entries.assign(static_cast<size_t>(s.bindingCount), MorvexBindingSummary{});
		s = MorvexSummary{};
		s.version = MORVEX_SUMMARY_VERSION;
		s.capacity = static_cast<Int32>(entries.size());
		s.bindings = entries.data();
		deformer.callMessage(MSG_MORVEX_SUMMARY, &s);
		entries.resize(static_cast<size_t>(std::min(s.capacity, s.bindingCount)));
	}
	return s;
}

// What a summary says it cannot tell.
void requireReadable(const MorvexSummary& s, const std::string& path)
{
	if (!s.filled)
		throw Failure{path + ": the loaded plug-in does not describe its deformer"};
	if (!s.streamKnown)
		throw Failure{path + ": the deformer's data is of stream version " + std::to_string(s.streamVersion) +
		              ", which this plug-in cannot read"};
}

}  // namespace

void requireReadable(vtnhost::Object& deformer, const std::string& path)
{
	std::vector<MorvexBindingSummary> entries;
	requireReadable(summaryOf(deformer, entries), path);
}

std::string describeDeformer(vtnhost::Object& deformer, const std::string& path)
{
	std::vector<MorvexBindingSummary> entries;
	const MorvexSummary s = summaryOf(deformer, entries);
	requireReadable(s, path);
	std::ostringstream out;
	out << "deformer " << deformer.name << ", memory " << memoryText(&deformer) << "\n";
	out << "  " << s.bindingCount << " binding" << (s.bindingCount == 1 ? "" : "s") << "\n";
	for (const MorvexBindingSummary& b : entries)
	{
		const vtnhost::Node* object = b.object ? vtnhost::Node::from(b.object) : nullptr;
		out << "  - " << (object ? object->name : std::string("(missing)")) << ": " << b.pointCount << " bound points, cage of "
		    << b.cagePointCount << " points and " << b.faceCount << " faces, " << (b.insideOnly ? "inside points only" : "all points")
		    << "\n";
	}
	if (s.weightBytes > 0)
		out << "  weights: " << s.weightBytes << " bytes\n";
	if (s.restPointCount > 0)
	{
		char line[256];
		std::snprintf(line, sizeof line, "  rest pose: %d points in [%g %g %g] .. [%g %g %g], %d faces of total area %g\n",
		              s.restPointCount, s.restLow.x, s.restLow.y, s.restLow.z, s.restHigh.x, s.restHigh.y, s.restHigh.z,
		              s.restAreaCount, s.restAreaSum);
		out << line;
		std::snprintf(line, sizeof line, "  rest matrix: offset [%g %g %g]\n", s.restMatrix.off.x, s.restMatrix.off.y,
		              s.restMatrix.off.z);
		out << line;
	}
	else
		out << "  no rest pose\n";
	return out.str();
}

}  // namespace mvx
