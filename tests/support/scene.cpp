#include "support/scene.h"

#include "vtnhost/matrix.h"

namespace testscene {

vtnhost::Object* addMesh(vtnhost::Host& host, vtnhost::Document* doc, const std::string& name, const testmesh::Mesh& mesh,
                         vtnhost::Object* parent)
{
	std::unique_ptr<vtnhost::Object> op = host.newPolygonObject(name, mesh.points, mesh.polygons);
	vtnhost::Object* raw = op.get();
	const auto& siblings = parent ? parent->children() : doc->roots();
	doc->insert(std::move(op), parent, siblings.empty() ? nullptr : siblings.back().get());
	return raw;
}

vtnhost::Object* addObject(vtnhost::Host& host, vtnhost::Document* doc, Int32 type, const std::string& name)
{
	std::unique_ptr<vtnhost::Object> op = host.newObject(type, name);
	if (!op)
		return nullptr;
	vtnhost::Object* raw = op.get();
	doc->insert(std::move(op), nullptr, doc->roots().empty() ? nullptr : doc->roots().back().get());
	return raw;
}

std::vector<Int32> selectedPoints(const vtnhost::Object* op, int nr)
{
	const vtnhost::Tag* tag = op->firstTag(Tpointselection, nr);
	if (!tag)
		return {};
	return std::vector<Int32>(tag->select.indices.begin(), tag->select.indices.end());
}

std::vector<Int32> outsideByWinding(const vtnhost::Object* mesh, const vtnhost::Object* cage)
{
	const testmesh::Mesh cageMesh = testmesh::transformed({cage->points, cage->polygons}, cage->globalMatrix());
	const LMatrix mg = mesh->globalMatrix();
	std::vector<Int32> out;
	for (size_t i = 0; i < mesh->points.size(); ++i)
		if (!testmesh::insideByWinding(cageMesh, vtnhost::apply(mg, mesh->points[i])))
			out.push_back(static_cast<Int32>(i));
	return out;
}

std::string deformedPoints(const vtnhost::Document* doc)
{
	std::string out;
	for (const vtnhost::Object* o : doc->objects())
		if (o->deformCache)
		{
			const std::vector<LVector>& pts = o->deformCache->points;
			const uint64_t n = pts.size();
			out += o->name + '\n';
			out.append(reinterpret_cast<const char*>(&n), sizeof n);
			out.append(reinterpret_cast<const char*>(pts.data()), pts.size() * sizeof(LVector));
		}
	return out;
}

void poseCages(vtnhost::Host& host, vtnhost::Document* doc)
{
	constexpr Int32 kCageLink = 1000;
	for (vtnhost::Object* o : doc->objects())
	{
		const vtnhost::Value* link = o->type() == ID_MORVEXER ? o->container().find(kCageLink) : nullptr;
		auto* cage = link ? dynamic_cast<vtnhost::Object*>(host.findNode(link->link)) : nullptr;
		if (!cage)
			continue;
		for (LVector& p : cage->points)
			p = {p.x + 0.02 * p.y * p.y, 0.9 * p.y + 0.05 * p.x * p.z, p.z * (1.0 + 0.03 * p.y)};
	}
}

}  // namespace testscene
