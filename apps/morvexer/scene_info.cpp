#include "scene_info.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "cli_host.h"
#include "vtnhost/hyperfile.h"

namespace mvx {
namespace {

std::string objectAt(const vtnhost::Document& doc, uint64_t file_index)
{
	const std::vector<vtnhost::Object*> objects = doc.objects();
	return file_index >= 1 && file_index <= objects.size() ? objects[file_index - 1]->name : std::string("(missing)");
}

}  // namespace

// The block holds: version, binding count, per binding its version, bound
// points, cage points, faces, link and optional point selection; the weights;
// the rest points, rest areas and rest matrix.
std::string describeDeformer(const vtnhost::Document& doc, const vtnhost::Object& deformer)
{
	std::ostringstream out;
	out << "deformer " << deformer.name << ", memory " << memoryText(&deformer) << "\n";
	vtnhost::HyperStream s(deformer.loadedBlock);
	Int32 version = 0, count = 0;
	if (!s.readLong(&version) || !s.readLong(&count) || count < 0)
	{
		out << "  no binding data\n";
		return out.str();
	}
	out << "  " << count << " binding" << (count == 1 ? "" : "s") << "\n";
	for (Int32 i = 0; i < count; ++i)
	{
		Int32 rv = 0, points = 0, cage_points = 0, faces = 0, flag = 0, selected = 0;
		uint64_t link = 0;
		if (!s.readLong(&rv) || !s.readLong(&points) || !s.readLong(&cage_points) || !s.readLong(&faces) || !s.readLink(&link))
			return out.str() + "  (damaged binding data)\n";
		if (rv > 1 && !s.readLong(&flag))
			return out.str() + "  (damaged binding data)\n";
		if (flag == 1)
		{
			if (!s.readLong(&selected))
				return out.str() + "  (damaged binding data)\n";
			for (Int32 k = 0, v = 0; k < selected; ++k)
				if (!s.readLong(&v))
					return out.str() + "  (damaged binding data)\n";
		}
		out << "  - " << objectAt(doc, link) << ": " << points << " bound points, cage of " << cage_points << " points and " << faces
		    << " faces, " << (flag == 1 ? "inside points only" : "all points") << "\n";
	}
	Int32 weights = 0;
	std::vector<uint8_t> block;
	if (s.readLong(&weights) && weights > 0 && s.readMemory(&block))
		out << "  weights: " << block.size() << " bytes compressed\n";
	Int32 rest = 0;
	if (s.readLong(&rest) && rest > 0)
	{
		LVector lo{1e300, 1e300, 1e300}, hi{-1e300, -1e300, -1e300}, p;
		for (Int32 k = 0; k < rest && s.readVector(&p); ++k)
		{
			lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
			hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
		}
		Int32 areas = 0;
		double total = 0, a = 0;
		if (s.readLong(&areas))
			for (Int32 k = 0; k < areas && s.readReal(&a); ++k)
				total += a;
		char line[256];
		std::snprintf(line, sizeof line, "  rest pose: %d points in [%g %g %g] .. [%g %g %g], %d faces of total area %g\n", rest, lo.x,
		              lo.y, lo.z, hi.x, hi.y, hi.z, areas, total);
		out << line;
		LMatrix m;
		if (version > 1 && s.readMatrix(&m))
		{
			std::snprintf(line, sizeof line, "  rest matrix: offset [%g %g %g]\n", m.off.x, m.off.y, m.off.z);
			out << line;
		}
	}
	else
		out << "  no rest pose\n";
	return out.str();
}

}  // namespace mvx
