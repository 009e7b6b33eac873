#include "cli_host.h"

#include "vtnhost/actions.h"
#include "vtnhost/platform.h"

namespace mvx {

CliHost::CliHost(const std::string& plugin_path, bool quiet, int threads) : quiet_(quiet), steps_(quiet, &host_)
{
	if (threads > 0)
		host_.setWorkerCount(threads);
	if (!host_.loadPlugin(plugin_path) || !host_.findRegistration(ID_MORVEXER))
	{
		const std::string why = host_.errors().empty() ? "the deformer is not registered" : host_.errors().back();
		throw Failure{why};
	}
}

CliHost::~CliHost() = default;

CliHost::Scene CliHost::buildScene(const ObjMesh& cage, const std::vector<ObjMesh>& meshes)
{
	Scene s;
	s.doc = host_.newDocument();
	std::unique_ptr<vtnhost::Object> group = host_.newObject(Onull, "Meshes");
	vtnhost::Object* parent = group.get();
	s.doc->insert(std::move(group), nullptr, nullptr);
	for (const ObjMesh& m : meshes)
	{
		std::unique_ptr<vtnhost::Object> op = host_.newPolygonObject(meshName(m.path), m.points, {});
		for (const std::vector<Int32>& f : m.faces)
			op->addFace(f);
		// The deformer acts on polygon objects only and passes over one
		// without polygons, yet binds points, never faces. A point cloud gets
		// one face on its first point, so it binds like a mesh; the face lives
		// in the scene only, since an output rewrites the source's v lines.
		if (m.faces.empty())
			op->addFace({0, 0, 0});
		op->container().entries[CLI_SOURCE_TEXT] = vtnhost::Value::Text(m.text);
		op->container().entries[CLI_SOURCE_PATH] = vtnhost::Value::Text(m.path);
		s.meshes.push_back(op.get());
		s.doc->insert(std::move(op), parent, parent->children().empty() ? nullptr : parent->children().back().get());
	}
	std::unique_ptr<vtnhost::Object> deformer = host_.newObject(ID_MORVEXER, "Morvexer");
	if (!deformer)
		throw Failure{"cannot create the deformer: " + (host_.errors().empty() ? std::string() : host_.errors().back())};
	s.deformer = deformer.get();
	s.doc->insert(std::move(deformer), parent, parent->children().back().get());
	std::unique_ptr<vtnhost::Object> cage_op = host_.newPolygonObject(meshName(cage.path), cage.points, {});
	for (const std::vector<Int32>& f : cage.faces)
		cage_op->addFace(f);
	s.cage = cage_op.get();
	s.doc->insert(std::move(cage_op), nullptr, parent);
	vtnhost::setLink(s.deformer, MORVEX_CAGE, s.cage);
	return s;
}

CliHost::Scene CliHost::findScene(vtnhost::Document* doc, const std::string& path)
{
	Scene s;
	s.doc = doc;
	for (vtnhost::Object* o : doc->objects())
		if (o->type() == ID_MORVEXER && !s.deformer)
			s.deformer = o;
	if (!s.deformer)
		throw Failure{path + ": the scene holds no Morvexer deformer"};
	const vtnhost::Value* link = s.deformer->container().find(MORVEX_CAGE);
	s.cage = link ? dynamic_cast<vtnhost::Object*>(host_.findNode(link->link)) : nullptr;
	if (!s.cage)
		throw Failure{path + ": the deformer has no cage"};
	if (vtnhost::Object* parent = s.deformer->parent())
		for (vtnhost::Object* o : doc->objects())
			if (o->isPolygonObject() && o != s.cage)
				for (vtnhost::Object* up = o->parent(); up; up = up->parent())
					if (up == parent)
					{
						s.meshes.push_back(o);
						break;
					}
	return s;
}

void CliHost::evaluate(vtnhost::Document* doc, const std::string& step)
{
	vtnhost::Thread thread;
	steps_.run(step, [&](Progress&) { host_.evaluate(doc, &thread); }, StopBy::Itself, &thread);
}

std::string meshName(const std::string& path)
{
	std::string name = vtnhost::platform::fileNameOf(path);
	const size_t dot = name.find_last_of('.');
	return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string memoryText(const vtnhost::Object* deformer)
{
	const vtnhost::Value* v = deformer->container().find(MORVEX_MEMORY);
	return v ? v->s : std::string("0");
}

}  // namespace mvx
