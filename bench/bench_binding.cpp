// Binding throughput in point-face pairs per second: the per-face integration
// (the reference), the closed form on one worker and on every core. Compare
// the rows of one run; the machine's speed drifts between runs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <thread>

#include "object/morvex.h"
#include "vtn_pmain.h"
#include "vtn_register.h"
#include "vtnhost/host.h"

namespace {

vtnhost::Host& host()
{
	static vtnhost::Host* h = [] {
		auto* x = new vtnhost::Host();
		InitOS(x->table());
		RegisterObjectPlugin(1023954, String("Morvexer"), OBJECT_MODIFIER, Morvex::Alloc, String(), nullptr, 0);
		return x;
	}();
	return *h;
}

// A sphere of points in a sphere-shaped cage.
struct Scene
{
	vtnhost::Document* doc = nullptr;
	vtnhost::Object* mesh = nullptr;
	vtnhost::Object* deformer = nullptr;
	vtnhost::Object* cage = nullptr;
	Morvex* morvex = nullptr;
	std::vector<LVector> cagePoints;
	std::vector<CPolygon> cagePolygons;
};

std::vector<LVector> spherePoints(int n, double radius)
{
	std::vector<LVector> p;
	const double golden = 2.399963229728653;
	for (int i = 0; i < n; ++i)
	{
		const double y = 1.0 - 2.0 * (i + 0.5) / n, r = std::sqrt(1.0 - y * y);
		p.push_back({radius * r * std::cos(golden * i), radius * y, radius * r * std::sin(golden * i)});
	}
	return p;
}

// An octahedron refined `level` times and pushed onto the sphere: 8 * 4^level triangles.
void sphereCage(int level, std::vector<LVector>* pts, std::vector<CPolygon>* polys)
{
	*pts = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
	*polys = {{0, 2, 4, 4}, {2, 1, 4, 4}, {1, 3, 4, 4}, {3, 0, 4, 4}, {2, 0, 5, 5}, {1, 2, 5, 5}, {3, 1, 5, 5}, {0, 3, 5, 5}};
	for (int l = 0; l < level; ++l)
	{
		std::vector<CPolygon> next;
		std::map<std::pair<Int32, Int32>, Int32> mid;
		auto middle = [&](Int32 a, Int32 b) {
			auto key = std::make_pair(std::min(a, b), std::max(a, b));
			auto it = mid.find(key);
			if (it != mid.end())
				return it->second;
			LVector m = (*pts)[size_t(a)] + (*pts)[size_t(b)];
			m = m / Len(m);
			pts->push_back(m);
			return mid[key] = Int32(pts->size() - 1);
		};
		for (const CPolygon& f : *polys)
		{
			const Int32 ab = middle(f.a, f.b), bc = middle(f.b, f.c), ca = middle(f.c, f.a);
			next.push_back({f.a, ab, ca, ca});
			next.push_back({ab, f.b, bc, bc});
			next.push_back({ca, bc, f.c, f.c});
			next.push_back({ab, bc, ca, ca});
		}
		*polys = next;
	}
	for (LVector& p : *pts)
		p = p * 1.5;
}

// A document with the mesh, the deformer under it and the cage beside it.
Scene makeScene(int points, int level)
{
	vtnhost::Host& h = host();
	Scene s;
	s.doc = h.newDocument();
	sphereCage(level, &s.cagePoints, &s.cagePolygons);
	auto mesh = h.newPolygonObject("Mesh", spherePoints(points, 1.0), {{0, 1, 2, 2}});
	s.mesh = mesh.get();
	s.doc->insert(std::move(mesh), nullptr, nullptr);
	auto deformer = h.newObject(1023954, "Morvexer");
	s.deformer = deformer.get();
	s.doc->insert(std::move(deformer), s.mesh, nullptr);
	auto cage = h.newPolygonObject("Cage", s.cagePoints, s.cagePolygons);
	s.cage = cage.get();
	h.setLink(s.deformer, 1000, s.cage);
	s.doc->insert(std::move(cage), nullptr, s.mesh);
	s.morvex = static_cast<Morvex*>(s.deformer->nodeData());
	return s;
}

void Bind(benchmark::State& state)
{
	const bool reference = state.range(0) == 0;
	const int workers = static_cast<int>(state.range(1));
	const int points = static_cast<int>(state.range(2));
	vtnhost::Host& h = host();
	h.setWorkerCount(workers);
	Scene s = makeScene(points, static_cast<int>(state.range(3)));
	s.morvex->referenceBinding = reference;
	for (auto _ : state)
	{
		h.pressButton(s.deformer, MORVEX_BIND);
		h.evaluate(s.doc);
		benchmark::DoNotOptimize(s.morvex->bindings.GetCount());
	}
	state.SetItemsProcessed(state.iterations() * int64_t(points) * int64_t(s.cagePolygons.size()));
	state.SetLabel(std::string(reference ? "integration" : "closed form") + ", " + std::to_string(workers) + " worker(s), " +
	               std::to_string(s.cagePolygons.size()) + " faces");
	h.destroyDocument(s.doc);
}

const int kCores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));

// One evaluation of a bound mesh: the deformation pass alone, in weights read per second.
void Deform(benchmark::State& state)
{
	const int points = static_cast<int>(state.range(0));
	vtnhost::Host& h = host();
	h.setWorkerCount(kCores);
	Scene s = makeScene(points, static_cast<int>(state.range(1)));
	h.pressButton(s.deformer, MORVEX_BIND);
	h.evaluate(s.doc);
	for (LVector& p : s.cage->points)
		p.y += 0.1 * p.x;
	for (auto _ : state)
		h.evaluate(s.doc);
	const int64_t weights = int64_t(points) * int64_t(s.cagePolygons.size() + s.cagePoints.size());
	state.SetItemsProcessed(state.iterations() * weights);
	state.SetBytesProcessed(state.iterations() * weights * 4);
	state.SetLabel(std::to_string(points) + " points, " + std::to_string(s.cagePolygons.size()) + " faces");
	h.destroyDocument(s.doc);
}

// Memory read bandwidth in the same run, for comparison with the deformation's bytes per second.
void ReadBandwidth(benchmark::State& state)
{
	std::vector<float> data(size_t(64) << 20, 1.0f);
	for (auto _ : state)
	{
		float s0 = 0, s1 = 0, s2 = 0, s3 = 0;
		for (size_t i = 0; i < data.size(); i += 4)
		{
			s0 += data[i];
			s1 += data[i + 1];
			s2 += data[i + 2];
			s3 += data[i + 3];
		}
		benchmark::DoNotOptimize(s0 + s1 + s2 + s3);
	}
	state.SetBytesProcessed(state.iterations() * int64_t(data.size() * 4));
}

}  // namespace

// Arguments: scheme (0 integration, 1 closed form), workers (0: the evaluating thread alone), points, cage level.
BENCHMARK(Bind)->Args({0, 0, 500, 3})->Args({1, 0, 500, 3})->Args({1, 1, 5000, 3})->Args({1, kCores, 5000, 3})
    ->Args({1, kCores, 20000, 1})->Args({1, kCores, 2000, 5})->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK(Deform)->Args({1000, 3})->Args({100000, 3})->Args({20000, 5})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ReadBandwidth)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
