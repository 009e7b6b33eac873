// The main job on bundled data: a scanned bunny and a generated bar, each bound
// to a box cage, posed, written as OBJ, and pictured at rest and deformed.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "cage_check.h"
#include "vtnhost/actions.h"
#include "cli_host.h"
#include "commands.h"
#include "obj_io.h"
#include "render.h"
#include "shapes.h"

namespace mvx {
namespace {

struct Bounds
{
	LVector lo{1e300, 1e300, 1e300}, hi{-1e300, -1e300, -1e300};
	void add(const LVector& p)
	{
		lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
		hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
	}
	LVector size() const { return {hi.x - lo.x, hi.y - lo.y, hi.z - lo.z}; }
	LVector centre() const { return {(lo.x + hi.x) / 2, (lo.y + hi.y) / 2, (lo.z + hi.z) / 2}; }
};

ObjMesh asObj(const std::string& path, const Shape& s, const std::string& comment)
{
	ObjMesh m;
	m.path = path;
	m.points = s.points;
	m.faces = s.faces;
	m.text = objText(s.points, s.faces, comment);
	return m;
}

void write(const std::string& path, const std::string& text)
{
	std::string error;
	if (!writeFileAtomic(path, text, &error))
		throw Failure{error};
}

std::string replaced(const ObjMesh& m, const std::vector<LVector>& points)
{
	std::string out, error;
	if (!replaceVertices(m, points, &out, &error))
		throw Failure{error};
	return out;
}

// Binds one model to its cage, poses the cage and reports what it did.
struct Model
{
	std::string name;
	ObjMesh mesh, cage;
	std::vector<LVector> posed;
	CliHost::Scene scene;
	std::vector<LVector> deformed;
};

void run(const CommonOptions& c, CliHost& h, Model& m)
{
	m.scene = h.buildScene(m.cage, {m.mesh});
	vtnhost::Object* mesh = m.scene.meshes[0];
	vtnhost::setLink(m.scene.deformer, MORVEX_CHECK_OBJECT, mesh);
	vtnhost::pressButton(m.scene.deformer, MORVEX_CHECK);
	std::string check = "no point outside the cage";
	if (!mesh->tags.empty() && mesh->tags.front()->name == "Points outside")
		check = std::to_string(mesh->tags.front()->select.indices.size()) + " points outside the cage";
	mesh->tags.clear();
	const auto start = std::chrono::steady_clock::now();
	vtnhost::pressButton(m.scene.deformer, MORVEX_BIND);
	h.evaluate(m.scene.doc, "binding " + m.name);
	const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
	m.scene.cage->points = m.posed;
	h.evaluate(m.scene.doc, "deforming " + m.name);
	m.deformed = mesh->deformCache ? mesh->deformCache->points : mesh->points;
	if (!c.quiet)
		std::printf("%-6s %6zu points, cage of %zu triangles: bound in %.2f s, memory %s, check: %s\n", m.name.c_str(),
		            m.mesh.points.size(), m.scene.cage->polygons.size(), seconds, memoryText(m.scene.deformer).c_str(),
		            check.c_str());
}

}  // namespace

int runDemo(const CommonOptions& c, const DemoOptions& o)
{
	try
	{
		std::error_code ec;
		std::filesystem::create_directories(o.out, ec);
		if (ec)
			throw Failure{o.out + ": cannot make the folder: " + ec.message()};
		const std::string samples = MORVEXER_SAMPLES_DIR;

		Model bunny;
		bunny.name = "bunny";
		std::string error;
		if (!readObj(samples + "/bunny.obj", &bunny.mesh, &error))
			throw Failure{error};
		Bounds bb;
		for (const LVector& p : bunny.mesh.points)
			bb.add(p);
		const LVector size = bb.size(), mid = bb.centre();
		const double margin = 0.08 * std::max({size.x, size.y, size.z});
		const Shape bunny_cage = boxGrid({bb.lo.x - margin, bb.lo.y - margin, bb.lo.z - margin},
		                                 {bb.hi.x + margin, bb.hi.y + margin, bb.hi.z + margin}, 4, 4, 4);
		bunny.cage = asObj(o.out + "/bunny_cage.obj", bunny_cage, "box cage around the bunny");
		for (const LVector& p : bunny_cage.points)
			bunny.posed.push_back(twistSquash(p, mid, size.y + 2 * margin, 0.9, 0.8));

		// A bar as long as the bunny is wide, beside it, in a cage of 8 x 2 x 2 quads.
		Model bar;
		bar.name = "bar";
		const double len = 1.6 * size.x, thick = 0.18 * size.x;
		const LVector bar_mid{mid.x + 1.5 * size.x, mid.y, mid.z};
		const Shape bar_shape = boxGrid({bar_mid.x - len / 2, bar_mid.y - thick / 2, bar_mid.z - thick / 2},
		                                {bar_mid.x + len / 2, bar_mid.y + thick / 2, bar_mid.z + thick / 2}, 96, 12, 12);
		bar.mesh = asObj(o.out + "/bar.obj", bar_shape, "a finely divided bar");
		const double gap = 0.1 * len;
		const Shape bar_cage = boxGrid({bar_mid.x - len / 2 - gap, bar_mid.y - thick / 2 - gap, bar_mid.z - thick / 2 - gap},
		                               {bar_mid.x + len / 2 + gap, bar_mid.y + thick / 2 + gap, bar_mid.z + thick / 2 + gap}, 8, 2, 2);
		bar.cage = asObj(o.out + "/bar_cage.obj", bar_cage, "box cage around the bar");
		for (const LVector& p : bar_cage.points)
			bar.posed.push_back(bend(p, bar_mid, 0.8 * len));

		CliHost h(c.plugin, c.quiet, c.threads);
		run(c, h, bunny);
		run(c, h, bar);

		write(o.out + "/bar.obj", bar.mesh.text);
		for (Model* m : {&bunny, &bar})
		{
			write(o.out + "/" + m->name + "_deformed.obj", replaced(m->mesh, m->deformed));
			write(o.out + "/" + m->name + "_cage.obj", m->cage.text);
			write(o.out + "/" + m->name + "_cage_posed.obj", replaced(m->cage, m->posed));
		}
		const std::array<uint8_t, 3> clay{214, 170, 120}, steel{120, 160, 210}, wire{40, 40, 40};
		std::vector<Panel> panels(2);
		for (int k = 0; k < 2; ++k)
		{
			panels[k].solids.push_back({k ? bunny.deformed : bunny.mesh.points, bunny.mesh.faces, clay});
			panels[k].solids.push_back({k ? bar.deformed : bar.mesh.points, bar.mesh.faces, steel});
			panels[k].wireframes.push_back({k ? bunny.posed : bunny.cage.points, bunny.cage.faces, wire});
			panels[k].wireframes.push_back({k ? bar.posed : bar.cage.points, bar.cage.faces, wire});
		}
		if (!renderPng(panels, 800, 600, {-0.35, -0.45, -1.0}, o.out + "/demo.png", &error))
			throw Failure{error};
		if (!c.quiet)
			std::printf("wrote %s/{bunny,bar}_deformed.obj, the cages at rest and posed, and %s/demo.png (rest | deformed)\n",
			            o.out.c_str(), o.out.c_str());
		return 0;
	}
	catch (const Interrupted& i)
	{
		return reportInterrupted(i.step, "the files written before it are whole");
	}
	catch (const Failure& f)
	{
		std::fprintf(stderr, "error: %s\n", f.message.c_str());
		return 1;
	}
}

}  // namespace mvx
