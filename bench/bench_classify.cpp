// The check's two passes over a mesh in the million-point job's cage (a cube
// of 5 x 5 quads a side pushed onto a sphere: 300 triangles, 152 points): the
// safe-distance map's nearest face through the tree against the loop over
// every face, and the inside test's rays on one worker against every core.
// The summary prints the ratios of this one run; the machine's speed drifts
// between runs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "object/morvex.h"
#include "object/morvex_facetree.h"
#include "shapes.h"
#include "vtn_pmain.h"
#include "vtn_register.h"
#include "vtnhost/host.h"

namespace {

vtnhost::Host& host()
{
	static vtnhost::Host* h = [] {
		auto* x = new vtnhost::Host();
		InitOS(x->table());
		RegisterObjectPlugin(ID_MORVEXER, String("Morvexer"), OBJECT_MODIFIER, Morvex::Alloc, String(), nullptr, 0);
		return x;
	}();
	return *h;
}

const int kCores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));

struct Cage
{
	std::vector<LVector> points;
	std::vector<CPolygon> polygons;
};

// 12 n^2 triangles on the sphere of radius 1.5.
Cage sphereCage(int n)
{
	const mvx::Shape box = mvx::boxGrid({-1, -1, -1}, {1, 1, 1}, n, n, n);
	Cage c;
	for (const LVector& p : box.points)
		c.points.push_back(p * (1.5 / Len(p)));
	for (const auto& q : box.faces)
	{
		c.polygons.push_back({q[0], q[1], q[2], q[2]});
		c.polygons.push_back({q[0], q[2], q[3], q[3]});
	}
	return c;
}

// n points spread through the ball of radius 1.8 round the cage: about four
// in five inside it (radius 1.5), the rest outside.
std::vector<LVector> ballPoints(int n)
{
	std::vector<LVector> p;
	const double golden = 2.399963229728653;
	for (int i = 0; i < n; ++i)
	{
		const double y = 1.0 - 2.0 * (i + 0.5) / n, r = std::sqrt(1.0 - y * y);
		const double radius = 1.8 * std::cbrt((i * 0.6180339887498949 - std::floor(i * 0.6180339887498949)));
		p.push_back({radius * r * std::cos(golden * i), radius * y, radius * r * std::sin(golden * i)});
	}
	return p;
}

// Argument: 1 the tree (built in every iteration), 0 the loop; points.
void DistanceMap(benchmark::State& state)
{
	host();  // the tree's arrays come from the host's memory
	const bool tree = state.range(0) == 1;
	const Cage cage = sphereCage(5);
	const std::vector<LVector> points = ballPoints(static_cast<int>(state.range(1)));
	const Int32 count = Int32(cage.points.size()), faces = Int32(cage.polygons.size());
	double sum = 0;
	for (auto _ : state)
	{
		NearestFaceTree t;
		if (tree && !t.Build(cage.points.data(), count, cage.polygons.data(), faces))
			std::abort();
		for (const LVector& q : points)
			sum += tree ? t.Nearest(q) : NearestFaceDistanceByLoop(cage.points.data(), count, cage.polygons.data(), faces, q);
	}
	benchmark::DoNotOptimize(sum);
	state.SetItemsProcessed(state.iterations() * int64_t(points.size()));
	state.SetLabel(std::string(tree ? "tree" : "loop over every face") + ", " + std::to_string(points.size()) + " points, " +
	               std::to_string(faces) + " faces");
}

// Arguments: workers (0: the calling thread alone), points. The outside
// points of the mesh by the rays, as the check and the bind of the inside
// points find them.
void Classify(benchmark::State& state)
{
	vtnhost::Host& h = host();
	const int workers = static_cast<int>(state.range(0));
	h.setWorkerCount(workers);
	const Cage shape = sphereCage(5);
	const std::vector<LVector> points = ballPoints(static_cast<int>(state.range(1)));
	vtnhost::Document* doc = h.newDocument();
	auto mesh = h.newPolygonObject("Mesh", points, {{0, 1, 2, 2}});
	auto cage = h.newPolygonObject("Cage", shape.points, shape.polygons);
	auto deformer = h.newObject(ID_MORVEXER, "Morvexer");
	vtnhost::Object* m = mesh.get();
	vtnhost::Object* c = cage.get();
	auto* morvex = static_cast<Morvex*>(deformer->nodeData());
	doc->insert(std::move(mesh), nullptr, nullptr);
	doc->insert(std::move(cage), nullptr, m);
	doc->insert(std::move(deformer), nullptr, c);
	Int32 outside = 0;
	for (auto _ : state)
	{
		BaseSelect* bs = BaseSelect::Alloc();
		morvex->trova_punti_ext(m->asObject(), c->asObject(), bs);
		outside = bs->GetCount();
		BaseSelect::Free(bs);
	}
	state.SetItemsProcessed(state.iterations() * int64_t(points.size()));
	state.SetLabel(std::to_string(workers) + " worker(s), " + std::to_string(points.size()) + " points, " +
	               std::to_string(outside) + " outside, " + std::to_string(shape.polygons.size()) + " faces");
	h.destroyDocument(doc);
}

}  // namespace

BENCHMARK(DistanceMap)->Args({0, 20000})->Args({1, 20000})->Args({1, 1000000})->Repetitions(3)->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(Classify)->Args({1, 200000})->Args({kCores, 200000})->Repetitions(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Classify)->Args({kCores, 1000000})->Unit(benchmark::kMillisecond)->UseRealTime();

namespace {

// The runs as usual, then the ratios, each from the fastest of its rows' repetitions.
class SummaryReporter : public benchmark::ConsoleReporter
{
public:
	void ReportRuns(const std::vector<Run>& runs) override
	{
		ConsoleReporter::ReportRuns(runs);
		for (const Run& r : runs)
		{
			if (r.run_type != Run::RT_Iteration)
				continue;
			auto it = r.counters.find("items_per_second");
			std::string name = r.benchmark_name();
			for (const char* part : {"/real_time", "/repeats:3"})
				if (auto at = name.find(part); at != std::string::npos)
					name.erase(at, std::string(part).size());
			double& best = rates_[name];
			best = std::max(best, it == r.counters.end() ? 0.0 : double(it->second));
		}
	}

	void Finalize() override
	{
		ConsoleReporter::Finalize();
		std::ostream& out = GetOutputStream();
		const std::string all = std::to_string(kCores);
		out << "\nSummary (ratios of this run, points per second)\n";
		ratio(out, "distance map, tree / loop over every face, 20 000 points", rate("DistanceMap/1/20000"), rate("DistanceMap/0/20000"));
		ratio(out, "inside test, " + all + " workers / one worker, 200 000 points", rate("Classify/" + all + "/200000"),
		      rate("Classify/1/200000"));
		out << "  1 000 000 points: distance map by the tree " << seconds(rate("DistanceMap/1/1000000")) << ", inside test on "
		    << all << " workers " << seconds(rate("Classify/" + all + "/1000000")) << "\n";
	}

private:
	double rate(const std::string& name) const
	{
		auto it = rates_.find(name);
		return it == rates_.end() ? 0.0 : it->second;
	}
	static std::string seconds(double points_per_second)
	{
		if (points_per_second <= 0)
			return "not run";
		char text[32];
		std::snprintf(text, sizeof text, "%.2f s", 1e6 / points_per_second);
		return text;
	}
	static void ratio(std::ostream& out, const std::string& what, double a, double b)
	{
		char text[128];
		if (a <= 0 || b <= 0)
			std::snprintf(text, sizeof text, "not run");
		else
			std::snprintf(text, sizeof text, "%.2f (%.3g against %.3g)", a / b, a, b);
		out << "  " << what << ": " << text << "\n";
	}

	std::map<std::string, double> rates_;
};

}  // namespace

int main(int argc, char** argv)
{
	benchmark::Initialize(&argc, argv);
	if (benchmark::ReportUnrecognizedArguments(argc, argv))
		return 1;
	SummaryReporter reporter;
	benchmark::RunSpecifiedBenchmarks(&reporter);
	benchmark::Shutdown();
	return 0;
}
