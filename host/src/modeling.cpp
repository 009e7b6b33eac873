// Faces of any size, the triangulation behind modeling command 221, and the
// command itself.
#include <algorithm>

#include "vtnhost/host.h"
#include "vtnhost/recorder.h"
#include "vtnhost/scene.h"
#include "vtnhost/triangulate.h"

namespace vtnhost {
namespace {

// The quad made of triangle t and a neighbour u that runs along one of t's
// edges in the opposite direction; false when they share no such edge.
bool mergeIntoQuad(const CPolygon& t, const CPolygon& u, CPolygon* quad)
{
	const Int32 tc[3] = {t.a, t.b, t.c};
	const Int32 uc[3] = {u.a, u.b, u.c};
	for (int e = 0; e < 3; ++e)
	{
		const Int32 p = tc[e], q = tc[(e + 1) % 3], r = tc[(e + 2) % 3];
		for (int f = 0; f < 3; ++f)
			if (uc[f] == q && uc[(f + 1) % 3] == p)
			{
				*quad = {p, uc[(f + 2) % 3], q, r};
				return true;
			}
	}
	return false;
}

}  // namespace

bool Object::addFace(const std::vector<Int32>& outline)
{
	const Int32 n = static_cast<Int32>(points.size());
	for (Int32 i : outline)
		if (i < 0 || i >= n)
			return false;
	if (outline.size() == 3 || outline.size() == 4)
	{
		const Int32 d = outline.size() == 3 ? outline[2] : outline[3];
		polygons.push_back({outline[0], outline[1], outline[2], d});
		return true;
	}
	std::vector<CPolygon> tris;
	if (!triangulateOutline(points, outline, &tris))
		return false;
	// Neighbouring triangles are paired into quads, as a modeler keeps an n-gon:
	// fewer polygons than its triangulation has.
	Ngon ngon{outline, {}};
	for (size_t i = 0; i < tris.size(); ++i)
	{
		CPolygon quad;
		const bool paired = i + 1 < tris.size() && mergeIntoQuad(tris[i], tris[i + 1], &quad);
		ngon.parts.push_back(static_cast<Int32>(polygons.size()));
		polygons.push_back(paired ? quad : tris[i]);
		i += paired ? 1 : 0;
	}
	ngons.push_back(std::move(ngon));
	return true;
}

void Object::triangulate()
{
	// Each n-gon's triangles take the place of its first polygon; an outline that
	// no longer triangulates leaves its polygons to be split one by one.
	std::vector<std::vector<CPolygon>> ngonTris(ngons.size());
	std::vector<Int32> ngonOf(polygons.size(), -1);
	for (size_t k = 0; k < ngons.size(); ++k)
	{
		if (!triangulateOutline(points, ngons[k].outline, &ngonTris[k]))
			continue;
		for (Int32 part : ngons[k].parts)
			if (part >= 0 && static_cast<size_t>(part) < polygons.size())
				ngonOf[static_cast<size_t>(part)] = static_cast<Int32>(k);
	}
	std::vector<bool> emitted(ngons.size(), false);
	std::vector<CPolygon> out;
	out.reserve(polygons.size() * 2);
	for (size_t i = 0; i < polygons.size(); ++i)
	{
		const CPolygon& p = polygons[i];
		if (const Int32 k = ngonOf[i]; k >= 0)
		{
			if (!emitted[static_cast<size_t>(k)])
				out.insert(out.end(), ngonTris[static_cast<size_t>(k)].begin(), ngonTris[static_cast<size_t>(k)].end());
			emitted[static_cast<size_t>(k)] = true;
			continue;
		}
		if (p.c == p.d)
		{
			out.push_back(p);
			continue;
		}
		CPolygon halves[2];
		splitQuad(points, p, halves);
		out.push_back(halves[0]);
		out.push_back(halves[1]);
	}
	polygons = std::move(out);
	ngons.clear();
}

bool Host::sendModelingCommand(Int32 command, ModelingCommandData* data)
{
	Object* op = data && data->op ? dynamic_cast<Object*>(Node::from(data->op)) : nullptr;
	if (recorder_ && !recorder_->modelingCommand(command, op))
		return false;
	if (!op || command != MCOMMAND_TRIANGULATE || !op->isPolygonObject())
		return false;
	op->triangulate();
	op->setDirty(DIRTYFLAGS_DATA);
	return true;
}

}  // namespace vtnhost
